// A setup made by kmarc embed, run under Wine next to the launcher built with the same
// payload: both must unpack the same files, write the same script, start the setup
// program the same way and leave the temporary directory clean. Signed and stripped
// setups run too, and Wine's own loader finds every archive. run-embed.sh makes the
// files and names them in KM_EMBED_BUILT, KM_EMBED_SETUP, KM_EMBED_SIGNED and
// KM_EMBED_STRIPPED.
#include "tests/e2e/LauncherCase.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>
#include <windows.h>

namespace {

const char* const kArchiveNames[] = { "BASE",    "SETUPBASE", "SETUPPHOTO", "PHOTOEDITION",
                                      "KMIMAGE", "KMVERSION", "APPBASE",    "PHOTOUNINST" };
const char kArguments[] = "/lang=de \"two words\"";

std::string FromEnvironment(const char* name)
{
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : value;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to)
{
    for (size_t at = text.find(from); !from.empty() && at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// Relative path -> contents of every file below folder (which ends with a backslash).
std::map<std::string, std::string> Files(const std::string& folder)
{
    std::map<std::string, std::string> files;
    for (const std::string& name : ListTree(folder)) {
        if (name.back() != '\\')
            files[name] = ReadFileBytes(folder + name);
    }
    return files;
}

bool Exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// What one run shows, with the paths of its own case folder replaced by "<root>" and
// the cleanup script's (whose folder depends on the rights the run has) by "<script>".
struct Observed {
    DWORD exitCode = 0xFFFFFFFF;
    std::string commandLine;
    std::string script;
    std::map<std::string, std::string> setupFolder;
    bool tempCleanAfterScript = false;
};

Observed RunAndObserve(const std::string& name, const std::string& launcher)
{
    Observed seen;
    LauncherCase run(name);
    if (!run.UseLauncher(launcher)) {
        ADD_FAILURE() << "cannot copy " << launcher;
        return seen;
    }
    // The stand-in only reports, so that the setup folder and the script can be read.
    RunResult result = run.Run(kArguments, true);
    EXPECT_TRUE(result.exited) << name;
    seen.exitCode = result.exitCode;
    const std::string script = result.Report("CleanUp");
    EXPECT_FALSE(script.empty()) << name;
    seen.commandLine = Replaced(Replaced(result.Report("Arguments"), script, "<script>"), run.Root(), "<root>\\");
    seen.script = Replaced(Replaced(ReadFileBytes(script), script, "<script>"), run.Root(), "<root>\\");
    seen.setupFolder = Files(run.WorkFolder() + "KMGSetup0\\");
    seen.tempCleanAfterScript = run.RunScript(script) && run.LeftBehind().empty() && !Exists(script);
    return seen;
}

// A full run: the stand-in installs APPBASE and PHOTOUNINST, which it reads from the
// launcher file, and runs the cleanup. Returns the installed files.
std::map<std::string, std::string> InstallWith(const std::string& name, const std::string& launcher)
{
    LauncherCase run(name);
    EXPECT_TRUE(run.UseLauncher(launcher)) << launcher;
    RunResult result = run.Run(kArguments, false);
    EXPECT_TRUE(result.exited) << name;
    EXPECT_EQ(0u, result.exitCode) << name;
    EXPECT_EQ("0", result.Report("ExitCode")) << name;
    EXPECT_EQ("yes", result.Report("CleanupStarted")) << name;
    EXPECT_EQ("APPBASE installed, 10 files", result.report.count("Archive") ? result.report.find("Archive")->second
                                                                           : std::string())
        << name;
    EXPECT_EQ(std::vector<std::string>(), run.LeftBehind()) << name;
    EXPECT_FALSE(Exists(result.Report("CleanUp"))) << name;
    return Files(run.InstallFolder());
}

class EmbeddedSetup : public testing::Test {
protected:
    void SetUp() override
    {
        built = FromEnvironment("KM_EMBED_BUILT");
        setup = FromEnvironment("KM_EMBED_SETUP");
        if (built.empty() || setup.empty())
            GTEST_SKIP() << "run through run-embed.sh, which makes the setups";
    }

    std::string built;
    std::string setup;
};

TEST_F(EmbeddedSetup, BehavesExactlyAsTheLauncherBuiltWithThePayload)
{
    Observed fromBuild = RunAndObserve("embed-built", built);
    Observed fromEmbed = RunAndObserve("embed-setup", setup);
    EXPECT_EQ(0u, fromBuild.exitCode);
    EXPECT_EQ(0u, fromEmbed.exitCode);
    EXPECT_EQ(std::string("KMSetup SetupProgram=ZIZeduz Wnd=Normal Server=None Wnd=Maximized ") +
                  "ResourceFile=\"<root>\\Launcher\\ZIZeduz.exe\" CleanUp=\"<script>\" " + kArguments,
              fromEmbed.commandLine);
    EXPECT_EQ(fromBuild.commandLine, fromEmbed.commandLine);
    EXPECT_EQ(fromBuild.script, fromEmbed.script);
    EXPECT_FALSE(fromEmbed.setupFolder.empty());
    EXPECT_TRUE(fromBuild.setupFolder == fromEmbed.setupFolder) << "the unpacked files differ";
    EXPECT_TRUE(fromBuild.tempCleanAfterScript);
    EXPECT_TRUE(fromEmbed.tempCleanAfterScript);

    std::map<std::string, std::string> installedByBuild = InstallWith("embed-built-install", built);
    std::map<std::string, std::string> installedByEmbed = InstallWith("embed-setup-install", setup);
    EXPECT_EQ(12u, installedByEmbed.size());
    EXPECT_TRUE(installedByBuild == installedByEmbed) << "the setup program installed other files";
}

TEST_F(EmbeddedSetup, SignedAndStrippedSetupsRunEndToEnd)
{
    std::map<std::string, std::string> expected = InstallWith("embed-reference", setup);
    for (const char* variable : { "KM_EMBED_SIGNED", "KM_EMBED_STRIPPED" }) {
        std::string path = FromEnvironment(variable);
        ASSERT_FALSE(path.empty()) << variable;
        EXPECT_TRUE(expected == InstallWith(variable, path)) << variable;
    }
}

// What the launcher and the setup program see: the system's resource lookup.
TEST_F(EmbeddedSetup, TheLoaderFindsEveryArchiveAsBuilt)
{
    std::vector<std::string> files = { setup, FromEnvironment("KM_EMBED_SIGNED") };
    HMODULE reference = LoadLibraryExA(built.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, reference);
    for (const std::string& file : files) {
        HMODULE module = LoadLibraryExA(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(nullptr, module) << file;
        for (const char* name : kArchiveNames) {
            HRSRC found = FindResourceA(module, name, "KMArc");
            HRSRC expected = FindResourceA(reference, name, "KMArc");
            ASSERT_NE(nullptr, found) << file << " " << name;
            ASSERT_NE(nullptr, expected) << name;
            std::string bytes(static_cast<const char*>(LockResource(LoadResource(module, found))),
                              SizeofResource(module, found));
            std::string expectedBytes(static_cast<const char*>(LockResource(LoadResource(reference, expected))),
                                      SizeofResource(reference, expected));
            EXPECT_TRUE(bytes == expectedBytes) << file << " " << name;
            EXPECT_NE(nullptr, FindResourceExA(module, "KMArc", name, MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN)))
                << name;
        }
        for (int id : { 103, 134 }) {
            LPCSTR type = id == 103 ? RT_DIALOG : RT_BITMAP;
            EXPECT_NE(nullptr, FindResourceA(module, MAKEINTRESOURCEA(id), type)) << id;
        }
        EXPECT_NE(nullptr, FindResourceA(module, MAKEINTRESOURCEA(1), RT_MANIFEST));
        FreeLibrary(module);
    }
    FreeLibrary(reference);
}

// What a file's properties show, through the system's version API, and the icon the
// shell would draw; the setup still runs.
TEST_F(EmbeddedSetup, VersionInfoAndIconReadBackAndTheSetupRuns)
{
    std::string path = FromEnvironment("KM_EMBED_VERSIONED");
    ASSERT_FALSE(path.empty());
    std::wstring wide(path.begin(), path.end());
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(wide.c_str(), &ignored);
    ASSERT_NE(0u, size);
    std::vector<char> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(wide.c_str(), 0, size, block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize));
    EXPECT_EQ(0x00020005u, fixed->dwFileVersionMS);
    EXPECT_EQ(0x00000001u, fixed->dwFileVersionLS);
    EXPECT_EQ(0x00020005u, fixed->dwProductVersionMS);
    const struct {
        const wchar_t* key;
        const wchar_t* value;
    } texts[] = {
        { L"ProductName", L"Kalmora Photo" },       { L"FileVersion", L"2.5.0.1" },
        { L"ProductVersion", L"2.5" },              { L"CompanyName", L"Kalmora Software" },
        { L"FileDescription", L"Kalmora Photo Setup" }, { L"LegalCopyright", L"(c) 2026 Kalmora" },
    };
    for (const auto& text : texts) {
        wchar_t* value = nullptr;
        UINT length = 0;
        std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + text.key;
        ASSERT_TRUE(VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &length));
        EXPECT_EQ(std::wstring(text.value), std::wstring(value));
    }

    HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, module);
    HRSRC groupResource = FindResourceA(module, MAKEINTRESOURCEA(101), RT_GROUP_ICON);
    ASSERT_NE(nullptr, groupResource);
    BYTE* group = static_cast<BYTE*>(LockResource(LoadResource(module, groupResource)));
    int id = LookupIconIdFromDirectoryEx(group, TRUE, 16, 16, LR_DEFAULTCOLOR);
    HRSRC imageResource = FindResourceA(module, MAKEINTRESOURCEA(id), RT_ICON);
    ASSERT_NE(nullptr, imageResource);
    HICON icon = CreateIconFromResourceEx(static_cast<BYTE*>(LockResource(LoadResource(module, imageResource))),
                                          SizeofResource(module, imageResource), TRUE, 0x00030000, 16, 16,
                                          LR_DEFAULTCOLOR);
    EXPECT_NE(nullptr, icon);
    ICONINFO info = {};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    BITMAP bitmap = {};
    GetObjectA(info.hbmColor, sizeof bitmap, &bitmap);
    EXPECT_EQ(16, bitmap.bmWidth);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(icon);
    FreeLibrary(module);

    EXPECT_TRUE(InstallWith("embed-reference-2", setup) == InstallWith("embed-versioned", path));
}

} // namespace
