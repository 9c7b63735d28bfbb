#include "tools/kmarc/Embed.h"

#include "pe/IconResource.h"
#include "pe/PeImage.h"
#include "pe/PeWriter.h"
#include "pe/ResourceTree.h"
#include "pe/VersionResource.h"
#include "tools/kmarc/Pack.h"
#include "tools/kmarc/HostFiles.h"
#include "tools/kmarc/SetupArchives.h"
#include "tools/kmarc/ToolError.h"

#include <cctype>
#include <system_error>

namespace fs = std::filesystem;

const char* const kVersionInfoKeys[] = { "ProductName",    "ProductVersion", "FileVersion",
                                         "CompanyName",    "FileDescription", "LegalCopyright" };
const size_t kVersionInfoKeyCount = sizeof kVersionInfoKeys / sizeof kVersionInfoKeys[0];

namespace {

const uint16_t kIconGroupId = 101;
const uint16_t kVersionResourceId = 1;
const uint16_t kVersionLanguage = 0x0409;
// Longer texts are no properties a vendor means; the block measures 64 KiB at most.
const size_t kMaxVersionText = 1000;

// What makes an executable the setup launcher: the splash's dialog and picture, and
// the manifest that asks for administrator rights.
const uint16_t kSplashDialogId = 103;
const uint16_t kSplashBitmapId = 134;
const uint16_t kManifestId = 1;

// The programs a SETUPBASE archive must deliver: the setup program the launcher starts
// and the waiting program its cleanup script calls.
const char* const kRequiredSetupPrograms[] = { "Zephrun.exe", "lingerx.exe" };

std::string Upper(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::vector<unsigned char> ReadWholeFile(const fs::path& path)
{
    MappedFile file(path);
    return std::vector<unsigned char>(file.Data(), file.Data() + file.Size());
}

std::string Launcher(const EmbedOptions& options)
{
    return DisplayPath(options.launcher);
}

[[noreturn]] void Refuse(const std::string& message)
{
    throw ToolError{ kExitNotLauncher, message + "; nothing written" };
}

PeImage ReadLauncher(const EmbedOptions& options)
{
    std::vector<unsigned char> bytes = ReadWholeFile(options.launcher);
    try {
        return PeImage(std::move(bytes));
    } catch (const PeError& error) {
        switch (error.Fault()) {
        case PeFault::NotPe:
        case PeFault::NotPe32:
            Refuse(Launcher(options) + ": not a 32-bit Windows executable (" + error.what() + ")");
        case PeFault::Truncated:
            Refuse(Launcher(options) + ": the file is truncated (" + std::string(error.what()) + ")");
        default:
            Refuse(Launcher(options) + ": damaged executable (" + std::string(error.what()) + ")");
        }
    }
}

void CheckIsOurLauncher(const EmbedOptions& options, const ResourceTree& resources)
{
    std::string missing;
    auto require = [&](uint16_t type, uint16_t id, const char* what) {
        if (!resources.Has(type, id))
            missing += std::string(missing.empty() ? "" : ", ") + what;
    };
    require(kResourceTypeDialog, kSplashDialogId, "dialog 103");
    require(kResourceTypeBitmap, kSplashBitmapId, "bitmap 134");
    require(kResourceTypeManifest, kManifestId, "manifest");
    if (!missing.empty())
        Refuse(Launcher(options) + ": not the setup launcher (it has no " + missing + ")");
}

bool HasTopLevelFile(const fs::path& folder, const std::string& name)
{
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        if (Upper(DisplayPath(entry.path().filename())) == Upper(name))
            return entry.is_regular_file();
    }
    return false;
}

// The archive folders of the payload, by archive index; a folder of any other name is
// refused, since its files would silently not be shipped.
std::vector<fs::path> PayloadFolders(const fs::path& payload)
{
    if (!fs::is_directory(payload))
        throw ToolError{ kExitFileSystem, DisplayPath(payload) + ": not a folder" };
    std::vector<fs::path> folders(kSetupArchiveCount);
    std::string names;
    for (int i = 0; i < kSetupArchiveCount; ++i)
        names += std::string(i ? ", " : "") + kSetupArchiveNames[i];
    for (const fs::directory_entry& entry : fs::directory_iterator(payload)) {
        if (!entry.is_directory())
            continue;
        std::string name = DisplayPath(entry.path().filename());
        int index = SetupArchiveIndex(name);
        if (index < 0)
            throw ToolError{ kExitNotPackable, DisplayPath(entry.path()) + ": not an archive folder; the payload holds "
                                               "one folder per archive, named exactly " + names };
        folders[index] = entry.path();
    }
    return folders;
}

[[noreturn]] void BadVersionInfo(const std::string& item, const std::string& why)
{
    throw ToolError{ kExitUsage, "--version-info " + item + ": " + why };
}

VersionInfo ParseVersionInfo(const std::vector<std::string>& items)
{
    VersionInfo info;
    std::vector<std::string> given;
    for (const std::string& item : items) {
        size_t equals = item.find('=');
        if (equals == std::string::npos || equals == 0)
            BadVersionInfo(item, "not KEY=VALUE");
        std::string key = item.substr(0, equals);
        std::string value = item.substr(equals + 1);
        const char* known = nullptr;
        for (const char* candidate : kVersionInfoKeys) {
            if (Upper(candidate) == Upper(key))
                known = candidate;
        }
        if (known == nullptr) {
            std::string keys;
            for (const char* candidate : kVersionInfoKeys)
                keys += std::string(keys.empty() ? "" : ", ") + candidate;
            BadVersionInfo(item, "unknown key; the keys are " + keys);
        }
        for (const std::string& earlier : given) {
            if (earlier == known)
                BadVersionInfo(item, std::string(known) + " given twice");
        }
        given.push_back(known);
        if (value.size() > kMaxVersionText)
            BadVersionInfo(key, "longer than " + std::to_string(kMaxVersionText) + " characters");
        if (std::string(known) == "FileVersion" && !ParseVersionNumber(value, info.fileVersion))
            BadVersionInfo(item, "a version is up to four numbers from 0 to 65535, such as 2.5.0.1");
        if (std::string(known) == "ProductVersion" && !ParseVersionNumber(value, info.productVersion))
            BadVersionInfo(item, "a version is up to four numbers from 0 to 65535, such as 2.5.0.1");
        std::u16string text;
        try {
            // The command line's own encoding: UTF-8 on Linux, the ANSI code page on Windows.
            text = fs::path(value).u16string();
        } catch (const std::exception&) {
            BadVersionInfo(key, "the text is not valid in this system's encoding");
        }
        std::string keyText(known);
        info.strings.push_back({ std::u16string(keyText.begin(), keyText.end()), text });
    }
    info.language = kVersionLanguage;
    return info;
}

std::vector<IconImage> ReadIcon(const fs::path& path)
{
    try {
        return ReadIconFile(ReadWholeFile(path));
    } catch (const PeError& error) {
        throw ToolError{ kExitNotPackable, DisplayPath(path) + ": not a usable icon file: " + error.what() };
    }
}

} // namespace

