// kmbench-desktop: keeps Wine's desktop process running while the benchmarks run.
//
// Under Wine the first window of a session starts the desktop process, which ends again
// soon after the last program with a window has gone; a launcher timed alone would pay
// that start (100 to 200 ms) at its splash's first paint on every run. On Windows the
// desktop is always there, so this program creates one window that is never shown,
// says "ready" and keeps the desktop alive until its standard input is closed.
//
// Usage: kmbench-desktop   (ends when standard input ends)
#include <cstdio>
#include <windows.h>

int main()
{
    HWND window = CreateWindowExA(0, "STATIC", "kmbench-desktop", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    if (!window) {
        std::fprintf(stderr, "kmbench-desktop: no window (error %lu)\n", GetLastError());
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);

    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    char buffer[64];
    DWORD read = 0;
    while (ReadFile(input, buffer, sizeof buffer, &read, nullptr) && read > 0) {
    }
    DestroyWindow(window);
    return 0;
}
