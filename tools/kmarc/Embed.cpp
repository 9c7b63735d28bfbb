#include "tools/kmarc/Embed.h"

#include "pe/IconResource.h"
#include "pe/PeImage.h"
#include "pe/PeWriter.h"
#include "pe/ResourceTree.h"
#include "pe/VersionResource.h"
#include "tools/kmarc/EmbedInputs.h"
#include "tools/kmarc/Pack.h"
#include "tools/kmarc/HostFiles.h"
#include "tools/kmarc/OutputFile.h"
#include "tools/kmarc/SetupArchives.h"
#include "tools/kmarc/SplashBitmap.h"
#include "tools/kmarc/Spool.h"
#include "tools/kmarc/ToolError.h"

#include <algorithm>
#include <cctype>
#include <iostream>
#include <memory>
#include <system_error>

namespace fs = std::filesystem;

const char* const kVersionInfoKeys[] = { "ProductName",    "ProductVersion", "FileVersion",
                                         "CompanyName",    "FileDescription", "LegalCopyright" };
const size_t kVersionInfoKeyCount = sizeof kVersionInfoKeys / sizeof kVersionInfoKeys[0];

namespace {

const uint16_t kIconGroupId = 101;
// The scratch file of the archives is "<output>.archives.part".
const char kArchivesSuffix[] = ".archives";
const uint16_t kVersionResourceId = 1;
const uint16_t kVersionLanguage = 0x0409;
// Longer texts are no properties a vendor means; the block measures 64 KiB at most.
const size_t kMaxVersionText = 1000;

// What makes an executable the setup launcher: the splash's dialog and picture, and
// the manifest that asks for administrator rights.
const uint16_t kSplashDialogId = 103;
const uint16_t kManifestId = 1;

const char* const kRequiredSetupPrograms[] = { kSetupProgram, kWaitingProgram };

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

std::string ArchiveList(const char* separator, int count = kSetupArchiveCount)
{
    std::string names;
    for (int i = 0; i < count; ++i)
        names += std::string(i ? separator : "") + kSetupArchiveNames[i];
    return names;
}

[[noreturn]] void RefusePayload(const std::string& message)
{
    throw ToolError{ kExitNotPackable, message };
}

// The archive folders of the payload, by archive index, under the rules of the payload
// build: anything else at the top would silently not be shipped, a misspelled folder
// ("Base", "APPBASE_") most of all.
std::vector<fs::path> PayloadFolders(const fs::path& payload)
{
    const std::string hint = "The payload folder holds one folder per archive, named exactly " + ArchiveList(", ") + ".";
    std::error_code error;
    if (!fs::is_directory(payload, error))
        throw ToolError{ kExitFileSystem, DisplayPath(payload) + (fs::exists(payload, error) ? " is not a folder. "
                                                                                             : " does not exist. ") +
                                              hint };
    std::vector<std::string> strays;
    for (const fs::directory_entry& entry : fs::directory_iterator(payload)) {
        std::string name = DisplayPath(entry.path().filename());
        if (SetupArchiveIndex(name) < 0)
            strays.push_back("'" + name + "'");
    }
    if (!strays.empty()) {
        std::sort(strays.begin(), strays.end());
        std::string list;
        for (const std::string& stray : strays)
            list += (list.empty() ? "" : ", ") + stray;
        RefusePayload(DisplayPath(payload) + " holds " + list +
                      (strays.size() == 1 ? ", which is not an archive folder and would not be shipped. "
                                          : ", which are not archive folders and would not be shipped. ") +
                      hint);
    }
    std::vector<fs::path> folders(kSetupArchiveCount);
    for (int i = 0; i < kSetupArchiveCount; ++i) {
        fs::path folder = payload / kSetupArchiveNames[i];
        if (fs::is_symlink(fs::symlink_status(folder, error)))
            RefusePayload(DisplayPath(folder) + " is a symbolic link; an archive folder must be a folder of its own.");
        else if (fs::is_directory(folder, error))
            folders[i] = folder;
        else if (fs::exists(folder, error))
            RefusePayload(DisplayPath(folder) + " is a file; each archive is packed from a folder of that name.");
    }
    return folders;
}

// The launcher runs the setup program from its setup folder and its cleanup script runs
// the waiting program from there, so each must lie at the top of one of the folders it
// unpacks (the system ignores case in the name).
void CheckSetupPrograms(const fs::path& payload, const std::vector<fs::path>& folders,
                        const std::vector<fs::path>& added)
{
    for (const char* program : kRequiredSetupPrograms) {
        bool found = false;
        for (const fs::path& file : added)
            found = found || Upper(DisplayPath(file.filename())) == Upper(program);
        for (int i = 0; i < kUnpackedArchiveCount && !found; ++i) {
            if (folders[i].empty())
                continue;
            for (const fs::directory_entry& entry : fs::directory_iterator(folders[i])) {
                if (Upper(DisplayPath(entry.path().filename())) != Upper(program))
                    continue;
                if (entry.is_directory())
                    RefusePayload(DisplayPath(entry.path()) + " is a folder; the launcher runs " + program +
                                  " as a program.");
                found = true;
            }
        }
        if (!found) {
            const char* home = kSetupArchiveNames[kSetupProgramArchive];
            RefusePayload("no " + std::string(program) + " in " + DisplayPath(payload / home) + ". The launcher runs " +
                          program + " from its setup folder, which holds what it unpacks from " +
                          ArchiveList(" ", kUnpackedArchiveCount) + "; put the program into " + home + ".");
        }
    }
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

// Whether a folder the launcher unpacks holds name at its top (the system ignores case).
bool UnpackedAtTop(const std::vector<fs::path>& folders, const fs::path& name)
{
    for (int i = 0; i < kUnpackedArchiveCount; ++i) {
        if (folders[i].empty())
            continue;
        for (const fs::directory_entry& entry : fs::directory_iterator(folders[i])) {
            if (Upper(DisplayPath(entry.path().filename())) == Upper(DisplayPath(name)))
                return true;
        }
    }
    return false;
}

void SetArchive(ResourceTree& resources, const std::string& name, ResourceData data)
{
    resources.Set(ResourceId::Named(kArchiveResourceType), ResourceId::Named(name), kArchiveLanguage, std::move(data));
}

// Writes the launcher's image with resources as output, which appears under its name only
// when it is complete.
void WriteSetup(const PeImage& image, const ResourceTree& resources, const fs::path& output,
                const std::string& launcher)
{
    OutputFile setup(output);
    try {
        OutputSink sink(setup);
        WriteWithResources(image, resources, sink);
    } catch (const PeError& error) {
        Refuse(launcher + ": cannot take the archives: " + error.what());
    }
    setup.Commit();
#ifndef _WIN32
    std::error_code ignored;
    fs::permissions(output, fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                    fs::perm_options::add, ignored);
#endif
}

} // namespace

void EmbedArchives(const fs::path& launcher, const std::vector<std::pair<std::string, std::vector<unsigned char>>>& archives,
                   const fs::path& output)
{
    EmbedOptions options;
    options.launcher = launcher;
    PeImage image = ReadLauncher(options);
    ResourceTree resources;
    try {
        resources = ReadResources(image);
    } catch (const PeError& error) {
        Refuse(Launcher(options) + ": damaged resources (" + std::string(error.what()) + ")");
    }
    resources.RemoveType(ResourceId::Named(kArchiveResourceType));
    for (const auto& archive : archives) {
        ResourceData data;
        data.bytes = archive.second;
        SetArchive(resources, archive.first, std::move(data));
    }
    WriteSetup(image, resources, output, Launcher(options));
}

void EmbedPayload(const EmbedOptions& options, std::ostream& out)
{
    // The options are checked before anything is read or packed.
    CheckOutputIsNoInput(options.output,
                         { { "the launcher", options.launcher },
                           { "the icon file", options.icon },
                           { "the splash picture", options.splash } },
                         options.payload);
    VersionInfo version = ParseVersionInfo(options.versionInfo);
    std::vector<IconImage> icon;
    if (!options.icon.empty())
        icon = ReadIcon(options.icon);
    std::vector<uint8_t> splash;
    if (!options.splash.empty())
        splash = ReadSplashBitmap(options.splash);

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
    CheckNothingAppended(image, Launcher(options));
    ResourceTree resources;
    try {
        resources = ReadResources(image);
    } catch (const PeError& error) {
        Refuse(Launcher(options) + ": damaged resources (" + std::string(error.what()) + ")");
    }
    CheckIsOurLauncher(options, resources);
    if (options.versionInfo.empty() && !resources.Types().count(kResourceTypeVersion) && !options.pack.quiet)
        std::cerr << "kmarc: warning: no --version-info given and the launcher has no version resource: the "
                     "setup's file properties (product name, version, company) will be blank\n";

    std::vector<fs::path> folders = PayloadFolders(options.payload);
    const std::vector<fs::path>& added = options.pack.addMissing;
    if (!added.empty() && folders[kSetupProgramArchive].empty())
        throw ToolError{ kExitUsage, "--add-missing: " + DisplayPath(options.payload) + " has no " +
                                         kSetupArchiveNames[kSetupProgramArchive] + " folder to add to" };
    CheckSetupPrograms(options.payload, folders, added);
    // A file to add goes in only where no folder the launcher unpacks holds its name at
    // the top: in the setup folder it would replace the payload's own.
    std::vector<fs::path> addToSetupBase;
    for (const fs::path& file : added) {
        if (!UnpackedAtTop(folders, file.filename()))
            addToSetupBase.push_back(file);
    }

    // Every name of every archive folder is checked, and every fault listed, before a
    // byte is compressed.
    std::vector<std::string> faults;
    std::vector<PackPlan> plans(kSetupArchiveCount);
    uint64_t totalBytes = 0;
    size_t totalFiles = 0;
    for (int i = 0; i < kSetupArchiveCount; ++i) {
        if (folders[i].empty())
            continue;
        PackOptions pack = options.pack;
        pack.addMissing = i == kSetupProgramArchive ? addToSetupBase : std::vector<fs::path>();
        plans[i] = PlanFolder(folders[i], pack, faults);
        if (plans[i].files.empty())
            faults.push_back(DisplayPath(folders[i]) + ": no files to pack (an archive keeps files only); remove "
                                                       "the folder if the setup should carry no " +
                             kSetupArchiveNames[i] + " archive");
        totalBytes += plans[i].bytes;
        totalFiles += plans[i].files.size();
    }
    RefuseFaults(faults);
    if (!options.pack.quiet) {
        for (const PackPlan& plan : plans)
            WarnEmptyFolders(plan);
    }

    // The archives go into a scratch file beside the output as they are packed; the
    // executable is then laid out from their sizes and written in one pass, so memory
    // does not grow with the payload.
    fs::path archivesPath = options.output;
    archivesPath += kArchivesSuffix;
    OutputFile archives(archivesPath);  // never committed: removed at the end, or on an interrupt
    resources.RemoveType(ResourceId::Named(kArchiveResourceType));
    std::string carried;
    std::string absent;
    {
        Progress progress("packing", totalFiles, options.pack.quiet, totalBytes);
        for (int i = 0; i < kSetupArchiveCount; ++i) {
            if (folders[i].empty()) {
                absent += std::string(" ") + kSetupArchiveNames[i];
                continue;
            }
            carried += std::string(" ") + kSetupArchiveNames[i];
            SpooledArchive archive(archives);
            PackPlanned(plans[i], options.pack, archive, folders[i], progress);
            ResourceData data;
            data.source = std::make_shared<SpooledResource>(archives, archive.Start(), archive.Size());
            SetArchive(resources, kSetupArchiveNames[i], std::move(data));
        }
    }

    try {
        if (!options.versionInfo.empty()) {
            resources.RemoveType(kResourceTypeVersion);
            resources.Set(kResourceTypeVersion, kVersionResourceId, kVersionLanguage,
                          { BuildVersionResource(version), 0 });
        }
        if (!icon.empty())
            SetIconGroup(resources, kIconGroupId, icon);
        if (!splash.empty())
            SetSplashBitmap(resources, std::move(splash));
    } catch (const PeError& error) {
        Refuse(Launcher(options) + ": cannot take the archives: " + error.what());
    }
    WriteSetup(image, resources, options.output, Launcher(options));
    if (!options.pack.depfile.empty()) {
        // What a build that embeds again whenever it changes depends on: the launcher, the
        // payload folder (whose listing says which archives there are), what the archive
        // folders hold and the files of the options.
        std::vector<fs::path> inputs = { options.launcher, options.payload };
        inputs.insert(inputs.end(), added.begin(), added.end());
        for (const fs::path& file : { options.icon, options.splash }) {
            if (!file.empty())
                inputs.push_back(file);
        }
        for (const PackPlan& plan : plans)
            AddPlanInputs(plan, inputs);
        WriteDepfile(options.pack.depfile, options.output, inputs);
    }
    out << DisplayPath(options.output) << ": archives the launcher carries:" << carried << "\n";
    if (!absent.empty())
        out << DisplayPath(options.output) << ": archives it does not carry (no folder):" << absent << "\n";
}
