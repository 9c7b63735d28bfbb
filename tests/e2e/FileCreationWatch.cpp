#include "tests/e2e/FileCreationWatch.h"

#include <sddl.h>
#include <winternl.h>

namespace {

const BYTE kBreakpointInstruction = 0xCC;
const DWORD kTrapFlag = 0x100;
// A self-relative descriptor of a few entries is far smaller.
const SIZE_T kDescriptorBytes = 1024;

BYTE* Export(const char* module, const char* name)
{
    return reinterpret_cast<BYTE*>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA(module), name)));
}

// Stack slots (1-based) of the arguments read: CreateFileA's security attributes, and
// NtCreateFile's object attributes, disposition and options.
const int kFileSecuritySlot = 4;
const int kObjectAttributesSlot = 3;
const int kDispositionSlot = 8;
const int kOptionsSlot = 9;
// OBJECT_ATTRIBUTES of a 32-bit process: the name's pointer and the descriptor's.
const DWORD kObjectNameOffset = 8;
const DWORD kObjectDescriptorOffset = 16;
const wchar_t kDosDevicesPrefix[] = L"\\??\\";

DWORD ReadRemoteWord(HANDLE process, DWORD address)
{
    DWORD value = 0;
    SIZE_T read = 0;
    ReadProcessMemory(process, reinterpret_cast<void*>(static_cast<ULONG_PTR>(address)), &value, sizeof value, &read);
    return value;
}

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

FileCreationWatch::FileCreationWatch(CreationCallHook hook)
    : hook(std::move(hook)),
      targets{ { Export("kernel32.dll", "CreateFileA"), false, 0 }, { Export("ntdll.dll", "NtCreateFile"), true, 0 } }
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

void FileCreationWatch::Arm(Target& target, bool on)
{
    SIZE_T written = 0;
    if (on) {
        SIZE_T read = 0;
        ReadProcessMemory(process, target.address, &target.originalByte, 1, &read);
        WriteProcessMemory(process, target.address, &kBreakpointInstruction, 1, &written);
    } else {
        WriteProcessMemory(process, target.address, &target.originalByte, 1, &written);
    }
    FlushInstructionCache(process, target.address, 1);
}

void FileCreationWatch::ArmAll(bool on)
{
    for (Target& target : targets)
        Arm(target, on);
    armed = on;
}

std::string FileCreationWatch::ReadDescriptor(DWORD address)
{
    BYTE descriptor[kDescriptorBytes] = {};
    SIZE_T read = 0;
    for (SIZE_T length = sizeof descriptor; length > 0 && read == 0; length /= 2) {
        if (!ReadProcessMemory(process, reinterpret_cast<void*>(static_cast<ULONG_PTR>(address)), descriptor, length,
                               &read))
            read = 0;
    }
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    char* text = nullptr;
    // Only a self-relative descriptor holds everything it names; it is what the launcher builds.
    if (read && GetSecurityDescriptorControl(descriptor, &control, &revision) && (control & SE_SELF_RELATIVE) &&
        ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1,
                                                             OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                                             &text, nullptr)) {
        std::string sddl = text;
        LocalFree(text);
        return sddl;
    }
    return "(not readable)";
}

bool FileCreationWatch::ReadCall(const Target& target, DWORD stackPointer, CreationCall& call)
{
    // stdcall: the return address at the stack pointer, the arguments right above it.
    call.folder = target.folder;
    DWORD descriptor = 0;
    if (!target.folder) {
        call.path = ReadRemoteString(process, ReadRemoteWord(process, stackPointer + 4));
        const DWORD attributes = ReadRemoteWord(process, stackPointer + 4 * kFileSecuritySlot);
        if (attributes) {
            SECURITY_ATTRIBUTES security = {};
            SIZE_T read = 0;
            ReadProcessMemory(process, reinterpret_cast<void*>(static_cast<ULONG_PTR>(attributes)), &security,
                              sizeof security, &read);
            descriptor = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(security.lpSecurityDescriptor));
        }
    } else {
        if (ReadRemoteWord(process, stackPointer + 4 * kDispositionSlot) != FILE_CREATE ||
            (ReadRemoteWord(process, stackPointer + 4 * kOptionsSlot) & FILE_DIRECTORY_FILE) == 0)
            return false;
        const DWORD attributes = ReadRemoteWord(process, stackPointer + 4 * kObjectAttributesSlot);
        const DWORD name = ReadRemoteWord(process, attributes + kObjectNameOffset);
        const DWORD lengthAndMaximum = ReadRemoteWord(process, name);
        const DWORD buffer = ReadRemoteWord(process, name + 4);
        std::wstring wide((lengthAndMaximum & 0xFFFF) / sizeof(wchar_t), L'\0');
        SIZE_T read = 0;
        if (!wide.empty())
            ReadProcessMemory(process, reinterpret_cast<void*>(static_cast<ULONG_PTR>(buffer)), &wide[0],
                              wide.size() * sizeof(wchar_t), &read);
        if (wide.compare(0, 4, kDosDevicesPrefix) == 0)
            wide.erase(0, 4);
        char narrow[MAX_PATH * 2] = {};
        WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, narrow, sizeof narrow, nullptr, nullptr);
        call.path = narrow;
        descriptor = ReadRemoteWord(process, attributes + kObjectDescriptorOffset);
    }
    if (descriptor) {
        call.hasDescriptor = true;
        call.descriptor = ReadDescriptor(descriptor);
    }
    return true;
}

void FileCreationWatch::OnBreakpoint(Target& target, DWORD threadId)
{
    HANDLE thread = OpenThread(THREAD_GET_CONTEXT | THREAD_SET_CONTEXT, FALSE, threadId);
    CONTEXT context = {};
    context.ContextFlags = CONTEXT_FULL;
    GetThreadContext(thread, &context);
    CreationCall call;
    if (ReadCall(target, context.Esp, call)) {
        ++calls;
        hook(call);
    }

    // The original instruction runs once, single-stepped, and the breakpoint returns after it.
    Arm(target, false);
    context.Eip = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(target.address));
    context.EFlags |= kTrapFlag;
    SetThreadContext(thread, &context);
    CloseHandle(thread);
    stepping = &target;
}

void FileCreationWatch::OnSingleStep()
{
    Arm(*stepping, true);
    stepping = nullptr;
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
            Target* hit = nullptr;
            for (Target& target : targets) {
                if (record.ExceptionAddress == target.address)
                    hit = &target;
            }
            if (record.ExceptionCode == EXCEPTION_BREAKPOINT && hit && armed && !stepping)
                OnBreakpoint(*hit, event.dwThreadId);
            else if (record.ExceptionCode == EXCEPTION_BREAKPOINT && !armed && !stepping)
                ArmAll(true); // the system's breakpoint as the program starts: all DLLs are in place
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
