#include "string/WtString.h"
#include "string/WtStringTestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

struct EditCase {
    const char* what;
    std::string before;
    std::function<int(WtString&)> edit;  // the member's result, or 0 for void members
    std::string after;
    int result;
};

// Each edit runs on a shared string, which must be detached before it is written.
void RunEdits(std::initializer_list<EditCase> cases)
{
    for (const EditCase& c : cases) {
        SCOPED_TRACE(c.what);
        WtString s(c.before.data(), static_cast<int>(c.before.size()));
        const WtString otherOwner(s);
        EXPECT_EQ(c.edit(s), c.result);
        EXPECT_EQ(Bytes(s), c.after);
        EXPECT_EQ(static_cast<const char*>(s)[s.GetLength()], '\0');
        EXPECT_EQ(Bytes(otherOwner), c.before);
    }
}

TEST(WtStringEdit, CaseReverseAndTrimSeeTheTerminatedView)
{
    RunEdits({
        {"upper", std::string("aB\xE9z\0q", 6), [](WtString& s) { s.MakeUpper(); return 0; },
         std::string("AB\xE9Z\0q", 6), 0},
        {"reverse", std::string("abc\0de", 6), [](WtString& s) { s.MakeReverse(); return 0; },
         std::string("cba\0de", 6), 0},
        {"trim right", "ab \t\n", [](WtString& s) { s.TrimRight(); return 0; }, "ab", 0},
        {"trim left", "\r\n x", [](WtString& s) { s.TrimLeft(); return 0; }, "x", 0},
        {"0xA0 is no space", "\xA0x", [](WtString& s) { s.TrimLeft(); return 0; }, "\xA0x", 0},
        {"trim left keeps tail", std::string("  a\0b", 5), [](WtString& s) { s.TrimLeft(); return 0; },
         std::string("a\0b", 3), 0},
        {"trim left char", "aab", [](WtString& s) { s.TrimLeft('a'); return 0; }, "b", 0},
        {"trim left NUL", std::string("\0a", 2), [](WtString& s) { s.TrimLeft('\0'); return 0; },
         std::string("\0a", 2), 0},
        {"trim right set", "abyx", [](WtString& s) { s.TrimRight("xy"); return 0; }, "ab", 0},
    });
}

TEST(WtStringEdit, TrimsDetachExceptLeftWithEmptySet)
{
    const struct {
        const char* what;
        std::function<void(WtString&)> trim;
        LONG sharersLeft;
    } cases[] = {
        {"TrimLeft()", [](WtString& s) { s.TrimLeft(); }, 1},
        {"TrimRight(char)", [](WtString& s) { s.TrimRight('q'); }, 1},
        {"TrimRight(\"\")", [](WtString& s) { s.TrimRight(""); }, 1},
        {"TrimLeft(\"\")", [](WtString& s) { s.TrimLeft(""); }, 2},
        {"TrimLeft(null)", [](WtString& s) { s.TrimLeft(static_cast<const char*>(nullptr)); }, 2},
    };
    for (const auto& c : cases) {
        WtString s("text");
        const WtString other(s);
        c.trim(s);
        EXPECT_EQ(RefCount(other), c.sharersLeft) << c.what;
    }
}

TEST(WtStringEdit, InsertDeleteRemove)
{
    RunEdits({
        {"insert char beyond end", "ab", [](WtString& s) { return s.Insert(10, 'x'); }, "abx", 3},
        {"insert text before start", "ab", [](WtString& s) { return s.Insert(-5, "zz"); }, "zzab", 4},
        {"insert over NUL", std::string("a\0b", 3), [](WtString& s) { return s.Insert(2, "zz"); },
         std::string("a\0zzb", 5), 5},
        {"insert empty", "ab", [](WtString& s) { return s.Insert(1, ""); }, "ab", 2},
        {"delete returns old length", "abcd", [](WtString& s) { return s.Delete(1, 2); }, "ad", 4},
        {"delete at end", "abcd", [](WtString& s) { return s.Delete(4, 1); }, "abcd", 4},
        {"delete past end", "abcd", [](WtString& s) { return s.Delete(2, 100); }, "ab", 4},
        {"remove", "hello", [](WtString& s) { return s.Remove('l'); }, "heo", 2},
        {"remove NULs", std::string("a\0b\0", 4), [](WtString& s) { return s.Remove('\0'); }, "ab", 2},
    });
}

