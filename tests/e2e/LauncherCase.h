// One run of the launcher for an end-to-end test: a folder of its own with a copy of the
// launcher that carries the test's archives, a temporary directory for the launcher, an
// install folder and a report file for the stand-in setup program.
#ifndef TESTS_E2E_LAUNCHERCASE_H
#define TESTS_E2E_LAUNCHERCASE_H

#include "tests/e2e/FileCreationWatch.h"

#include <map>
#include <string>
#include <utility>
#include <vector>
#include <windows.h>

// Files of one archive in directory order: name, contents.
typedef std::vector<std::pair<std::string, std::string>> ArchiveFiles;

std::vector<unsigned char> PackArchive(const ArchiveFiles& files);
// Every archive of a payload packed, by archive name.
std::map<std::string, std::vector<unsigned char>> Packed(const std::map<std::string, ArchiveFiles>& payload);

// Contents of a file; empty when it cannot be read.
std::string ReadFileBytes(const std::string& path);

// Relative paths of every file and folder below folder (which ends with a backslash),
// folders with a trailing backslash.
std::vector<std::string> ListTree(const std::string& folder);

// The caption to pass to Run for a box of any caption (the shell's own, for one).
extern const char kAnyBoxCaption[];

// What a message box of the launcher said; empty text when none was shown.
struct BoxSeen {
    std::string title;
    std::string text;
};

struct RunResult {
    DWORD exitCode = 0xFFFFFFFF;
    bool exited = false;
    BoxSeen box;
    // Key=value lines of the stand-in's report; empty when it did not run.
    std::multimap<std::string, std::string> report;

    std::string Report(const std::string& key) const;
};

class LauncherCase {
public:
    // folder name below the e2e root; tempName is the launcher's temporary directory
    // inside it (it may hold blanks and cmd.exe metacharacters).
    explicit LauncherCase(const std::string& name, const std::string& tempName = "Temp");
    // Removes the case's folder, unless the test failed: then it stays for a look.
    ~LauncherCase();
    LauncherCase(const LauncherCase&) = delete;
    LauncherCase& operator=(const LauncherCase&) = delete;

    const std::string& Root() const { return root; }
    const std::string& TempPath() const { return tempPath; }
    const std::string& InstallFolder() const { return installFolder; }
    const std::string& LauncherPath() const { return launcherPath; }
    // The launcher's temporary directory: a path of a drive of its own, such as "K:\".
    void SetTempPath(const std::string& path) { tempPath = path; }

    // The launcher's temporary directory as a Unicode path, for names that the ANSI code
    // page cannot hold; TempPath() then stays what the test gave for its own checks.
    void SetWideTempPath(const std::wstring& path) { wideTempPath = path; }
    // A further KM_STANDIN_* setting for the stand-in setup program of the next runs.
    void SetStandInSetting(const std::string& name, const std::string& value) { standInSettings[name] = value; }

    // Runs the launcher under a FileCreationWatch with this hook for its CreateFileA calls
    // and its folder creations.
    void WatchCreationCalls(CreationCallHook hook) { creationHook = std::move(hook); }
    // The same for its CreateFileA calls, with only the path.
    void WatchFileCreation(const std::function<void(const std::string& path)>& hook)
    {
        creationHook = [hook](const CreationCall& call) {
            if (!call.folder)
                hook(call.path);
        };
    }

    // Runs the launcher copy that takes itself for not elevated (Wine elevates every
    // process); call before BuildLauncher.
    void SetUnelevated() { unelevated = true; }
    bool Elevated() const;
    // Where the launcher makes its setup folder and writes its cleanup script: "Temp" in
    // the system's Windows folder in an elevated run, the temporary directory otherwise.
    std::string WorkFolder() const;

    // What of the runs is still there: everything in the temporary directory, and in an
    // elevated run also what is new in the work folder since the last Run began (other
    // programs use that folder too), as ListTree names it.
    std::vector<std::string> LeftBehind() const;

    // The stand-ins built beside the tests.
    static std::string BuiltProgram(const char* fileName);

    // Copies a finished launcher, such as a setup made by kmarc embed, to LauncherPath().
    bool UseLauncher(const std::string& path);

    // Writes the launcher copy with these archives (resource name, archive bytes).
    bool BuildLauncher(const std::map<std::string, std::vector<unsigned char>>& archives);

    // Runs the launcher with arguments appended to its quoted path and waits until it has
    // ended and, when it started one, the stand-in setup program and the cleanup it
    // handed to cmd.exe (also when the stand-in ended before the launcher). exitAtOnce makes the stand-in only report, without installing or
    // running the script. boxTitle: a message box of that caption (or of any caption, with
    // kAnyBoxCaption) is read and answered.
    RunResult Run(const std::string& arguments, bool exitAtOnce, const std::string& boxTitle = std::string());

    // Runs the cleanup script the way the setup program does and waits for it.
    bool RunScript(const std::string& script);

private:
    std::string root;
    std::string tempPath;
    std::string installFolder;
    std::string reportPath;
    std::string launcherPath;
    std::wstring wideTempPath;
    CreationCallHook creationHook;
    std::map<std::string, std::string> standInSettings;
    bool unelevated = false;
    // The work folder's entries when the last Run began.
    std::vector<std::string> workFolderBefore;
};

#endif
