#include "string/WtString.h"
#include "string/WtStringTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

namespace {

std::string Bytes(const WtString& s)
{
    return std::string(static_cast<const char*>(s), static_cast<size_t>(s.GetLength()));
}

// A fresh string's allocation length after Format is exactly what FormatV reserved.
TEST(WtStringFormat, EstimateSizesTheBuffer)
{
    struct Case {
        const char* what;
        std::function<void(WtString&)> format;
        std::string text;
        int allocLength;
    };
    const Case cases[] = {
        {"%5.2s", [](WtString& s) { s.Format("%5.2s", "abc"); }, "   ab", 5},
        {"%s of null", [](WtString& s) { s.Format("%s", static_cast<const char*>(nullptr)); }, "(null)", 6},
        {"%s of empty", [](WtString& s) { s.Format("<%s>", ""); }, "<>", 3},
        {"%d", [](WtString& s) { s.Format("%d", 7); }, "7", 32},
        {"%%", [](WtString& s) { s.Format("%%"); }, "%", 1},
        {"%c", [](WtString& s) { s.Format("%c", 'x'); }, "x", 2},
        {"%#x", [](WtString& s) { s.Format("%#x", 255); }, "0xff", 34},
        {"%*.*d", [](WtString& s) { s.Format("%*.*d", 30, 10, 5); }, std::string(20, ' ') + "0000000005", 40},
        {"%-*s", [](WtString& s) { s.Format("%-*s|", 4, "ab"); }, "ab  |", 5},
        {"%.1f", [](WtString& s) { s.Format("%.1f", 2.5); }, "2.5", 128},
        {"plain", [](WtString& s) { s.Format("plain"); }, "plain", 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WtString s;
        c.format(s);
        EXPECT_EQ(Bytes(s), c.text);
        EXPECT_EQ(s.GetAllocLength(), c.allocLength);
    }
}

// Formats the estimate does not cover: the result is complete and within the buffer.
TEST(WtStringFormat, FormatsBeyondTheEstimate)
{
    struct Case {
        const char* what;
        std::function<void(WtString&)> format;
        std::string text;
    };
    const std::string wide(300, 'w');
    const Case cases[] = {
        {"%E", [](WtString& s) { s.Format("%E|%s", 0.5, "tail"); }, "", },
        {"%lld", [](WtString& s) { s.Format("%lld|%s", 1234567890123LL, "tail"); }, "1234567890123|tail"},
        {"%ls", [](WtString& s) { s.Format("%ls|%s", L"wide", "tail"); }, "wide|tail"},
        {"negative * width", [](WtString& s) { s.Format("%*s|", -40, "x"); }, "x" + std::string(39, ' ') + "|"},
        {"huge %f", [](WtString& s) { s.Format("%.0f", 1e200); }, ""},
        {"long text precision", [&](WtString& s) { s.Format("%.*s", 250, wide.c_str()); }, wide.substr(0, 250)},
#ifdef _WIN32
        {"%I64d", [](WtString& s) { s.Format("%I64d|%s", -1234567890123LL, "tail"); }, "-1234567890123|tail"},
        {"%I64x", [](WtString& s) { s.Format("%I64x", 0x123456789ALL); }, "123456789a"},
#endif
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WtString s;
        c.format(s);
        if (!c.text.empty()) {
            EXPECT_EQ(Bytes(s), c.text);
        }
        EXPECT_GE(s.GetAllocLength(), s.GetLength());
        EXPECT_EQ(static_cast<const char*>(s)[s.GetLength()], '\0');
    }

    WtString exponent;
    exponent.Format("%E|%s", 0.5, "tail");
    EXPECT_EQ(exponent.Left(8), "5.000000");
    EXPECT_EQ(exponent.Right(5), "|tail");

    WtString huge;
    huge.Format("%.0f", 1e200);
    EXPECT_EQ(huge.GetLength(), 200);  // the double nearest 1e200 lies just below it
    EXPECT_EQ(huge.Left(2), "99");
}

TEST(WtStringFormat, ReplacesTheTextAndLeavesOtherOwnersAlone)
{
    WtString s("a long previous text");
    const WtString other(s);
    s.Format("%c", 'q');
    EXPECT_EQ(Bytes(s), "q");
    EXPECT_EQ(Bytes(other), "a long previous text");
    EXPECT_EQ(s.GetAllocLength(), 20);  // the larger of the estimate and the old length

    s.Format("%s%c%s", "ab", '\0', "cd");
    EXPECT_EQ(Bytes(s), "ab");  // a formatted NUL ends the text
}

TEST(WtStringFormat, MessageInsertsAndTypes)
{
    struct Case {
        const char* what;
        std::function<void(WtString&)> format;
        std::string text;
    };
    const Case cases[] = {
        {"%1 and %2", [](WtString& s) { s.FormatMessageA("%1 and %2", "a", "b"); }, "a and b"},
        {"reordered", [](WtString& s) { s.FormatMessageA("%2 %1", "a", "b"); }, "b a"},
        {"%1!d!", [](WtString& s) { s.FormatMessageA("%1!d! files, %2", 42, "done"); }, "42 files, done"},
        {"%1!5s!", [](WtString& s) { s.FormatMessageA("[%1!5s!]", "ab"); }, "[   ab]"},
        {"escapes", [](WtString& s) { s.FormatMessageA("100%% %1%0 gone", "x"); }, "100% x"},
        {"line breaks", [](WtString& s) { s.FormatMessageA("a\nb%nc"); }, "a\r\nb\r\nc"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WtString s;
        c.format(s);
        EXPECT_EQ(Bytes(s), c.text);
    }
}

TEST(WtStringFormat, MessageFailureThrowsAndKeepsTheText)
{
    WtString s("kept");
    EXPECT_THROW(s.FormatMessageA(""), WtFormatMessageError);
    EXPECT_THROW(s.FormatMessageA("%1", ""), WtFormatMessageError);
    EXPECT_THROW(s.FormatMessageA("trailing %"), WtFormatMessageError);
    EXPECT_EQ(Bytes(s), "kept");
}

// Characters that both Western OEM pages (437 and 850) place alike.
const char kAnsi[] = "Caf\xE9 \xE4\xFC\xC4\xA3\xF1\xC7";
const char kOem[] = "Caf\x82 \x84\x81\x8E\x9C\xA4\x80";

TEST(WtStringConvert, AnsiAndOemPagesRoundTrip)
{
    WtString s(kAnsi);
    const WtString other(s);
    s.CharToOemA();
    EXPECT_EQ(Bytes(s), kOem);
    EXPECT_EQ(Bytes(other), kAnsi);
    s.OemToCharA();
    EXPECT_EQ(Bytes(s), kAnsi);

    WtString withNul("\xE9\0\xE9", 3);
    withNul.CharToOemA();
    EXPECT_EQ(Bytes(withNul), std::string("\x82\0\xE9", 3));  // only the terminated view

    WtString empty;
    empty.CharToOemA();
    empty.OemToCharA();
    EXPECT_EQ(RefCount(empty), -2);
}

TEST(WtStringConvert, SixteenBitTextLivesBehindTheTerminator)
{
    WtString s("ab");
    const WtString other(s);
    const unsigned short* wide = s;
    const char* base = s;
    EXPECT_EQ(reinterpret_cast<const char*>(wide), base + 4);
    EXPECT_EQ(wide[0], 0x61);
    EXPECT_EQ(wide[1], 0x62);
    EXPECT_EQ(wide[2], 0);
    EXPECT_EQ(s.GetLength(), 2);
    EXPECT_EQ(s.GetAllocLength(), 12);
    EXPECT_EQ(Bytes(other), "ab");

    WtString high("\xE9\xFF");
    const unsigned short* widened = high;
    EXPECT_EQ(widened[0], 0x00E9);
    EXPECT_EQ(widened[1], 0x00FF);

    WtString empty;
    const unsigned short* nothing = empty;
    EXPECT_EQ(nothing[0], 0);
    EXPECT_EQ(reinterpret_cast<const char*>(nothing), static_cast<const char*>(empty) + 2);

    WtString withNul("a\0b", 3);
    const unsigned short* cut = withNul;
    EXPECT_EQ(cut[0], 'a');
    EXPECT_EQ(cut[1], 0);
    EXPECT_EQ(withNul.GetLength(), 1);
}

} // namespace
