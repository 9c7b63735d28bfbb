// The launcher on a hostile machine: DLLs planted beside it, its first names taken by
// links that point nowhere, a temporary folder whose name the ANSI code page cannot hold,
// and faults in the middle of a run. Every case ends in an orderly way.
#include "tests/e2e/LauncherCase.h"

#include "archive/ArchiveReader.h"
#include "launcher/LauncherTestSupport.h"
#include "launcher/Messages.h"
#include "launcher/SetupFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <windows.h>

namespace {

const DWORD kProgramBoundMilliseconds = 60000;

// DLLs that a program may load and that the system does not always take from its own
// folder, each planted as a copy of the probe.
const char* const kPlantedDlls[] = { "winmm.dll", "version.dll", "uxtheme.dll", "msacm32.dll", "dwmapi.dll" };
// Native first: a DLL found in the program's folder wins over Wine's own. Wine takes the
// setting from the environment a process starts with, so run-hardening.sh sets it.
const char kNativeFirst[] = "winmm,version,uxtheme,msacm32,dwmapi=n,b";
const char kProbeDll[] = "probes\\plant_probe.dll";
const char kControlProgram[] = "probes\\plant_control.exe";
const char kMarkerSuffix[] = ".loaded";

std::map<std::string, ArchiveFiles> Payload()
{
    return {
        { "BASE", { { "Readme.txt", "first readme" }, { "Data\\intro.dat", "intro" } } },
        { "SETUPBASE",
          { { "Zephrun.exe", ReadFileBytes(LauncherCase::BuiltProgram("Zephrun.exe")) },
            { "lingerx.exe", ReadFileBytes(LauncherCase::BuiltProgram("lingerx.exe")) },
            { "Docs\\Guide.txt", "guide" } } },
        { "KMVERSION", { { "Readme.txt", "second readme" } } },
        { "APPBASE", { { "Kalmora.exe", "app" } } },
        { "PHOTOUNINST", { { "Uninstall\\Uninst.ini", "[Uninstall]" } } },
    };
}

std::string FailureMessage(FailureText which, const std::string& subject)
{
    char text[2048];
    std::snprintf(text, sizeof text, GetFailureText(which), subject.c_str());
    return text;
}

std::string FolderOf(const std::string& path)
{
    return path.substr(0, path.rfind('\\') + 1);
}

bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::vector<std::string> Markers(const std::string& folder)
{
    std::vector<std::string> markers;
    for (const std::string& name : ListTree(folder)) {
        if (EndsWith(name, kMarkerSuffix))
            markers.push_back(name + ": " + ReadFileBytes(folder + name));
    }
    return markers;
}

std::wstring Widen(const std::string& text)
{
    std::wstring wide(text.size() + 1, L'\0');
    const int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], static_cast<int>(wide.size()));
    wide.resize(length > 0 ? length - 1 : 0);
    return wide;
}

std::string Narrow(const std::wstring& text)
{
    std::string narrow(text.size() * 2 + 1, '\0');
    const int length = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &narrow[0], static_cast<int>(narrow.size()),
                                           nullptr, nullptr);
    narrow.resize(length > 0 ? length - 1 : 0);
    return narrow;
}

// True when nothing can be created under path because something of that name exists,
// even something that the existence probe does not see. Creates nothing either way.
bool NameIsTaken(const std::string& path, bool asFolder)
{
    if (asFolder) {
        if (CreateDirectoryA(path.c_str(), nullptr)) {
            RemoveDirectoryA(path.c_str());
            return false;
        }
        return true;
    }
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return true;
    CloseHandle(file);
    DeleteFileA(path.c_str());
    return false;
}

// Runs commandLine in folder and returns its exit code, or STILL_ACTIVE if it did not end.
DWORD RunProgram(const std::string& commandLine, const std::string& folder)
{
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup, &process))
        return STILL_ACTIVE;
    CloseHandle(process.hThread);
    DWORD exitCode = STILL_ACTIVE;
    if (WaitForSingleObject(process.hProcess, kProgramBoundMilliseconds) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &exitCode);
    else
        TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hProcess);
    return exitCode;
}

bool PlantProbes(const std::string& folder)
{
    for (const char* dll : kPlantedDlls) {
        if (!CopyFileA(LauncherCase::BuiltProgram(kProbeDll).c_str(), (folder + dll).c_str(), FALSE))
            return false;
    }
    return true;
}

