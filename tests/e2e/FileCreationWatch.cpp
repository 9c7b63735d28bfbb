#include "tests/e2e/FileCreationWatch.h"

namespace {

const BYTE kBreakpointInstruction = 0xCC;
const DWORD kTrapFlag = 0x100;

// Reads a zero-terminated string of the program's memory, up to MAX_PATH characters.
std::string ReadRemoteString(HANDLE process, DWORD address)
{
    char text[MAX_PATH + 1] = {};
    SIZE_T read = 0;
    for (SIZE_T length = MAX_PATH; length > 0 && read == 0; length /= 2) {
        // A shorter read still succeeds where the string ends just before unmapped memory.
        if (!ReadProcessMemory(process, reinterpret_cast<void*>(static_cast<ULONG_PTR>(address)), text, length, &read))
            read = 0;
    }
    return std::string(text);
}

} // namespace

FileCreationWatch::FileCreationWatch(FileCreationHook hook)
    : hook(std::move(hook)),
      target(reinterpret_cast<BYTE*>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "CreateFileA"))))
{
}

bool FileCreationWatch::Start(const char* application, char* commandLine, const char* folder,
                              PROCESS_INFORMATION& started)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    if (!CreateProcessA(application, commandLine, nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS, nullptr, folder,
                        &startup, &started))
        return false;
    process = started.hProcess;
    return true;
}

void FileCreationWatch::Arm(bool on)
{
    SIZE_T written = 0;
    if (on) {
        SIZE_T read = 0;
        ReadProcessMemory(process, target, &originalByte, 1, &read);
        WriteProcessMemory(process, target, &kBreakpointInstruction, 1, &written);
    } else {
        WriteProcessMemory(process, target, &originalByte, 1, &written);
    }
    FlushInstructionCache(process, target, 1);
    armed = on;
}

void FileCreationWatch::OnBreakpoint(DWORD threadId)
{
    HANDLE thread = OpenThread(THREAD_GET_CONTEXT | THREAD_SET_CONTEXT, FALSE, threadId);
    CONTEXT context = {};
    context.ContextFlags = CONTEXT_FULL;
    GetThreadContext(thread, &context);
    // stdcall: the return address at the stack pointer, the file name right above it.
    DWORD nameAddress = 0;
    SIZE_T read = 0;
    ReadProcessMemory(process, reinterpret_cast<void*>(static_cast<ULONG_PTR>(context.Esp + 4)), &nameAddress,
                      sizeof nameAddress, &read);
    ++calls;
    hook(ReadRemoteString(process, nameAddress));

    // The original instruction runs once, single-stepped, and the breakpoint returns after it.
    Arm(false);
    context.Eip = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(target));
    context.EFlags |= kTrapFlag;
    SetThreadContext(thread, &context);
    CloseHandle(thread);
    stepping = true;
}

void FileCreationWatch::OnSingleStep()
{
    stepping = false;
    Arm(true);
}

bool FileCreationWatch::Pump(DWORD milliseconds)
{
    DEBUG_EVENT event;
    while (WaitForDebugEvent(&event, milliseconds)) {
        DWORD status = DBG_CONTINUE;
        bool ended = false;
        switch (event.dwDebugEventCode) {
        case CREATE_PROCESS_DEBUG_EVENT:
            CloseHandle(event.u.CreateProcessInfo.hFile);
            break;
        case LOAD_DLL_DEBUG_EVENT:
            if (event.u.LoadDll.hFile)
                CloseHandle(event.u.LoadDll.hFile);
            break;
        case EXCEPTION_DEBUG_EVENT: {
            const EXCEPTION_RECORD& record = event.u.Exception.ExceptionRecord;
            if (record.ExceptionCode == EXCEPTION_BREAKPOINT && record.ExceptionAddress == target && armed)
                OnBreakpoint(event.dwThreadId);
            else if (record.ExceptionCode == EXCEPTION_BREAKPOINT && !armed && !stepping)
                Arm(true); // the system's breakpoint as the program starts: all DLLs are in place
            else if (record.ExceptionCode == EXCEPTION_SINGLE_STEP && stepping)
                OnSingleStep();
            else
                status = DBG_EXCEPTION_NOT_HANDLED;
            break;
        }
        case EXIT_PROCESS_DEBUG_EVENT:
            ended = true;
            break;
        default:
            break;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
        if (ended)
            return true;
        // Later events are collected at the next call, so that the caller's window work goes on.
        milliseconds = 0;
    }
    return false;
}
