#include "string/WtString.h"
#include "string/WtStringTestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

struct FormatCase {
    const char* what;
    std::function<void(WtString&)> format;
    std::string text;
    int allocLength;  // of a fresh string: exactly what FormatV reserved; -1 unchecked
};

void RunFormats(std::initializer_list<FormatCase> cases)
{
    for (const FormatCase& c : cases) {
        SCOPED_TRACE(c.what);
        WtString s;
        c.format(s);
        EXPECT_EQ(Bytes(s), c.text);
        if (c.allocLength >= 0) {
            EXPECT_EQ(s.GetAllocLength(), c.allocLength);
        }
    }
}

TEST(WtStringFormat, EstimateSizesTheBuffer)
{
    RunFormats({
        {"%5.2s", [](WtString& s) { s.Format("%5.2s", "abc"); }, "   ab", 5},
        {"%s of null", [](WtString& s) { s.Format("%s", static_cast<const char*>(nullptr)); }, "(null)", 6},
        {"%d", [](WtString& s) { s.Format("%d", 7); }, "7", 32},
        {"%%", [](WtString& s) { s.Format("%%"); }, "%", 1},
        {"%*.*d", [](WtString& s) { s.Format("%*.*d", 30, 10, 5); }, std::string(20, ' ') + "0000000005", 40},
        {"%c of NUL ends the text", [](WtString& s) { s.Format("%s%c%s", "ab", '\0', "cd"); }, "ab", 6},
    });
}

// Formats outside the estimate: the text is complete, in a buffer as long as it is.
TEST(WtStringFormat, FormatsBeyondTheEstimate)
{
    const std::string wide(300, 'w');
    RunFormats({
        {"%lld", [](WtString& s) { s.Format("%lld|%s", 1234567890123LL, "tail"); }, "1234567890123|tail", 18},
        {"%ls", [](WtString& s) { s.Format("%ls|%s", L"wide", "tail"); }, "wide|tail", 9},
        {"negative * width", [](WtString& s) { s.Format("%*s|", -40, "x"); }, "x" + std::string(39, ' ') + "|", 41},
        {"long precision", [&](WtString& s) { s.Format("%.*s", 250, wide.c_str()); }, wide.substr(0, 250), 250},
#ifdef _WIN32
        {"%I64d", [](WtString& s) { s.Format("%I64d|%s", -1234567890123LL, "tail"); }, "-1234567890123|tail", 19},
#endif
    });

    WtString s;
    s.Format("%E|%s", 0.5, "tail");  // the exponent's width is the runtime's
    EXPECT_TRUE(s.Left(9) == "5.000000E" && s.Right(5) == "|tail") << static_cast<const char*>(s);
    s.Format("%.0f", 1e200);
    EXPECT_TRUE(s.GetLength() == 200 && s.GetAllocLength() == 200);
}

TEST(WtStringFormat, MessageInsertsAndTypes)
{
    RunFormats({
        {"%1 and %2", [](WtString& s) { s.FormatMessageA("%1 and %2", "a", "b"); }, "a and b", -1},
        {"reordered", [](WtString& s) { s.FormatMessageA("%2 %1", "a", "b"); }, "b a", -1},
        {"%1!d!", [](WtString& s) { s.FormatMessageA("%1!d! files, %2", 42, "done"); }, "42 files, done", -1},
        {"%1!5s!", [](WtString& s) { s.FormatMessageA("[%1!5s!]", "ab"); }, "[   ab]", -1},
        {"escapes", [](WtString& s) { s.FormatMessageA("100%% %1%0 gone", "x"); }, "100% x", -1},
        {"line breaks", [](WtString& s) { s.FormatMessageA("a\nb%nc"); }, "a\r\nb\r\nc", -1},
    });

    WtString kept("kept");
    EXPECT_THROW(kept.FormatMessageA(""), WtFormatMessageError);
    EXPECT_THROW(kept.FormatMessageA("%1", ""), WtFormatMessageError);
    EXPECT_THROW(kept.FormatMessageA("trailing %"), WtFormatMessageError);
    EXPECT_EQ(Bytes(kept), "kept");
}

TEST(WtStringConvert, AnsiAndOemPagesRoundTrip)
{
    // Characters that both Western OEM pages (437 and 850) place alike.
    const char ansi[] = "Caf\xE9 \xE4\xFC\xC4\xA3\xF1\xC7";
    const char oem[] = "Caf\x82 \x84\x81\x8E\x9C\xA4\x80";
    WtString s(ansi);
    const WtString other(s);
    s.CharToOemA();
    EXPECT_EQ(Bytes(s), oem);
    EXPECT_EQ(Bytes(other), ansi);
    s.OemToCharA();
    EXPECT_EQ(Bytes(s), ansi);

    WtString withNul("\xE9\0\xE9", 3);
    withNul.CharToOemA();
    EXPECT_EQ(Bytes(withNul), std::string("\x82\0\xE9", 3));
}

TEST(WtStringConvert, SixteenBitTextLivesBehindTheTerminator)
{
    WtString s("a\xE9");
    const WtString other(s);
    const unsigned short* wide = s;
    EXPECT_EQ(reinterpret_cast<const char*>(wide), static_cast<const char*>(s) + 4);
    EXPECT_EQ(wide[0], 0x61);
    EXPECT_EQ(wide[1], 0xE9);  // bytes widen as they are, no code page
    EXPECT_EQ(wide[2], 0);
    EXPECT_EQ(s.GetLength(), 2);
    EXPECT_EQ(s.GetAllocLength(), 12);
    EXPECT_EQ(Bytes(other), "a\xE9");

    WtString empty;
    const unsigned short* nothing = empty;
    EXPECT_EQ(reinterpret_cast<const char*>(nothing), static_cast<const char*>(empty) + 2);
    EXPECT_EQ(nothing[0], 0);

    WtString withNul("a\0b", 3);
    const unsigned short* cut = withNul;
    EXPECT_EQ(cut[1], 0);
    EXPECT_EQ(withNul.GetLength(), 1);
}

} // namespace
