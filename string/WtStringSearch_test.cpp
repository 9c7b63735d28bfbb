#include "string/WtString.h"
#include "string/WtStringTestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>

namespace {

std::string Bytes(const WtString& s)
{
    return std::string(static_cast<const char*>(s), static_cast<size_t>(s.GetLength()));
}

TEST(WtStringSearch, FindTable)
{
    const WtString abcb("abcb");
    const WtString withNul("a\0b", 3);
    struct Case {
        const char* what;
        int found;
        int expected;
    };
    const Case cases[] = {
        {"char b", abcb.Find('b'), 1},
        {"char b from 1", abcb.Find('b', 1), 1},
        {"char b from 2", abcb.Find('b', 2), 3},
        {"char b from 4", abcb.Find('b', 4), -1},
        {"char b from -3", abcb.Find('b', -3), 1},  // negative start counts as 0
        {"char NUL", withNul.Find('\0'), 1},
        {"char behind NUL", withNul.Find('b'), -1},
        {"text cb from 4", abcb.Find("cb", 4), -1},
        {"empty text from 4", abcb.Find("", 4), 4},
        {"empty text from 5", abcb.Find("", 5), -1},
        {"text bc", abcb.Find("bc"), 1},
        {"null text", abcb.Find(static_cast<const char*>(nullptr)), -1},
        {"reverse b", abcb.ReverseFind('b'), 3},
        {"reverse behind NUL", withNul.ReverseFind('b'), -1},
        {"one of xc", abcb.FindOneOf("xc"), 2},
        {"one of empty set", abcb.FindOneOf(""), -1},
        {"one of null set", abcb.FindOneOf(nullptr), -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.found, c.expected) << c.what;
}

TEST(WtStringExtract, ClampingTable)
{
    const WtString hello("hello");
    struct Case {
        const char* what;
        std::function<WtString()> extract;
        std::string expected;
    };
    const Case cases[] = {
        {"Mid(2)", [&] { return hello.Mid(2); }, "llo"},
        {"Mid(-3)", [&] { return hello.Mid(-3); }, "hello"},
        {"Mid(INT_MIN)", [&] { return hello.Mid(INT_MIN); }, "hello"},
        {"Mid(-3, 2)", [&] { return hello.Mid(-3, 2); }, "he"},
        {"Mid(7, 2)", [&] { return hello.Mid(7, 2); }, ""},
        {"Mid(3, 100)", [&] { return hello.Mid(3, 100); }, "lo"},
        {"Mid(1, INT_MAX)", [&] { return hello.Mid(1, INT_MAX); }, "ello"},
        {"Mid(1, -1)", [&] { return hello.Mid(1, -1); }, ""},
        {"Left(-1)", [&] { return hello.Left(-1); }, ""},
        {"Left(2)", [&] { return hello.Left(2); }, "he"},
        {"Right(2)", [&] { return hello.Right(2); }, "lo"},
        {"Right(99)", [&] { return hello.Right(99); }, "hello"},
        {"SpanIncluding", [&] { return hello.SpanIncluding("leh"); }, "hell"},
        {"SpanIncluding null", [&] { return hello.SpanIncluding(nullptr); }, ""},
        {"SpanExcluding", [&] { return hello.SpanExcluding("ol"); }, "he"},
        {"SpanExcluding null", [&] { return hello.SpanExcluding(nullptr); }, "hello"},
        {"Mid over NUL", [] { return WtString("ab\0cd", 5).Mid(1, 3); }, std::string("b\0c", 3)},
        {"Span stops at NUL", [] { return WtString("aa\0a", 4).SpanIncluding("a"); }, "aa"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const WtString result = c.extract();
        EXPECT_EQ(Bytes(result), c.expected);
        EXPECT_EQ(result.GetAllocLength(), static_cast<int>(c.expected.size()));
        if (c.expected.empty())
            EXPECT_EQ(RefCount(result), -2);
        else
            EXPECT_EQ(RefCount(result), 1);
    }
}

TEST(WtStringExtract, WholeTextIsCopiedNotShared)
{
    const WtString hello("hello");
    const WtString right = hello.Right(99);
    EXPECT_NE(static_cast<const char*>(right), static_cast<const char*>(hello));
    EXPECT_EQ(RefCount(hello), 1);
}

} // namespace
