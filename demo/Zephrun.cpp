// Stand-in for the product's setup program: accepts the launcher's command line, shows
// the setup window, installs the two archives that stay inside the launcher, and hands
// the cleanup script to cmd.exe as its last act.
#include "archive/SetupLayout.h"
#include "demo/ArchiveInstall.h"
#include "demo/CleanupLaunch.h"
#include "demo/SetupCommandLine.h"
#include "demo/SetupWindow.h"
#include "demo/StandInReport.h"
#include "demo/StandInSettings.h"

#include <cstdint>
#include <string>
#include <windows.h>

namespace {

const int kExitDone = 0;
const int kExitBadCommandLine = 1;
const int kExitInstallFailed = 2;
const int kExitCleanupNotStarted = 3;

const uint64_t kFileTimeAt1970 = 116444736000000000ull;
const uint64_t kFileTimeStepsPerMillisecond = 10000ull;

// Milliseconds since 1970 in UTC, which a script on the host can compare with its own
// clock.
uint64_t UnixMillisecondsNow()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    uint64_t steps = (uint64_t(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return (steps - kFileTimeAt1970) / kFileTimeStepsPerMillisecond;
}

std::string CurrentFolder()
{
    char folder[MAX_PATH];
    DWORD length = GetCurrentDirectoryA(MAX_PATH, folder);
    return length > 0 && length < MAX_PATH ? std::string(folder, length) : std::string();
}

class DataModule {
public:
    explicit DataModule(const std::string& path)
        : m_module(LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE))
    {
    }
    ~DataModule()
    {
        if (m_module)
            FreeLibrary(m_module);
    }
    DataModule(const DataModule&) = delete;
    DataModule& operator=(const DataModule&) = delete;

    HMODULE Get() const { return m_module; }

private:
    HMODULE m_module;
};

int Install(const std::string& resourceFile, const std::string& folder, SetupWindow& window, StandInReport& report)
{
    report.Add("InstallFolder", folder);
    DataModule module(resourceFile);
    if (!module.Get()) {
        report.Add("Error", "cannot open the resource file, error " + std::to_string(GetLastError()));
        return kExitInstallFailed;
    }
    if (!MakeFolders(folder)) {
        report.Add("Error", "cannot create the install folder");
        return kExitInstallFailed;
    }
    size_t installed = 0;
    // The archives the launcher leaves inside itself.
    for (int i = kUnpackedArchiveCount; i < kSetupArchiveCount; ++i) {
        const char* archive = kSetupArchiveNames[i];
        window.SetStatus(std::string("Installing Kalmora Photo (") + archive + ") ...");
        ArchiveInstallResult result = InstallArchive(module.Get(), archive, folder);
        for (const std::string& file : result.files)
            report.Add("Installed", file);
        installed += result.files.size();
        std::string line = std::string(archive) + " " + DescribeInstallOutcome(result.outcome) + ", " +
                           std::to_string(result.files.size()) + " files";
        if (!result.detail.empty())
            line += ": " + result.detail;
        report.Add("Archive", line);
        // A setup without its uninstaller data is still a setup; damage is not.
        if (result.outcome != InstallOutcome::Installed && result.outcome != InstallOutcome::Missing) {
            window.SetStatus("Kalmora Photo could not be installed.");
            return kExitInstallFailed;
        }
    }
    window.SetStatus("Kalmora Photo is installed: " + std::to_string(installed) + " files in " + folder);
    return kExitDone;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    uint64_t startMilliseconds = UnixMillisecondsNow();
    StandInSettings settings = ReadStandInSettings();
    StandInReport report;

    // The process's own command line, so that the report shows the exact text.
    const char* commandLine = GetCommandLineA();
    const char* arguments = SkipProgramName(commandLine);
    report.Add("CommandLine", commandLine);
    report.Add("Arguments", arguments);
    report.Add("ProcessId", std::to_string(GetCurrentProcessId()));
    report.Add("StartUnixMs", std::to_string(startMilliseconds));
    report.Add("CurrentDirectory", CurrentFolder());
    char program[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, program, MAX_PATH);
    report.Add("Program", program);
    SetupCommandLine parsed;
    bool usable = ParseSetupCommandLine(arguments, parsed);
    if (usable) {
        report.Add("ResourceFile", parsed.resourceFile);
        report.Add("CleanUp", parsed.cleanUp);
        report.Add("PassedArguments", parsed.passedArguments);
    }

    int exitCode = kExitDone;
    if (settings.exitAtOnce) {
        report.Add("ExitAtOnce", "1");
    } else {
        SetupWindow window(instance, !settings.noWindow);
        report.Add("Window", window.IsShown() ? "shown" : "none");
        if (!usable) {
            report.Add("Error", "the command line lacks ResourceFile or CleanUp");
            exitCode = kExitBadCommandLine;
        } else if (settings.cleanupAtOnce) {
            report.Add("CleanupAtOnce", "1");
        } else {
            exitCode = Install(parsed.resourceFile, settings.installFolder, window, report);
        }
        if (!settings.cleanupAtOnce)
            window.Hold(settings.holdMilliseconds);
    }

    // The script waits for this process to end before it deletes anything, so it is
    // started last, also after a failed install: the launcher's files must go.
    if (usable && !settings.exitAtOnce) {
        DWORD cleanupProcessId = 0;
        DWORD error = StartCleanup(parsed.cleanUp, GetCurrentProcessId(), cleanupProcessId);
        report.Add("CleanupStarted", error ? "no, error " + std::to_string(error) : std::string("yes"));
        if (!error)
            report.Add("CleanupProcessId", std::to_string(cleanupProcessId));
        if (error && exitCode == kExitDone)
            exitCode = kExitCleanupNotStarted;
    }
    report.Add("ExitCode", std::to_string(exitCode));
    if (!settings.reportPath.empty())
        report.WriteTo(settings.reportPath);
    return exitCode;
}
