#include "archive/ArchiveWriter.h"
#include "demo/ArchiveInstall.h"
#include "demo/CleanupLaunch.h"
#include "demo/SetupCommandLine.h"
#include "demo/SetupWindow.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>
#include <windows.h>

namespace {

using Bytes = std::vector<unsigned char>;

// Generous upper bounds for things that happen in other processes; no test depends on
// how fast they are.
const DWORD kProcessBoundMs = 30000;
const DWORD kPollStepMs = 50;

const ArchiveTimes kTimes = { 1700000000u, 1700000100u, 1700000200u };

std::string BinFolder()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string module(path, length);
    return module.substr(0, module.find_last_of('\\') + 1);
}

Bytes ReadBytes(const std::string& path)
{
    Bytes bytes;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    unsigned char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        bytes.insert(bytes.end(), buffer, buffer + got);
    CloseHandle(file);
    return bytes;
}

std::string ReadText(const std::string& path)
{
    Bytes bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

void WriteText(const std::string& path, const std::string& text)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

bool Exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void RemoveTree(const std::string& folder)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string path = folder + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
                DeleteFileA(path.c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
}

// A fresh folder under the temporary directory whose path holds a blank and an
// ampersand, removed with everything in it afterwards. Path() ends with a backslash.
class ScratchFolder {
public:
    ScratchFolder()
    {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        static int serial = 0;
        m_path = std::string(temp) + "km demo & test " + std::to_string(GetCurrentProcessId()) + "-" +
                 std::to_string(++serial);
        RemoveTree(m_path);
        CreateDirectoryA(m_path.c_str(), nullptr);
        m_path += '\\';
    }
    ~ScratchFolder() { RemoveTree(m_path.substr(0, m_path.size() - 1)); }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

struct PayloadFile {
    std::string name;
    std::string contents;
};

Bytes MakeArchive(const std::vector<PayloadFile>& files)
{
    ArchiveWriter writer;
    for (const PayloadFile& file : files) {
        auto bytes = reinterpret_cast<const unsigned char*>(file.contents.data());
        EXPECT_EQ(writer.Add(file.name, bytes, file.contents.size(), kTimes), ArchiveWriteResult::Ok) << file.name;
    }
    Bytes archive;
    EXPECT_EQ(writer.Finish(archive), ArchiveWriteResult::Ok);
    return archive;
}

// A copy of a small executable of this build with the archives as "KMArc" resources
// under German, where the launcher keeps them.
std::string MakeDataModule(const std::string& path, const std::vector<std::pair<std::string, Bytes>>& archives)
{
    EXPECT_TRUE(CopyFileA((BinFolder() + "lingerx.exe").c_str(), path.c_str(), FALSE)) << path;
    HANDLE update = BeginUpdateResourceA(path.c_str(), FALSE);
    EXPECT_NE(update, nullptr);
    for (const auto& archive : archives) {
        EXPECT_TRUE(UpdateResourceA(update, "KMArc", archive.first.c_str(), MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN),
                                    const_cast<unsigned char*>(archive.second.data()),
                                    static_cast<DWORD>(archive.second.size())));
    }
    EXPECT_TRUE(EndUpdateResourceA(update, FALSE));
    return path;
}

class LoadedModule {
public:
    explicit LoadedModule(const std::string& path)
        : m_module(LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE))
    {
    }
    ~LoadedModule()
    {
        if (m_module)
            FreeLibrary(m_module);
    }
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;
    HMODULE Get() const { return m_module; }

private:
    HMODULE m_module;
};