TEST(PlantedDlls, ProgramWithoutDefenceTakesThemTheLauncherNone)
{
    const char* overrides = std::getenv("WINEDLLOVERRIDES");
    if (!overrides || !std::strstr(overrides, kNativeFirst))
        GTEST_SKIP() << "WINEDLLOVERRIDES lacks " << kNativeFirst << " (run through run-hardening.sh)";
    LauncherCase run("planted");

    // Without the launcher's defence every planted DLL is taken.
    const std::string controlFolder = run.Root() + "Control\\";
    ASSERT_TRUE(CreateDirectoryA(controlFolder.c_str(), nullptr));
    ASSERT_TRUE(PlantProbes(controlFolder));
    const std::string control = controlFolder + "plant_control.exe";
    ASSERT_TRUE(CopyFileA(LauncherCase::BuiltProgram(kControlProgram).c_str(), control.c_str(), FALSE));
    std::string byName;
    for (const char* dll : kPlantedDlls) {
        if (std::strcmp(dll, "winmm.dll") != 0)
            byName += std::string(" ") + dll;
    }
    ASSERT_NE(RunProgram("\"" + control + "\"" + byName, controlFolder), STILL_ACTIVE);
    const std::vector<std::string> takenByControl = Markers(controlFolder);
    EXPECT_EQ(takenByControl.size(), std::size(kPlantedDlls))
        << "the planting does not work here, so the launcher's result would say nothing";

    const std::string launcherFolder = FolderOf(run.LauncherPath());
    ASSERT_TRUE(run.BuildLauncher(Packed(Payload())));
    ASSERT_TRUE(PlantProbes(launcherFolder));
    RunResult result = run.Run("", false);

    ASSERT_TRUE(result.exited);
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(result.Report("ExitCode"), "0") << "the setup program did not run to its end";
    const std::vector<std::string> takenByLauncher = Markers(launcherFolder);
    std::cout << "planted DLLs taken by a program without defence: " << takenByControl.size() << " of "
              << std::size(kPlantedDlls) << "; by the launcher: " << takenByLauncher.size() << std::endl;
    EXPECT_EQ(takenByLauncher, std::vector<std::string>());
    EXPECT_EQ(run.LeftBehind(), std::vector<std::string>());
}

TEST(PlantedLinks, NamesTakenByLinksThatPointNowhereAreNeitherUsedNorDeleted)
{
    // Planted in the system's temporary folder, where an elevated run makes both, for
    // this test alone (run-hardening.sh runs it on its own).
    const char* links = std::getenv("KM_HARDENING_LINKS");
    const char* victims = std::getenv("KM_HARDENING_VICTIMS");
    if (!links || !victims)
        GTEST_SKIP() << "no links were prepared (run through run-hardening.sh)";
    // The launcher makes its setup folder itself only when elevated; Wine starts it with
    // the token of this process, which may or may not be.
    if (!RunsElevated())
        GTEST_SKIP() << "this Wine starts programs without elevation, so the launcher leaves its folder to the "
                        "extraction, which would stop at the link";
    const std::string folder = links;
    const std::string script = folder + "0.bat";
    const std::string setup = folder + "KMGSetup0";
    // The launcher's probe does not see them, so they are its first candidates.
    ASSERT_EQ(GetFileAttributesA(script.c_str()), INVALID_FILE_ATTRIBUTES);
    ASSERT_EQ(GetFileAttributesA(setup.c_str()), INVALID_FILE_ATTRIBUTES);
    ASSERT_TRUE(NameIsTaken(script, false));
    ASSERT_TRUE(NameIsTaken(setup, true));

    LauncherCase run("links");
    ASSERT_EQ(run.WorkFolder(), folder);
    ASSERT_TRUE(run.BuildLauncher(Packed(Payload())));
    RunResult result = run.Run("", false);

    ASSERT_TRUE(result.exited);
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(result.Report("ExitCode"), "0");
    EXPECT_NE(result.Report("CleanUp"), script);
    EXPECT_EQ(FolderOf(result.Report("CleanUp")), run.WorkFolder());
    EXPECT_NE(result.Report("CurrentDirectory"), setup);
    EXPECT_EQ(FolderOf(result.Report("CurrentDirectory")), run.WorkFolder());
    // Nothing was written through the links, and they are still there.
    EXPECT_EQ(ListTree(victims), std::vector<std::string>());
    EXPECT_TRUE(NameIsTaken(script, false));
    EXPECT_TRUE(NameIsTaken(setup, true));
    EXPECT_EQ(run.LeftBehind(), std::vector<std::string>());
}

