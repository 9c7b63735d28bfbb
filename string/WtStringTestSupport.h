// Test-only access to a string's header and a count of global heap traffic.
#ifndef WTSTRINGTESTSUPPORT_H
#define WTSTRINGTESTSUPPORT_H

#include "string/WtString.h"

#include <cstddef>

// The header is protected; a derived class may name the member and apply it to
// any WtString.
struct WtStringPeek : WtString {
    static const WtStringData& Header(const WtString& s)
    {
        return *(s.*(&WtStringPeek::GetData))();
    }
};

inline LONG RefCount(const WtString& s)
{
    return WtStringPeek::Header(s).refCount;
}

// Counts global operator new/delete calls made after construction. The test
// executable replaces the global operators to feed it.
class HeapWatch {
public:
    HeapWatch();
    int Allocations() const;
    int Frees() const;
    // Size in bytes of the latest allocation since construction, 0 if none.
    size_t LastSize() const;

private:
    long newsAtStart_;
    long deletesAtStart_;
};

#endif // WTSTRINGTESTSUPPORT_H