class ChildProcess {
public:
    // Starts commandLine with the current environment; folder may be empty.
    ChildProcess(const std::string& commandLine, const std::string& folder = std::string())
    {
        std::vector<char> line(commandLine.begin(), commandLine.end());
        line.push_back('\0');
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        m_started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                   folder.empty() ? nullptr : folder.c_str(), &startup, &m_info) != FALSE;
        if (m_started)
            CloseHandle(m_info.hThread);
    }
    ~ChildProcess()
    {
        if (!m_started)
            return;
        if (WaitForSingleObject(m_info.hProcess, 0) == WAIT_TIMEOUT)
            TerminateProcess(m_info.hProcess, 99);
        CloseHandle(m_info.hProcess);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return m_started; }
    DWORD Id() const { return m_info.dwProcessId; }
    HANDLE Handle() const { return m_info.hProcess; }
    bool IsRunning() const { return WaitForSingleObject(m_info.hProcess, 0) == WAIT_TIMEOUT; }

    // The exit code, or STILL_ACTIVE when the process outlived the bound.
    DWORD Finish()
    {
        WaitForSingleObject(m_info.hProcess, kProcessBoundMs);
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(m_info.hProcess, &code);
        return code;
    }

    ULONGLONG ExitTime() const
    {
        FILETIME creation, exit, kernel, user;
        GetProcessTimes(m_info.hProcess, &creation, &exit, &kernel, &user);
        return (ULONGLONG(exit.dwHighDateTime) << 32) | exit.dwLowDateTime;
    }

private:
    PROCESS_INFORMATION m_info = {};
    bool m_started = false;
};

// Sets the stand-in's variables for the lifetime of the object, so that the children
// started meanwhile inherit them.
class StandInEnvironment {
public:
    using Values = std::vector<std::pair<std::string, std::string>>;
    explicit StandInEnvironment(Values values) : m_values(std::move(values))
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
    Values m_values;
};

std::string LaunchersArguments(const std::string& module, const std::string& script, const std::string& passed)
{
    return "KMSetup SetupProgram=ZIZeduz Wnd=Normal Server=None Wnd=Maximized ResourceFile=\"" + module +
           "\" CleanUp=\"" + script + "\" " + passed;
}

// Polls for something another process produces; false when the bound ran out.
template <typename Condition>
bool AwaitCondition(Condition condition)
{
    for (DWORD waited = 0; waited < kProcessBoundMs; waited += kPollStepMs) {
        if (condition())
            return true;
        Sleep(kPollStepMs);
    }
    return condition();
}

