// Hands the launcher's cleanup script to cmd.exe, which outlives the setup program.
#ifndef DEMO_CLEANUP_LAUNCH_H
#define DEMO_CLEANUP_LAUNCH_H

#include <string>
#include <windows.h>

struct CleanupCommand {
    std::string commandLine; // for CreateProcess, cmd.exe's own path first
    std::string folder;      // where cmd.exe starts: the script's folder, or empty
};

// Builds `"<cmdExe>" /c ""<script file name>" <processId>"`, run in the script's folder.
CleanupCommand BuildCleanupCommand(const std::string& cmdExe, const std::string& script, DWORD processId);

// Starts the script through the system's cmd.exe with processId as its argument, with
// no console window, and does not wait. Returns 0 with cmd.exe's process id in
// cleanupProcessId, or the error of CreateProcess.
DWORD StartCleanup(const std::string& script, DWORD processId, DWORD& cleanupProcessId);

#endif