TEST(WtStringEdit, ReplaceTable)
{
    RunEdits({
        {"char over NULs", std::string("b\0b", 3), [](WtString& s) { return s.Replace('b', 'x'); },
         std::string("x\0x", 3), 2},
        {"char by NUL", "aba", [](WtString& s) { return s.Replace('a', '\0'); }, std::string("\0b\0", 3), 2},
        {"grow", "abab", [](WtString& s) { return s.Replace("ab", "xyz"); }, "xyzxyz", 2},
        {"no overlap", "aaa", [](WtString& s) { return s.Replace("aa", "b"); }, "ba", 1},
        {"empty old", "abc", [](WtString& s) { return s.Replace("", "x"); }, "abc", 0},
        {"null new", "a-b-c", [](WtString& s) { return s.Replace("-", nullptr); }, "abc", 2},
        {"over NULs", std::string("ab\0ab", 5), [](WtString& s) { return s.Replace("ab", "x"); },
         std::string("x\0x", 3), 2},
        {"not rescanned", "aa", [](WtString& s) { return s.Replace("a", "aa"); }, "aaaa", 2},
        {"no case", "aBcAb", [](WtString& s) { return s.ReplaceNoCase("AB", "x"); }, "xcx", 2},
        {"no case inserts as given", "abAB", [](WtString& s) { return s.ReplaceNoCase("ab", "Qq"); }, "QqQq", 2},
        {"no case over NULs", std::string("A\0a", 3), [](WtString& s) { return s.ReplaceNoCase("a", "bb"); },
         std::string("bb\0bb", 5), 2},
        {"no case only ASCII", "\xC9", [](WtString& s) { return s.ReplaceNoCase("\xE9", "x"); }, "\xC9", 0},
    });
}

// In place (the room was reserved), across embedded NULs: every piece must be
// reached and the text must end, terminated, at exactly the new length.
TEST(WtStringEdit, ReplaceInPlaceAcrossNuls)
{
    WtString growing("a\0a", 3);
    char* room = growing.GetBuffer(16);
    EXPECT_EQ(growing.Replace("a", "xyz"), 2);
    EXPECT_EQ(static_cast<const char*>(growing), room);
    EXPECT_EQ(Bytes(growing), std::string("xyz\0xyz", 7));
    EXPECT_EQ(room[7], '\0');

    WtString shrinking("abab\0ab", 7);
    shrinking.GetBuffer(16);
    EXPECT_EQ(shrinking.Replace("ab", ""), 3);
    EXPECT_EQ(Bytes(shrinking), std::string("\0", 1));
}

// Unshared, so growing frees the very buffer the argument points into.
TEST(WtStringEdit, OwnTextAsArgument)
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

TEST(WtStringEdit, WhatDoesNotChangeDoesNotDetachOrGrow)
{
    WtString s("abc");
    const WtString other(s);
    s.Replace("x", "y");
    s.ReplaceNoCase("X", "y");
    s.Replace('q', 'q');
    s.Insert(0, "");
    EXPECT_EQ(RefCount(other), 2);
    s.Replace('q', 'r');  // detaches even without an occurrence
    EXPECT_EQ(RefCount(other), 1);

    s.Insert(1, "xyz");
    EXPECT_EQ(s.GetAllocLength(), 6);
    s.Delete(0, 3);
    s.Insert(0, 'q');
    EXPECT_EQ(Bytes(s), "qzbc");
    EXPECT_EQ(s.GetAllocLength(), 6);
}

} // namespace
