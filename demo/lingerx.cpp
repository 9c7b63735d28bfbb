// Waits until a process has ended, so that a cleanup script can delete the program that
// started it. Usage: lingerx <process id> [<bound in milliseconds>]
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <windows.h>

namespace {

const int kExitEnded = 0;      // the process has ended, or there is no such process
const int kExitStillRunning = 1;
const int kExitUsage = 2;
const int kExitCannotWatch = 3; // the process exists but may not be waited for

// A setup program that hangs must not keep the cleanup waiting for good.
const DWORD kDefaultBoundMilliseconds = 30000;

bool ParseNumber(const char* text, DWORD& value)
{
    if (!text || !*text || std::strlen(text) > 10 || std::strspn(text, "0123456789") != std::strlen(text))
        return false;
    unsigned long long number = std::strtoull(text, nullptr, 10);
    if (number > 0xFFFFFFFFull)
        return false;
    value = static_cast<DWORD>(number);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    DWORD processId = 0;
    DWORD bound = kDefaultBoundMilliseconds;
    if (argc < 2 || argc > 3 || !ParseNumber(argv[1], processId) || (argc == 3 && !ParseNumber(argv[2], bound)))
        return kExitUsage;

    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
    if (!process)
        return GetLastError() == ERROR_INVALID_PARAMETER ? kExitEnded : kExitCannotWatch;
    DWORD result = WaitForSingleObject(process, bound);
    CloseHandle(process);
    return result == WAIT_OBJECT_0 ? kExitEnded : kExitStillRunning;
}
