#include "tools/kmarc/Depfile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string Escaped(const std::string& path)
{
    std::string escaped = "(unchanged)";
    EXPECT_TRUE(EscapeForDepfile(path, escaped)) << path;
    return escaped;
}

TEST(DepfileTest, EscapesWhatNinjaWouldMisread)
{
    EXPECT_EQ("/p/plain-name_1.txt", Escaped("/p/plain-name_1.txt"));
    EXPECT_EQ("a\\ b", Escaped("a b"));
    EXPECT_EQ("x\\#y", Escaped("x#y"));
    EXPECT_EQ("C\\:/p/f\\:g", Escaped("C:/p/f:g"));
    EXPECT_EQ("d$$e$$$$", Escaped("d$e$$"));
    // Backslashes before a blank are doubled; before '#' they gain one.
    EXPECT_EQ("w\\\\\\ x", Escaped("w\\ x"));
    EXPECT_EQ("w\\\\#x", Escaped("w\\#x"));
    // After a backslash, '$' and ';' are read as they stand.
    EXPECT_EQ("a\\$b\\;c", Escaped("a\\$b\\;c"));
}

TEST(DepfileTest, RefusesPathsWithoutASpelling)
{
    const std::string paths[] = { "", "Notes; draft.txt", "a&b", "it's", "c^d", "g`h", "end:", "end\\", "t\tab",
                                  "new\nline", std::string("n\0l", 3) };
    for (const std::string& path : paths) {
        std::string escaped = "unchanged";
        EXPECT_FALSE(EscapeForDepfile(path, escaped)) << path;
        EXPECT_EQ("unchanged", escaped);
    }
}

TEST(DepfileTest, FormatsOnePrerequisitePerLine)
{
    EXPECT_EQ("out.kma: \\\n  a \\\n  b\\ c\n", FormatDepfile("out.kma", { "a", "b\\ c" }));
    EXPECT_EQ("out.kma:\n", FormatDepfile("out.kma", {}));
}

#ifdef KMARC_TEST_NINJA
std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Ninja itself reads the escaped names back: its record of the dependencies lists each
// one exactly as it was.
TEST(DepfileTest, NinjaReadsTheNamesBack)
{
    fs::path work = fs::temp_directory_path() / "kmarc_depfile_test";
    fs::remove_all(work);
    fs::create_directories(work);
    const std::vector<std::string> names = { "a b", "x#y", "d$e", "f:g", "w\\ x", "v\\#", "u\\$u", "p\\\\ q",
                                             "(1)+[2]{3}~@%=!,.-_", "\xC3\x9C" "bersicht.txt", " lead", "t:a b#c$d" };
    std::vector<std::string> escaped;
    for (const std::string& name : names)
        escaped.push_back(Escaped(name));
    std::ofstream(work / "dep.in", std::ios::binary) << FormatDepfile("out", escaped);
    std::ofstream(work / "build.ninja") << "rule gen\n  command = cp dep.in out.d && touch out\n"
                                           "  depfile = out.d\n  deps = gcc\nbuild out: gen\n";
    std::string ninja = "cd '" + work.string() + "' && '" KMARC_TEST_NINJA "'";
    ASSERT_EQ(0, std::system((ninja + " >/dev/null && " + ninja + " -t deps >deps.txt").c_str()));

    std::string expected = "out: #deps " + std::to_string(names.size());
    std::string deps = ReadFile(work / "deps.txt");
    ASSERT_EQ(0u, deps.find(expected)) << deps;
    // One line per dependency, indented by four blanks, then an empty line.
    std::string listed;
    size_t start = deps.find('\n') + 1;
    for (size_t end; (end = deps.find('\n', start)) != std::string::npos && end > start; start = end + 1)
        listed += deps.substr(start + 4, end - start - 4) + "|";
    std::string wanted;
    for (const std::string& name : names)
        wanted += name + "|";
    EXPECT_EQ(wanted, listed);
    fs::remove_all(work);
}
#endif

} // namespace
