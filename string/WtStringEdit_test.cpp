#include "string/WtString.h"
#include "string/WtStringTestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

std::string Bytes(const WtString& s)
{
    return std::string(static_cast<const char*>(s), static_cast<size_t>(s.GetLength()));
}

WtString Make(const std::string& bytes)
{
    return WtString(bytes.data(), static_cast<int>(bytes.size()));
}

struct EditCase {
    const char* what;
    std::string before;
    std::function<int(WtString&)> edit;  // returns the member's result, or 0
    std::string after;
    int result;
};

void RunEdits(const EditCase* cases, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        const EditCase& c = cases[i];
        SCOPED_TRACE(c.what);
        WtString s = Make(c.before);
        const WtString otherOwner(s);
        EXPECT_EQ(c.edit(s), c.result);
        EXPECT_EQ(Bytes(s), c.after);
        EXPECT_EQ(static_cast<const char*>(s)[s.GetLength()], '\0');
        EXPECT_EQ(Bytes(otherOwner), c.before);  // the shared buffer was not written
    }
}

TEST(WtStringEdit, CaseReverseAndTrimSeeTheTerminatedView)
{
    const EditCase cases[] = {
        {"upper", std::string("aB\xE9z\0q", 6), [](WtString& s) { s.MakeUpper(); return 0; },
         std::string("AB\xE9Z\0q", 6), 0},
        {"lower", "A\xC9z", [](WtString& s) { s.MakeLower(); return 0; }, "a\xC9z", 0},
        {"reverse", std::string("abc\0de", 6), [](WtString& s) { s.MakeReverse(); return 0; },
         std::string("cba\0de", 6), 0},
        {"trim right", "ab \t\n", [](WtString& s) { s.TrimRight(); return s.GetLength(); }, "ab", 2},
        {"trim right inner", "a b", [](WtString& s) { s.TrimRight(); return 0; }, "a b", 0},
        {"trim left", "\r\n x", [](WtString& s) { s.TrimLeft(); return 0; }, "x", 0},
        {"0xA0 is no space", "\xA0x\xA0", [](WtString& s) { s.TrimLeft(); s.TrimRight(); return 0; },
         "\xA0x\xA0", 0},
        {"trim left keeps tail NULs", std::string("  a\0b", 5), [](WtString& s) { s.TrimLeft(); return 0; },
         std::string("a\0b", 3), 0},
        {"trim left char", "aab", [](WtString& s) { s.TrimLeft('a'); return 0; }, "b", 0},
        {"trim left NUL", std::string("\0a", 2), [](WtString& s) { s.TrimLeft('\0'); return 0; },
         std::string("\0a", 2), 0},
        {"trim right char", "abbb", [](WtString& s) { s.TrimRight('b'); return 0; }, "a", 0},
        {"trim right set", "abyx", [](WtString& s) { s.TrimRight("xy"); return 0; }, "ab", 0},
        {"trim left set", "yxab", [](WtString& s) { s.TrimLeft("xy"); return 0; }, "ab", 0},
        {"trim everything", "   ", [](WtString& s) { s.TrimRight(); return s.GetLength(); }, "", 0},
    };
    RunEdits(cases, sizeof cases / sizeof cases[0]);
}