// Hands text to run-hardening.sh's helper through the file that the variable request
// names and waits until the file that done names appears. Bounded: a helper that never
// answers fails the test instead of hanging it.
bool AskHostHelper(const char* request, const char* done, const std::string& text)
{
    const char* requestPath = std::getenv(request);
    const char* donePath = std::getenv(done);
    if (!requestPath || !donePath || !WriteTextFile(std::string(requestPath) + ".part", text) ||
        !MoveFileA((std::string(requestPath) + ".part").c_str(), requestPath))
        return false;
    // Bounded: a host that never answers fails the test instead of hanging it.
    const DWORD kPollMilliseconds = 20, kBoundMilliseconds = 20000;
    for (DWORD waited = 0; waited < kBoundMilliseconds; waited += kPollMilliseconds) {
        if (GetFileAttributesA(donePath) != INVALID_FILE_ATTRIBUTES)
            return true;
        Sleep(kPollMilliseconds);
    }
    return false;
}

// Asks the helper to put a link to another folder under the name (in the system's
// temporary folder), moving away what is there: Wine can make no link itself.
bool SwapInHostLink(const std::string& name)
{
    return AskHostHelper("KM_HARDENING_SWAP_REQUEST", "KM_HARDENING_SWAP_DONE", name);
}

// Asks the helper to remove that link again (only the link).
bool RemoveHostLink()
{
    return AskHostHelper("KM_HARDENING_UNLINK_REQUEST", "KM_HARDENING_UNLINK_DONE", "unlink");
}

// The last moment another process has: after the launcher found a name free and just
// before it creates the folder, something takes the name: a folder of the user's that
// already holds a file, or (made on the host, since Wine can make neither links nor
// junctions) a link to a folder elsewhere. The creation makes only a new folder and
// never follows a link, so the launcher takes the next name; what stands under the
// first name, and what the link leads to, is neither written nor deleted. Once made,
// the folder is held from the same call on, so there is no moment between its
// creation and its hold in which it could be replaced (the fault matrix's renames).
TEST(TakenSetupFolderName, IsNeitherUsedNorTouchedAndTheRunGoesOn)
{
    enum class Taker { OtherFolder, HostLink };
    for (Taker taker : { Taker::OtherFolder, Taker::HostLink }) {
        const char* what = taker == Taker::OtherFolder ? "another folder" : "a link";
        LauncherCase run(taker == Taker::OtherFolder ? "taken-by-folder" : "taken-by-link");
        if (!run.Elevated())
            GTEST_SKIP() << "only an elevated launcher makes its setup folder itself";
        if (taker == Taker::HostLink && !std::getenv("KM_HARDENING_SWAP_REQUEST")) {
            std::cout << "not run with a link: no host helper (run through run-hardening.sh)" << std::endl;
            continue;
        }
        ASSERT_TRUE(run.BuildLauncher(Packed(Payload())));
        const char* linkTarget = std::getenv("KM_HARDENING_LINK_TARGET");
        const std::string theirs = run.Root() + "Theirs";
        if (taker == Taker::OtherFolder) {
            ASSERT_TRUE(CreateDirectoryA(theirs.c_str(), nullptr));
            ASSERT_TRUE(WriteTextFile(theirs + "\\keep.txt", "theirs"));
        }
        std::string taken;
        bool planted = false;
        run.WatchCreationCalls([&](const CreationCall& call) {
            if (!call.folder || !taken.empty() || FolderOf(call.path) != run.WorkFolder())
                return;
            taken = call.path;
            if (taker == Taker::OtherFolder)
                planted = MoveFileA(theirs.c_str(), taken.c_str()) != FALSE;
            else
                planted = SwapInHostLink(taken.substr(taken.rfind('\\') + 1));
        });
        RunResult result = run.Run("", false, GetMessageText(kMsgSetupTitle));

        ASSERT_TRUE(planted) << what;
        const std::string setup = result.Report("CurrentDirectory");
        std::cout << what << " put under " << taken << " just before its creation: exit " << result.exitCode
                  << ", setup folder " << setup << std::endl;
        ASSERT_TRUE(result.exited) << what;
        EXPECT_EQ(result.exitCode, 0u) << what;
        EXPECT_EQ(result.box.text, "") << what;
        EXPECT_EQ(result.Report("ExitCode"), "0") << what;
        EXPECT_EQ(FolderOf(setup), run.WorkFolder()) << what;
        EXPECT_NE(setup, taken) << what;
        // Nothing written into what took the name, nothing of it deleted.
        EXPECT_EQ(ListTree(taken + "\\"), std::vector<std::string>{ "keep.txt" }) << what;
        EXPECT_EQ(ReadFileBytes(taken + "\\keep.txt"), "theirs") << what;
        if (linkTarget) {
            EXPECT_EQ(ListTree(std::string(linkTarget) + "\\"), std::vector<std::string>{ "keep.txt" }) << what;
        }
        // The run's own folder and script went with the cleanup; only what took the
        // name is new.
        std::vector<std::string> left = run.LeftBehind();
        left.erase(std::remove_if(left.begin(), left.end(),
                                  [&](const std::string& name) {
                                      return run.WorkFolder() + name == taken + "\\" ||
                                             run.WorkFolder() + name == taken + "\\keep.txt";
                                  }),
                   left.end());
        EXPECT_EQ(left, std::vector<std::string>()) << what;
        if (taker == Taker::OtherFolder)
            RemoveTree(taken);
        else
            EXPECT_TRUE(RemoveHostLink());
        EXPECT_FALSE(FolderExists(taken)) << "later runs would not get this name";
    }
}

