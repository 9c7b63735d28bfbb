#include "launcher/UniqueName.h"

#include <io.h>
#include <stdlib.h>
#include <windows.h>
#include <mmsystem.h>

namespace {

const int kAccessExists = 0;

bool g_bRandomSeeded = false;

} // namespace

WtString MakeUniqueName(WtString pattern)
{
    // One sequence for the whole process, so that the script and the setup folder do
    // not probe the same numbers.
    if (!g_bRandomSeeded) {
        srand(timeGetTime());
        g_bRandomSeeded = true;
    }

    WtString candidate;
    for (int attempt = 0; attempt < kUniqueNameAttempts; ++attempt) {
        candidate.Format(pattern, attempt == 0 ? 0 : rand());
        if (_access(candidate, kAccessExists) != 0)
            return candidate;
    }
    return WtString();
}

WtString EscapeForFormat(const char* text)
{
    WtString escaped;
    for (const char* p = text; *p; ++p) {
        if (*p == '%')
            escaped += '%';
        escaped += *p;
    }
    return escaped;
}
