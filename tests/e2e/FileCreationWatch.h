// A program run under the debug API and stopped at each of its CreateFileA calls and
// each creation of a folder (the system's NtCreateFile asked to create a directory,
// which CreateDirectoryA comes down to as well), so that a test can see what the program
// hands to them and act as another process would between two steps of the program: hold
// a file open, or put something in its way. The program waits while the hook runs.
#ifndef TESTS_E2E_FILECREATIONWATCH_H
#define TESTS_E2E_FILECREATIONWATCH_H

#include <functional>
#include <string>
#include <windows.h>

// One call the program is about to make.
struct CreationCall {
    bool folder = false;        // a folder's creation; otherwise CreateFileA
    std::string path;           // full for a folder
    bool hasDescriptor = false; // security attributes with a descriptor were passed
    std::string descriptor;     // that descriptor's owner and DACL in SDDL
};

// Called in the test's process for every call.
typedef std::function<void(const CreationCall& call)> CreationCallHook;

class FileCreationWatch {
public:
    explicit FileCreationWatch(CreationCallHook hook);
    FileCreationWatch(const FileCreationWatch&) = delete;
    FileCreationWatch& operator=(const FileCreationWatch&) = delete;

    // CreateProcessA with the program under this watch; the caller owns the handles.
    bool Start(const char* application, char* commandLine, const char* folder, PROCESS_INFORMATION& process);

    // Handles the program's debug events for at most milliseconds. True once it has ended.
    bool Pump(DWORD milliseconds);

    // How often the hook ran.
    int Calls() const { return calls; }

private:
    struct Target {
        BYTE* address;          // the same in every process of the session
        bool folder;            // NtCreateFile; otherwise CreateFileA
        BYTE originalByte;
    };
    static const int kTargets = 2;

    void Arm(Target& target, bool on);
    void ArmAll(bool on);
    void OnBreakpoint(Target& target, DWORD threadId);
    void OnSingleStep();
    // False when the call is none the hook is for (NtCreateFile opening something).
    bool ReadCall(const Target& target, DWORD stackPointer, CreationCall& call);
    std::string ReadDescriptor(DWORD address);

    CreationCallHook hook;
    Target targets[kTargets];
    HANDLE process = nullptr;
    bool armed = false;
    Target* stepping = nullptr;
    int calls = 0;
};

#endif
