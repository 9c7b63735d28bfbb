#include "tests/e2e/LauncherCase.h"

#include "archive/ArchiveWriter.h"
#include "demo/CleanupLaunch.h"
#include "launcher/LauncherTestSupport.h"
#include "launcher/SetupFolder.h"
#include "tools/kmarc/Embed.h"
#include "tools/kmarc/ToolError.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

const char kAnyBoxCaption[] = "*";

namespace {

// Bounds for every wait, far beyond what a run takes, so that a hang fails the test
// instead of the whole suite.
const DWORD kRunBoundMilliseconds = 60000;
const DWORD kPollMilliseconds = 50;
const ArchiveTimes kTimes = { 1500000000u, 1500000000u, 1500000000u };
const int kMessageBoxTextId = 0xFFFF;

std::string ProgramFolder()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, length);
    return folder.substr(0, folder.rfind('\\') + 1);
}

std::string E2eRoot()
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string root = std::string(temp) + "km-e2e\\";
    CreateDirectoryA(root.c_str(), nullptr);
    return root;
}

HANDLE OpenChildProcess(DWORD parentId, const char* exeName, DWORD* childId = nullptr)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return nullptr;
    HANDLE child = nullptr;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more && !child; more = Process32Next(snapshot, &entry)) {
        if (entry.th32ParentProcessID == parentId && lstrcmpiA(entry.szExeFile, exeName) == 0) {
            child = OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID);
            if (child && childId)
                *childId = entry.th32ProcessID;
        }
    }
    CloseHandle(snapshot);
    return child;
}

bool WaitAndClose(HANDLE process)
{
    if (!process)
        return true;
    bool ended = WaitForSingleObject(process, kRunBoundMilliseconds) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

struct BoxSearch {
    DWORD processId;
    const std::string* title;
    HWND found;
    std::string caption;
};

BOOL CALLBACK FindBox(HWND window, LPARAM parameter)
{
    BoxSearch& search = *reinterpret_cast<BoxSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char className[64];
    char title[256];
    if (owner == search.processId && IsWindowVisible(window) && GetClassNameA(window, className, sizeof className) &&
        lstrcmpA(className, "#32770") == 0 && GetWindowTextA(window, title, sizeof title) &&
        (*search.title == kAnyBoxCaption || *search.title == title)) {
        search.found = window;
        search.caption = title;
        return FALSE;
    }
    return TRUE;
}

void PumpMessages()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

// Sets environment variables for the programs this process starts, and puts the old
// values back when it goes.
class ChildEnvironment {
public:
    void Set(const char* name, const std::string& value)
    {
        Set(std::wstring(name, name + std::strlen(name)), Widen(value));
    }
    void Set(const std::wstring& name, const std::wstring& value)
    {
        wchar_t old[4096];
        DWORD length = GetEnvironmentVariableW(name.c_str(), old, 4096);
        saved.emplace_back(name, length ? std::wstring(old, length) : std::wstring(), length != 0);
        SetEnvironmentVariableW(name.c_str(), value.empty() ? nullptr : value.c_str());
    }
    ~ChildEnvironment()
    {
        for (auto it = saved.rbegin(); it != saved.rend(); ++it)
            SetEnvironmentVariableW(std::get<0>(*it).c_str(), std::get<2>(*it) ? std::get<1>(*it).c_str() : nullptr);
    }

private:
    static std::wstring Widen(const std::string& text)
    {
        std::wstring wide(text.size() + 1, L'\0');
        int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], static_cast<int>(wide.size()));
        wide.resize(length > 0 ? length - 1 : 0);
        return wide;
    }

    std::vector<std::tuple<std::wstring, std::wstring, bool>> saved;
};

} // namespace

std::vector<unsigned char> PackArchive(const ArchiveFiles& files)
{
    ArchiveWriter writer;
    for (const auto& file : files)
        writer.Add(file.first, reinterpret_cast<const unsigned char*>(file.second.data()), file.second.size(), kTimes);
    std::vector<unsigned char> archive;
    writer.Finish(archive);
    return archive;
}

