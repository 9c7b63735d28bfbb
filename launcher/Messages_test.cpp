#include "launcher/Messages.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char* Column(const MessageEntry& row, int column)
{
    const char* texts[] = { row.english, row.italian, row.french, row.german };
    return texts[column];
}

// The conversions of a printf format in order, "%%" excluded: what a caller's arguments
// have to match.
std::vector<std::string> Placeholders(const char* text)
{
    std::vector<std::string> found;
    for (const char* p = text; *p; ++p) {
        if (*p != '%')
            continue;
        if (p[1] == '%') {
            ++p;
            continue;
        }
        const char* end = p + 1 + std::strspn(p + 1, "0123456789.-+ #");
        found.emplace_back(p, end + 1);
        p = end;
    }
    return found;
}

TEST(MessageTable, RowsRunFromZeroTo36ThenTheClosingRow)
{
    for (int id = 0; id < kMessageTableEnd; ++id) {
        EXPECT_EQ(kMessageTable[id].id, id);
        for (int column = 0; column < 4; ++column)
            EXPECT_NE(Column(kMessageTable[id], column)[0], '\0') << "message " << id << " column " << column;
    }
    const MessageEntry& closing = kMessageTable[kMessageTableEnd];
    EXPECT_EQ(closing.id, 37);
    for (int column = 0; column < 4; ++column)
        EXPECT_STREQ(Column(closing, column), "");
}

TEST(MessageTable, EveryLanguageCarriesTheSamePlaceholders)
{
    for (int id = 0; id < kMessageTableEnd; ++id) {
        std::vector<std::string> english = Placeholders(kMessageTable[id].english);
        for (int column = 1; column < 4; ++column)
            EXPECT_EQ(Placeholders(Column(kMessageTable[id], column)), english)
                << "message " << id << " column " << column;
    }
    EXPECT_EQ(Placeholders(kMessageTable[kMsgLowDiskSpace].english),
              (std::vector<std::string>{ "%s", "%.1f", "%.1f" }));
}

struct AccentCase {
    int id;
    int column; // 1 Italian, 2 French, 3 German
    const char* bytes;
};

TEST(MessageTable, AccentedLettersAreStoredInWindows1252)
{
    const AccentCase cases[] = {
        { 1, 1, "I file gi\xe0 scaricati" },
        { 1, 2, "d\xe9j\xe1 t\xe9l\xe9" "charg\xe9s n'auront pas besoin de l'\xeatre \xe0 nouveau" },
        { 1, 3, "m\xfcssen Sie nur" },
        { 5, 2, "Mo n\xe9" "cessaires" },
        { 5, 3, "Nicht gen\xfcgend freier Platz" },
        { 5, 3, "MB ben\xf6tigt" },
        { 8, 2, "Contr\xf4lez les param\xe8tres" },
        { 9, 2, "re\xe7u" },
        { 17, 1, "pi\xfa e-mail" },
        { 23, 1, "non \xe9 A:" },
        { 26, 3, "zu gro\xdf." },
        { 32, 2, "d'\xe9" "dition" },
        { 36, 1, "non \xe8 riuscito" },
        { 36, 3, "\xfc" "ber andere Wege" },
    };
    for (const AccentCase& c : cases)
        EXPECT_NE(std::strstr(Column(kMessageTable[c.id], c.column), c.bytes), nullptr)
            << "message " << c.id << " column " << c.column;
}

LANGID WINAPI NoUserLanguage()
{
    return 0;
}
LANGID WINAPI AustrianGerman()
{
    return MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN_AUSTRIAN);
}
LANGID WINAPI SwissItalian()
{
    return MAKELANGID(LANG_ITALIAN, SUBLANG_ITALIAN_SWISS);
}

// A user language of 0 cannot be set under Wine; the queries stand in for the system's.
TEST(TextLanguage, TheUsersUnlessItIsZeroThenTheSystemsDefault)
{
    EXPECT_EQ(TextLanguage(AustrianGerman, SwissItalian), AustrianGerman());
    EXPECT_EQ(TextLanguage(NoUserLanguage, SwissItalian), SwissItalian());
    EXPECT_EQ(TextLanguage(NoUserLanguage, NoUserLanguage), 0);
}

TEST(MessageText, NumbersOutsideTheTableGiveTheFixedText)
{
    for (int id : { 37, -1, 38, 1000, INT_MIN, INT_MAX })
        EXPECT_STREQ(GetMessageText(id), "unknown msg text") << id;
}

} // namespace
