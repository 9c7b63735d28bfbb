// A program run under the debug API and stopped at each of its CreateFileA calls, so
// that a test can act as another process would between two steps of the program: hold a
// file open, or put a file in its way. The program waits while the hook runs.
#ifndef TESTS_E2E_FILECREATIONWATCH_H
#define TESTS_E2E_FILECREATIONWATCH_H

#include <functional>
#include <string>
#include <windows.h>

// Called in the test's process with the path the program is about to create or open.
typedef std::function<void(const std::string& path)> FileCreationHook;

class FileCreationWatch {
public:
    explicit FileCreationWatch(FileCreationHook hook);
    FileCreationWatch(const FileCreationWatch&) = delete;
    FileCreationWatch& operator=(const FileCreationWatch&) = delete;

    // CreateProcessA with the program under this watch; the caller owns the handles.
    bool Start(const char* application, char* commandLine, const char* folder, PROCESS_INFORMATION& process);

    // Handles the program's debug events for at most milliseconds. True once it has ended.
    bool Pump(DWORD milliseconds);

    // How often the hook ran.
    int Calls() const { return calls; }

private:
    void Arm(bool on);
    void OnBreakpoint(DWORD threadId);
    void OnSingleStep();

    FileCreationHook hook;
    BYTE* target;          // CreateFileA, at the same address in every process of the session
    HANDLE process = nullptr;
    BYTE originalByte = 0;
    bool armed = false;
    bool stepping = false;
    int calls = 0;
};

#endif
