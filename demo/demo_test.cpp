#include "archive/ArchiveWriter.h"
#include "demo/ArchiveInstall.h"
#include "demo/CleanupLaunch.h"
#include "demo/SetupCommandLine.h"
#include "demo/SetupWindow.h"
#include "tools/kmarc/Embed.h"
#include "tools/kmarc/ToolError.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>
#include <windows.h>

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<unsigned char>;
using Files = std::vector<std::pair<std::string, std::string>>;

// An upper bound for what other processes do; no test depends on how fast they are.
const DWORD kProcessBoundMs = 30000;
const ArchiveTimes kTimes = { 1700000000u, 1700000100u, 1700000200u };

std::string BinFolder()
{
    char path[MAX_PATH];
    std::string module(path, GetModuleFileNameA(nullptr, path, MAX_PATH));
    return module.substr(0, module.find_last_of('\\') + 1);
}

std::string ReadText(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// A fresh folder under the temporary directory whose path holds a blank and an
// ampersand; removed with its contents afterwards. Path() ends with a backslash.
class ScratchFolder {
public:
    ScratchFolder()
    {
        static int serial = 0;
        m_path = (fs::temp_directory_path() / ("km demo & test " + std::to_string(GetCurrentProcessId()) + "-" +
                                               std::to_string(++serial))).string();
        fs::remove_all(m_path);
        fs::create_directories(m_path);
        m_path += '\\';
    }
    ~ScratchFolder() { fs::remove_all(m_path); }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

Bytes MakeArchive(const Files& files)
{
    ArchiveWriter writer;
    for (const auto& file : files) {
        auto bytes = reinterpret_cast<const unsigned char*>(file.second.data());
        EXPECT_EQ(writer.Add(file.first, bytes, file.second.size(), kTimes), ArchiveWriteResult::Ok);
    }
    Bytes archive;
    EXPECT_EQ(writer.Finish(archive), ArchiveWriteResult::Ok);
    return archive;
}

// A copy of a small executable of this build with the archives as archive resources,
// put in by the code of kmarc embed.
std::string MakeDataModule(const std::string& path, const std::vector<std::pair<const char*, Bytes>>& archives)
{
    std::vector<std::pair<std::string, std::vector<unsigned char>>> resources;
    for (const auto& archive : archives)
        resources.push_back({ archive.first, archive.second });
    DeleteFileA(path.c_str());
    try {
        EmbedArchives(BinFolder() + "lingerx.exe", resources, path);
    } catch (const ToolError& error) {
        ADD_FAILURE() << error.message;
    }
    return path;
}

class ChildProcess {
public:
    explicit ChildProcess(std::string commandLine, const std::string& folder = std::string())
    {
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        m_started = CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                                   folder.empty() ? nullptr : folder.c_str(), &startup, &m_info) != FALSE;
        EXPECT_TRUE(m_started) << commandLine;
    }
    ~ChildProcess()
    {
        if (!m_started)
            return;
        if (IsRunning())
            TerminateProcess(m_info.hProcess, 99);
        CloseHandle(m_info.hProcess);
        CloseHandle(m_info.hThread);
    }
    DWORD Id() const { return m_info.dwProcessId; }
    HANDLE Handle() const { return m_info.hProcess; }
    bool IsRunning() const { return WaitForSingleObject(m_info.hProcess, 0) == WAIT_TIMEOUT; }
    // The exit code, or STILL_ACTIVE when the process outlived the bound.
    DWORD Finish()
    {
        DWORD code = STILL_ACTIVE;
        WaitForSingleObject(m_info.hProcess, kProcessBoundMs);
        GetExitCodeProcess(m_info.hProcess, &code);
        return code;
    }

private:
    PROCESS_INFORMATION m_info = {};
    bool m_started = false;
};

// Sets the stand-in's variables while it lives, for the children started meanwhile.
class StandInEnvironment {
public:
    explicit StandInEnvironment(Files values) : m_values(std::move(values))
    {
        for (const auto& value : m_values)
            SetEnvironmentVariableA(value.first.c_str(), value.second.c_str());
    }
    ~StandInEnvironment()
    {
        for (const auto& value : m_values)
            SetEnvironmentVariableA(value.first.c_str(), nullptr);
    }

private:
    Files m_values;
};

// Polls for what another process produces; false when the bound ran out.
template <typename Condition> bool Await(Condition condition)
{
    const DWORD step = 50;
    for (DWORD waited = 0; waited < kProcessBoundMs && !condition(); waited += step)
        Sleep(step);
    return condition();
}

std::string Program(const char* name, const std::string& arguments)
{
    return "\"" + BinFolder() + name + "\" " + arguments;
}

TEST(SetupCommandLine, SplitsTheLaunchersLine)
{
    const char* fixed = "KMSetup SetupProgram=ZIZeduz Wnd=Normal Server=None Wnd=Maximized ";
    struct Case {
        std::string arguments;
        const char *resourceFile, *cleanUp, *passed;
    } cases[] = {
        { fixed + std::string("ResourceFile=\"C:\\Downloads\\ZIZeduz.exe\" CleanUp=\"C:\\TEMP\\0.bat\" "),
          "C:\\Downloads\\ZIZeduz.exe", "C:\\TEMP\\0.bat", "" },
        { fixed + std::string("ResourceFile=\"C:\\My Files\\a & b\\ZIZeduz.exe\" CleanUp=\"C:\\Jo Ann\\17.bat\" "),
          "C:\\My Files\\a & b\\ZIZeduz.exe", "C:\\Jo Ann\\17.bat", "" },
        // What follows belongs to the launcher's user, blanks and look-alikes included.
        { "KMSetup ResourceFile=\"C:\\x.exe\" CleanUp=\"C:\\0.bat\" /lang=de  \"two words\" CleanUp=\"D:\\1.bat\"  ",
          "C:\\x.exe", "C:\\0.bat", "/lang=de  \"two words\" CleanUp=\"D:\\1.bat\"  " },
        { "KMSetup ResourceFile=\"C:\\x.exe\" CleanUp=\"C:\\0.bat\"  leading", "C:\\x.exe", "C:\\0.bat", " leading" },
        { "resourcefile=C:\\x.exe cleanup=C:\\0.bat", "C:\\x.exe", "C:\\0.bat", "" },
    };
    for (const Case& c : cases) {
        SetupCommandLine parsed;
        ASSERT_TRUE(ParseSetupCommandLine(c.arguments.c_str(), parsed)) << c.arguments;
        EXPECT_EQ(parsed.resourceFile, c.resourceFile) << c.arguments;
        EXPECT_EQ(parsed.cleanUp, c.cleanUp) << c.arguments;
        EXPECT_EQ(parsed.passedArguments, c.passed) << c.arguments;
    }
    for (const char* arguments : { "", "KMSetup ResourceFile=\"C:\\x.exe\"",
                                   "KMSetup CleanUp=\"C:\\0.bat\" ResourceFile=\"C:\\x.exe\"",
                                   "KMSetup ResourceFile=\"C:\\x.exe CleanUp=\"C:\\0.bat\"",
                                   "KMSetup ResourceFile=\"C:\\x.exe\" CleanUp=\"C:\\0.bat",
                                   "KMSetup ResourceFile=\"\" CleanUp=\"C:\\0.bat\"" }) {
        SetupCommandLine parsed;
        EXPECT_FALSE(ParseSetupCommandLine(arguments, parsed)) << arguments;
    }
}

TEST(SetupCommandLine, SkipsTheProgramNameAsWindowsDoes)
{
    const std::pair<const char*, const char*> cases[] = {
        { "\"C:\\TEMP\\KMG Setup0\\Zephrun.exe\" KMSetup a", "KMSetup a" },
        { "Zephrun.exe\tKMSetup", "KMSetup" },
        { "Zephrun.exe", "" },
        { "\"C:\\a b\\Zephrun.exe\"   x  ", "x  " },
    };
    for (const auto& c : cases)
        EXPECT_STREQ(SkipProgramName(c.first), c.second) << c.first;
}

TEST(CleanupLaunch, RunsTheScriptByNameInItsFolder)
{
    const char* line = "\"C:\\windows\\system32\\cmd.exe\" /c \"\"17.bat\" 1234\"";
    const std::pair<const char*, const char*> cases[] = {
        { "C:\\TEMP\\17.bat", "C:\\TEMP" },
        { "C:\\Users\\Jo & Ann\\Temp %x%\\17.bat", "C:\\Users\\Jo & Ann\\Temp %x%" },
        { "C:\\17.bat", "C:\\" },
        { "17.bat", "" },
    };
    for (const auto& c : cases) {
        CleanupCommand command = BuildCleanupCommand("C:\\windows\\system32\\cmd.exe", c.first, 1234);
        EXPECT_EQ(command.commandLine, line) << c.first;
        EXPECT_EQ(command.folder, c.second) << c.first;
    }
}

class ArchiveInstallTest : public ::testing::Test {
protected:
    ArchiveInstallResult Install(const Bytes& archive, const char* name = "APPBASE")
    {
        std::string module = MakeDataModule(m_scratch.Path() + "ZIZeduz.exe", { { "APPBASE", archive } });
        HMODULE loaded = LoadLibraryExA(module.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        EXPECT_NE(loaded, nullptr);
        ArchiveInstallResult result = InstallArchive(loaded, name, m_folder);
        FreeLibrary(loaded);
        return result;
    }

    ScratchFolder m_scratch;
    std::string m_folder = m_scratch.Path() + "Program Files\\Kalmora Photo\\";
};

TEST_F(ArchiveInstallTest, WritesEveryEntryWithItsContentsAndTimes)
{
    std::string binary;
    for (int i = 0; i < 5000; ++i)
        binary += static_cast<char>((i * 7919) >> 3);
    Files files = { { "Data\\Samples\\Lake.bmp", binary }, { "Docs\\Eng\\Getting Started.txt", "Open.\r\n" },
                    { "Empty.txt", "" }, { "Photo.ini", "[Photo]\r\n" } };
    ArchiveInstallResult result = Install(MakeArchive(files));
    ASSERT_EQ(result.outcome, InstallOutcome::Installed) << result.detail;
    ASSERT_EQ(result.files.size(), files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        std::string path = m_folder + files[i].first;
        EXPECT_EQ(result.files[i], path);
        EXPECT_EQ(ReadText(path), files[i].second) << path;
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
        ULONGLONG written = (ULONGLONG(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
        EXPECT_EQ(written, 116444736000000000ull + kTimes.lastWrite * 10000000ull) << path;
    }
}

TEST_F(ArchiveInstallTest, WritesNothingForAMissingOrDamagedArchive)
{
    Bytes beyondTheEnd = MakeArchive({ { "Photo.ini", "x" }, { "Data\\Filters.dat", "y" } });
    beyondTheEnd[1] = 0x7F; // the directory offset
    EXPECT_EQ(Install(MakeArchive({ { "Photo.ini", "x" } }), "PHOTOUNINST").outcome, InstallOutcome::Missing);
    EXPECT_EQ(Install(beyondTheEnd).outcome, InstallOutcome::Damaged);
    EXPECT_FALSE(fs::exists(m_folder));
}

TEST_F(ArchiveInstallTest, RemovesAnEntryThatInflatesToTheWrongSize)
{
    Bytes archive = MakeArchive({ { "Photo.ini", "first" }, { "Data\\Filters.dat", "second" } });
    // The last record ends the archive: uncompressed size, then the three times.
    archive[archive.size() - 16] += 1;
    ArchiveInstallResult result = Install(archive);
    EXPECT_EQ(result.outcome, InstallOutcome::Damaged);
    EXPECT_EQ(result.files, std::vector<std::string>{ m_folder + "Photo.ini" });
    EXPECT_EQ(ReadText(m_folder + "Photo.ini"), "first");
    EXPECT_FALSE(fs::exists(m_folder + "Data\\Filters.dat"));
}

TEST(Zephrun, InstallsAndHandsItsProcessIdToTheCleanupScript)
{
    ScratchFolder scratch;
    std::string module = MakeDataModule(scratch.Path() + "ZIZeduz.exe",
        { { "APPBASE", MakeArchive({ { "Photo.ini", "[Photo]\r\n" }, { "Docs\\Ger\\Handbuch.txt", "Bilder\r\n" } }) },
          { "PHOTOUNINST", MakeArchive({ { "Uninstall\\Uninst.ini", "[Uninstall]\r\n" } }) } });
    std::string script = scratch.Path() + "17.bat", marker = scratch.Path() + "cleanup ran.txt";
    std::string install = scratch.Path() + "Kalmora Photo\\", report = scratch.Path() + "report.txt";
    // The script records its argument only once lingerx has seen the process end.
    std::ofstream(script, std::ios::binary) << "@\"" << BinFolder() << "lingerx.exe\" %1\r\n@echo %1>\"" << marker
                                            << "\"\r\n";
    StandInEnvironment environment({ { "KM_STANDIN_REPORT", report }, { "KM_STANDIN_INSTALL_DIR", install } });
    ChildProcess zephrun(Program("Zephrun.exe", "KMSetup SetupProgram=ZIZeduz Wnd=Normal Server=None Wnd=Maximized "
                                                "ResourceFile=\"" + module + "\" CleanUp=\"" + script +
                                                "\" /q \"two words\""),
                         scratch.Path());
    EXPECT_EQ(zephrun.Finish(), 0u);

    std::string text = ReadText(report);
    for (const std::string& line : std::vector<std::string>{
             "ProcessId=" + std::to_string(zephrun.Id()), "ResourceFile=" + module, "CleanUp=" + script,
             "PassedArguments=/q \"two words\"", "Installed=" + install + "Photo.ini",
             "Installed=" + install + "Docs\\Ger\\Handbuch.txt", "Installed=" + install + "Uninstall\\Uninst.ini",
             "CleanupStarted=yes" })
        EXPECT_NE(text.find(line + "\r\n"), std::string::npos) << line << "\n" << text;
    EXPECT_EQ(ReadText(install + "Docs\\Ger\\Handbuch.txt"), "Bilder\r\n");
    ASSERT_TRUE(Await([&] { return ReadText(marker).find('\n') != std::string::npos; })) << "no cleanup";
    EXPECT_EQ(ReadText(marker), std::to_string(zephrun.Id()) + "\r\n");
}

TEST(Zephrun, ShowsTheWindowTheLauncherLooksForUntilItIsClosed)
{
    StandInEnvironment environment(Files{ { "KM_STANDIN_HOLD_MS", "600000" } });
    ChildProcess zephrun(Program("Zephrun.exe", ""));
    HWND window = nullptr;
    Await([&] { return (window = FindWindowA(kSetupWindowClass, kSetupWindowTitle)) || !zephrun.IsRunning(); });
    ASSERT_NE(window, nullptr) << "no window of class " << kSetupWindowClass << " titled " << kSetupWindowTitle;
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    EXPECT_EQ(owner, zephrun.Id());

    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(zephrun.Finish(), 1u); // no ResourceFile, no CleanUp: nothing to install
}

TEST(Lingerx, ReturnsAtOnceUnlessTheProcessLives)
{
    ChildProcess ended(Program("lingerx.exe", "not-a-number"));
    ASSERT_EQ(ended.Finish(), 2u);
    // The handle held above keeps the ended process's id from being reused meanwhile.
    const std::pair<std::string, DWORD> cases[] = {
        { std::to_string(ended.Id()), 0 },
        { "4294967292", 0 },                                 // never a process
        { std::to_string(GetCurrentProcessId()) + " 0", 1 }, // alive beyond a bound of 0
        { "", 2 }, { "12x", 2 }, { "-4", 2 }, { "99999999999", 2 }, { "4 5 6", 2 }, { "4 soon", 2 },
    };
    for (const auto& c : cases) {
        ChildProcess waiter(Program("lingerx.exe", c.first));
        EXPECT_EQ(waiter.Finish(), c.second) << c.first;
    }
}

TEST(Lingerx, WaitsUntilTheProcessHasEnded)
{
    // The first waiter stays as long as this test process, a live process on demand.
    ChildProcess watched(Program("lingerx.exe", std::to_string(GetCurrentProcessId())));
    ChildProcess waiter(Program("lingerx.exe", std::to_string(watched.Id())));
    EXPECT_TRUE(waiter.IsRunning());

    ASSERT_TRUE(TerminateProcess(watched.Handle(), 0));
    EXPECT_EQ(waiter.Finish(), 0u);
    EXPECT_EQ(watched.Finish(), 0u);
}

} // namespace
