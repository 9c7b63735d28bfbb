// The launcher as a user meets it: started under Wine with a payload, it unpacks, starts
// the stand-in setup program with the agreed command line, and the cleanup script that
// the stand-in runs leaves the temporary directory as it was.
#include "tests/e2e/LauncherCase.h"

#include "archive/ArchiveReader.h"
#include "archive/ArchiveWriter.h"
#include "launcher/LauncherTestSupport.h"
#include "launcher/Messages.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <windows.h>

namespace {

// A small payload shaped like the real one. SETUPPHOTO is absent, and KMVERSION repeats
// a name of BASE with other contents.
std::map<std::string, ArchiveFiles> SmallPayload()
{
    return {
        { "BASE", { { "Readme.txt", "first readme" }, { "Data\\intro.dat", "intro" } } },
        { "SETUPBASE",
          { { "Zephrun.exe", ReadFileBytes(LauncherCase::BuiltProgram("Zephrun.exe")) },
            { "lingerx.exe", ReadFileBytes(LauncherCase::BuiltProgram("lingerx.exe")) },
            { "Docs\\Eng\\Guide.txt", "guide" },
            { "Docs\\Ger\\Handbuch.txt", "Handbuch" } } },
        { "PHOTOEDITION", { { "Photo.ini", "[Photo]" }, { "Data\\Edition.dat", std::string(3000, 'e') } } },
        { "KMIMAGE", { { "kmimage.dll", "image" } } },
        { "KMVERSION", { { "Readme.txt", "second readme" } } },
        { "APPBASE", { { "Kalmora.exe", "app" }, { "Data\\Filters.dat", "filters" } } },
        { "PHOTOUNINST", { { "Uninstall\\Uninst.ini", "[Uninstall]" } } },
    };
}

// The cleanup script for SmallPayload in setup folder S, itself at script (plain paths).
std::string ExpectedScript(const std::string& script, const std::string& S)
{
    std::string text = "cd \\\r\n" + S + "lingerx %1\r\n";
    for (const char* name : { "Readme.txt", "Data\\intro.dat", "Zephrun.exe", "lingerx.exe", "Docs\\Eng\\Guide.txt",
                              "Docs\\Ger\\Handbuch.txt", "Photo.ini", "Data\\Edition.dat", "kmimage.dll", "Readme.txt" })
        text += "del " + S + name + "\r\n";
    for (const char* folder : { "Docs\\Ger", "Docs\\Eng", "Docs", "Data" })
        text += "rmdir " + S + folder + "\r\n";
    text += "rmdir " + S.substr(0, S.size() - 1) + "\r\n";
    text += "del " + script + "\r\n";
    return text;
}

std::string SetupCommandLine(const LauncherCase& run, const std::string& script, const std::string& arguments)
{
    return "KMSetup SetupProgram=ZIZeduz Wnd=Normal Server=None Wnd=Maximized ResourceFile=\"" + run.LauncherPath() +
           "\" CleanUp=\"" + script + "\" " + arguments;
}

std::string FolderOf(const std::string& path)
{
    return path.substr(0, path.rfind('\\') + 1);
}

bool Exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string CharUpperCopy(std::string text)
{
    if (!text.empty())
        CharUpperBuffA(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

const char* Rights(const LauncherCase& run)
{
    return run.Elevated() ? "elevated" : "not elevated";
}

// An elevated run keeps its setup folder and script where the user's other processes
// cannot rename, replace or add to them, the system's temporary folder; a run without
// elevation keeps both in the user's temporary folder. The script is the same.
TEST(LauncherRun, WritesTheScriptAndStartsTheSetupProgram)
{
    for (bool unelevated : { false, true }) {
        LauncherCase run(unelevated ? "script-unelevated" : "script");
        if (unelevated)
            run.SetUnelevated();
        ASSERT_TRUE(run.BuildLauncher(Packed(SmallPayload())));
        // A program of the setup program's name beside the launcher, as in a downloads
        // folder: it must not be the one started.
        const std::string launcherFolder = FolderOf(run.LauncherPath());
        ASSERT_TRUE(CopyFileA(LauncherCase::BuiltProgram("lingerx.exe").c_str(),
                              (launcherFolder + "Zephrun.exe").c_str(), FALSE));
        // The stand-in only reports and exits, so the script can be read before it runs.
        RunResult result = run.Run("", true);

        ASSERT_TRUE(result.exited) << Rights(run);
        EXPECT_EQ(result.exitCode, 0u) << Rights(run);
        const std::string setup = run.WorkFolder() + "KMGSetup0\\";
        const std::string script = result.Report("CleanUp");
        std::cout << Rights(run) << ": setup folder " << result.Report("CurrentDirectory") << ", cleanup script "
                  << script << std::endl;
        EXPECT_EQ(FolderOf(script), run.WorkFolder()) << Rights(run);
        EXPECT_EQ(script, run.WorkFolder() + "0.bat") << Rights(run);
        if (run.Elevated()) {
            EXPECT_NE(run.WorkFolder(), run.TempPath());
        } else {
            EXPECT_EQ(run.WorkFolder(), run.TempPath());
        }
        EXPECT_EQ(result.Report("Arguments"), SetupCommandLine(run, script, "")) << Rights(run);
        EXPECT_EQ(result.Report("CurrentDirectory"), setup.substr(0, setup.size() - 1)) << Rights(run);
        // The module's path comes back in the case of the folders on disk.
        EXPECT_EQ(CharUpperCopy(result.Report("Program")), CharUpperCopy(setup + "Zephrun.exe")) << Rights(run);
        EXPECT_EQ(ReadFileBytes(script), ExpectedScript(script, setup)) << Rights(run);
        EXPECT_EQ(ReadFileBytes(setup + "Readme.txt"), "second readme") << Rights(run);
        EXPECT_EQ(ReadFileBytes(setup + "Data\\Edition.dat"), std::string(3000, 'e')) << Rights(run);

        ASSERT_TRUE(run.RunScript(script)) << Rights(run);
        EXPECT_EQ(run.LeftBehind(), std::vector<std::string>()) << Rights(run);
        EXPECT_FALSE(Exists(script)) << script;
    }
}

TEST(LauncherRun, FreshRunInstallsAndLeavesNothingBehind)
{
    LauncherCase run("fresh");
    ASSERT_TRUE(run.BuildLauncher(Packed(SmallPayload())));
    const std::string arguments = "/lang=it \"two words\"  /x";
    RunResult result = run.Run(arguments, false);

    ASSERT_TRUE(result.exited);
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(result.Report("Arguments"), SetupCommandLine(run, result.Report("CleanUp"), arguments));
    EXPECT_EQ(result.Report("PassedArguments"), arguments);
    EXPECT_EQ(result.Report("ExitCode"), "0");
    EXPECT_EQ(result.Report("CleanupStarted"), "yes");
    EXPECT_EQ(ReadFileBytes(run.InstallFolder() + "Data\\Filters.dat"), "filters");
    EXPECT_EQ(ReadFileBytes(run.InstallFolder() + "Uninstall\\Uninst.ini"), "[Uninstall]");
    EXPECT_EQ(run.LeftBehind(), std::vector<std::string>());
    EXPECT_FALSE(Exists(result.Report("CleanUp")));
}

// The packer stores identical files once: their entries name one stream. Each is
// unpacked in full, in its own folder, and the cleanup deletes each.
TEST(LauncherRun, EntriesThatShareOneStreamAreEachUnpacked)
{
    LauncherCase run("shared");
    std::map<std::string, std::vector<unsigned char>> archives = Packed(SmallPayload());
    std::string license;
    for (int line = 0; line < 400; ++line)
        license += "Clause " + std::to_string(line) + ": the licensee may install the program.\r\n";
    const ArchiveTimes times = { 1500000000u, 1500000000u, 1500000000u };
    ArchiveWriter writer;
    ASSERT_EQ(ArchiveWriteResult::Ok, writer.Add("License.txt", reinterpret_cast<const unsigned char*>(license.data()),
                                                 license.size(), times));
    ASSERT_EQ(ArchiveWriteResult::Ok, writer.Add("Readme.txt", reinterpret_cast<const unsigned char*>("readme"), 6, times));
    ASSERT_EQ(ArchiveWriteResult::Ok, writer.AddSharedEntry("Docs\\Eng\\License.txt", 0, times));
    ASSERT_EQ(ArchiveWriteResult::Ok, writer.AddSharedEntry("Docs\\Ger\\Lizenz.txt", 0, times));
    archives["BASE"].clear();
    ASSERT_EQ(ArchiveWriteResult::Ok, writer.Finish(archives["BASE"]));
    ASSERT_TRUE(run.BuildLauncher(archives));
    RunResult result = run.Run("", true);

    ASSERT_TRUE(result.exited);
    EXPECT_EQ(result.exitCode, 0u);
    const std::string setup = run.WorkFolder() + "KMGSetup0\\";
    for (const char* name : { "License.txt", "Docs\\Eng\\License.txt", "Docs\\Ger\\Lizenz.txt" })
        EXPECT_EQ(ReadFileBytes(setup + name), license) << name;
    EXPECT_EQ(ReadFileBytes(setup + "Readme.txt"), "second readme");
    ASSERT_TRUE(run.RunScript(result.Report("CleanUp")));
    EXPECT_EQ(run.LeftBehind(), std::vector<std::string>());
}

// A quick cancel or a silent setup: the setup program runs its cleanup while the
// launcher may still be waiting for it to take over. Without its window the launcher
// waits its full time. Nothing of the launcher holds the setup folder any more once the
// setup program starts, so its cleanup takes the folder too.
TEST(LauncherRun, SetupProgramThatCleansUpAtOnceLeavesNothing)
{
    for (bool window : { true, false }) {
        LauncherCase run(window ? "at-once-window" : "at-once-no-window");
        ASSERT_TRUE(run.BuildLauncher(Packed(SmallPayload())));
        run.SetStandInSetting("KM_STANDIN_CLEANUP_AT_ONCE", "1");
        run.SetStandInSetting("KM_STANDIN_NO_WINDOW", window ? "" : "1");
        // Without the stand-in's window, another window also takes the focus from the
        // splash while the payload is unpacked, so the launcher waits its full time.
        HWND other = nullptr;
        if (!window) {
            run.WatchFileCreation([&](const std::string& path) {
                if (other || path.size() < 4 || path.compare(path.size() - 4, 4, ".bat") != 0)
                    return;
                other = CreateWindowA("STATIC", "other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100, nullptr,
                                      nullptr, GetModuleHandleA(nullptr), nullptr);
                SetForegroundWindow(other);
            });
        }
        RunResult result = run.Run("", false);
        if (other)
            DestroyWindow(other);

        ASSERT_TRUE(result.exited) << window;
        EXPECT_EQ(result.exitCode, 0u) << window;
        EXPECT_EQ(result.Report("Window"), window ? "shown" : "none");
        EXPECT_EQ(result.Report("CleanupAtOnce"), "1") << window;
        EXPECT_EQ(result.Report("CleanupStarted"), "yes") << window;
        EXPECT_EQ(result.Report("CurrentDirectory"), run.WorkFolder() + "KMGSetup0") << window;
        EXPECT_EQ(run.LeftBehind(), std::vector<std::string>()) << window;
        EXPECT_FALSE(Exists(result.Report("CleanUp"))) << window;
    }
}

TEST(LauncherRun, BlankAmpersandAndPercentInTheTemporaryPath)
{
    for (bool unelevated : { false, true }) {
        LauncherCase run(unelevated ? "metachar-unelevated" : "metachar", "Temp dir & 50%");
        if (unelevated)
            run.SetUnelevated();
        // What "del <root>\Temp dir & 50%\..." would delete without quotes.
        const std::string planted = run.Root() + "Temp";
        ASSERT_TRUE(CloseHandle(CreateFileA(planted.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr)));
        ASSERT_TRUE(run.BuildLauncher(Packed(SmallPayload())));
        // What the launcher hands to the calls that make its files and folders. Wine
        // cannot return a descriptor once the file exists; the call shows it.
        std::vector<CreationCall> protectedCalls;
        int unprotectedCalls = 0;
        run.WatchCreationCalls([&](const CreationCall& call) {
            if (call.hasDescriptor)
                protectedCalls.push_back(call);
            else
                ++unprotectedCalls;
        });
        RunResult result = run.Run("", false);

        ASSERT_TRUE(result.exited) << Rights(run);
        EXPECT_EQ(result.exitCode, 0u) << Rights(run);
        EXPECT_EQ(result.Report("CleanupStarted"), "yes") << Rights(run);
        EXPECT_EQ(result.Report("CurrentDirectory"), run.WorkFolder() + "KMGSetup0") << Rights(run);
        const std::string script = result.Report("CleanUp");
        EXPECT_EQ(FolderOf(script), run.WorkFolder()) << Rights(run);
        std::cout << Rights(run) << ": " << protectedCalls.size() << " creation calls with a descriptor, "
                  << unprotectedCalls << " without" << std::endl;
        for (const CreationCall& call : protectedCalls)
            std::cout << "  " << (call.folder ? "folder creation " : "CreateFileA ") << call.path << ": "
                      << call.descriptor << std::endl;
        if (run.Elevated()) {
            // Only the script and the setup folder, both in the system's temporary folder;
            // what is made inside the folder inherits.
            const char kOnlyAdministratorsWrite[] =
                "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;WD)(A;OICI;0x1200a9;;;OW)";
            ASSERT_EQ(protectedCalls.size(), 2u);
            EXPECT_FALSE(protectedCalls[0].folder);
            EXPECT_EQ(protectedCalls[0].path, script);
            EXPECT_EQ(protectedCalls[0].descriptor, kOnlyAdministratorsWrite);
            EXPECT_TRUE(protectedCalls[1].folder);
            EXPECT_EQ(protectedCalls[1].path, run.WorkFolder() + "KMGSetup0");
            EXPECT_EQ(protectedCalls[1].descriptor, kOnlyAdministratorsWrite);
            EXPECT_NE(run.WorkFolder(), run.TempPath());
        } else {
            EXPECT_EQ(script, run.TempPath() + "0.bat");
            EXPECT_TRUE(protectedCalls.empty());
        }
        EXPECT_GT(unprotectedCalls, 0);
        EXPECT_EQ(run.LeftBehind(), std::vector<std::string>()) << Rights(run);
        EXPECT_FALSE(Exists(script)) << Rights(run);
        EXPECT_TRUE(Exists(planted)) << Rights(run);
    }
}

// The threshold on a drive of exactly 10 MiB: all of it free is enough, one 4 KiB block
// less is not. A run without elevation fills the user's temporary drive, so that is
// the drive it checks.
TEST(LauncherRun, TenMiBFreeIsEnoughOneBlockLessIsNot)
{
    const char* drive = std::getenv("KM_E2E_TEN_MIB_DRIVE");
    if (!drive) {
        const char* reason = std::getenv("KM_E2E_NO_TEN_MIB_DRIVE");
        GTEST_SKIP() << (reason ? reason : "no 10 MiB drive was prepared (run through run-e2e.sh)");
    }
    const std::string root = std::string(drive) + "\\";
    ASSERT_EQ(ListTree(root), std::vector<std::string>());
    const unsigned long long kTenMiB = 10485760, kBlock = 4096;
    for (bool blockUsed : { false, true }) {
        LauncherCase run(blockUsed ? "ten-mib-less" : "ten-mib");
        run.SetUnelevated();
        run.SetTempPath(root);
        ASSERT_TRUE(run.BuildLauncher(Packed(SmallPayload())));
        const std::string block = root + "block.bin";
        if (blockUsed) {
            ASSERT_TRUE(WriteTextFile(block, std::string(kBlock, 'b')));
        }
        ULARGE_INTEGER available;
        ASSERT_TRUE(GetDiskFreeSpaceExA(drive, &available, nullptr, nullptr));
        ASSERT_EQ(available.QuadPart, blockUsed ? kTenMiB - kBlock : kTenMiB);

        RunResult result = run.Run("", false, GetMessageText(kMsgSetupTitle));
        DeleteFileA(block.c_str());

        ASSERT_TRUE(result.exited) << blockUsed;
        if (blockUsed) {
            EXPECT_EQ(result.exitCode, 1u);
            char expected[1024];
            std::snprintf(expected, sizeof expected, GetMessageText(kMsgLowDiskSpace), drive, 10.0,
                          static_cast<double>(kTenMiB - kBlock) / 1048576.0);
            EXPECT_EQ(result.box.text, expected);
            EXPECT_TRUE(result.report.empty()) << "the setup program was started";
        } else {
            EXPECT_EQ(result.exitCode, 0u);
            EXPECT_EQ(result.box.text, "");
            EXPECT_EQ(result.Report("CurrentDirectory"), root + "KMGSetup0");
            EXPECT_EQ(result.Report("CleanupStarted"), "yes");
        }
        EXPECT_EQ(ListTree(root), std::vector<std::string>()) << blockUsed;
    }
}

// An elevated run fills the drive of the system's temporary folder, not the user's: a
// temporary directory on a drive too small does not stop it, and gets nothing.
TEST(LauncherRun, ElevatedRunChecksTheDriveItFills)
{
    const char* drive = std::getenv("KM_E2E_SMALL_DRIVE");
    if (!drive) {
        const char* reason = std::getenv("KM_E2E_NO_SMALL_DRIVE");
        GTEST_SKIP() << (reason ? reason : "no 5 MiB drive was prepared (run through run-e2e.sh)");
    }
    LauncherCase run("elevated-small-temp");
    if (!run.Elevated())
        GTEST_SKIP() << "this Wine starts programs without elevation";
    const std::string smallTemp = std::string(drive) + "\\";
    ASSERT_EQ(ListTree(smallTemp), std::vector<std::string>());
    run.SetTempPath(smallTemp);
    ASSERT_TRUE(run.BuildLauncher(Packed(SmallPayload())));
    RunResult result = run.Run("", false, GetMessageText(kMsgSetupTitle));

    ASSERT_TRUE(result.exited);
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(result.box.text, "");
    EXPECT_EQ(result.Report("CurrentDirectory"), run.WorkFolder() + "KMGSetup0");
    EXPECT_EQ(result.Report("CleanupStarted"), "yes");
    EXPECT_EQ(run.LeftBehind(), std::vector<std::string>());
}

// A temporary path in UNC form: the launcher works in the root of drive C (an elevated
// run in the system's temporary folder, as always).
TEST(LauncherRun, UncTemporaryPathMakesTheLauncherWorkInTheRootOfC)
{
    for (bool unelevated : { false, true }) {
        LauncherCase run(unelevated ? "unc-unelevated" : "unc");
        if (unelevated)
            run.SetUnelevated();
        run.SetTempPath("\\\\localhost\\km-no-such-share\\Temp\\");
        ASSERT_TRUE(run.BuildLauncher(Packed(SmallPayload())));
        RunResult result = run.Run("", true);

        ASSERT_TRUE(result.exited) << Rights(run);
        EXPECT_EQ(result.exitCode, 0u) << Rights(run);
        const std::string setup = result.Report("CurrentDirectory");
        const std::string script = result.Report("CleanUp");
        std::cout << Rights(run) << ": setup folder " << setup << ", script " << script << std::endl;
        const std::string workFolder = run.Elevated() ? run.WorkFolder() : "C:\\";
        EXPECT_EQ(setup, workFolder + "KMGSetup0") << Rights(run);
        EXPECT_EQ(FolderOf(script), workFolder) << Rights(run);
        ASSERT_TRUE(run.RunScript(script)) << Rights(run);
        EXPECT_FALSE(Exists(setup)) << setup;
        EXPECT_FALSE(Exists(script)) << script;
    }
}

TEST(LauncherRun, DamagedEntryTakesBackEverythingWritten)
{
    LauncherCase run("damaged-entry");
    auto archives = Packed(SmallPayload());
    // Spoils the checksum of the last entry of PHOTOEDITION, after four archives'
    // worth of files have been written.
    std::vector<unsigned char>& edition = archives["PHOTOEDITION"];
    {
        ArchiveReader reader(edition.data(), static_cast<uint32_t>(edition.size()), 0);
        ArchiveEntry entry;
        while (reader.Next(entry))
            if (std::strcmp(entry.name, "Data\\Edition.dat") == 0)
                edition[entry.data - edition.data() + entry.compressedSize - 1] ^= 0x55;
    }
    ASSERT_TRUE(run.BuildLauncher(archives));
    RunResult result = run.Run("", false, GetMessageText(kMsgSetupTitle));

    ASSERT_TRUE(result.exited);
    EXPECT_EQ(result.exitCode, 2u);
    char expected[1024];
    std::snprintf(expected, sizeof expected, GetFailureText(FailureText::UnpackFailed), "Data\\Edition.dat");
    EXPECT_EQ(result.box.text, expected);
    EXPECT_TRUE(result.report.empty()) << "the setup program was started";
    EXPECT_EQ(run.LeftBehind(), std::vector<std::string>());
}

TEST(LauncherRun, FileThatCannotBeWrittenTakesBackEverythingWritten)
{
    LauncherCase run("unwritable");
    auto payload = SmallPayload();
    // BASE has made Data a folder, so a file of that name cannot be created.
    payload["KMVERSION"] = { { "Data", "not a folder" } };
    ASSERT_TRUE(run.BuildLauncher(Packed(payload)));
    RunResult result = run.Run("", false, GetMessageText(kMsgSetupTitle));

    ASSERT_TRUE(result.exited);
    EXPECT_EQ(result.exitCode, 2u);
    char expected[1024];
    std::snprintf(expected, sizeof expected, GetFailureText(FailureText::WriteFailed),
                  (run.WorkFolder() + "KMGSetup0\\Data").c_str());
    EXPECT_EQ(result.box.text, expected);
    EXPECT_EQ(run.LeftBehind(), std::vector<std::string>());
}

TEST(LauncherRun, TheProductCarriesItsArchivesAndManifest)
{
    HMODULE product = LoadLibraryExA(LauncherCase::BuiltProgram("ZIZeduz.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(product, nullptr);
    for (const char* name : { "BASE", "SETUPBASE", "SETUPPHOTO", "PHOTOEDITION", "KMIMAGE", "KMVERSION", "APPBASE", "PHOTOUNINST" }) {
        HRSRC found = FindResourceExA(product, "KMArc", name, MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN));
        ASSERT_NE(found, nullptr) << name;
        const unsigned char* base = static_cast<const unsigned char*>(LockResource(LoadResource(product, found)));
        ArchiveReader reader(base, SizeofResource(product, found), 0);
        EXPECT_EQ(reader.GetFault(), ArchiveFault::None) << name;
        EXPECT_GT(reader.GetEntryCount(), 0u) << name;
    }

    HRSRC manifest = FindResourceA(product, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    ASSERT_NE(manifest, nullptr);
    std::string text(static_cast<const char*>(LockResource(LoadResource(product, manifest))), SizeofResource(product, manifest));
    for (const char* part : { "name=\"Kalmora SingeFile Setup\" version=\"1.0.0.0\" processorArchitecture=\"x86\"",
                              "level=\"requireAdministrator\"", "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"" })
        EXPECT_NE(text.find(part), std::string::npos) << part;
    FreeLibrary(product);
}

// ---- Run once per user language by run-e2e.sh (KM_E2E_LANGUAGE: en, de, fr, it, es) ----

const char* InTestLanguage(const MessageEntry& row)
{
    const char* language = std::getenv("KM_E2E_LANGUAGE");
    std::string code = language ? language : "en";
    if (code == "de")
        return row.german;
    if (code == "fr")
        return row.french;
    if (code == "it")
        return row.italian;
    return row.english;
}

LRESULT CALLBACK PlainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(window, message, wParam, lParam);
}

TEST(UserLanguage, RunningSetupIsRaisedAndNothingIsCreated)
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = PlainWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "AfxFrameOrView42";
    RegisterClassA(&windowClass);
    HWND running = CreateWindowA("AfxFrameOrView42", "Kalmora Setup", WS_OVERLAPPEDWINDOW, 10, 10, 300, 200,
                                 nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(running, nullptr);
    ShowWindow(running, SW_MINIMIZE);
    ASSERT_TRUE(IsIconic(running));

    LauncherCase run("running");
    ASSERT_TRUE(run.BuildLauncher(Packed(SmallPayload())));
    RunResult result = run.Run("", false);

    ASSERT_TRUE(result.exited);
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_FALSE(IsIconic(running));
    EXPECT_EQ(GetForegroundWindow(), running);
    EXPECT_TRUE(result.report.empty()) << "the setup program was started";
    EXPECT_EQ(run.LeftBehind(), std::vector<std::string>());
    DestroyWindow(running);
}

TEST(UserLanguage, LowDiskSpaceIsReportedBeforeAnythingIsWritten)
{
    const char* drive = std::getenv("KM_E2E_SMALL_DRIVE");
    if (!drive) {
        const char* reason = std::getenv("KM_E2E_NO_SMALL_DRIVE");
        GTEST_SKIP() << (reason ? reason : "no 5 MiB drive was prepared (run through run-e2e.sh)");
    }
    LauncherCase run("low-space");
    // A run without elevation unpacks onto the user's temporary drive.
    run.SetUnelevated();
    const std::string smallTemp = std::string(drive) + "\\";
    ASSERT_EQ(ListTree(smallTemp), std::vector<std::string>());
    run.SetTempPath(smallTemp);
    ASSERT_TRUE(run.BuildLauncher(Packed(SmallPayload())));
    ULARGE_INTEGER available;
    ASSERT_TRUE(GetDiskFreeSpaceExA(drive, &available, nullptr, nullptr));

    RunResult result = run.Run("", false, InTestLanguage(kMessageTable[kMsgSetupTitle]));

    ASSERT_TRUE(result.exited);
    EXPECT_EQ(result.exitCode, 1u);
    char expected[1024];
    std::snprintf(expected, sizeof expected, InTestLanguage(kMessageTable[kMsgLowDiskSpace]), drive, 10.0,
                  static_cast<double>(available.QuadPart) / 1048576.0);
    EXPECT_EQ(result.box.text, expected);
    EXPECT_TRUE(result.report.empty()) << "the setup program was started";
    EXPECT_EQ(ListTree(smallTemp), std::vector<std::string>());
}

TEST(UserLanguage, DamagedArchiveIsRefusedBeforeAnythingIsWritten)
{
    LauncherCase run("damaged-archive");
    auto payload = SmallPayload();
    payload["SETUPPHOTO"] = { { "Setup.inf", "[Setup]" } };
    auto archives = Packed(payload);
    archives["SETUPPHOTO"][0] = 0xFF;  // the directory offset now points past the end
    ASSERT_TRUE(run.BuildLauncher(archives));

    RunResult result = run.Run("", false, InTestLanguage(kMessageTable[kMsgSetupTitle]));

    ASSERT_TRUE(result.exited);
    EXPECT_EQ(result.exitCode, 2u);
    char expected[1024];
    std::snprintf(expected, sizeof expected, GetFailureText(FailureText::UnpackFailed), "SETUPPHOTO");
    EXPECT_EQ(result.box.text, expected);
    EXPECT_EQ(run.LeftBehind(), std::vector<std::string>());
}

} // namespace
