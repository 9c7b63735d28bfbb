#include "demo/SetupCommandLine.h"

#include <cstring>

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool SameKey(const std::string& key, const char* expected)
{
    if (key.size() != std::strlen(expected))
        return false;
    for (size_t i = 0; i < key.size(); ++i) {
        char a = key[i], b = expected[i];
        if (a >= 'A' && a <= 'Z')
            a = static_cast<char>(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z')
            b = static_cast<char>(b - 'A' + 'a');
        if (a != b)
            return false;
    }
    return true;
}

} // namespace

const char* SkipProgramName(const char* commandLine)
{
    const char* p = commandLine;
    if (*p == '"') {
        ++p;
        while (*p && *p != '"')
            ++p;
        if (*p == '"')
            ++p;
    } else {
        while (*p && !IsBlank(*p))
            ++p;
    }
    while (IsBlank(*p))
        ++p;
    return p;
}

bool ParseSetupCommandLine(const char* arguments, SetupCommandLine& out)
{
    out = SetupCommandLine();
    const char* p = arguments;
    for (;;) {
        while (IsBlank(*p))
            ++p;
        if (!*p)
            return false; // ended before CleanUp

        // The launcher quotes paths but never escapes them; Windows file names cannot
        // hold a quote, so the next quote always closes the value.
        std::string key, value;
        bool inValue = false;
        while (*p && (!IsBlank(*p))) {
            if (!inValue && *p == '=') {
                inValue = true;
                ++p;
                continue;
            }
            if (*p == '"') {
                const char* close = std::strchr(p + 1, '"');
                if (!close)
                    return false;
                (inValue ? value : key).append(p + 1, close);
                p = close + 1;
                continue;
            }
            (inValue ? value : key) += *p++;
        }
        out.settings.emplace_back(key, value);

        if (SameKey(key, "ResourceFile"))
            out.resourceFile = value;
        if (SameKey(key, "CleanUp")) {
            out.cleanUp = value;
            // The launcher's own arguments follow after exactly one blank, and any
            // further blanks belong to them.
            if (IsBlank(*p))
                ++p;
            out.passedArguments = p;
            return !out.resourceFile.empty() && !out.cleanUp.empty();
        }
    }
}
