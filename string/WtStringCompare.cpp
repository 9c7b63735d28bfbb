#include "string/WtString.h"

namespace {

unsigned char FoldAsciiCase(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

int CompareBytes(const char* left, const char* right, bool ignoreCase)
{
    const unsigned char* a = reinterpret_cast<const unsigned char*>(left);
    const unsigned char* b = reinterpret_cast<const unsigned char*>(right);
    for (;; ++a, ++b) {
        const unsigned char x = ignoreCase ? FoldAsciiCase(*a) : *a;
        const unsigned char y = ignoreCase ? FoldAsciiCase(*b) : *b;
        if (x != y)
            return x < y ? -1 : 1;
        if (x == 0)
            return 0;
    }
}

} // namespace

int WtString::Compare(const char* text) const
{
    return CompareBytes(chars, text, false);
}

int WtString::CompareNoCase(const char* text) const
{
    return CompareBytes(chars, text, true);
}

// The process never selects a locale, and in the "C" locale collation is plain byte
// order. The runtime's own functions are not used: some compare bytes above 127 as
// signed, which would order them differently from Compare.
int WtString::Collate(const char* text) const
{
    return Compare(text);
}

int WtString::CollateNoCase(const char* text) const
{
    return CompareNoCase(text);
}

bool operator==(const WtString& left, const WtString& right) { return left.Compare(right) == 0; }
bool operator==(const WtString& left, const char* right) { return left.Compare(right) == 0; }
bool operator==(const char* left, const WtString& right) { return right.Compare(left) == 0; }
bool operator!=(const WtString& left, const WtString& right) { return left.Compare(right) != 0; }
bool operator!=(const WtString& left, const char* right) { return left.Compare(right) != 0; }
bool operator!=(const char* left, const WtString& right) { return right.Compare(left) != 0; }
bool operator<(const WtString& left, const WtString& right) { return left.Compare(right) < 0; }
bool operator<(const WtString& left, const char* right) { return left.Compare(right) < 0; }
bool operator<(const char* left, const WtString& right) { return right.Compare(left) > 0; }
bool operator<=(const WtString& left, const WtString& right) { return left.Compare(right) <= 0; }
bool operator<=(const WtString& left, const char* right) { return left.Compare(right) <= 0; }
bool operator<=(const char* left, const WtString& right) { return right.Compare(left) >= 0; }
bool operator>(const WtString& left, const WtString& right) { return left.Compare(right) > 0; }
bool operator>(const WtString& left, const char* right) { return left.Compare(right) > 0; }
bool operator>(const char* left, const WtString& right) { return right.Compare(left) < 0; }
bool operator>=(const WtString& left, const WtString& right) { return left.Compare(right) >= 0; }
bool operator>=(const WtString& left, const char* right) { return left.Compare(right) >= 0; }
bool operator>=(const char* left, const WtString& right) { return right.Compare(left) <= 0; }
