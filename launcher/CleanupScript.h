// The lines of the cleanup script: the batch file that the setup program runs, with the
// id of its own process as argument, to remove everything the launcher unpacked.
//
// Every line ends with a carriage return and a line feed. cmd.exe reads a batch file in
// the OEM code page, so a path goes in as OemScriptPath gives it; then as it is, unless it
// holds a blank or a character that cmd.exe treats specially, when it is enclosed in
// double quotes with its percent signs doubled (see QuoteBatchPath).
#ifndef LAUNCHER_CLEANUPSCRIPT_H
#define LAUNCHER_CLEANUPSCRIPT_H

#include "stream/WtStream.h"
#include "string/WtString.h"

// path as one batch-file word: unchanged when it holds none of the blank and
// & | < > ^ ( ) ; , = % !, otherwise "path" with every % doubled.
WtString QuoteBatchPath(const char* path);

// path (ANSI code page) as cmd.exe must read it from the script: converted to the OEM code
// page when every character has an exact OEM form; otherwise the short form of the
// longest leading part that exists, followed by the rest. Empty when neither is exact.
WtString OemScriptPath(const char* path);

// The opening: "cd \" and, unless setupFolder (with its trailing backslash) already
// holds lingerx.exe, the line that runs lingerx from setupFolder with the script's
// first argument, so that nothing is deleted while the setup program still runs.
WtString ScriptOpening(const char* setupFolder);

// "del path": one per extracted file, and the script's own last line. Empty (no line)
// when OemScriptPath finds no form of path that cmd.exe reads as the same path.
WtString ScriptDeletionLine(const char* path);

// "rmdir path": one per folder the run created, newest first. Empty as above.
WtString ScriptRemovalLine(const char* path);

// Writes line with its exact length and no terminating zero. The writer's exceptions
// pass out unchanged.
void WriteScriptLine(WtWriter& script, const WtString& line);

#endif // LAUNCHER_CLEANUPSCRIPT_H
