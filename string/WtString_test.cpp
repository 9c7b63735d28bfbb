#include "string/WtString.h"
#include "string/WtStringCounts.h"
#include "string/WtStringTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

namespace {

const size_t kHeaderSize = sizeof(WtStringData);

std::string Bytes(const WtString& s)
{
    return std::string(static_cast<const char*>(s), static_cast<size_t>(s.GetLength()));
}

void ExpectEmptyRecord(const WtString& s)
{
    const WtStringData& header = WtStringPeek::Header(s);
    EXPECT_EQ(header.refCount, kEmptyRecordCount);
    EXPECT_EQ(header.dataLength, 0);
    EXPECT_EQ(header.allocLength, 0);
    ASSERT_NE(static_cast<const char*>(s), nullptr);
    EXPECT_EQ(static_cast<const char*>(s)[0], '\0');
}

TEST(WtStringEmpty, EveryEmptyFormIsTheStaticRecordWithoutHeap)
{
    const unsigned char noBytes[] = {0};
    const std::function<WtString()> makers[] = {
        [] { return WtString(); },
        [] { return WtString(static_cast<const char*>(nullptr)); },
        [] { return WtString(""); },
        [] { return WtString('x', 0); },
        [] { return WtString('x', -4); },
        [] { return WtString("abc", 0); },
        [] { return WtString("abc", -3); },  // a negative length is not an allocation size
        [&] { return WtString(noBytes); },
        [] { return WtString() + WtString(); },
        [] { return WtString(WtGetEmptyString()); },
    };
    for (size_t i = 0; i < sizeof makers / sizeof makers[0]; ++i) {
        SCOPED_TRACE(i);
        HeapWatch heap;
        {
            const WtString s = makers[i]();
            ExpectEmptyRecord(s);
            EXPECT_TRUE(s.IsEmpty());
        }
        EXPECT_EQ(heap.Allocations(), 0);
        EXPECT_EQ(heap.Frees(), 0);
    }
}

// Every operation that only writes a zero length or a terminator must leave the
// shared empty record as it is, and none may touch the heap.
TEST(WtStringEmpty, OperationsOnTheEmptyRecordNeverWriteOrFreeIt)
{
    const std::function<void(WtString&)> operations[] = {
        [](WtString& s) { s.LockBuffer(); },
        [](WtString& s) { s.UnlockBuffer(); },
        [](WtString& s) { s.Empty(); },
        [](WtString& s) { s.FreeExtra(); },
        [](WtString& s) { s.GetBuffer(0); s.ReleaseBuffer(-1); },
        [](WtString& s) { s.ReleaseBuffer(0); },
        [](WtString& s) { s.GetBufferSetLength(0); },
        [](WtString& s) { s = ""; },
        [](WtString& s) { s = WtString(); },
        [](WtString& s) { s += ""; },
        [](WtString& s) { s += static_cast<const char*>(nullptr); },
        [](WtString& s) { s += WtString(); },
    };
    for (size_t i = 0; i < sizeof operations / sizeof operations[0]; ++i) {
        SCOPED_TRACE(i);
        HeapWatch heap;
        WtString s;
        operations[i](s);
        ExpectEmptyRecord(s);
        ExpectEmptyRecord(WtGetEmptyString());
        EXPECT_EQ(heap.Allocations(), 0);
    }
}

TEST(WtStringBuffer, ConstructionAllocatesExactlyTheLength)
{
    struct Case {
        std::function<WtString()> make;
        std::string text;
    };
    const WtString ab("ab");
    const WtString fix("fix");
    const Case cases[] = {
        {[] { return WtString("abc"); }, "abc"},
        {[] { return WtString('x', 4); }, "xxxx"},
        {[] { return WtString("a\0b", 3); }, std::string("a\0b", 3)},
        {[] { return WtString(reinterpret_cast<const unsigned char*>("\xE9t\xE9")); }, "\xE9t\xE9"},
        {[&] { return ab + 'c'; }, "abc"},
        {[] { return 'x' + WtString(); }, "x"},
        {[&] { return "pre" + fix; }, "prefix"},
        {[&] { return ab + fix; }, "abfix"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        HeapWatch heap;
        const WtString s = c.make();
        const int allocations = heap.Allocations();
        const size_t size = heap.LastSize();
        EXPECT_EQ(allocations, 1);
        EXPECT_EQ(size, kHeaderSize + c.text.size() + 1);
        EXPECT_EQ(Bytes(s), c.text);
        EXPECT_EQ(s.GetAllocLength(), static_cast<int>(c.text.size()));
        EXPECT_EQ(RefCount(s), 1);
    }
}

TEST(WtStringSharing, CopiesShareUntilOneWrites)
{
    HeapWatch heap;
    {
        WtString a("hello");
        WtString b(a);
        WtString c;
        c = b;
        EXPECT_EQ(static_cast<const char*>(b), static_cast<const char*>(a));
        EXPECT_EQ(static_cast<const char*>(c), static_cast<const char*>(a));
        EXPECT_EQ(RefCount(a), 3);
        EXPECT_EQ(heap.Allocations(), 1);

        c.SetAt(0, 'j');
        EXPECT_EQ(Bytes(c), "jello");
        EXPECT_EQ(Bytes(a), "hello");
        EXPECT_EQ(RefCount(a), 2);
        EXPECT_EQ(RefCount(c), 1);

        const WtString& sameObject = b;
        b = sameObject;
        a = WtString(b);  // a copy of itself
        EXPECT_EQ(RefCount(a), 2);
    }
    EXPECT_EQ(heap.Frees(), heap.Allocations());
}

TEST(WtStringSharing, AssigningTextOrEmptyString)
{
    WtString owned("12345");
    const char* buffer = owned;
    owned = "";
    EXPECT_EQ(static_cast<const char*>(owned), buffer);  // unshared buffer is reused
    EXPECT_EQ(owned.GetLength(), 0);
    EXPECT_EQ(owned.GetAllocLength(), 5);

    owned = "xyz";
    EXPECT_EQ(static_cast<const char*>(owned), buffer);
    EXPECT_EQ(owned.GetAllocLength(), 5);

    HeapWatch heap;
    owned = WtString();
    ExpectEmptyRecord(owned);
    EXPECT_EQ(heap.Frees(), 1);

    WtString shared("12345");
    WtString other(shared);
    shared = "";
    ExpectEmptyRecord(shared);
    EXPECT_EQ(Bytes(other), "12345");
    EXPECT_EQ(RefCount(other), 1);
}

TEST(WtStringLock, LockedBufferIsNeverShared)
{
    HeapWatch heap;
    {
        WtString locked("abc");
        char* p = locked.LockBuffer();
        EXPECT_EQ(RefCount(locked), kLockedCount);

        WtString copy(locked);
        WtString assigned;
        assigned = locked;
        EXPECT_NE(static_cast<const char*>(copy), p);
        EXPECT_NE(static_cast<const char*>(assigned), p);
        EXPECT_EQ(Bytes(copy), "abc");
        EXPECT_EQ(Bytes(assigned), "abc");
        EXPECT_EQ(RefCount(locked), kLockedCount);

        locked = copy;  // copied into the locked buffer, which stays locked
        EXPECT_EQ(static_cast<const char*>(locked), p);
        EXPECT_EQ(RefCount(locked), kLockedCount);
        EXPECT_EQ(RefCount(copy), 1);

        locked.Empty();
        EXPECT_EQ(static_cast<const char*>(locked), p);
        EXPECT_EQ(locked.GetLength(), 0);
        EXPECT_EQ(RefCount(locked), kLockedCount);

        locked.UnlockBuffer();
        EXPECT_EQ(RefCount(locked), 1);
        locked = "abc";
        WtString sharer(locked);
        EXPECT_EQ(RefCount(locked), 2);
        locked.UnlockBuffer();
        EXPECT_EQ(RefCount(locked), 2);
    }
    EXPECT_EQ(heap.Frees(), heap.Allocations());
}

TEST(WtStringLock, CopyOfLockedStringStopsAtFirstNul)
{
    WtString locked("a\0bc", 4);
    locked.LockBuffer();
    const WtString copy(locked);
    EXPECT_EQ(Bytes(copy), "a");
}

TEST(WtStringLock, GrowingALockedBufferEndsTheLock)
{
    HeapWatch heap;
    {
        WtString s("ab");
        s.LockBuffer();
        s += "cdef";
        EXPECT_EQ(Bytes(s), "abcdef");
        EXPECT_EQ(RefCount(s), 1);
    }
    EXPECT_EQ(heap.Frees(), heap.Allocations());
}

TEST(WtStringLock, AssigningOwnTailMovesWithinTheBuffer)
{
    WtString s("0123456789");
    s.LockBuffer();
    const char* buffer = s;
    s = buffer + 2;
    EXPECT_EQ(Bytes(s), "23456789");
    EXPECT_EQ(static_cast<const char*>(s), buffer);
}

TEST(WtStringBuffer, GetBufferDetachesOrReusesAsNeeded)
{
    WtString empty;
    char* p = empty.GetBuffer(10);
    EXPECT_EQ(empty.GetAllocLength(), 10);
    EXPECT_EQ(empty.GetLength(), 0);
    EXPECT_EQ(p[0], '\0');

    std::strcpy(p, "abc");
    empty.ReleaseBuffer(-1);
    EXPECT_EQ(Bytes(empty), "abc");
    empty.ReleaseBuffer(2);
    EXPECT_EQ(Bytes(empty), "ab");

    WtString owned("abcdefgh");
    const char* before = owned;
    EXPECT_EQ(owned.GetBuffer(5), before);

    WtString shared(owned);
    char* detached = shared.GetBuffer(5);
    EXPECT_NE(detached, before);
    EXPECT_EQ(shared.GetAllocLength(), 8);
    EXPECT_EQ(Bytes(shared), "abcdefgh");
    EXPECT_EQ(RefCount(owned), 1);

    char* set = owned.GetBufferSetLength(3);
    EXPECT_EQ(set, before);
    EXPECT_EQ(Bytes(owned), "abc");
    EXPECT_EQ(owned.GetAllocLength(), 8);
}

TEST(WtStringBuffer, FreeExtraShrinksToExactFit)
{
    WtString s;
    std::strcpy(s.GetBuffer(100), "abc");
    s.ReleaseBuffer(-1);
    HeapWatch heap;
    s.FreeExtra();
    EXPECT_EQ(s.GetAllocLength(), 3);
    EXPECT_EQ(Bytes(s), "abc");
    EXPECT_EQ(heap.LastSize(), kHeaderSize + 4);

    s.GetBufferSetLength(0);
    s.FreeExtra();
    ExpectEmptyRecord(s);
    EXPECT_EQ(heap.Frees(), 2);

    WtString shared("xyz");
    shared.GetBuffer(8);
    WtString copy(shared);  // shares the roomy buffer
    copy.FreeExtra();
    EXPECT_EQ(RefCount(copy), 1);
    EXPECT_EQ(RefCount(shared), 1);
    EXPECT_EQ(Bytes(copy), "xyz");
}

TEST(WtStringConcat, AppendingGrowsExactlyOrInPlace)
{
    WtString s("ab");
    s += s;
    EXPECT_EQ(Bytes(s), "abab");
    EXPECT_EQ(s.GetAllocLength(), 4);

    s += '\0';
    EXPECT_EQ(s.GetLength(), 5);
    EXPECT_EQ(Bytes(s), std::string("abab\0", 5));

    HeapWatch heap;
    s += "";
    s += static_cast<const char*>(nullptr);
    EXPECT_EQ(s.GetLength(), 5);
    EXPECT_EQ(heap.Allocations(), 0);

    WtString looped;
    for (int i = 0; i < 4; ++i)
        looped += 'x';
    EXPECT_EQ(heap.Allocations(), 4);

    WtString reserved("ab");
    reserved.GetBuffer(16);
    HeapWatch inPlace;
    reserved += reserved;
    reserved += "cd";
    EXPECT_EQ(Bytes(reserved), "ababcd");
    EXPECT_EQ(inPlace.Allocations(), 0);
}

TEST(WtStringConcat, OperandsStayUnsharedAndUnchanged)
{
    const WtString left("ab");
    const WtString right("cd");
    const WtString both = left + right;
    EXPECT_EQ(Bytes(both), "abcd");
    EXPECT_EQ(RefCount(left), 1);
    EXPECT_EQ(RefCount(right), 1);
    EXPECT_EQ(Bytes(left + ""), "ab");
    EXPECT_EQ(RefCount(left), 1);
}

TEST(WtStringCompare, ComparisonTable)
{
    struct Case {
        const char* left;
        const char* right;
        int compare;
        int noCase;
    };
    const Case cases[] = {
        {"abc", "abc", 0, 0},
        {"abc", "ABC", 1, 0},
        {"_", "A", 1, -1},  // letters fold to lower case
        {"\xC4", "\xE4", -1, -1},  // only ASCII folds
        {"\x80", "a", 1, 1},  // bytes compare unsigned
        {"ab", "abc", -1, -1},
        {"", "", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.left) + " vs " + c.right);
        const WtString s(c.left);
        EXPECT_EQ(s.Compare(c.right), c.compare);
        EXPECT_EQ(s.CompareNoCase(c.right), c.noCase);
        EXPECT_EQ(s.Collate(c.right), c.compare);
        EXPECT_EQ(s.CollateNoCase(c.right), c.noCase);
    }
}

TEST(WtStringCompare, EmbeddedNulEndsTheComparedText)
{
    const WtString s("a\0b", 3);
    EXPECT_EQ(s.GetLength(), 3);
    EXPECT_EQ(s.Compare("a"), 0);
    EXPECT_TRUE(s == "a");
    EXPECT_TRUE(s == WtString("a\0c", 3));
}

TEST(WtStringCompare, RelationalOperatorsWithTextOnEitherSide)
{
    const WtString a("a");
    const WtString b("b");
    EXPECT_FALSE("b" < a);
    EXPECT_TRUE("a" < b);
    EXPECT_TRUE("a" <= a);
    EXPECT_TRUE("b" > a);
    EXPECT_FALSE("a" >= b);
    EXPECT_TRUE("a" != b);
    EXPECT_TRUE("a" == a);
    EXPECT_TRUE(a < b);
    EXPECT_TRUE(a < "b");
    EXPECT_TRUE(b >= "b");
    EXPECT_FALSE(a > b);
    EXPECT_TRUE(b > "a");
    EXPECT_TRUE(a <= "a");
    EXPECT_TRUE(a != "b");
}

TEST(WtStringAccess, IndexesAndSetAtMakeEmbeddedNul)
{
    WtString s("abc");
    EXPECT_EQ(s[1], 'b');
    EXPECT_EQ(s.GetAt(3), '\0');
    s.SetAt(1, '\0');
    EXPECT_EQ(s.GetLength(), 3);
    EXPECT_STREQ(static_cast<const char*>(s), "a");
}

} // namespace
