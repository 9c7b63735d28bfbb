// Test-only access to a string's header, and a count of global heap traffic.
#ifndef WTSTRINGTESTSUPPORT_H
#define WTSTRINGTESTSUPPORT_H

#include "string/WtString.h"

#include <cstddef>
#include <string>

// The header is protected; a derived class may name the member and apply it to
// any WtString.
struct WtStringPeek : WtString {
    static const WtStringData& Header(const WtString& s) { return *(s.*(&WtStringPeek::GetData))(); }
};

inline LONG RefCount(const WtString& s)
{
    return WtStringPeek::Header(s).refCount;
}

// All dataLength bytes, embedded NULs included.
inline std::string Bytes(const WtString& s)
{
    return std::string(static_cast<const char*>(s), static_cast<size_t>(s.GetLength()));
}

// Global operator new/delete calls since construction (the test executable
// replaces both operators to count them). Read the counts before any check:
// the test framework allocates too.
class HeapWatch {
public:
    HeapWatch();
    int Allocations() const;
    int Frees() const;
    size_t LastSize() const;  // bytes of the latest allocation, 0 if none

private:
    long newsAtStart_;
    long deletesAtStart_;
};

#endif // WTSTRINGTESTSUPPORT_H
