// Where the launcher's DLLs come from. It runs elevated from a downloads folder, where
// anybody may have left a DLL named like one of the system's. So the executable imports
// only DLLs that the system always takes from its own folder, and loads every other one
// at run time from the system folder by its full path.
#ifndef LAUNCHER_SYSTEMLIBRARIES_H
#define LAUNCHER_SYSTEMLIBRARIES_H

#include <windows.h>

// Restricts the search of every later DLL load in the process, including the imports
// that the system's own DLLs resolve then, to the system folder. Uses
// SetDefaultDllDirectories, looked up at run time; where the system lacks it, at least
// takes the current directory out of the search. Returns true when the search was
// restricted to the system folder. Call it first thing at start.
bool RestrictDllSearchToSystem();

// Loads the DLL fileName (a bare name such as "winmm.dll") from the system folder and
// from nowhere else. Null when it cannot be loaded there. The module is never freed.
HMODULE LoadSystemLibrary(const char* fileName);

#endif // LAUNCHER_SYSTEMLIBRARIES_H
