// Stands in for the launcher as the module a client links against: an executable named
// ZIZeduz.exe that exports WtString exactly as the launcher does. It loads the client
// built for the MSVC ABI, runs its checks and reports each one.
#include <windows.h>

#include <cstdio>

namespace {

int g_passed;
int g_failed;

void Report(const char* check, int ok)
{
    std::printf("%s %s\n", ok ? "[ ok ]" : "[FAIL]", check);
    ++(ok ? g_passed : g_failed);
}

}  // namespace

int main(int argc, char** argv)
{
    const char* client = argc > 1 ? argv[1] : "abi_client.dll";
    HMODULE module = LoadLibraryA(client);
    if (!module) {
        std::printf("cannot load %s (error %lu)\n", client, GetLastError());
        return 2;
    }
    typedef void (*RunChecks)(void (*)(const char*, int));
    FARPROC entry = GetProcAddress(module, "km_abi_client_run");
    RunChecks run = reinterpret_cast<RunChecks>(reinterpret_cast<void*>(entry));
    if (!run) {
        std::printf("%s has no km_abi_client_run\n", client);
        return 2;
    }
    run(Report);
    std::printf("ABI checks: %d passed, %d failed\n", g_passed, g_failed);
    return g_failed == 0 && g_passed > 0 ? 0 : 1;
}
