#include "launcher/RunOutput.h"

#include <windows.h>

void RunOutput::RemoveAll(const char* scriptPath) const
{
    for (auto file = files.rbegin(); file != files.rend(); ++file)
        DeleteFileA(*file);
    for (const WtString& folder : folders)
        RemoveDirectoryA(folder);
    if (scriptPath && *scriptPath)
        DeleteFileA(scriptPath);
}
