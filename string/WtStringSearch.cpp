#include "string/WtString.h"

#include <cstring>

// ---- Searching ----------------------------------------------------------------------

int WtString::Find(char ch) const
{
    // Not Find(ch, 0): that finds nothing in an empty text, where NUL is at index 0.
    const char* found = std::strchr(chars, ch);
    return found ? static_cast<int>(found - chars) : -1;
}

int WtString::Find(char ch, int start) const
{
    // A negative start would search in front of the text.
    if (start < 0)
        start = 0;
    if (start >= GetData()->dataLength)
        return -1;
    const char* found = std::strchr(chars + start, ch);
    return found ? static_cast<int>(found - chars) : -1;
}

int WtString::Find(const char* text) const
{
    return Find(text, 0);
}

int WtString::Find(const char* text, int start) const
{
    // A negative start would search in front of the text; a null text is found nowhere.
    if (start < 0)
        start = 0;
    if (!text || start > GetData()->dataLength)
        return -1;
    const char* found = std::strstr(chars + start, text);
    return found ? static_cast<int>(found - chars) : -1;
}

int WtString::ReverseFind(char ch) const
{
    const char* found = std::strrchr(chars, ch);
    return found ? static_cast<int>(found - chars) : -1;
}

int WtString::FindOneOf(const char* set) const
{
    // A null set is an empty one.
    if (!set)
        return -1;
    const char* found = std::strpbrk(chars, set);
    return found ? static_cast<int>(found - chars) : -1;
}

// ---- Extraction ---------------------------------------------------------------------

void WtString::AllocCopy(WtString& target, int copyLength, int copyIndex, int extraLength) const
{
    const int length = copyLength + extraLength;
    if (length == 0) {
        target.Init();
        return;
    }
    target.AllocBuffer(length);
    if (copyLength > 0)
        std::memcpy(target.chars, chars + copyIndex, static_cast<size_t>(copyLength));
}

WtString WtString::Mid(int first) const
{
    // Clamped here, so that the count below cannot overflow.
    if (first < 0)
        first = 0;
    return Mid(first, GetData()->dataLength - first);
}

WtString WtString::Mid(int first, int count) const
{
    const int length = GetData()->dataLength;
    if (first < 0)
        first = 0;
    if (count < 0)
        count = 0;
    // Same as first + count > length, without the overflow.
    if (count > length - first)
        count = length - first;
    if (first > length)
        count = 0;
    WtString result;
    AllocCopy(result, count, first, 0);
    return result;
}

WtString WtString::Left(int count) const
{
    const int length = GetData()->dataLength;
    if (count < 0)
        count = 0;
    if (count > length)
        count = length;
    WtString result;
    AllocCopy(result, count, 0, 0);
    return result;
}

WtString WtString::Right(int count) const
{
    const int length = GetData()->dataLength;
    if (count < 0)
        count = 0;
    if (count > length)
        count = length;
    WtString result;
    AllocCopy(result, count, length - count, 0);
    return result;
}

WtString WtString::SpanIncluding(const char* set) const
{
    // A null set is an empty one.
    return Left(set ? static_cast<int>(std::strspn(chars, set)) : 0);
}

WtString WtString::SpanExcluding(const char* set) const
{
    return Left(static_cast<int>(std::strcspn(chars, set ? set : "")));
}