TEST(WtStringEdit, TrimsDetachExceptLeftWithEmptySet)
{
    struct Case {
        const char* what;
        std::function<void(WtString&)> trim;
        bool detaches;
    };
    const Case cases[] = {
        {"TrimLeft()", [](WtString& s) { s.TrimLeft(); }, true},
        {"TrimRight()", [](WtString& s) { s.TrimRight(); }, true},
        {"TrimLeft(char)", [](WtString& s) { s.TrimLeft('q'); }, true},
        {"TrimRight(char)", [](WtString& s) { s.TrimRight('q'); }, true},
        {"TrimRight(\"\")", [](WtString& s) { s.TrimRight(""); }, true},
        {"TrimLeft(\"q\")", [](WtString& s) { s.TrimLeft("q"); }, true},
        {"TrimLeft(\"\")", [](WtString& s) { s.TrimLeft(""); }, false},
        {"TrimLeft(null)", [](WtString& s) { s.TrimLeft(static_cast<const char*>(nullptr)); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WtString s("text");
        const WtString other(s);
        c.trim(s);
        EXPECT_EQ(RefCount(other), c.detaches ? 1 : 2);
        EXPECT_EQ(Bytes(s), "text");
    }
}

TEST(WtStringEdit, InsertDeleteRemove)
{
    const EditCase cases[] = {
        {"insert char beyond end", "ab", [](WtString& s) { return s.Insert(10, 'x'); }, "abx", 3},
        {"insert char at front", "ab", [](WtString& s) { return s.Insert(-1, 'x'); }, "xab", 3},
        {"insert text before start", "ab", [](WtString& s) { return s.Insert(-5, "zz"); }, "zzab", 4},
        {"insert text inside", std::string("a\0b", 3), [](WtString& s) { return s.Insert(2, "zz"); },
         std::string("a\0zzb", 5), 5},
        {"insert empty text", "ab", [](WtString& s) { return s.Insert(1, ""); }, "ab", 2},
        {"insert own text", "abc", [](WtString& s) { return s.Insert(1, s); }, "aabcbc", 6},
        {"delete middle", "abcd", [](WtString& s) { return s.Delete(1, 2); }, "ad", 4},
        {"delete at end", "abcd", [](WtString& s) { return s.Delete(4, 1); }, "abcd", 4},
        {"delete past end", "abcd", [](WtString& s) { return s.Delete(2, 100); }, "ab", 4},
        {"delete nothing", "abcd", [](WtString& s) { return s.Delete(1, 0); }, "abcd", 4},
        {"remove char", "hello", [](WtString& s) { return s.Remove('l'); }, "heo", 2},
        {"remove NULs", std::string("a\0b\0", 4), [](WtString& s) { return s.Remove('\0'); }, "ab", 2},
        {"remove absent", "abc", [](WtString& s) { return s.Remove('x'); }, "abc", 0},
    };
    RunEdits(cases, sizeof cases / sizeof cases[0]);
}

TEST(WtStringEdit, InsertGrowsToExactlyTheNewLength)
{
    WtString s("ab");
    s.Insert(1, "xyz");
    EXPECT_EQ(s.GetAllocLength(), 5);
    s.Delete(0, 3);
    s.Insert(0, 'q');  // fits in the room Delete left
    EXPECT_EQ(Bytes(s), "qzb");
    EXPECT_EQ(s.GetAllocLength(), 5);
}

TEST(WtStringEdit, ReplaceTable)
{
    const EditCase cases[] = {
        {"char by itself", "aa", [](WtString& s) { return s.Replace('a', 'a'); }, "aa", 0},
        {"char over NULs", std::string("b\0b", 3), [](WtString& s) { return s.Replace('b', 'x'); },
         std::string("x\0x", 3), 2},
        {"char by NUL", "aba", [](WtString& s) { return s.Replace('a', '\0'); }, std::string("\0b\0", 3), 2},
        {"grow", "abab", [](WtString& s) { return s.Replace("ab", "xyz"); }, "xyzxyz", 2},
        {"no overlap", "aaa", [](WtString& s) { return s.Replace("aa", "b"); }, "ba", 1},
        {"empty old", "abc", [](WtString& s) { return s.Replace("", "x"); }, "abc", 0},
        {"null new", "a-b-c", [](WtString& s) { return s.Replace("-", nullptr); }, "abc", 2},
        {"absent", "abc", [](WtString& s) { return s.Replace("x", "y"); }, "abc", 0},
        {"over NULs", std::string("ab\0ab", 5), [](WtString& s) { return s.Replace("ab", "x"); },
         std::string("x\0x", 3), 2},
        {"grow over NULs", std::string("a\0a\0a", 5), [](WtString& s) { return s.Replace("a", "xyz"); },
         std::string("xyz\0xyz\0xyz", 11), 3},
        {"not rescanned", "aa", [](WtString& s) { return s.Replace("a", "aa"); }, "aaaa", 2},
        {"own text as new", "a-b", [](WtString& s) { return s.Replace("-", s); }, "aa-bb", 1},
        {"no case", "aBcAb", [](WtString& s) { return s.ReplaceNoCase("AB", "x"); }, "xcx", 2},
        {"no case inserts as given", "abAB", [](WtString& s) { return s.ReplaceNoCase("ab", "Qq"); },
         "QqQq", 2},
        {"no case over NULs", std::string("A\0a", 3), [](WtString& s) { return s.ReplaceNoCase("a", "bb"); },
         std::string("bb\0bb", 5), 2},
        {"no case only ASCII", "\xC9", [](WtString& s) { return s.ReplaceNoCase("\xE9", "x"); }, "\xC9", 0},
    };
    RunEdits(cases, sizeof cases / sizeof cases[0]);
}

// Growing in place across embedded NULs must reach every piece and leave a
// terminated text of exactly the new length.
TEST(WtStringEdit, ReplaceGrowingInPlaceAcrossNuls)
{
    WtString s("a\0a", 3);
    char* room = s.GetBuffer(16);
    EXPECT_EQ(s.Replace("a", "xyz"), 2);
    EXPECT_EQ(static_cast<const char*>(s), room);
    EXPECT_EQ(Bytes(s), std::string("xyz\0xyz", 7));
    EXPECT_EQ(room[7], '\0');

    WtString shrinking("abab\0ab", 7);
    shrinking.GetBuffer(16);
    EXPECT_EQ(shrinking.Replace("ab", ""), 3);
    EXPECT_EQ(Bytes(shrinking), std::string("\0", 1));
}

// Unshared, so growing frees the very buffer the argument points into.
TEST(WtStringEdit, OwnTextAsArgumentOfAnUnsharedString)
{
    WtString inserted("abc");
    EXPECT_EQ(inserted.Insert(1, inserted), 6);
    EXPECT_EQ(Bytes(inserted), "aabcbc");

    WtString replaced("a-b");
    EXPECT_EQ(replaced.Replace("-", replaced), 1);
    EXPECT_EQ(Bytes(replaced), "aa-bb");

    WtString tail("xxab");
    EXPECT_EQ(tail.Replace(static_cast<const char*>(tail) + 2, "c"), 1);
    EXPECT_EQ(Bytes(tail), "xxc");
}

TEST(WtStringEdit, ReplaceWithoutOccurrenceDoesNotDetach)
{
    WtString s("abc");
    const WtString other(s);
    s.Replace("x", "y");
    s.ReplaceNoCase("X", "y");
    s.Replace('q', 'q');
    EXPECT_EQ(RefCount(other), 2);
    s.Replace('q', 'r');  // detaches even without an occurrence
    EXPECT_EQ(RefCount(other), 1);
}

} // namespace
