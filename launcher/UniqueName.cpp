#include "launcher/UniqueName.h"

#include "launcher/MultimediaTimer.h"

#include <io.h>
#include <stdlib.h>

namespace {

const int kAccessExists = 0;

bool g_bRandomSeeded = false;

} // namespace

WtString MakeUniqueName(WtString pattern)
{
    WtString unused;
    return ClaimUniqueName(pattern, [](const WtString&) { return true; }, unused);
}

WtString ClaimUniqueName(const WtString& pattern, const std::function<bool(const WtString&)>& create,
                         WtString& lastRefused)
{
    // One sequence for the whole process, so that the script and the setup folder do
    // not probe the same numbers.
    if (!g_bRandomSeeded) {
        srand(TimerMilliseconds());
        g_bRandomSeeded = true;
    }

    lastRefused = WtString();
    WtString candidate;
    for (int attempt = 0; attempt < kUniqueNameAttempts; ++attempt) {
        candidate.Format(pattern, attempt == 0 ? 0 : rand());
        if (_access(candidate, kAccessExists) == 0)
            continue;
        if (create(candidate))
            return candidate;
        // Something the probe cannot see holds the name; the next number is drawn.
        lastRefused = candidate;
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