std::map<std::string, std::vector<unsigned char>> Packed(const std::map<std::string, ArchiveFiles>& payload)
{
    std::map<std::string, std::vector<unsigned char>> archives;
    for (const auto& archive : payload)
        archives[archive.first] = PackArchive(archive.second);
    return archives;
}

std::string ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

std::vector<std::string> ListTree(const std::string& folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            names.push_back(name + "\\");
            for (const std::string& inner : ListTree(folder + name + "\\"))
                names.push_back(name + "\\" + inner);
        } else {
            names.push_back(name);
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

std::string RunResult::Report(const std::string& key) const
{
    auto it = report.find(key);
    return it == report.end() ? std::string() : it->second;
}

LauncherCase::LauncherCase(const std::string& name, const std::string& tempName)
    : root(E2eRoot() + name + "\\")
{
    RemoveTree(root);
    CreateDirectoryA(root.c_str(), nullptr);
    tempPath = root + tempName + "\\";
    CreateDirectoryA(tempPath.c_str(), nullptr);
    installFolder = root + "Installed\\";
    reportPath = root + "standin-report.txt";
    launcherPath = root + "Launcher\\ZIZeduz.exe";
    CreateDirectoryA((root + "Launcher").c_str(), nullptr);
}

LauncherCase::~LauncherCase()
{
    if (!::testing::Test::HasFailure())
        RemoveTree(root);
}

std::string LauncherCase::BuiltProgram(const char* fileName)
{
    return ProgramFolder() + fileName;
}

bool LauncherCase::Elevated() const
{
    return !unelevated && RunsElevated();
}

std::string LauncherCase::WorkFolder() const
{
    if (!Elevated())
        return tempPath;
    char windows[MAX_PATH];
    const UINT length = GetSystemWindowsDirectoryA(windows, MAX_PATH);
    return std::string(windows, length) + "\\Temp\\";
}

std::vector<std::string> LauncherCase::LeftBehind() const
{
    std::vector<std::string> left = ListTree(tempPath);
    if (WorkFolder() == tempPath)
        return left;
    for (const std::string& name : ListTree(WorkFolder())) {
        const std::string top = name.substr(0, name.find('\\'));
        const bool old = std::find_if(workFolderBefore.begin(), workFolderBefore.end(), [&](const std::string& before) {
                             return before == top || before == top + "\\";
                         }) != workFolderBefore.end();
        if (!old)
            left.push_back(name);
    }
    return left;
}

bool LauncherCase::UseLauncher(const std::string& path)
{
    return CopyFileA(path.c_str(), launcherPath.c_str(), FALSE) != FALSE;
}

bool LauncherCase::BuildLauncher(const std::map<std::string, std::vector<unsigned char>>& archives)
{
    // The launcher the kit ships, or the same program built to run unelevated, with the
    // archives put in by the code of kmarc embed.
    const std::string launcher =
        unelevated ? BuiltProgram("e2e_launcher_unelevated.exe") : BuiltProgram("..\\bare\\ZIZeduz.exe");
    DeleteFileA(launcherPath.c_str());
    try {
        EmbedArchives(launcher, { archives.begin(), archives.end() }, launcherPath);
    } catch (const ToolError& error) {
        ADD_FAILURE() << error.message;
        return false;
    }
    return true;
}

RunResult LauncherCase::Run(const std::string& arguments, bool exitAtOnce, const std::string& boxTitle)
{
    RunResult result;
    DeleteFileA(reportPath.c_str());
    workFolderBefore = ListTree(WorkFolder());
    ChildEnvironment environment;
    if (wideTempPath.empty()) {
        environment.Set("TEMP", tempPath);
        environment.Set("TMP", tempPath);
    } else {
        environment.Set(L"TEMP", wideTempPath);
        environment.Set(L"TMP", wideTempPath);
    }
    environment.Set("KM_STANDIN_REPORT", reportPath);
    environment.Set("KM_STANDIN_INSTALL_DIR", installFolder);
    environment.Set("KM_STANDIN_EXIT_AT_ONCE", exitAtOnce ? "1" : "");
    for (const auto& setting : standInSettings)
        environment.Set(setting.first.c_str(), setting.second);

    std::string commandLine = "\"" + launcherPath + "\"" + (arguments.empty() ? "" : " " + arguments);
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::unique_ptr<FileCreationWatch> watch;
    if (creationHook) {
        watch.reset(new FileCreationWatch(creationHook));
        if (!watch->Start(launcherPath.c_str(), line.data(), root.c_str(), process))
            return result;
    } else if (!CreateProcessA(launcherPath.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, root.c_str(),
                               &startup, &process)) {
        return result;
    }
    CloseHandle(process.hThread);

    // Messages are pumped while waiting: the launcher may restore a window of this thread.
    DWORD waited = 0;
    for (;;) {
        DWORD wait;
        if (watch)
            wait = watch->Pump(kPollMilliseconds) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
        else
            wait = MsgWaitForMultipleObjects(1, &process.hProcess, FALSE, kPollMilliseconds, QS_ALLINPUT);
        if (wait == WAIT_OBJECT_0) {
            // The debugged program has gone once its last event is answered.
            if (watch)
                WaitForSingleObject(process.hProcess, kRunBoundMilliseconds);
            break;
        }
        PumpMessages();
        if (!boxTitle.empty() && result.box.title.empty()) {
            BoxSearch search = { process.dwProcessId, &boxTitle, nullptr, std::string() };
            EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
            if (search.found) {
                char text[2048] = "";
                GetWindowTextA(GetDlgItem(search.found, kMessageBoxTextId), text, sizeof text);
                result.box = { search.caption, text };
                PostMessageA(search.found, WM_COMMAND, IDOK, 0);
            }
        }
        if (wait == WAIT_TIMEOUT && (waited += kPollMilliseconds) >= kRunBoundMilliseconds) {
            TerminateProcess(process.hProcess, 0xDEAD);
            break;
        }
    }
    GetExitCodeProcess(process.hProcess, &result.exitCode);
    result.exited = result.exitCode != STILL_ACTIVE && result.exitCode != 0xDEAD;
    CloseHandle(process.hProcess);

    // The setup program was started before the launcher ended: it is either still running
    // or has written its report. The cleanup it hands to cmd.exe waits for it to end.
    DWORD standInId = 0;
    HANDLE standIn = OpenChildProcess(process.dwProcessId, "Zephrun.exe", &standInId);
    if (standIn && WaitForSingleObject(standIn, kRunBoundMilliseconds) == WAIT_OBJECT_0) {
        WaitAndClose(OpenChildProcess(standInId, "cmd.exe"));
    }
    if (standIn)
        CloseHandle(standIn);

    std::ifstream report(reportPath);
    for (std::string reportLine; std::getline(report, reportLine);) {
        if (!reportLine.empty() && reportLine.back() == '\r')
            reportLine.pop_back();
        size_t equals = reportLine.find('=');
        if (equals != std::string::npos)
            result.report.emplace(reportLine.substr(0, equals), reportLine.substr(equals + 1));
    }
    // A stand-in that ended before the launcher is no longer there to be found above; the
    // cleanup it started is waited for by its id.
    const std::string cleanupId = result.Report("CleanupProcessId");
    if (!cleanupId.empty())
        WaitAndClose(OpenProcess(SYNCHRONIZE, FALSE, std::strtoul(cleanupId.c_str(), nullptr, 10)));
    return result;
}

bool LauncherCase::RunScript(const std::string& script)
{
    char systemFolder[MAX_PATH];
    GetSystemDirectoryA(systemFolder, MAX_PATH);
    // Process id 0 names no process that lingerx could wait for.
    CleanupCommand command = BuildCleanupCommand(std::string(systemFolder) + "\\cmd.exe", script, 0);
    std::vector<char> line(command.commandLine.begin(), command.commandLine.end());
    line.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        command.folder.c_str(), &startup, &process))
        return false;
    CloseHandle(process.hThread);
    return WaitAndClose(process.hProcess);
}
