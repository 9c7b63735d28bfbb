// A program without any defence against planted DLLs: it imports the multimedia library
// and loads the DLLs named on its command line by bare name, so the system looks in the
// program's folder first. It shows that a planted DLL is taken where the launcher must
// not take it. Exit code: how many of the named DLLs were loaded.
#include <windows.h>
#include <mmsystem.h>

int main(int argc, char** argv)
{
    // The call keeps the import, and the import alone loads winmm.dll at start.
    timeGetTime();
    int loaded = 0;
    for (int i = 1; i < argc; ++i)
        loaded += LoadLibraryA(argv[i]) != nullptr ? 1 : 0;
    return loaded;
}
