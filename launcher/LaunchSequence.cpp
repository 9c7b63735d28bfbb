#include "launcher/LaunchSequence.h"

#include "archive/ExtractEntry.h"
#include "archive/SetupLayout.h"
#include "launcher/AnsiPath.h"
#include "launcher/CleanupScript.h"
#include "launcher/DiskFree.h"
#include "launcher/LaunchState.h"
#include "launcher/Messages.h"
#include "launcher/MultimediaTimer.h"
#include "launcher/OwnedHandle.h"
#include "launcher/PayloadArchives.h"
#include "launcher/RunOutput.h"
#include "launcher/SetupFolder.h"
#include "launcher/UniqueName.h"
#include "splash/Splash.h"
#include "stream/WtFileStream.h"
#include "string/WtString.h"

#include <new>
#include <shellapi.h>

const char kRunningSetupClass[] = "AfxFrameOrView42";
const char kRunningSetupTitle[] = "Kalmora Setup";

namespace {

// 10 MiB as single precision (bit pattern 0x4B200000); the free space is compared in
// the same precision.
const float kRequiredFreeBytes = 10485760.0f;
const double kBytesPerMegabyte = 1048576.0;

const char kFallbackTempPath[] = "C:\\";
const char kScriptPattern[] = "%d.bat";
const char kSetupFolderPattern[] = "KMGSetup%d";

const char kSetupProgramVerb[] = "open";
// The setup program's options; Wnd is given twice on purpose, Normal then Maximized.
const char kSetupCommandLine[] =
    "KMSetup SetupProgram=ZIZeduz Wnd=Normal Server=None Wnd=Maximized "
    "ResourceFile=\"%s\" CleanUp=\"%s\" %s";

const UINT kBoxStyle = MB_OK | MB_TOPMOST;

// Why a run stopped after it had chosen its names, and what it was working on.
struct RunFailure {
    FailureText text;
    WtString subject;
};

bool RaiseRunningSetup()
{
    HWND running = FindWindowA(kRunningSetupClass, kRunningSetupTitle);
    if (!running)
        return false;
    if (IsIconic(running))
        ShowWindow(running, SW_RESTORE);
    SetForegroundWindow(running);
    return true;
}

void ShowSplashUntilPainted()
{
    g_bSplashLoop = 1;
    g_hSplash = CreateSplashWindow();
    // Extraction pumps no messages, so the picture has to be on the screen before it starts.
    while (g_bSplashLoop)
        PumpOneMessage();
}

void ShowBox(const char* text)
{
    MessageBoxA(nullptr, text, GetMessageText(kMsgSetupTitle), kBoxStyle);
}

void ReportFailure(const RunFailure& failure)
{
    WtString text;
    text.Format(GetFailureText(failure.text), static_cast<const char*>(failure.subject));
    ShowBox(text);
}

// Writes the cleanup script into scriptFile while it unpacks every present archive into
// setupFolder. Returns true with the script complete and closed; on failure, fills
// failure and returns with the script closed and output holding everything written so far.
bool UnpackPayload(OwnedHandle& scriptFile, const WtString& scriptPath, const WtString& setupFolder,
                   const PayloadArchive (&archives)[kPayloadArchiveCount], RunOutput& output,
                   RunFailure& failure)
{
    // The stream only borrows the handle, so that the close below can be checked.
    WtFileStream script(scriptFile.Get());
    // The file being written and the entry being unpacked, to say what failed.
    WtString writing = scriptPath;
    WtString unpacking;
    bool entryDamaged = false;
    try {
        WriteScriptLine(script, ScriptOpening(setupFolder));

        for (const PayloadArchive& archive : archives) {
            if (!archive.base)
                continue;
            ArchiveReader reader(archive.base, archive.size, setupFolder.GetLength());
            ArchiveEntry entry;
            while (reader.Next(entry)) {
                WtString outputPath = setupFolder + entry.name;
                writing = outputPath;
                unpacking = entry.name;
                output.AddFile(outputPath);
                ExtractionResult result =
                    ExtractEntry(entry.data, entry.compressedSize, outputPath, &output.Folders());
                // Guards against a damaged stream passing for a complete file.
                if (!result.complete || result.bytesWritten != entry.uncompressedSize) {
                    entryDamaged = true;
                    break;
                }
                writing = scriptPath;
                unpacking = WtString();
                WriteScriptLine(script, ScriptDeletionLine(outputPath));
            }
            if (entryDamaged)
                break;
        }

        if (!entryDamaged) {
            for (const WtString& folder : output.Folders())
                WriteScriptLine(script, ScriptRemovalLine(folder));
            WriteScriptLine(script, ScriptDeletionLine(scriptPath));
            // A failure to close is one more failure to write the script.
            if (scriptFile.Close())
                return true;
        }
    } catch (WtStreamException* exception) {
        // The file stream's failures name the file they could not write.
        delete exception;
    } catch (WtStreamException&) {
        // The inflater's failures: the entry could not be unpacked.
        entryDamaged = true;
    } catch (std::bad_alloc&) {
        entryDamaged = !unpacking.IsEmpty();
    }

    scriptFile.Close();
    if (entryDamaged)
        failure = { FailureText::UnpackFailed, unpacking };
    else
        failure = { FailureText::WriteFailed, writing };
    return false;
}

// The failure when ClaimUniqueName made nothing of pattern in tempPath: no free name, or
// the last name that could not be created.
RunFailure NoNameFailure(const char* tempPath, const WtString& lastRefused)
{
    if (lastRefused.IsEmpty())
        return { FailureText::NoFreeName, WtString(tempPath) };
    return { FailureText::WriteFailed, lastRefused };
}

// The record the shell expects from a 32-bit caller.
static_assert(sizeof(SHELLEXECUTEINFOA) == 60, "SHELLEXECUTEINFOA has the 32-bit layout");

bool LaunchSetupProgram(const WtString& setupFolder, const WtString& parameters)
{
    g_bLaunched = 1;
    SHELLEXECUTEINFOA execute;
    ZeroMemory(&execute, sizeof execute);
    execute.cbSize = sizeof execute;
    execute.fMask = 0;
    execute.hwnd = nullptr;
    execute.lpVerb = kSetupProgramVerb;
    // By its full path in the setup folder: a relative name is looked up beside the
    // launcher first, where a planted program would run with the launcher's rights.
    WtString program = setupFolder + kSetupProgram;
    execute.lpFile = program;
    execute.lpParameters = parameters;
    // The program starts in the setup folder, which never becomes the launcher's own
    // current directory: a process's current directory cannot be removed, and the setup
    // program may run its cleanup while the launcher still waits.
    execute.lpDirectory = setupFolder;
    execute.nShow = SW_SHOW;
    execute.hInstApp = nullptr;
    return ShellExecuteExA(&execute) != FALSE;
}

void WaitForSetupToTakeOver()
{
    DWORD start = TimerMilliseconds();
    while (g_bLaunchWait && !LaunchWaitOver(start, TimerMilliseconds()))
        PumpOneMessage();
}

} // namespace

