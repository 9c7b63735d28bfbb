#include "string/WtString.h"

#include "string/WtStringCounts.h"
#include "string/WtStringMessage.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

// Item lengths the estimate assumes, per conversion.
const long long kAlternateFormExtra = 2;  // "0x" and the like
const long long kCharItem = 2;
const long long kNullTextItem = 6;        // "(null)"
const long long kMinTextItem = 1;
const long long kIntegerItem = 32;
const long long kFloatItem = 128;

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Saturates instead of overflowing on absurdly long digit runs.
long long ReadNumber(const char*& p)
{
    long long value = 0;
    for (; IsDigit(*p); ++p) {
        if (value <= INT_MAX)
            value = value * 10 + (*p - '0');
    }
    return value;
}

long long Min(long long a, long long b) { return a < b ? a : b; }
long long Max(long long a, long long b) { return a > b ? a : b; }

// The length FormatV reserves before it formats. Conversions the walk does not
// know may take arguments of any size, so from the first of them on it no longer
// reads (or follows) arguments: the measured length covers the rest.
long long EstimateFormattedLength(const char* format, va_list args)
{
    long long total = 0;
    bool argumentsInStep = true;
    const char* p = format;
    while (*p) {
        if (*p != '%') {
            ++total;
            ++p;
            continue;
        }
        ++p;
        if (*p == '%') {
            ++total;
            ++p;
            continue;
        }

        long long width = 0;
        for (; *p; ++p) {
            if (*p == '#')
                total += kAlternateFormExtra;
            else if (*p == '*')
                width = argumentsInStep ? va_arg(args, int) : 0;
            else if (*p != '-' && *p != '+' && *p != '0' && *p != ' ')
                break;
        }
        if (width == 0)
            width = ReadNumber(p);

        long long precision = 0;
        if (*p == '.') {
            ++p;
            if (*p == '*') {
                precision = argumentsInStep ? va_arg(args, int) : 0;
                ++p;
            } else {
                precision = ReadNumber(p);
            }
        }

        if (*p == 'h' || *p == 'l' || *p == 'F' || *p == 'N' || *p == 'L')
            ++p;

        long long item = 0;
        switch (*p) {
        case '\0':
            return total;
        case 'c':
        case 's':
            if (*p == 'c') {
                if (argumentsInStep)
                    va_arg(args, int);
                item = kCharItem;
            } else if (!argumentsInStep) {
                item = kMinTextItem;
            } else if (const char* text = va_arg(args, const char*)) {
                item = Max(static_cast<long long>(std::strlen(text)), kMinTextItem);
            } else {
                item = kNullTextItem;
            }
            if (precision != 0)
                item = Min(item, precision);
            item = Max(item, width);
            break;
        case 'd':
        case 'i':
        case 'o':
        case 'u':
        case 'x':
        case 'X':
            if (argumentsInStep)
                va_arg(args, int);
            item = Max(kIntegerItem, width + precision);
            break;
        case 'p':
            if (argumentsInStep)
                va_arg(args, void*);
            item = Max(kIntegerItem, width + precision);
            break;
        case 'e':
        case 'f':
        case 'g':
        case 'G':
            if (argumentsInStep)
                va_arg(args, double);
            item = Max(kFloatItem, width + precision);
            break;
        case 'n':
            if (argumentsInStep)
                va_arg(args, int*);
            break;
        default:
            argumentsInStep = false;
            break;
        }
        total += item;
        ++p;
    }
    return total;
}

// Formatting goes through the platform's own runtime in both directions, so that
// modules built with another compiler get the formats they expect (on Windows
// "%I64d", a long double that is a double, three-digit exponents).
int MeasureFormatted(const char* format, va_list args)
{
#ifdef _WIN32
    return _vscprintf(format, args);
#else
    return std::vsnprintf(nullptr, 0, format, args);
#endif
}

void WriteFormatted(char* buffer, size_t size, const char* format, va_list args)
{
#ifdef _WIN32
    _vsnprintf(buffer, size, format, args);
#else
    std::vsnprintf(buffer, size, format, args);
#endif
    // The Windows one leaves a text that fills the buffer unterminated.
    buffer[size - 1] = '\0';
}

// A block from the system's FormatMessageA, freed on every way out.
class LocalText {
public:
    LocalText() = default;
    LocalText(const LocalText&) = delete;
    LocalText& operator=(const LocalText&) = delete;
    ~LocalText()
    {
        if (text_)
            LocalFree(text_);
    }

    char** Receiver() { return &text_; }
    const char* Get() const { return text_; }

private:
    char* text_ = nullptr;
};

} // namespace

void WtString::FormatV(const char* format, va_list args)
{
    va_list walk;
    va_copy(walk, args);
    const long long estimate = EstimateFormattedLength(format, walk);
    va_end(walk);

    va_list measure;
    va_copy(measure, args);
    const int measured = MeasureFormatted(format, measure);
    va_end(measure);

    // Guards formats longer than the estimate (conversions it does not know, 64-bit
    // and wide arguments, negative widths, long %f): the buffer is made as long as the
    // text really is, and the write below is bounded by it all the same.
    const long long room = Min(Max(estimate, measured), INT_MAX);
    char* buffer = GetBuffer(static_cast<int>(room));
    if (GetData()->refCount == kEmptyRecordCount)
        return;
    WriteFormatted(buffer, static_cast<size_t>(GetData()->allocLength) + 1, format, args);
    ReleaseBuffer(-1);
}

void WtString::Format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    FormatV(format, args);
    va_end(args);
}

void FormatMessageFromList(WtString& target, const char* format, va_list* args)
{
    LocalText message;
    const DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                                          format, 0, 0, reinterpret_cast<LPSTR>(message.Receiver()),
                                          0, args);
    if (length == 0 || !message.Get())
        throw WtFormatMessageError();
    target = message.Get();
}

void WtString::FormatMessageA(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    try {
        FormatMessageFromList(*this, format, &args);
    } catch (...) {
        va_end(args);
        throw;
    }
    va_end(args);
}

// ---- Character sets ---------------------------------------------------------------------

void WtString::CharToOemA()
{
    CopyBeforeWrite();
    // An empty view converts to itself; skipping it keeps the empty record unwritten.
    if (*chars)
        ::CharToOemA(chars, chars);
}

void WtString::OemToCharA()
{
    CopyBeforeWrite();
    if (*chars)
        ::OemToCharA(chars, chars);
}

WtString::operator const unsigned short*()
{
    const int length = GetData()->dataLength;
    const int offset = (length + 2) & ~1;
    // Guards texts so long that three times the offset would not fit an int length.
    if (offset > INT_MAX / 3)
        throw std::bad_alloc();
    char* buffer = GetBuffer(3 * offset);
    unsigned short* wide = reinterpret_cast<unsigned short*>(buffer + offset);
    for (int i = 0;; ++i) {
        const unsigned char byte = static_cast<unsigned char>(buffer[i]);
        wide[i] = byte;
        if (byte == 0)
            break;
    }
    ReleaseBuffer(-1);
    return wide;
}
