#include "string/WtString.h"
#include "string/WtStringCounts.h"
#include "string/WtStringTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

void ExpectEmptyRecord(const WtString& s)
{
    const WtStringData& header = WtStringPeek::Header(s);
    EXPECT_EQ(header.refCount, kEmptyRecordCount);
    EXPECT_EQ(header.dataLength, 0);
    EXPECT_EQ(header.allocLength, 0);
    EXPECT_STREQ(static_cast<const char*>(s), "");
}

TEST(WtStringEmpty, EveryEmptyFormIsTheStaticRecordWithoutHeap)
{
    const std::vector<std::function<WtString()>> makers = {
        [] { return WtString(); }, [] { return WtString(static_cast<const char*>(nullptr)); },
        [] { return WtString(""); }, [] { return WtString('x', 0); }, [] { return WtString("abc", 0); },
        [] { return WtString("abc", -3); },  // a negative length is not an allocation size
        [] { return WtString(reinterpret_cast<const unsigned char*>("")); },
        [] { return WtString() + WtString(); }, [] { return WtString(WtGetEmptyString()); },
    };
    for (size_t i = 0; i < makers.size(); ++i) {
        SCOPED_TRACE(i);
        HeapWatch heap;
        ExpectEmptyRecord(makers[i]());
        EXPECT_EQ(heap.Allocations(), 0);
    }
}

// The record is shared by every empty string: operations that would only write a
// zero length or a terminator must leave it alone, and none may touch the heap.
TEST(WtStringEmpty, OperationsOnTheEmptyRecordNeverWriteOrFreeIt)
{
    const std::vector<std::function<void(WtString&)>> operations = {
        [](WtString& s) { s.LockBuffer(); },           [](WtString& s) { s.UnlockBuffer(); },
        [](WtString& s) { s.Empty(); },                [](WtString& s) { s.FreeExtra(); },
        [](WtString& s) { s.ReleaseBuffer(-1); },      [](WtString& s) { s.GetBufferSetLength(0); },
        [](WtString& s) { s = ""; },                   [](WtString& s) { s = WtString(); },
        [](WtString& s) { s += ""; },                  [](WtString& s) { s += WtString(); },
        [](WtString& s) { s.MakeUpper(); },            [](WtString& s) { s.TrimLeft(); },
        [](WtString& s) { s.TrimRight(); },            [](WtString& s) { s.Remove('x'); },
        [](WtString& s) { s.CharToOemA(); },           [](WtString& s) { s.Format(""); },
    };
    for (size_t i = 0; i < operations.size(); ++i) {
        SCOPED_TRACE(i);
        WtString s;
        HeapWatch heap;
        operations[i](s);
        const int allocations = heap.Allocations();
        ExpectEmptyRecord(s);
        ExpectEmptyRecord(WtGetEmptyString());
        EXPECT_EQ(allocations, 0);
    }
}

TEST(WtStringBuffer, ConstructionAllocatesExactlyTheLength)
{
    const WtString ab("ab");
    const WtString fix("fix");
    const std::vector<std::pair<std::function<WtString()>, std::string>> cases = {
        {[] { return WtString("abc"); }, "abc"},
        {[] { return WtString('x', 4); }, "xxxx"},
        {[] { return WtString("a\0b", 3); }, std::string("a\0b", 3)},
        {[&] { return ab + 'c'; }, "abc"},
        {[] { return 'x' + WtString(); }, "x"},
        {[&] { return "pre" + fix; }, "prefix"},
        {[&] { return ab + fix; }, "abfix"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.second);
        HeapWatch heap;
        const WtString s = c.first();
        const int allocations = heap.Allocations();
        const size_t size = heap.LastSize();
        EXPECT_EQ(allocations, 1);
        EXPECT_EQ(size, sizeof(WtStringData) + c.second.size() + 1);
        EXPECT_EQ(Bytes(s), c.second);
        EXPECT_EQ(s.GetAllocLength(), static_cast<int>(c.second.size()));
        EXPECT_EQ(RefCount(s), 1);
    }
    EXPECT_EQ(RefCount(ab), 1);  // operands are neither shared nor changed
    EXPECT_EQ(Bytes(fix), "fix");
}

TEST(WtStringSharing, CopiesShareUntilOneWritesAndFreeOnce)
{
    HeapWatch heap;
    {
        WtString a("hello");
        WtString b(a);
        WtString c;
        c = b;
        EXPECT_EQ(static_cast<const char*>(c), static_cast<const char*>(a));
        EXPECT_EQ(RefCount(a), 3);
        c.SetAt(0, 'j');
        EXPECT_EQ(Bytes(c), "jello");
        EXPECT_EQ(RefCount(a), 2);

        const WtString& same = b;
        b = same;
        a = WtString(b);
        EXPECT_EQ(RefCount(a), 2);

        b = "";  // shared: the empty record, the other owner untouched
        ExpectEmptyRecord(b);
        EXPECT_EQ(RefCount(a), 1);
        const char* buffer = a;
        a = "";  // unshared: the buffer is kept for later assignments
        a = "xyz";
        EXPECT_EQ(static_cast<const char*>(a), buffer);
        EXPECT_EQ(a.GetAllocLength(), 5);
        a = WtString();
        ExpectEmptyRecord(a);
    }
    EXPECT_EQ(heap.Frees(), heap.Allocations());
}