bool LaunchWaitOver(DWORD start, DWORD now)
{
    // Elapsed time rather than start + 5000 <= now: guards against a wait of 49 days
    // when the sum wraps past zero before the counter does.
    return now - start >= kLaunchWaitMilliseconds;
}

int RunLaunchSequence(HINSTANCE instance, const char* commandLine, bool elevated)
{
    g_hInstance = instance;
    if (RaiseRunningSetup())
        return kExitLaunched;

    ShowSplashUntilPainted();

    char tempPath[MAX_PATH] = {};
    // Guards a temporary folder whose name has characters outside the ANSI code page:
    // its short form still names it.
    GetUsableTempPath(tempPath, MAX_PATH);
    if (tempPath[1] != ':' || tempPath[2] != '\\')
        lstrcpyA(tempPath, kFallbackTempPath);

    // Guards the elevated setup program against a folder or script that the user's other
    // processes could rename, replace or add to: an elevated run makes both, with a
    // descriptor that lets only SYSTEM and Administrators write, in the system's
    // temporary folder, where the user may not delete or rename what it did not make.
    // A run without elevation gains nothing the user could not do anyway, and keeps
    // both in the user's temporary folder.
    SetupFolderSecurity security;
    SECURITY_ATTRIBUTES* protection = elevated ? security.Attributes() : nullptr;
    const WtString workFolder = elevated ? ProtectedTempFolder() : WtString(tempPath);
    if (elevated && (!protection || workFolder.IsEmpty())) {
        // Nothing of an elevated run is made unprotected.
        ReportFailure({ FailureText::WriteFailed, workFolder.IsEmpty() ? WtString(tempPath) : workFolder });
        return kExitUnpackFailed;
    }
    // The drive that the run is going to fill.
    const char drive[3] = { workFolder[0], ':', '\0' };

    const float freeBytes = static_cast<float>(GetDiskFreeBytes(drive));
    if (!(freeBytes >= kRequiredFreeBytes)) {
        WtString text;
        text.Format(GetMessageText(kMsgLowDiskSpace), drive, kRequiredFreeBytes / kBytesPerMegabyte,
                    freeBytes / kBytesPerMegabyte);
        ShowBox(text);
        return kExitLowDiskSpace;
    }

    // Guards against a percent sign in the folder's path being read as a conversion.
    const WtString workPattern = EscapeForFormat(workFolder);
    RunOutput output;
    WtString lastRefused;

    // Guards against writing through a file or link that appeared under the name after
    // the probe: the script is only ever a file this run created.
    OwnedHandle scriptFile;
    const WtString scriptPath =
        CreateScriptFile(workPattern + kScriptPattern, protection, CreateFileA, scriptFile, lastRefused);
    // Guards against unpacking into the root of the drive when no free name was found.
    if (scriptPath.IsEmpty()) {
        ReportFailure(NoNameFailure(workFolder, lastRefused));
        return kExitUnpackFailed;
    }

    WtString setupFolder;
    // Guards the elevated setup program against a folder of the user's put in place of
    // its own before it is started from there.
    OwnedHandle setupFolderHold;
    if (elevated) {
        setupFolder = CreateSetupFolder(workPattern + kSetupFolderPattern, protection, CreateHeldFolder,
                                        setupFolderHold, lastRefused);
        if (!setupFolder.IsEmpty()) {
            if (CheckHeldFolder(setupFolderHold.Get(), setupFolder) == HeldFolder::Created) {
                // The folder is the run's and goes last.
                output.Folders().AddHead(setupFolder);
            } else {
                // What was made is not, by its own path, the folder asked for (a folder
                // on the way led elsewhere): nothing is unpacked into it, and nothing
                // under that name is removed.
                setupFolderHold.Close();
                lastRefused = setupFolder;
                setupFolder = WtString();
            }
        }
    } else {
        setupFolder = MakeUniqueName(workPattern + kSetupFolderPattern);
        lastRefused = WtString();
    }
    if (setupFolder.IsEmpty()) {
        scriptFile.Close();
        output.RemoveAll(scriptPath);
        ReportFailure(NoNameFailure(workFolder, lastRefused));
        return kExitUnpackFailed;
    }
    setupFolder += '\\';

    PayloadArchive archives[kPayloadArchiveCount];
    LocatePayloadArchives(g_hInstance, archives);
    // Guards against a damaged directory: checked as a whole before anything is written.
    if (const PayloadArchive* damaged = FindDamagedArchive(archives, setupFolder.GetLength())) {
        scriptFile.Close();
        setupFolderHold.Close();
        output.RemoveAll(scriptPath);
        ReportFailure({ FailureText::UnpackFailed, WtString(damaged->name) });
        return kExitUnpackFailed;
    }

    RunFailure failure;
    // Guards against a failed run leaving a half-unpacked setup and its script behind.
    if (!UnpackPayload(scriptFile, scriptPath, setupFolder, archives, output, failure)) {
        setupFolderHold.Close();
        output.RemoveAll(scriptPath);
        ReportFailure(failure);
        return kExitUnpackFailed;
    }

    char modulePath[MAX_PATH] = {};
    // Guards a launcher in a folder whose name has characters outside the ANSI code
    // page: the setup program could not open it by that name.
    GetUsableModulePath(g_hInstance, modulePath, MAX_PATH);
    WtString parameters;
    parameters.Format(kSetupCommandLine, modulePath, static_cast<const char*>(scriptPath),
                      commandLine);

    // Nothing of the launcher's may keep the folder from going with the cleanup, which
    // the setup program may run the instant it starts. From here the system's temporary
    // folder alone keeps the user's processes from renaming the setup folder, as it
    // does for the script: they may not delete what Administrators made there.
    setupFolderHold.Close();
    const bool launched = LaunchSetupProgram(setupFolder, parameters);
    if (!launched) {
        // Guards against reporting a run as done when nobody will run its cleanup; the
        // shell has already said why the program did not start.
        output.RemoveAll(scriptPath);
        DestroyWindow(g_hSplash);
        return kExitUnpackFailed;
    }
    DestroyWindow(g_hSplash);
    WaitForSetupToTakeOver();
    return kExitLaunched;
}
