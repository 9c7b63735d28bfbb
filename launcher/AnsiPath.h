// Paths for the ANSI calls that the launcher, the cleanup script and the setup program's
// command line use. A user whose name has characters outside the ANSI code page gets a
// temporary folder and a downloads folder whose ANSI form holds question marks instead,
// and names nothing.
#ifndef LAUNCHER_ANSIPATH_H
#define LAUNCHER_ANSIPATH_H

#include <windows.h>

// The path in the ANSI code page when every character has its own place there: true
// with the zero-terminated result in buffer (size bytes). False when a character would
// be replaced or approximated, or the result does not fit.
bool ToExactAnsi(const wchar_t* path, char* buffer, DWORD size);

// path (which must exist) in a form that the ANSI calls reach: as it is when ToExactAnsi
// takes it, otherwise its short form. False when neither works; buffer is then
// unchanged.
bool ToUsableAnsiPath(const wchar_t* path, char* buffer, DWORD size);

// GetTempPathA, with the short form where the long one cannot be written in ANSI.
// Returns the length, 0 when the system delivers no path (as GetTempPathA does).
DWORD GetUsableTempPath(char* buffer, DWORD size);

// GetModuleFileNameA for module, with the short form where the long one cannot be
// written in ANSI. Returns the length, 0 on failure.
DWORD GetUsableModulePath(HMODULE module, char* buffer, DWORD size);

#endif // LAUNCHER_ANSIPATH_H