TEST(NonAnsiTemp, FolderOutsideTheCodePageIsReachedByItsShortForm)
{
    const struct {
        const char* caseName;
        const wchar_t* folder;
        bool shortForm;
    } cases[] = {
        { "temp-greek", L"Temp \u0391\u03bb\u03ad\u03be\u03b7\u03c2", true },
        { "temp-western", L"Temp J\u00fcrgen", false },
    };
    for (const auto& c : cases) {
      for (bool unelevated : { false, true }) {
        LauncherCase run(std::string(c.caseName) + (unelevated ? "-unelevated" : ""));
        if (unelevated)
            run.SetUnelevated();
        const std::wstring wideTemp = Widen(run.Root()) + c.folder + L"\\";
        // A failed earlier run keeps its folder for a look.
        ASSERT_TRUE(CreateDirectoryW(wideTemp.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
        std::string ansiTemp = Narrow(wideTemp);
        if (c.shortForm) {
            wchar_t shortPath[MAX_PATH];
            ASSERT_GT(GetShortPathNameW(wideTemp.c_str(), shortPath, MAX_PATH), 0u);
            ansiTemp = Narrow(shortPath);
        }
        ASSERT_EQ(ansiTemp.find('?'), std::string::npos) << ansiTemp;
        ASSERT_EQ(ListTree(ansiTemp), std::vector<std::string>()) << ansiTemp;
        run.SetWideTempPath(wideTemp);
        run.SetTempPath(ansiTemp);
        ASSERT_TRUE(run.BuildLauncher(Packed(Payload())));
        RunResult result = run.Run("", false);

        ASSERT_TRUE(result.exited) << c.caseName;
        EXPECT_EQ(result.exitCode, 0u) << c.caseName;
        EXPECT_EQ(result.Report("ExitCode"), "0") << c.caseName;
        const std::string script = result.Report("CleanUp");
        const std::string workFolder = unelevated ? ansiTemp : run.WorkFolder();
        EXPECT_EQ(script, workFolder + "0.bat") << c.caseName;
        EXPECT_EQ(result.Report("CurrentDirectory"), workFolder + "KMGSetup0") << c.caseName;
        EXPECT_EQ(ListTree(ansiTemp), std::vector<std::string>()) << c.caseName;
        EXPECT_EQ(run.LeftBehind(), std::vector<std::string>()) << c.caseName;
        EXPECT_EQ(GetFileAttributesA(script.c_str()), INVALID_FILE_ATTRIBUTES) << script;
        // Best effort: the case's folder is cleared with ANSI names, which miss this one.
        RemoveDirectoryW(wideTemp.c_str());
      }
    }
}

// ---- The fault matrix ----

struct MatrixRow {
    MatrixRow(std::string fault, std::string made) : fault(std::move(fault)), made(std::move(made)) {}

    std::string fault;
    std::string made;       // how this test makes the fault
    bool run = true;        // false: the fault cannot be made here; made says why
    DWORD exitCode = 0;
    std::string message;    // first line of the box the run ended with
    std::string left;       // what of the run is left behind
    bool asExpected = false;
    std::string expected;   // what the row should have shown
};

std::string FirstLine(const std::string& text)
{
    const std::string line = text.substr(0, text.find('\n'));
    return line.empty() ? "-" : line;
}

std::string Listing(const std::vector<std::string>& names)
{
    if (names.empty())
        return "nothing";
    std::string listing;
    for (const std::string& name : names)
        listing += (listing.empty() ? "" : ", ") + name;
    return listing;
}

// Fills the observed columns of row from result and the temporary folder.
void Observe(MatrixRow& row, const RunResult& result, const std::vector<std::string>& left)
{
    row.exitCode = result.exited ? result.exitCode : STILL_ACTIVE;
    row.message = result.box.text.empty() ? "-" : FirstLine(result.box.text);
    row.left = Listing(left);
}

typedef std::map<std::string, std::vector<unsigned char>> Archives;

// Writes run's launcher with archives; false, with the row saying so, when it cannot.
bool Build(MatrixRow& row, LauncherCase& run, const Archives& archives)
{
    if (run.BuildLauncher(archives))
        return true;
    row.left = "the launcher could not be built";
    return false;
}

// The batch files directly in folder, which may be the system's temporary folder that
// other programs use as well.
std::vector<std::string> Scripts(const std::string& folder)
{
    std::vector<std::string> scripts;
    for (const std::string& name : ListTree(folder)) {
        if (name.find('\\') == std::string::npos && EndsWith(name, ".bat"))
            scripts.push_back(name);
    }
    return scripts;
}

// A run that must end with exit code 2, the box text message, and nothing left.
MatrixRow FailedRun(MatrixRow row, LauncherCase& run, const Archives& archives, const std::string& message)
{
    if (!Build(row, run, archives))
        return row;
    const std::vector<std::string> scriptsBefore = Scripts(run.WorkFolder());
    RunResult result = run.Run("", false, GetMessageText(kMsgSetupTitle));
    const std::vector<std::string> left = run.LeftBehind();
    Observe(row, result, left);
    const bool scriptGone = Scripts(run.WorkFolder()) == scriptsBefore;
    if (!scriptGone)
        row.left += ", and a script in " + run.WorkFolder();
    row.expected = "exit 2, \"" + FirstLine(message) + "\", nothing left";
    row.asExpected = result.exited && result.exitCode == 2 && result.box.text == message && left.empty() &&
                     scriptGone && result.report.empty();
    return row;
}

MatrixRow DiskFullInTheMiddleOfAFile()
{
    MatrixRow row("disk full in the middle of a file", "TEMP on a 12 MiB tmpfs drive, a 16 MiB entry");
    const char* drive = std::getenv("KM_HARDENING_SMALL_DRIVE");
    if (!drive) {
        const char* reason = std::getenv("KM_HARDENING_NO_SMALL_DRIVE");
        row.run = false;
        row.made = std::string("not run: ") + (reason ? reason : "no small drive (run through run-hardening.sh)");
        return row;
    }
    LauncherCase run("disk-full");
    // A run without elevation unpacks onto the user's temporary drive.
    run.SetUnelevated();
    run.SetTempPath(std::string(drive) + "\\");
    if (!ListTree(run.TempPath()).empty()) {
        row.left = "the drive was not empty before the run";
        return row;
    }
    auto payload = Payload();
    payload["BASE"].push_back({ "Data\\Big.dat", std::string(16 << 20, '\0') });
    return FailedRun(row, run, Packed(payload),
                     FailureMessage(FailureText::WriteFailed, run.TempPath() + "KMGSetup0\\Data\\Big.dat"));
}

MatrixRow OutputFileHeldOpen()
{
    MatrixRow row("output file held open without sharing",
                   "another process opens Readme.txt, share mode 0, before its second copy is written");
    LauncherCase run("held-open");
    if (!Build(row, run, Packed(Payload())))
        return row;
    const std::string held = run.WorkFolder() + "KMGSetup0\\Readme.txt";
    HANDLE holder = INVALID_HANDLE_VALUE;
    int opened = 0;
    run.WatchFileCreation([&](const std::string& path) {
        if (path == held && ++opened == 2)
            holder = CreateFileA(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    });
    RunResult result = run.Run("", false, GetMessageText(kMsgSetupTitle));
    const std::vector<std::string> leftWhileHeld = run.LeftBehind();
    const bool holding = holder != INVALID_HANDLE_VALUE;
    if (holding)
        CloseHandle(holder);
    Observe(row, result, leftWhileHeld);
    row.left += " (while held)";
    const std::string message = FailureMessage(FailureText::WriteFailed, held);
    // What another process holds open cannot be deleted, nor the folder around it; the
    // rest of the run goes.
    const std::vector<std::string> heldOnly = { "KMGSetup0\\", "KMGSetup0\\Readme.txt" };
    row.expected = "exit 2, \"" + FirstLine(message) + "\", only the held file and its folder left";
    row.asExpected = holding && result.exited && result.exitCode == 2 && result.box.text == message &&
                     leftWhileHeld == heldOnly && result.report.empty();
    // What the held file kept back, which the next runs' names must not meet.
    if (holding)
        RemoveTree(run.WorkFolder() + "KMGSetup0");
    return row;
}

MatrixRow ReadOnlyFileInTheWay()
{
    MatrixRow row("read-only file in the way",
                   "another process puts a read-only 0.bat in the script's folder after the name was probed");
    LauncherCase run("read-only");
    if (!Build(row, run, Packed(Payload())))
        return row;
    const std::string firstScript = run.WorkFolder() + "0.bat";
    if (GetFileAttributesA(firstScript.c_str()) != INVALID_FILE_ATTRIBUTES) {
        row.left = firstScript + " existed before the run";
        return row;
    }
    const std::string theirs = "not the launcher's";
    bool planted = false;
    run.WatchFileCreation([&](const std::string& path) {
        if (path == firstScript && !planted) {
            HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_READONLY, nullptr);
            DWORD written = 0;
            planted = file != INVALID_HANDLE_VALUE &&
                      WriteFile(file, theirs.data(), static_cast<DWORD>(theirs.size()), &written, nullptr);
            if (file != INVALID_HANDLE_VALUE)
                CloseHandle(file);
        }
    });
    RunResult result = run.Run("", false, GetMessageText(kMsgSetupTitle));
    const std::vector<std::string> left = run.LeftBehind();
    Observe(row, result, left);
    row.expected = "exit 0 under another script name; the read-only file untouched, nothing else left";
    row.asExpected = planted && result.exited && result.exitCode == 0 && result.box.text.empty() &&
                     result.Report("ExitCode") == "0" && result.Report("CleanUp") != firstScript &&
                     ReadFileBytes(firstScript) == theirs &&
                     (GetFileAttributesA(firstScript.c_str()) & FILE_ATTRIBUTE_READONLY) &&
                     GetFileAttributesA(result.Report("CleanUp").c_str()) == INVALID_FILE_ATTRIBUTES &&
                     left == std::vector<std::string>{ "0.bat" };
    SetFileAttributesA(firstScript.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(firstScript.c_str());
    return row;
}

MatrixRow SetupFolderMovedAway()
{
    MatrixRow row("setup folder moved away while unpacking",
                  "another process renames KMGSetup0 as the launcher creates a file in it");
    LauncherCase run("moved-away");
    if (!run.Elevated()) {
        row.run = false;
        row.made = "not run: only an elevated launcher holds its setup folder";
        return row;
    }
    if (!Build(row, run, Packed(Payload())))
        return row;
    const std::string setup = run.WorkFolder() + "KMGSetup0";
    const std::string moved = run.WorkFolder() + "Moved";
    int attempts = 0, renamed = 0;
    run.WatchFileCreation([&](const std::string& path) {
        if (path.compare(0, setup.size() + 1, setup + "\\") != 0)
            return;
        ++attempts;
        if (MoveFileA(setup.c_str(), moved.c_str())) {
            ++renamed;
            MoveFileA(moved.c_str(), setup.c_str());
        }
    });
    RunResult result = run.Run("", false, GetMessageText(kMsgSetupTitle));
    const std::vector<std::string> left = run.LeftBehind();
    Observe(row, result, left);
    row.left += " (" + std::to_string(renamed) + " of " + std::to_string(attempts) + " renames went through)";
    row.expected = "every rename refused, exit 0, nothing left after the setup program";
    row.asExpected = attempts > 0 && renamed == 0 && result.exited && result.exitCode == 0 &&
                     result.Report("CleanupStarted") == "yes" && left.empty();
    return row;
}

MatrixRow EveryNameTaken()
{
    MatrixRow row("every candidate name taken", "TEMP holds folders KMGSetup0 to KMGSetup32767");
    const char* folder = std::getenv("KM_HARDENING_ALL_TAKEN");
    if (!folder) {
        row.run = false;
        row.made = "not run: no such folder was prepared (run through run-hardening.sh)";
        return row;
    }
    LauncherCase run("all-taken");
    // Only a run without elevation works in the user's temporary folder; an elevated
    // run's names are taken the same way, in the system's.
    run.SetUnelevated();
    run.SetTempPath(folder);
    const size_t before = ListTree(folder).size();
    if (!Build(row, run, Packed(Payload())))
        return row;
    RunResult result = run.Run("", false, GetMessageText(kMsgSetupTitle));
    const std::vector<std::string> after = ListTree(folder);
    Observe(row, result, {});
    row.left = after.size() == before ? "nothing" : std::to_string(after.size() - before) + " new entries";
    const std::string message = FailureMessage(FailureText::NoFreeName, folder);
    row.expected = "exit 2, \"" + FirstLine(message) + "\", nothing left";
    row.asExpected = before == 32768 && result.exited && result.exitCode == 2 && result.box.text == message &&
                     after.size() == before && result.report.empty();
    return row;
}

MatrixRow ResourceTruncatedInsideItsDirectory()
{
    MatrixRow row("resource truncated inside its directory", "SETUPBASE cut 3 bytes into its first directory entry");
    LauncherCase run("truncated");
    auto archives = Packed(Payload());
    std::vector<unsigned char>& setupBase = archives["SETUPBASE"];
    const uint32_t directory = setupBase[0] | setupBase[1] << 8 | setupBase[2] << 16 | setupBase[3] << 24;
    setupBase.resize(directory + 4 + 3);
    return FailedRun(row, run, archives, FailureMessage(FailureText::UnpackFailed, "SETUPBASE"));
}

MatrixRow EntryNameEscapingTheFolder()
{
    MatrixRow row("entry name that escapes the folder", "KMVERSION holds ..\\escaped.txt");
    LauncherCase run("escaping");
    auto payload = Payload();
    payload["KMVERSION"] = { { "aa\\escaped.txt", "outside" } };
    auto archives = Packed(payload);
    std::vector<unsigned char>& version = archives["KMVERSION"];
    const std::string safe = "aa\\escaped", escaping = "..\\escaped";
    auto at = std::search(version.begin(), version.end(), safe.begin(), safe.end());
    if (at == version.end()) {
        row.left = "the name could not be patched";
        return row;
    }
    std::copy(escaping.begin(), escaping.end(), at);
    row = FailedRun(row, run, archives, FailureMessage(FailureText::UnpackFailed, "KMVERSION"));
    const bool escaped = GetFileAttributesA((run.Root() + "escaped.txt").c_str()) != INVALID_FILE_ATTRIBUTES ||
                         GetFileAttributesA((run.WorkFolder() + "escaped.txt").c_str()) != INVALID_FILE_ATTRIBUTES;
    row.asExpected = row.asExpected && !escaped;
    return row;
}

MatrixRow Adler32Mismatch()
{
    MatrixRow row("Adler-32 mismatch", "the last checksum byte of Data\\intro.dat flipped");
    LauncherCase run("adler32");
    auto archives = Packed(Payload());
    std::vector<unsigned char>& base = archives["BASE"];
    ArchiveReader reader(base.data(), static_cast<uint32_t>(base.size()), 0);
    ArchiveEntry entry;
    bool flipped = false;
    while (reader.Next(entry)) {
        if (std::strcmp(entry.name, "Data\\intro.dat") == 0) {
            base[entry.data - base.data() + entry.compressedSize - 1] ^= 0x55;
            flipped = true;
        }
    }
    if (!flipped) {
        row.left = "the entry was not found";
        return row;
    }
    return FailedRun(row, run, archives, FailureMessage(FailureText::UnpackFailed, "Data\\intro.dat"));
}

MatrixRow SetupProgramMissing()
{
    MatrixRow row("setup program missing", "SETUPBASE without Zephrun.exe");
    LauncherCase run("no-setup");
    auto payload = Payload();
    ArchiveFiles& setupBase = payload["SETUPBASE"];
    setupBase.erase(std::remove_if(setupBase.begin(), setupBase.end(),
                                   [](const std::pair<std::string, std::string>& file) { return file.first == "Zephrun.exe"; }),
                    setupBase.end());
    if (!Build(row, run, Packed(payload)))
        return row;
    // The shell reports the program it could not start in a box of its own.
    RunResult result = run.Run("", false, kAnyBoxCaption);
    const std::vector<std::string> left = run.LeftBehind();
    Observe(row, result, left);
    row.message = result.box.title + ": " + row.message;
    row.expected = "exit 2 after the shell's message, nothing left";
    row.asExpected = result.exited && result.exitCode == 2 && !result.box.text.empty() && left.empty();
    return row;
}

MatrixRow SetupProgramExitsAtOnce()
{
    MatrixRow row("setup program exits at once", "the stand-in reports and exits without running the script");
    LauncherCase run("exits-at-once");
    if (!Build(row, run, Packed(Payload())))
        return row;
    RunResult result = run.Run("", true, GetMessageText(kMsgSetupTitle));
    const std::string script = result.Report("CleanUp");
    const bool handedOver = !run.LeftBehind().empty() && !script.empty();
    // The run's files are the setup program's to remove, with the script it was given.
    const bool scriptRan = handedOver && run.RunScript(script);
    const std::vector<std::string> left = run.LeftBehind();
    Observe(row, result, left);
    row.left += " (after the script it was handed ran)";
    row.expected = "exit 0; the script handed over removes everything";
    row.asExpected = result.exited && result.exitCode == 0 && result.box.text.empty() &&
                     result.Report("ExitAtOnce") == "1" && scriptRan && left.empty() &&
                     GetFileAttributesA(script.c_str()) == INVALID_FILE_ATTRIBUTES;
    return row;
}

void PrintMatrix(const std::vector<MatrixRow>& rows)
{
    const char* const headings[] = { "fault", "how it is made", "exit", "message", "left behind", "result" };
    std::vector<std::vector<std::string>> cells;
    cells.push_back(std::vector<std::string>(std::begin(headings), std::end(headings)));
    for (const MatrixRow& row : rows) {
        if (!row.run) {
            cells.push_back({ row.fault, row.made, "-", "-", "-", "NOT RUN" });
            continue;
        }
        cells.push_back({ row.fault, row.made, std::to_string(row.exitCode), row.message, row.left,
                          row.asExpected ? "as expected" : "WRONG: expected " + row.expected });
    }
    std::vector<size_t> widths(std::size(headings), 0);
    for (const auto& line : cells) {
        for (size_t column = 0; column < line.size(); ++column)
            widths[column] = std::max(widths[column], line[column].size());
    }
    std::ostringstream table;
    for (size_t index = 0; index < cells.size(); ++index) {
        table << "|";
        for (size_t column = 0; column < cells[index].size(); ++column)
            table << " " << std::left << std::setw(static_cast<int>(widths[column])) << cells[index][column] << " |";
        table << "\n";
        if (index == 0) {
            table << "|";
            for (size_t width : widths)
                table << std::string(width + 2, '-') << "|";
            table << "\n";
        }
    }
    std::cout << "\nFault matrix (each row one run of the launcher under Wine):\n" << table.str() << std::endl;
}

TEST(FaultMatrix, EveryFaultEndsInAnOrderlyWay)
{
    const std::function<MatrixRow()> cases[] = {
        DiskFullInTheMiddleOfAFile,
        OutputFileHeldOpen,
        ReadOnlyFileInTheWay,
        SetupFolderMovedAway,
        EveryNameTaken,
        ResourceTruncatedInsideItsDirectory,
        EntryNameEscapingTheFolder,
        Adler32Mismatch,
        SetupProgramMissing,
        SetupProgramExitsAtOnce,
    };
    std::vector<MatrixRow> rows;
    for (const auto& makeRow : cases)
        rows.push_back(makeRow());
    PrintMatrix(rows);
    for (const MatrixRow& row : rows) {
        if (row.run) {
            EXPECT_TRUE(row.asExpected) << row.fault << ": expected " << row.expected;
        }
    }
}

} // namespace
