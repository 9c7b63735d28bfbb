#include "string/WtString.h"

#include <climits>
#include <cstring>
#include <functional>
#include <new>
#include <utility>

namespace {

// The runtime's default locale: exactly these six bytes, nothing above 127.
bool IsWhitespace(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

struct IsWhitespaceTest {
    bool operator()(char c) const { return IsWhitespace(c); }
};

struct IsCharTest {
    char ch;
    bool operator()(char c) const { return c == ch; }
};

struct IsInSetTest {
    const char* set;
    bool operator()(char c) const { return c != '\0' && std::strchr(set, c) != nullptr; }
};

// Start of the run of matching characters that ends the zero-terminated view, or
// null when the view does not end in such a run.
template <typename Test>
char* FindTrailingRun(char* text, Test matches)
{
    char* run = nullptr;
    for (char* p = text; *p; ++p) {
        if (!matches(*p))
            run = nullptr;
        else if (!run)
            run = p;
    }
    return run;
}

template <typename Test>
int CountLeading(const char* text, Test matches)
{
    int count = 0;
    while (text[count] != '\0' && matches(text[count]))
        ++count;
    return count;
}

typedef const char* (*SubstringSearch)(const char* piece, const char* old);

const char* FindExact(const char* piece, const char* old)
{
    return std::strstr(piece, old);
}

// Case-blind search over ASCII letters, by way of upper-cased copies of both texts.
const char* FindIgnoringCase(const char* piece, const char* old)
{
    WtString upperPiece(piece);
    WtString upperOld(old);
    upperPiece.MakeUpper();
    upperOld.MakeUpper();
    const int at = upperPiece.Find(upperOld);
    return at < 0 ? nullptr : piece + at;
}

// Whether text lies in the string's own buffer (std::less orders any two pointers).
bool PointsInto(const WtString& s, const char* text)
{
    const char* begin = s;
    const char* end = begin + s.GetAllocLength();
    return text && !std::less<const char*>()(text, begin) && !std::less<const char*>()(end, text);
}

} // namespace

// ---- Case and order -------------------------------------------------------------------

void WtString::MakeUpper()
{
    CopyBeforeWrite();
    for (char* p = chars; *p; ++p) {
        if (*p >= 'a' && *p <= 'z')
            *p = static_cast<char>(*p - 'a' + 'A');
    }
}

void WtString::MakeLower()
{
    CopyBeforeWrite();
    for (char* p = chars; *p; ++p) {
        if (*p >= 'A' && *p <= 'Z')
            *p = static_cast<char>(*p - 'A' + 'a');
    }
}

void WtString::MakeReverse()
{
    CopyBeforeWrite();
    char* left = chars;
    char* right = chars + std::strlen(chars);
    while (right - left > 1)
        std::swap(*left++, *--right);
}

// ---- Trimming -------------------------------------------------------------------------

namespace {

template <typename Test>
void TrimTrailingRun(char* text, int& length, Test matches)
{
    if (char* run = FindTrailingRun(text, matches)) {
        *run = '\0';
        length = static_cast<int>(run - text);
    }
}

template <typename Test>
void TrimLeadingRun(char* text, int& length, Test matches)
{
    const int count = CountLeading(text, matches);
    if (count == 0)
        return;
    std::memmove(text, text + count, static_cast<size_t>(length - count) + 1);
    length -= count;
}

} // namespace

void WtString::TrimRight()
{
    CopyBeforeWrite();
    TrimTrailingRun(chars, GetData()->dataLength, IsWhitespaceTest());
}

void WtString::TrimRight(char ch)
{
    CopyBeforeWrite();
    TrimTrailingRun(chars, GetData()->dataLength, IsCharTest{ch});
}

void WtString::TrimRight(const char* set)
{
    CopyBeforeWrite();
    if (set && *set)
        TrimTrailingRun(chars, GetData()->dataLength, IsInSetTest{set});
}

void WtString::TrimLeft()
{
    CopyBeforeWrite();
    TrimLeadingRun(chars, GetData()->dataLength, IsWhitespaceTest());
}

void WtString::TrimLeft(char ch)
{
    CopyBeforeWrite();
    TrimLeadingRun(chars, GetData()->dataLength, IsCharTest{ch});
}

void WtString::TrimLeft(const char* set)
{
    if (!set || !*set)
        return;
    CopyBeforeWrite();
    TrimLeadingRun(chars, GetData()->dataLength, IsInSetTest{set});
}

// ---- Inserting, deleting and removing ----------------------------------------------------

int WtString::Insert(int index, char ch)
{
    CopyBeforeWrite();
    const int length = GetData()->dataLength;
    if (index < 0)
        index = 0;
    if (index > length)
        index = length;
    if (GetData()->allocLength < length + 1) {
        WtStringData* old = GetData();
        AllocBuffer(length + 1);
        std::memcpy(chars, old->data(), static_cast<size_t>(length) + 1);
        Release(old);
    }
    std::memmove(chars + index + 1, chars + index, static_cast<size_t>(length - index) + 1);
    chars[index] = ch;
    GetData()->dataLength = length + 1;
    return length + 1;
}

int WtString::Insert(int index, const char* text)
{
    if (index < 0)
        index = 0;
    const int insertLength = SafeStrlen(text);
    if (insertLength == 0)
        return GetData()->dataLength;

    // Guards inserting a piece of this string into itself: the move below would
    // shift it, and a new buffer would free it before it is copied.
    WtString ownPiece;
    if (PointsInto(*this, text)) {
        ownPiece = text;
        text = ownPiece;
    }

    CopyBeforeWrite();
    const int length = GetData()->dataLength;
    if (index > length)
        index = length;
    const int newLength = length + insertLength;
    if (GetData()->allocLength < newLength) {
        WtStringData* old = GetData();
        AllocBuffer(newLength);
        std::memcpy(chars, old->data(), static_cast<size_t>(length) + 1);
        Release(old);
    }
    std::memmove(chars + index + insertLength, chars + index,
                 static_cast<size_t>(length - index) + 1);
    std::memcpy(chars + index, text, static_cast<size_t>(insertLength));
    GetData()->dataLength = newLength;
    return newLength;
}

int WtString::Delete(int index, int count)
{
    const int length = GetData()->dataLength;
    if (index < 0)
        index = 0;
    if (count > 0 && index < length) {
        // Guards a count that runs past the end, which would move bytes from beyond the buffer.
        if (count > length - index)
            count = length - index;
        CopyBeforeWrite();
        const int tail = length - (index + count);
        std::memmove(chars + index, chars + index + count, static_cast<size_t>(tail) + 1);
        GetData()->dataLength = length - count;
    }
    return length;
}

int WtString::Remove(char ch)
{
    CopyBeforeWrite();
    const int length = GetData()->dataLength;
    int kept = 0;
    for (int i = 0; i < length; ++i) {
        if (chars[i] != ch)
            chars[kept++] = chars[i];
    }
    if (kept == length)
        return 0;
    chars[kept] = '\0';
    GetData()->dataLength = kept;
    return length - kept;
}

// ---- Replacing -------------------------------------------------------------------------

int WtString::Replace(char oldChar, char newChar)
{
    if (oldChar == newChar)
        return 0;
    CopyBeforeWrite();
    const int length = GetData()->dataLength;
    int count = 0;
    for (int i = 0; i < length; ++i) {
        if (chars[i] == oldChar) {
            chars[i] = newChar;
            ++count;
        }
    }
    return count;
}

namespace {

// Occurrences in every NUL-separated piece of the first length characters.
int CountOccurrences(const char* text, int length, const char* oldText, int oldLength,
                     SubstringSearch search)
{
    int count = 0;
    const char* end = text + length;
    for (const char* piece = text; piece < end; piece += std::strlen(piece) + 1) {
        while (const char* found = search(piece, oldText)) {
            ++count;
            piece = found + oldLength;
        }
    }
    return count;
}

int ReplaceOccurrences(WtString& s, const char* oldText, const char* newText,
                       SubstringSearch search)
{
    const int oldLength = oldText ? static_cast<int>(std::strlen(oldText)) : 0;
    if (oldLength == 0)
        return 0;
    // Guards texts taken from this string itself: the passes below move and may free
    // the characters they would be read from.
    WtString ownOld;
    WtString ownNew;
    if (PointsInto(s, oldText)) {
        ownOld = oldText;
        oldText = ownOld;
    }
    if (PointsInto(s, newText)) {
        ownNew = newText;
        newText = ownNew;
    }
    const int newLength = newText ? static_cast<int>(std::strlen(newText)) : 0;
    const int length = s.GetLength();
    const int count = CountOccurrences(s, length, oldText, oldLength, search);
    if (count == 0)
        return 0;

    const long long wanted = length + static_cast<long long>(newLength - oldLength) * count;
    // Guards a result too long for an int length, which would wrap to a small buffer.
    if (wanted > INT_MAX)
        throw std::bad_alloc();
    const int resultLength = static_cast<int>(wanted);

    // Detaches a shared buffer and grows a small one to exactly the result length.
    char* text = s.GetBuffer(resultLength);
    int current = length;
    // Bounded by the current length, not the old or the final one: guards growing in
    // place across embedded NULs, which would stop before the last pieces, and
    // shrinking, which would search stale bytes behind the text.
    for (char* piece = text; piece < text + current; piece += std::strlen(piece) + 1) {
        while (const char* found = search(piece, oldText)) {
            char* at = text + (found - text);  // the search takes and gives const
            const int tail = current - static_cast<int>(at - text) - oldLength;
            std::memmove(at + newLength, at + oldLength, static_cast<size_t>(tail));
            if (newLength > 0)
                std::memcpy(at, newText, static_cast<size_t>(newLength));
            current += newLength - oldLength;
            text[current] = '\0';
            piece = at + newLength;
        }
    }
    s.ReleaseBuffer(resultLength);
    return count;
}

} // namespace

int WtString::Replace(const char* oldText, const char* newText)
{
    return ReplaceOccurrences(*this, oldText, newText, FindExact);
}

int WtString::ReplaceNoCase(const char* oldText, const char* newText)
{
    return ReplaceOccurrences(*this, oldText, newText, FindIgnoringCase);
}
