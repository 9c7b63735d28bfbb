// pack as CI runs it: every fault listed before anything is compressed, empty folders
// reported, progress lines in a log and none with --quiet, and the same archive on any
// number of processors.
#include "tools/kmarc/KmarcTestSupport.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

class PackingTest : public KmarcWorkTest {
protected:
    std::string Pack(const std::string& options, const std::string& archive = "out.kma")
    {
        return "pack " + options + " " + Quote(work / archive) + " " + Quote(work / "src");
    }
    // stderr with Windows' text-mode line ends read as plain ones.
    std::string Errors() const
    {
        std::string text = ReadFile(work / "stderr.txt");
        for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at))
            text.erase(at, 1);
        return text;
    }
};

size_t Count(const std::string& text, const std::string& part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

TEST_F(PackingTest, EveryFaultIsListedBeforeAnythingIsPacked)
{
    const std::string tooLong(146 - 5, 'n');  // with "Data\\" the name has 146 bytes
    WriteFile(work / "src" / "a.txt", "fine");
    WriteFile(work / "src" / "COM0", "device");
    WriteFile(work / "src" / "Docs" / "lpt0.txt", "device");
    WriteFile(work / "src" / "Data" / tooLong, "long");
    std::vector<std::string> expected = { "COM0", "lpt0.txt", tooLong };
#ifndef _WIN32
    // Names that Linux can hold but Windows cannot, a case clash and a link out.
    WriteFile(work / "src" / "Z" / "a:b.txt", "colon");
    WriteFile(work / "src" / "Z" / "Case.txt", "one");
    WriteFile(work / "src" / "Z" / "case.txt", "two");
    fs::create_symlink("/etc/hostname", work / "src" / "Z" / "outside");
    expected.insert(expected.end(), { "a:b.txt", "differ only in case", "outside the folder being packed" });
#endif
    EXPECT_EQ(4, Kmarc(work, Pack("")));
    std::string errors = Errors();
    for (const std::string& part : expected)
        EXPECT_NE(std::string::npos, errors.find(part)) << part << " in:\n" << errors;
    EXPECT_NE(std::string::npos, errors.find(std::to_string(expected.size()) + " problems; nothing was packed"))
        << errors;
    // Refused before the packing began: no progress line, no archive, no partial file.
    EXPECT_EQ(std::string::npos, errors.find("packing")) << errors;
    EXPECT_FALSE(fs::exists(work / "out.kma"));
    EXPECT_FALSE(fs::exists(work / "out.kma.part"));
}

TEST_F(PackingTest, EmptyFoldersAreLeftOutWithAWarning)
{
    WriteFile(work / "src" / "Data" / "a.txt", "a");
    fs::create_directories(work / "src" / "Empty");
    fs::create_directories(work / "src" / "Data" / "Cache" / "Deeper");
    ASSERT_EQ(0, Kmarc(work, Pack(""))) << Errors();
    std::string errors = Errors();
    EXPECT_EQ(3u, Count(errors, "empty folder, left out: an archive holds files only")) << errors;
    for (const char* folder : { "Empty", "Cache", "Deeper" })
        EXPECT_NE(std::string::npos, errors.find(folder)) << errors;
    ASSERT_EQ(0, Kmarc(work, "extract " + Quote(work / "out.kma") + " " + Quote(work / "dst")));
    EXPECT_TRUE(fs::exists(work / "dst" / "Data" / "a.txt"));
    EXPECT_FALSE(fs::exists(work / "dst" / "Empty"));

    ASSERT_EQ(0, Kmarc(work, Pack("--quiet", "quiet.kma")));
    EXPECT_EQ("", Errors());
}

// Progress goes to a log as plain lines: one at the start, one at the end with the
// totals, and names as the log's reader can read them.
TEST_F(PackingTest, ProgressLinesAppearInALogAndNotWithQuiet)
{
    WriteFile(work / "src" / "Docs" / fs::u8path("\xC3\x9C" "bersicht.txt"), std::string(300000, 'u'));
    WriteFile(work / "src" / "b.bin", std::string(700000, 'b'));
    WriteFile(work / "src" / "c.txt", "c");
    ASSERT_EQ(0, Kmarc(work, Pack(""))) << Errors();
    std::string errors = Errors();
    EXPECT_EQ(0u, errors.find("kmarc: packing 0/3 files, 0.0 of 1.0 MB (0%)\n")) << errors;
    EXPECT_NE(std::string::npos, errors.find("kmarc: packing 3/3 files, 1.0 of 1.0 MB (100%): ")) << errors;
    EXPECT_EQ(Count(errors, "\n"), Count(errors, "kmarc: packing ")) << errors;
    EXPECT_EQ(std::string::npos, errors.find('\r')) << errors;  // no line redrawn in place
#ifndef _WIN32
    // The entry name's code page (1252) is not what a UTF-8 log shows.
    ASSERT_EQ(0, Kmarc(work, "pack -j 1 " + Quote(work / "one.kma") + " " + Quote(work / "src" / "Docs")));
    EXPECT_NE(std::string::npos, Errors().find("\xC3\x9C" "bersicht.txt")) << Errors();
#endif

    ASSERT_EQ(0, Kmarc(work, Pack("-q", "quiet.kma")));
    EXPECT_EQ("", Errors());
    EXPECT_EQ(ReadFile(work / "out.kma"), ReadFile(work / "quiet.kma"));
}

TEST_F(PackingTest, TheArchiveIsTheSameOnAnyNumberOfProcessors)
{
    for (int i = 0; i < 30; ++i)
        WriteFile(work / "src" / ("D" + std::to_string(i % 4)) / ("f" + std::to_string(i)),
                  std::string(size_t(5000) * (i + 1), char('a' + i % 7)));
    ASSERT_EQ(0, Kmarc(work, Pack("-q -j 1", "one.kma"))) << Errors();
    for (const char* jobs : { "-j 2", "-j4", "--jobs=7", "-j 0", "" }) {
        ASSERT_EQ(0, Kmarc(work, Pack(std::string("-q ") + jobs, "many.kma"))) << jobs << ": " << Errors();
        EXPECT_EQ(ReadFile(work / "one.kma"), ReadFile(work / "many.kma")) << jobs;
    }
    for (const char* wrong : { "-j x", "-j -1", "-j 1025", "--jobs=" }) {
        EXPECT_EQ(2, Kmarc(work, Pack(std::string("-q ") + wrong, "wrong.kma"))) << wrong;
        EXPECT_NE(std::string::npos, Errors().find("-j takes the number of files")) << wrong << ": " << Errors();
    }
}

} // namespace
