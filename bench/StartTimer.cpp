// kmbench-start: starts a program, waits for it to end, and reports when it started and
// ended and how much memory it held at most: its working set, and its private memory
// (the commit charge, what the process allocated for itself, mapped files aside).
//
// The times are the system time as FILETIME ticks (100 ns since 1601, UTC), read with
// GetSystemTimeAsFileTime: the clock the stand-in setup program reads when it records
// its own start, so "launcher started" and "setup program started" come from one clock.
//
// Usage: kmbench-start COMMANDLINE...
// Everything after the program's own name is the child's command line, unchanged.
// Prints one line:
//   started T0 ended T1 exit CODE peak_working_set BYTES peak_private BYTES
#include <cstdio>
#include <cstdint>
#include <windows.h>
#include <psapi.h>

namespace {

const int kExitFailed = 1;
// Often enough that the last sample before the child ends sees nearly all of its
// growth; rarely enough to cost the child nothing measurable.
const DWORD kSampleIntervalMs = 5;

class OwnedHandle {
public:
    explicit OwnedHandle(HANDLE handle) : m_handle(handle) {}
    ~OwnedHandle()
    {
        if (m_handle)
            CloseHandle(m_handle);
    }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;

    HANDLE Get() const { return m_handle; }

private:
    HANDLE m_handle;
};

uint64_t SystemTimeTicks()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

// The command line after this program's own name, which may be quoted; the child gets
// it byte for byte, so no quoting is lost by splitting and joining arguments.
char* ChildCommandLine()
{
    char* cursor = GetCommandLineA();
    if (*cursor == '"') {
        ++cursor;
        while (*cursor && *cursor != '"')
            ++cursor;
        if (*cursor == '"')
            ++cursor;
    } else {
        while (*cursor && *cursor != ' ' && *cursor != '\t')
            ++cursor;
    }
    while (*cursor == ' ' || *cursor == '\t')
        ++cursor;
    return cursor;
}

// The high-water marks of the child's working set and of its private memory, as the
// system reports them. The system keeps them only while the process exists, so they
// are sampled while the child runs.
struct MemoryPeaks {
    SIZE_T workingSet = 0;
    SIZE_T privateBytes = 0;
};

void SampleMemory(HANDLE process, MemoryPeaks& peaks)
{
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(process, &counters, sizeof counters))
        return;
    if (counters.PeakWorkingSetSize > peaks.workingSet)
        peaks.workingSet = counters.PeakWorkingSetSize;
    // The peak commit charge: the private bytes at their highest.
    if (counters.PeakPagefileUsage > peaks.privateBytes)
        peaks.privateBytes = counters.PeakPagefileUsage;
}

} // namespace

int main()
{
    char* commandLine = ChildCommandLine();
    if (*commandLine == '\0') {
        std::fprintf(stderr, "usage: kmbench-start COMMANDLINE...\n");
        return kExitFailed;
    }

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    uint64_t started = SystemTimeTicks();
    if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child)) {
        std::fprintf(stderr, "kmbench-start: cannot start %s (error %lu)\n", commandLine, GetLastError());
        return kExitFailed;
    }
    OwnedHandle process(child.hProcess);
    OwnedHandle thread(child.hThread);

    MemoryPeaks peaks;
    while (WaitForSingleObject(process.Get(), kSampleIntervalMs) == WAIT_TIMEOUT)
        SampleMemory(process.Get(), peaks);
    uint64_t ended = SystemTimeTicks();
    SampleMemory(process.Get(), peaks);

    DWORD exitCode = 0;
    GetExitCodeProcess(process.Get(), &exitCode);
    std::printf("started %llu ended %llu exit %lu peak_working_set %lu peak_private %lu\n",
                static_cast<unsigned long long>(started), static_cast<unsigned long long>(ended), exitCode,
                static_cast<unsigned long>(peaks.workingSet), static_cast<unsigned long>(peaks.privateBytes));
    return 0;
}
