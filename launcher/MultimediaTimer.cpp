#include "launcher/MultimediaTimer.h"

#include "launcher/SystemLibraries.h"

namespace {

typedef DWORD(WINAPI* TimeGetTimeFunction)();

TimeGetTimeFunction LookUpTimeGetTime()
{
    HMODULE multimedia = LoadSystemLibrary("winmm.dll");
    if (!multimedia)
        return nullptr;
    return reinterpret_cast<TimeGetTimeFunction>(
        reinterpret_cast<void*>(GetProcAddress(multimedia, "timeGetTime")));
}

} // namespace

DWORD TimerMilliseconds()
{
    static const TimeGetTimeFunction timeGetTime = LookUpTimeGetTime();
    return timeGetTime ? timeGetTime() : GetTickCount();
}
