#include "launcher/LaunchSequence.h"

#include "archive/ExtractEntry.h"
#include "launcher/CleanupScript.h"
#include "launcher/DiskFree.h"
#include "launcher/LaunchState.h"
#include "launcher/Messages.h"
#include "launcher/PayloadArchives.h"
#include "launcher/RunOutput.h"
#include "launcher/UniqueName.h"
#include "splash/Splash.h"
#include "stream/WtFileStream.h"
#include "string/WtString.h"

#include <direct.h>
#include <mmsystem.h>
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

const char kSetupProgram[] = "Zephrun.exe";
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

// Closes the script; a failure to close is one more failure to write it.
bool CloseScript(WtFileStream*& script)
{
    WtFileStream* closing = script;
    script = nullptr;
    try {
        delete closing;
        return true;
    } catch (WtStreamException* exception) {
        delete exception;
    } catch (WtStreamException&) {
    }
    return false;
}

// Writes the cleanup script while it unpacks every present archive into setupFolder.
// Returns true with the script complete and closed; on failure, fills failure and
// returns with the script closed and output holding everything written so far.
bool UnpackPayload(const WtString& scriptPath, const WtString& setupFolder,
                   const PayloadArchive (&archives)[kPayloadArchiveCount], RunOutput& output,
                   RunFailure& failure)
{
    WtFileStream* script = nullptr;
    // The file being written and the entry being unpacked, to say what failed.
    WtString writing = scriptPath;
    WtString unpacking;
    bool entryDamaged = false;
    try {
        script = new WtFileStream(scriptPath, WtFileStream::OpenCreate | WtFileStream::AccessWrite);
        WriteScriptLine(*script, ScriptOpening(setupFolder));

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
                WriteScriptLine(*script, ScriptDeletionLine(outputPath));
            }
            if (entryDamaged)
                break;
        }

        if (!entryDamaged) {
            for (const WtString& folder : output.Folders())
                WriteScriptLine(*script, ScriptRemovalLine(folder));
            WriteScriptLine(*script, ScriptDeletionLine(scriptPath));
            if (CloseScript(script))
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

    CloseScript(script);
    if (entryDamaged)
        failure = { FailureText::UnpackFailed, unpacking };
    else
        failure = { FailureText::WriteFailed, writing };
    return false;
}

// The record the shell expects from a 32-bit caller.
static_assert(sizeof(SHELLEXECUTEINFOA) == 60, "SHELLEXECUTEINFOA has the 32-bit layout");

void LaunchSetupProgram(const WtString& parameters)
{
    g_bLaunched = 1;
    SHELLEXECUTEINFOA execute;
    ZeroMemory(&execute, sizeof execute);
    execute.cbSize = sizeof execute;
    execute.fMask = 0;
    execute.hwnd = nullptr;
    execute.lpVerb = kSetupProgramVerb;
    // Relative on purpose: found in the current directory, the setup folder.
    execute.lpFile = kSetupProgram;
    execute.lpParameters = parameters;
    execute.lpDirectory = nullptr;
    execute.nShow = SW_SHOW;
    execute.hInstApp = nullptr;
    ShellExecuteExA(&execute);
}

void WaitForSetupToTakeOver()
{
    DWORD start = timeGetTime();
    while (g_bLaunchWait && !LaunchWaitOver(start, timeGetTime()))
        PumpOneMessage();
}

} // namespace

bool LaunchWaitOver(DWORD start, DWORD now)
{
    // Elapsed time rather than start + 5000 <= now: guards against a wait of 49 days
    // when the sum wraps past zero before the counter does.
    return now - start >= kLaunchWaitMilliseconds;
}

int RunLaunchSequence(HINSTANCE instance, const char* commandLine)
{
    g_hInstance = instance;
    if (RaiseRunningSetup())
        return kExitLaunched;

    ShowSplashUntilPainted();

    char tempPath[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, tempPath);
    if (tempPath[1] != ':' || tempPath[2] != '\\')
        lstrcpyA(tempPath, kFallbackTempPath);
    const char drive[3] = { tempPath[0], ':', '\0' };

    const float freeBytes = static_cast<float>(GetDiskFreeBytes(drive));
    if (!(freeBytes >= kRequiredFreeBytes)) {
        WtString text;
        text.Format(GetMessageText(kMsgLowDiskSpace), drive, kRequiredFreeBytes / kBytesPerMegabyte,
                    freeBytes / kBytesPerMegabyte);
        ShowBox(text);
        return kExitLowDiskSpace;
    }

    // Guards against a percent sign in the temporary path being read as a conversion.
    const WtString tempPattern = EscapeForFormat(tempPath);
    const WtString scriptPath = MakeUniqueName(tempPattern + kScriptPattern);
    WtString setupFolder = MakeUniqueName(tempPattern + kSetupFolderPattern);
    // Guards against unpacking into the root of the drive when no free name was found.
    if (scriptPath.IsEmpty() || setupFolder.IsEmpty()) {
        ReportFailure({ FailureText::NoFreeName, WtString(tempPath) });
        return kExitUnpackFailed;
    }
    setupFolder += '\\';

    PayloadArchive archives[kPayloadArchiveCount];
    LocatePayloadArchives(g_hInstance, archives);
    // Guards against a damaged directory: checked as a whole before anything is written.
    if (const PayloadArchive* damaged = FindDamagedArchive(archives, setupFolder.GetLength())) {
        ReportFailure({ FailureText::UnpackFailed, WtString(damaged->name) });
        return kExitUnpackFailed;
    }

    RunOutput output;
    RunFailure failure;
    // Guards against a failed run leaving a half-unpacked setup and its script behind.
    if (!UnpackPayload(scriptPath, setupFolder, archives, output, failure)) {
        output.RemoveAll(scriptPath);
        ReportFailure(failure);
        return kExitUnpackFailed;
    }

    _chdir(setupFolder);
    char modulePath[MAX_PATH] = {};
    GetModuleFileNameA(g_hInstance, modulePath, MAX_PATH);
    WtString parameters;
    parameters.Format(kSetupCommandLine, modulePath, static_cast<const char*>(scriptPath),
                      commandLine);

    LaunchSetupProgram(parameters);
    DestroyWindow(g_hSplash);
    WaitForSetupToTakeOver();
    return kExitLaunched;
}