void EmbedPayload(const EmbedOptions& options, std::ostream& out)
{
    // The options are checked before anything is read or packed.
    VersionInfo version = ParseVersionInfo(options.versionInfo);
    std::vector<IconImage> icon;
    if (!options.icon.empty())
        icon = ReadIcon(options.icon);

    PeImage image = ReadLauncher(options);
    if (image.HasCertificate()) {
        if (!options.stripSignature)
            Refuse(Launcher(options) + ": the launcher is signed, and embedding would break its signature: "
                                       "sign after embedding (--strip-signature removes the signature)");
        try {
            image = PeImage(WithoutCertificate(image));
        } catch (const PeError& error) {
            Refuse(Launcher(options) + ": cannot remove its signature: " + error.what());
        }
    }
    ResourceTree resources;
    try {
        resources = ReadResources(image);
    } catch (const PeError& error) {
        Refuse(Launcher(options) + ": damaged resources (" + std::string(error.what()) + ")");
    }
    CheckIsOurLauncher(options, resources);

    std::vector<fs::path> folders = PayloadFolders(options.payload);
    const int setupBase = SetupArchiveIndex("SETUPBASE");
    if (folders[setupBase].empty())
        throw ToolError{ kExitNotPackable, DisplayPath(options.payload) + ": no SETUPBASE folder; it must hold the "
                                           "setup program Zephrun.exe and lingerx.exe" };
    for (const char* program : kRequiredSetupPrograms) {
        if (!HasTopLevelFile(folders[setupBase], program))
            throw ToolError{ kExitNotPackable, DisplayPath(folders[setupBase]) + ": has no " + program +
                                               " at its top level; the launcher needs it there" };
    }

    ResourceId type = ResourceId::Named(kArchiveResourceTypeName);
    resources.RemoveType(type);
    std::string carried;
    std::string absent;
    for (int i = 0; i < kSetupArchiveCount; ++i) {
        if (folders[i].empty()) {
            absent += std::string(" ") + kSetupArchiveNames[i];
            continue;
        }
        carried += std::string(" ") + kSetupArchiveNames[i];
        ResourceData data;
        data.bytes = PackFolder(folders[i], options.pack);
        resources.Set(type, ResourceId::Named(kSetupArchiveNames[i]), kArchiveLanguage, std::move(data));
    }

    std::vector<unsigned char> setup;
    try {
        if (!options.versionInfo.empty()) {
            resources.RemoveType(kResourceTypeVersion);
            resources.Set(kResourceTypeVersion, kVersionResourceId, kVersionLanguage,
                          { BuildVersionResource(version), 0 });
        }
        if (!icon.empty())
            SetIconGroup(resources, kIconGroupId, icon);
        setup = WithResources(image, resources);
    } catch (const PeError& error) {
        Refuse(Launcher(options) + ": cannot take the archives: " + error.what());
    }
    WriteWholeFile(options.output, setup);
#ifndef _WIN32
    std::error_code ignored;
    fs::permissions(options.output, fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                    fs::perm_options::add, ignored);
#endif
    out << DisplayPath(options.output) << ": archives" << carried << "\n";
    if (!absent.empty())
        out << DisplayPath(options.output) << ": not carried (the launcher skips them):" << absent << "\n";
}
