#include "platform/wtwin.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const int kMaxInsert = 99;

// Inserts read the caller's list in order of their numbers, one pointer-sized
// argument each, and may be repeated; so every value read is kept.
class InsertArguments {
public:
    explicit InsertArguments(va_list* list) : list_(list) {}

    uintptr_t Get(int number)
    {
        while (count_ < number)
            values_[count_++] = va_arg(*list_, uintptr_t);
        return values_[number - 1];
    }

private:
    va_list* list_;
    int count_ = 0;
    uintptr_t values_[kMaxInsert] = {};
};

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

template <typename T>
bool AppendFormatted(std::string& out, const std::string& directive, T value)
{
    const int length = std::snprintf(nullptr, 0, directive.c_str(), value);
    if (length < 0)
        return false;
    const size_t start = out.size();
    out.resize(start + static_cast<size_t>(length) + 1);
    std::snprintf(&out[start], static_cast<size_t>(length) + 1, directive.c_str(), value);
    out.resize(start + static_cast<size_t>(length));
    return true;
}

// Windows reads every integer insert as 32 bits, whatever the size modifier says;
// on a 64-bit host 'l' would mean 64, so it is dropped.
bool AppendInsert(std::string& out, const std::string& type, uintptr_t value)
{
    std::string directive = "%";
    for (char c : type) {
        if (c == '*')
            return false;
        if (c != 'l')
            directive += c;
    }
    switch (directive.back()) {
    case 's': {
        const char* text = reinterpret_cast<const char*>(value);
        return AppendFormatted(out, directive, text ? text : "(null)");
    }
    case 'd':
    case 'i':
    case 'c':
        return AppendFormatted(out, directive, static_cast<int>(static_cast<uint32_t>(value)));
    case 'u':
    case 'x':
    case 'X':
    case 'o':
        return AppendFormatted(out, directive, static_cast<uint32_t>(value));
    default:
        return false;
    }
}

bool FormatFromString(const char* source, va_list* list, std::string& out)
{
    InsertArguments arguments(list);
    for (const char* p = source; *p;) {
        const char c = *p++;
        if (c == '\r' || c == '\n') {
            // Any line break in the source comes out as CR LF.
            if (c == '\r' && *p == '\n')
                ++p;
            out += "\r\n";
            continue;
        }
        if (c != '%') {
            out += c;
            continue;
        }
        const char escape = *p++;
        if (escape == '\0')
            return false;
        if (escape == '0')
            return true;
        if (IsDigit(escape)) {
            int number = escape - '0';
            if (IsDigit(*p))
                number = number * 10 + (*p++ - '0');
            std::string type = "s";
            if (*p == '!') {
                const char* close = std::strchr(p + 1, '!');
                if (!close || close == p + 1)
                    return false;
                type.assign(p + 1, close);
                p = close + 1;
            }
            if (!list || !AppendInsert(out, type, arguments.Get(number)))
                return false;
            continue;
        }
        switch (escape) {
        case 'n': out += "\r\n"; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        default: out += escape; break;
        }
    }
    return true;
}

} // namespace

DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD /*messageId*/, DWORD /*languageId*/,
                     LPSTR buffer, DWORD /*size*/, va_list* arguments)
{
    const DWORD supported = FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ALLOCATE_BUFFER;
    if (!buffer)
        return 0;
    char** result = reinterpret_cast<char**>(buffer);
    *result = nullptr;
    if (flags != supported || !source)
        return 0;

    std::string text;
    if (!FormatFromString(static_cast<const char*>(source), arguments, text) || text.empty())
        return 0;
    char* block = static_cast<char*>(std::malloc(text.size() + 1));
    if (!block)
        return 0;
    std::memcpy(block, text.c_str(), text.size() + 1);
    *result = block;
    return static_cast<DWORD>(text.size());
}

HLOCAL LocalFree(HLOCAL block)
{
    std::free(block);
    return nullptr;
}
