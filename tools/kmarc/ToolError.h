// The one way a kmarc command fails: a one-line message and the exit code that the
// help text documents for it.
#ifndef KMARC_TOOL_ERROR_H
#define KMARC_TOOL_ERROR_H

#include <string>

enum ExitCode {
    kExitSuccess = 0,
    kExitDamaged = 1,      // the archive, or an entry in it, is damaged
    kExitUsage = 2,        // the command line is wrong
    kExitFileSystem = 3,   // a file or folder could not be read or written
    kExitNotPackable = 4,  // a file cannot go into an archive
    kExitNotLauncher = 5,  // embed: the launcher is not one it can write into
};

struct ToolError {
    ExitCode exitCode;
    std::string message;
};

#endif
