#include "string/WtString.h"
#include "string/WtStringTestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>

namespace {

TEST(WtStringSearch, FindTable)
{
    const WtString abcb("abcb");
    const WtString withNul("a\0b", 3);
    const struct {
        const char* what;
        int found;
        int expected;
    } cases[] = {
        {"b from 1", abcb.Find('b', 1), 1},       {"b from 2", abcb.Find('b', 2), 3},
        {"b from 4", abcb.Find('b', 4), -1},      {"b from -3", abcb.Find('b', -3), 1},
        {"NUL", withNul.Find('\0'), 1},           {"behind NUL", withNul.Find('b'), -1},
        {"NUL in abcb", abcb.Find('\0'), 4},      {"NUL in empty", WtString().Find('\0'), 0},
        {"x in empty", WtString().Find('x'), -1}, {"reverse NUL in empty", WtString().ReverseFind('\0'), 0},
        {"cb from 4", abcb.Find("cb", 4), -1},    {"empty from 4", abcb.Find("", 4), 4},
        {"empty from 5", abcb.Find("", 5), -1},   {"null text", abcb.Find(static_cast<const char*>(nullptr)), -1},
        {"reverse b", abcb.ReverseFind('b'), 3},  {"reverse behind NUL", withNul.ReverseFind('b'), -1},
        {"one of xc", abcb.FindOneOf("xc"), 2},   {"one of empty", abcb.FindOneOf(""), -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.found, c.expected) << c.what;
}

// Every piece is a fresh exact-fit buffer (or the empty record), never the source's.
TEST(WtStringExtract, ClampingTable)
{
    const WtString hello("hello");
    const struct {
        const char* what;
        std::function<WtString()> extract;
        std::string expected;
    } cases[] = {
        {"Mid(2)", [&] { return hello.Mid(2); }, "llo"},
        {"Mid(INT_MIN)", [&] { return hello.Mid(INT_MIN); }, "hello"},
        {"Mid(-3, 2)", [&] { return hello.Mid(-3, 2); }, "he"},
        {"Mid(7, 2)", [&] { return hello.Mid(7, 2); }, ""},
        {"Mid(3, 100)", [&] { return hello.Mid(3, 100); }, "lo"},
        {"Mid(1, INT_MAX)", [&] { return hello.Mid(1, INT_MAX); }, "ello"},
        {"Left(-1)", [&] { return hello.Left(-1); }, ""},
        {"Right(99)", [&] { return hello.Right(99); }, "hello"},
        {"Right(2)", [&] { return hello.Right(2); }, "lo"},
        {"SpanIncluding", [&] { return hello.SpanIncluding("leh"); }, "hell"},
        {"SpanExcluding", [&] { return hello.SpanExcluding("ol"); }, "he"},
        {"SpanExcluding null", [&] { return hello.SpanExcluding(nullptr); }, "hello"},
        {"Mid over NUL", [] { return WtString("ab\0cd", 5).Mid(1, 3); }, std::string("b\0c", 3)},
        {"Span stops at NUL", [] { return WtString("aa\0a", 4).SpanIncluding("a"); }, "aa"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const WtString result = c.extract();
        EXPECT_EQ(Bytes(result), c.expected);
        EXPECT_EQ(result.GetAllocLength(), static_cast<int>(c.expected.size()));
        EXPECT_EQ(RefCount(result), c.expected.empty() ? -2 : 1);
        EXPECT_NE(static_cast<const char*>(result), static_cast<const char*>(hello));
    }
    EXPECT_EQ(RefCount(hello), 1);
}

} // namespace
