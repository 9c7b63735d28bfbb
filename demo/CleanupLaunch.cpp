#include "demo/CleanupLaunch.h"

#include <vector>

CleanupCommand BuildCleanupCommand(const std::string& cmdExe, const std::string& script, DWORD processId)
{
    CleanupCommand command;
    std::string name = script;
    size_t slash = script.find_last_of('\\');
    if (slash != std::string::npos) {
        name = script.substr(slash + 1);
        command.folder = script.substr(0, slash);
        // The root keeps its backslash: "C:" alone means the drive's current folder.
        if (command.folder.size() == 2 && command.folder[1] == ':')
            command.folder += '\\';
    }
    // cmd /c keeps the quotes of its line only in narrow cases and otherwise strips
    // the first and the last one, so the quoted name is wrapped in one more pair. Starting in the
    // script's folder keeps the temporary path, which may hold % or !, out of cmd's
    // sight, and keeps cmd from holding the setup folder as its current directory.
    command.commandLine = "\"" + cmdExe + "\" /c \"\"" + name + "\" " + std::to_string(processId) + "\"";
    return command;
}

DWORD StartCleanup(const std::string& script, DWORD processId, DWORD& cleanupProcessId)
{
    cleanupProcessId = 0;
    char systemFolder[MAX_PATH];
    UINT length = GetSystemDirectoryA(systemFolder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return GetLastError();
    std::string cmdExe = std::string(systemFolder) + "\\cmd.exe";

    CleanupCommand command = BuildCleanupCommand(cmdExe, script, processId);
    std::vector<char> line(command.commandLine.begin(), command.commandLine.end());
    line.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(cmdExe.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        command.folder.empty() ? nullptr : command.folder.c_str(), &startup, &process))
        return GetLastError();
    cleanupProcessId = process.dwProcessId;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}