TEST(WtStringLock, LockedBufferIsNeverShared)
{
    HeapWatch heap;
    {
        WtString locked("a\0bc", 4);
        char* p = locked.LockBuffer();
        const WtString copy(locked);
        EXPECT_NE(static_cast<const char*>(copy), p);
        EXPECT_EQ(Bytes(copy), "a");  // copying a locked string stops at its first NUL
        EXPECT_EQ(RefCount(locked), kLockedCount);

        WtString assigned;
        assigned = locked;
        EXPECT_EQ(Bytes(assigned), std::string("a\0bc", 4));
        EXPECT_EQ(RefCount(assigned), 1);

        locked = "0123";  // fits: stays in place and locked
        locked = static_cast<const char*>(locked) + 2;
        EXPECT_EQ(Bytes(locked), "23");
        EXPECT_EQ(static_cast<const char*>(locked), p);
        locked.Empty();
        EXPECT_EQ(static_cast<const char*>(locked), p);
        EXPECT_EQ(RefCount(locked), kLockedCount);

        locked += "grows beyond";  // a new buffer ends the lock
        EXPECT_EQ(RefCount(locked), 1);
        locked.LockBuffer();
        locked.UnlockBuffer();
        const WtString sharer(locked);
        EXPECT_EQ(RefCount(locked), 2);
        locked.UnlockBuffer();
        EXPECT_EQ(RefCount(locked), 2);
    }
    EXPECT_EQ(heap.Frees(), heap.Allocations());
}

TEST(WtStringBuffer, GetBufferReleaseBufferAndFreeExtra)
{
    WtString s;
    char* p = s.GetBuffer(10);
    EXPECT_EQ(s.GetAllocLength(), 10);
    EXPECT_EQ(s.GetLength(), 0);
    std::strcpy(p, "abc");
    s.ReleaseBuffer(-1);
    EXPECT_EQ(Bytes(s), "abc");
    s.ReleaseBuffer(2);
    EXPECT_EQ(Bytes(s), "ab");
    EXPECT_EQ(s.GetBuffer(5), p);  // unshared and large enough

    const WtString sharer(s);
    EXPECT_NE(s.GetBuffer(1), p);
    EXPECT_EQ(s.GetAllocLength(), 2);  // the larger of request and length
    EXPECT_EQ(RefCount(sharer), 1);

    WtString roomy;
    std::strcpy(roomy.GetBuffer(100), "abc");
    roomy.ReleaseBuffer(-1);
    HeapWatch heap;
    roomy.FreeExtra();
    const size_t size = heap.LastSize();
    EXPECT_EQ(size, sizeof(WtStringData) + 4);
    EXPECT_EQ(Bytes(roomy), "abc");
    EXPECT_EQ(roomy.GetBufferSetLength(0), static_cast<const char*>(roomy));
    roomy.FreeExtra();
    ExpectEmptyRecord(roomy);
}

TEST(WtStringConcat, AppendingGrowsExactlyOrInPlace)
{
    WtString s("ab");
    s += s;
    EXPECT_EQ(Bytes(s), "abab");
    EXPECT_EQ(s.GetAllocLength(), 4);
    s += '\0';
    EXPECT_EQ(Bytes(s), std::string("abab\0", 5));

    HeapWatch heap;
    s += static_cast<const char*>(nullptr);
    WtString looped;
    for (int i = 0; i < 4; ++i)
        looped += 'x';
    const int allocations = heap.Allocations();
    EXPECT_EQ(allocations, 4);  // no growth factor: one exact buffer per append

    WtString reserved("ab");
    reserved.GetBuffer(16);
    HeapWatch inPlace;
    reserved += reserved;
    reserved += "cd";
    const int inPlaceAllocations = inPlace.Allocations();
    EXPECT_EQ(inPlaceAllocations, 0);
    EXPECT_EQ(Bytes(reserved), "ababcd");
}

TEST(WtStringCompare, ByteOrderAndAsciiFolding)
{
    struct Case {
        const char* left;
        const char* right;
        int compare;
        int noCase;
    };
    const Case cases[] = {
        {"abc", "abc", 0, 0},     {"abc", "ABC", 1, 0},   {"_", "A", 1, -1},
        {"\xC4", "\xE4", -1, -1}, {"\x80", "a", 1, 1},    {"ab", "abc", -1, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.left) + " vs " + c.right);
        const WtString s(c.left);
        EXPECT_EQ(s.Compare(c.right), c.compare);
        EXPECT_EQ(s.CompareNoCase(c.right), c.noCase);
        EXPECT_EQ(s.Collate(c.right), c.compare);
        EXPECT_EQ(s.CollateNoCase(c.right), c.noCase);
    }

    const WtString withNul("a\0b", 3);
    const WtString a("a");
    const WtString b("b");
    EXPECT_TRUE(withNul == a);  // the text ends at the first NUL
    EXPECT_FALSE("b" < a);
    EXPECT_TRUE("a" < b && "a" <= a && "b" > a && "b" >= b && "a" != b && a == "a");
    EXPECT_TRUE(a < b && a <= "a" && b > "a" && b >= a && a != "b" && "a" == a);
}

} // namespace