ULONGLONG LastWriteTime(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
    return (ULONGLONG(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
}

const ULONGLONG kFileTimeAt1970 = 116444736000000000ull;
const ULONGLONG kFileTimeStepsPerSecond = 10000000ull;

// ---- The launcher's command line ------------------------------------------------------

TEST(SetupCommandLine, SplitsTheLaunchersLine)
{
    struct Case {
        const char* arguments;
        const char* resourceFile;
        const char* cleanUp;
        const char* passed;
    } cases[] = {
        { "KMSetup SetupProgram=ZIZeduz Wnd=Normal Server=None Wnd=Maximized "
          "ResourceFile=\"C:\\Downloads\\ZIZeduz.exe\" CleanUp=\"C:\\TEMP\\0.bat\" ",
          "C:\\Downloads\\ZIZeduz.exe", "C:\\TEMP\\0.bat", "" },
        { "KMSetup SetupProgram=ZIZeduz Wnd=Normal Server=None Wnd=Maximized "
          "ResourceFile=\"C:\\My Files\\a & b\\ZIZeduz.exe\" "
          "CleanUp=\"C:\\Documents and Settings\\Jo Ann\\Temp\\17.bat\" ",
          "C:\\My Files\\a & b\\ZIZeduz.exe", "C:\\Documents and Settings\\Jo Ann\\Temp\\17.bat", "" },
        // Whatever follows belongs to the launcher's user, blanks and look-alikes included.
        { "KMSetup ResourceFile=\"C:\\x.exe\" CleanUp=\"C:\\0.bat\" /lang=de  \"two words\" CleanUp=\"D:\\1.bat\"  ",
          "C:\\x.exe", "C:\\0.bat", "/lang=de  \"two words\" CleanUp=\"D:\\1.bat\"  " },
        { "KMSetup ResourceFile=\"C:\\x.exe\" CleanUp=\"C:\\0.bat\"  leading", "C:\\x.exe", "C:\\0.bat", " leading" },
        { "resourcefile=C:\\x.exe cleanup=C:\\0.bat", "C:\\x.exe", "C:\\0.bat", "" },
    };
    for (const Case& c : cases) {
        SetupCommandLine parsed;
        ASSERT_TRUE(ParseSetupCommandLine(c.arguments, parsed)) << c.arguments;
        EXPECT_EQ(parsed.resourceFile, c.resourceFile) << c.arguments;
        EXPECT_EQ(parsed.cleanUp, c.cleanUp) << c.arguments;
        EXPECT_EQ(parsed.passedArguments, c.passed) << c.arguments;
    }
}

TEST(SetupCommandLine, RefusesALineWithoutBothPaths)
{
    const char* cases[] = {
        "",
        "KMSetup SetupProgram=ZIZeduz",
        "KMSetup ResourceFile=\"C:\\x.exe\"",
        "KMSetup CleanUp=\"C:\\0.bat\" ResourceFile=\"C:\\x.exe\"",
        "KMSetup ResourceFile=\"C:\\x.exe CleanUp=\"C:\\0.bat\"",
        "KMSetup ResourceFile=\"C:\\x.exe\" CleanUp=\"C:\\0.bat",
        "KMSetup ResourceFile=\"\" CleanUp=\"C:\\0.bat\"",
        "KMSetup ResourceFile=\"C:\\x.exe\" CleanUp=\"\"",
    };
    for (const char* arguments : cases) {
        SetupCommandLine parsed;
        EXPECT_FALSE(ParseSetupCommandLine(arguments, parsed)) << arguments;
    }
}

TEST(SetupCommandLine, KeepsTheSettingsInOrder)
{
    SetupCommandLine parsed;
    ASSERT_TRUE(ParseSetupCommandLine(
        "KMSetup SetupProgram=ZIZeduz Wnd=Normal Server=None Wnd=Maximized ResourceFile=\"C:\\x.exe\" "
        "CleanUp=\"C:\\0.bat\" Wnd=Hidden",
        parsed));
    std::vector<std::pair<std::string, std::string>> expected = {
        { "KMSetup", "" }, { "SetupProgram", "ZIZeduz" }, { "Wnd", "Normal" },     { "Server", "None" },
        { "Wnd", "Maximized" }, { "ResourceFile", "C:\\x.exe" }, { "CleanUp", "C:\\0.bat" },
    };
    EXPECT_EQ(parsed.settings, expected);
}

TEST(SetupCommandLine, SkipsTheProgramNameAsWindowsDoes)
{
    struct Case {
        const char* commandLine;
        const char* arguments;
    } cases[] = {
        { "\"C:\\TEMP\\KMG Setup0\\Zephrun.exe\" KMSetup a", "KMSetup a" },
        { "Zephrun.exe KMSetup", "KMSetup" },
        { "Zephrun.exe", "" },
        { "\"C:\\a b\\Zephrun.exe\"   x  ", "x  " },
        { "Zephrun.exe\tKMSetup", "KMSetup" },
    };
    for (const Case& c : cases)
        EXPECT_STREQ(SkipProgramName(c.commandLine), c.arguments) << c.commandLine;
}

// ---- Handing over the cleanup script ------------------------------------------------------

TEST(CleanupLaunch, RunsTheScriptByNameInItsFolder)
{
    struct Case {
        const char* script;
        const char* commandLine;
        const char* folder;
    } cases[] = {
        { "C:\\TEMP\\0.bat", "\"C:\\windows\\system32\\cmd.exe\" /c \"\"0.bat\" 1234\"", "C:\\TEMP" },
        { "C:\\Users\\Jo & Ann\\Temp %x%\\17.bat", "\"C:\\windows\\system32\\cmd.exe\" /c \"\"17.bat\" 1234\"",
          "C:\\Users\\Jo & Ann\\Temp %x%" },
        { "C:\\0.bat", "\"C:\\windows\\system32\\cmd.exe\" /c \"\"0.bat\" 1234\"", "C:\\" },
        { "0.bat", "\"C:\\windows\\system32\\cmd.exe\" /c \"\"0.bat\" 1234\"", "" },
    };
    for (const Case& c : cases) {
        CleanupCommand command = BuildCleanupCommand("C:\\windows\\system32\\cmd.exe", c.script, 1234);
        EXPECT_EQ(command.commandLine, c.commandLine) << c.script;
        EXPECT_EQ(command.folder, c.folder) << c.script;
    }
}

// ---- Installing from a data module ----------------------------------------------------

class ArchiveInstallTest : public ::testing::Test {
protected:
    std::string InstallFolder() const { return m_scratch.Path() + "Program Files\\Kalmora Photo\\"; }
    std::string Module(const std::vector<std::pair<std::string, Bytes>>& archives)
    {
        return MakeDataModule(m_scratch.Path() + "ZIZeduz.exe", archives);
    }

    ScratchFolder m_scratch;
};

TEST_F(ArchiveInstallTest, WritesEveryEntryWithItsContentsAndTimes)
{
    std::string binary;
    for (int i = 0; i < 5000; ++i)
        binary += static_cast<char>((i * 7919) >> 3);
    std::vector<PayloadFile> files = {
        { "Data\\Samples\\Lake.bmp", binary },
        { "Docs\\Eng\\Getting Started.txt", "Open a picture.\r\n" },
        { "Empty.txt", "" },
        { "Photo.ini", "[Photo]\r\nEdition=Deluxe\r\n" },
    };
    std::string module = Module({ { "APPBASE", MakeArchive(files) } });
    LoadedModule loaded(module);
    ASSERT_NE(loaded.Get(), nullptr);

    ArchiveInstallResult result = InstallArchive(loaded.Get(), "APPBASE", InstallFolder());
    ASSERT_EQ(result.outcome, InstallOutcome::Installed) << result.detail;
    ASSERT_EQ(result.files.size(), files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        std::string path = InstallFolder() + files[i].name;
        EXPECT_EQ(result.files[i], path);
        EXPECT_EQ(ReadText(path), files[i].contents) << path;
        EXPECT_EQ(LastWriteTime(path), kFileTimeAt1970 + kTimes.lastWrite * kFileTimeStepsPerSecond) << path;
    }
}

TEST_F(ArchiveInstallTest, ReportsAMissingArchiveAndWritesNothing)
{
    std::string module = Module({ { "APPBASE", MakeArchive({ { "Photo.ini", "x" } }) } });
    LoadedModule loaded(module);
    ASSERT_NE(loaded.Get(), nullptr);

    ArchiveInstallResult result = InstallArchive(loaded.Get(), "PHOTOUNINST", InstallFolder());
    EXPECT_EQ(result.outcome, InstallOutcome::Missing);
    EXPECT_TRUE(result.files.empty());
    EXPECT_FALSE(Exists(InstallFolder()));
}

TEST_F(ArchiveInstallTest, RefusesADamagedDirectoryBeforeWritingAnything)
{
    Bytes archive = MakeArchive({ { "Photo.ini", "x" }, { "Data\\Filters.dat", "y" } });
    uint32_t beyond = static_cast<uint32_t>(archive.size()) + 100;
    for (int i = 0; i < 4; ++i)
        archive[i] = static_cast<unsigned char>(beyond >> (8 * i));
    std::string module = Module({ { "APPBASE", archive } });
    LoadedModule loaded(module);
    ASSERT_NE(loaded.Get(), nullptr);

    ArchiveInstallResult result = InstallArchive(loaded.Get(), "APPBASE", InstallFolder());
    EXPECT_EQ(result.outcome, InstallOutcome::Damaged);
    EXPECT_TRUE(result.files.empty());
    EXPECT_FALSE(Exists(InstallFolder()));
}

TEST_F(ArchiveInstallTest, RemovesAnEntryThatInflatesToTheWrongSize)
{
    Bytes archive = MakeArchive({ { "Photo.ini", "first" }, { "Data\\Filters.dat", "second" } });
    // The last record ends the archive: uncompressed size, then the three times.
    const size_t uncompressedSizeFromEnd = 16;
    archive[archive.size() - uncompressedSizeFromEnd] += 1;
    std::string module = Module({ { "APPBASE", archive } });
    LoadedModule loaded(module);
    ASSERT_NE(loaded.Get(), nullptr);

    ArchiveInstallResult result = InstallArchive(loaded.Get(), "APPBASE", InstallFolder());
    EXPECT_EQ(result.outcome, InstallOutcome::Damaged);
    ASSERT_EQ(result.files.size(), 1u);
    EXPECT_EQ(result.files[0], InstallFolder() + "Photo.ini");
    EXPECT_EQ(ReadText(InstallFolder() + "Photo.ini"), "first");
    EXPECT_FALSE(Exists(InstallFolder() + "Data\\Filters.dat"));
}

// ---- Zephrun.exe as the launcher starts it --------------------------------------------

TEST(Zephrun, InstallsAndHandsItsProcessIdToTheCleanupScript)
{
    ScratchFolder scratch;
    std::string launcherFolder = scratch.Path() + "Downloads & More\\";
    ASSERT_TRUE(CreateDirectoryA(launcherFolder.c_str(), nullptr));
    std::string module = MakeDataModule(launcherFolder + "ZIZeduz.exe",
        { { "APPBASE", MakeArchive({ { "Photo.ini", "[Photo]\r\n" }, { "Docs\\Ger\\Handbuch.txt", "Bilder\r\n" } }) },
          { "PHOTOUNINST", MakeArchive({ { "Uninstall\\Uninst.ini", "[Uninstall]\r\n" } }) } });
    std::string script = scratch.Path() + "17.bat";
    std::string marker = scratch.Path() + "cleanup ran.txt";
    // The script records its argument only once lingerx has seen the process end.
    WriteText(script, "@\"" + BinFolder() + "lingerx.exe\" %1\r\n@echo %1>\"" + marker + "\"\r\n");
    std::string install = scratch.Path() + "Kalmora Photo\\";
    std::string report = scratch.Path() + "report.txt";

    DWORD exitCode = STILL_ACTIVE;
    DWORD processId = 0;
    {
        StandInEnvironment environment({ { "KM_STANDIN_REPORT", report }, { "KM_STANDIN_INSTALL_DIR", install } });
        ChildProcess zephrun("\"" + BinFolder() + "Zephrun.exe\" " +
                                 LaunchersArguments(module, script, "/q \"two words\""),
                             scratch.Path());
        ASSERT_TRUE(zephrun.Started());
        processId = zephrun.Id();
        exitCode = zephrun.Finish();
    }
    EXPECT_EQ(exitCode, 0u);

    std::string text = ReadText(report);
    for (const std::string& line : std::vector<std::string>{
             "ProcessId=" + std::to_string(processId),
             "ResourceFile=" + module,
             "CleanUp=" + script,
             std::string("PassedArguments=/q \"two words\""),
             "Installed=" + install + "Photo.ini",
             "Installed=" + install + "Docs\\Ger\\Handbuch.txt",
             "Installed=" + install + "Uninstall\\Uninst.ini",
             std::string("CleanupStarted=yes"),
         })
        EXPECT_NE(text.find(line + "\r\n"), std::string::npos) << line << "\n" << text;
    EXPECT_EQ(ReadText(install + "Docs\\Ger\\Handbuch.txt"), "Bilder\r\n");

    ASSERT_TRUE(AwaitCondition([&] { return ReadText(marker).find("\r\n") != std::string::npos; }))
        << "the cleanup script did not run";
    EXPECT_EQ(ReadText(marker), std::to_string(processId) + "\r\n");
}

TEST(Zephrun, ShowsTheWindowTheLauncherLooksForUntilItIsClosed)
{
    StandInEnvironment environment(StandInEnvironment::Values{ { "KM_STANDIN_HOLD_MS", "600000" } });
    ChildProcess zephrun("\"" + BinFolder() + "Zephrun.exe\"");
    ASSERT_TRUE(zephrun.Started());

    HWND window = nullptr;
    ASSERT_TRUE(AwaitCondition([&] {
        window = FindWindowA(kSetupWindowClass, kSetupWindowTitle);
        return window != nullptr || !zephrun.IsRunning();
    }));
    ASSERT_NE(window, nullptr) << "no window of class " << kSetupWindowClass << " titled " << kSetupWindowTitle;
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    EXPECT_EQ(owner, zephrun.Id());

    PostMessageA(window, WM_CLOSE, 0, 0);
    // Without ResourceFile and CleanUp there is nothing to install.
    EXPECT_EQ(zephrun.Finish(), 1u);
}

TEST(Zephrun, ExitsAtOnceWhenAsked)
{
    ScratchFolder scratch;
    std::string install = scratch.Path() + "Kalmora Photo\\";
    std::string report = scratch.Path() + "report.txt";
    StandInEnvironment environment({ { "KM_STANDIN_EXIT_AT_ONCE", "1" },
                                     { "KM_STANDIN_REPORT", report },
                                     { "KM_STANDIN_INSTALL_DIR", install } });
    ChildProcess zephrun("\"" + BinFolder() + "Zephrun.exe\" " +
                         LaunchersArguments(scratch.Path() + "ZIZeduz.exe", scratch.Path() + "0.bat", ""));
    ASSERT_TRUE(zephrun.Started());
    EXPECT_EQ(zephrun.Finish(), 0u);

    std::string text = ReadText(report);
    EXPECT_NE(text.find("PassedArguments=\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("ExitAtOnce=1\r\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("CleanupStarted="), std::string::npos) << text;
    EXPECT_FALSE(Exists(install));
}

// ---- lingerx.exe -------------------------------------------------------------------------

std::string Lingerx(const std::string& arguments)
{
    return "\"" + BinFolder() + "lingerx.exe\" " + arguments;
}

TEST(Lingerx, ReturnsAtOnceForAProcessThatIsGoneOrWasNeverThere)
{
    ChildProcess ended(Lingerx("not-a-number"));
    ASSERT_TRUE(ended.Started());
    ASSERT_EQ(ended.Finish(), 2u);

    // The handle above keeps the ended process's id from being reused meanwhile.
    for (std::string processId : { std::to_string(ended.Id()), std::string("4294967292") }) {
        ChildProcess waiter(Lingerx(processId));
        ASSERT_TRUE(waiter.Started());
        EXPECT_EQ(waiter.Finish(), 0u) << processId;
    }
}

TEST(Lingerx, RefusesAnythingButAProcessIdAndABound)
{
    for (const char* arguments : { "", "12x", "-4", "99999999999", "4 5 6", "4 soon" }) {
        ChildProcess waiter(Lingerx(arguments));
        ASSERT_TRUE(waiter.Started());
        EXPECT_EQ(waiter.Finish(), 2u) << arguments;
    }
}

TEST(Lingerx, GivesUpOnALiveProcessWhenTheBoundRunsOut)
{
    // This test process certainly outlives a bound of 0.
    ChildProcess waiter(Lingerx(std::to_string(GetCurrentProcessId()) + " 0"));
    ASSERT_TRUE(waiter.Started());
    EXPECT_EQ(waiter.Finish(), 1u);
}

TEST(Lingerx, WaitsUntilTheProcessHasEnded)
{
    // The first waiter stays until this test process ends, so it is a live process for
    // as long as the test wants one.
    ChildProcess watched(Lingerx(std::to_string(GetCurrentProcessId())));
    ASSERT_TRUE(watched.Started());
    ChildProcess waiter(Lingerx(std::to_string(watched.Id())));
    ASSERT_TRUE(waiter.Started());
    EXPECT_TRUE(waiter.IsRunning());

    ASSERT_TRUE(TerminateProcess(watched.Handle(), 0));
    EXPECT_EQ(waiter.Finish(), 0u);
    EXPECT_EQ(watched.Finish(), 0u);
    EXPECT_GE(waiter.ExitTime(), watched.ExitTime());
}

} // namespace
