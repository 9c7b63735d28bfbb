// Runs the kmarc executable that lies beside this test, as a packager would.
#include "archive/ArchiveReader.h"
#include "archive/ArchiveWriter.h"
#include "tools/kmarc/KmarcTestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct ListedEntry {
    std::string name;
    uint32_t size;
    uint32_t times[3];
};

// The archive's directory, read with the project's reader.
std::vector<ListedEntry> Entries(const fs::path& archive)
{
    std::string bytes = ReadFile(archive);
    ArchiveReader reader(reinterpret_cast<const unsigned char*>(bytes.data()), uint32_t(bytes.size()), 0);
    std::vector<ListedEntry> entries;
    ArchiveEntry entry;
    while (reader.Next(entry))
        entries.push_back({ entry.name, entry.uncompressedSize,
                            { entry.creationTime, entry.lastWriteTime, entry.lastAccessTime } });
    return entries;
}

std::string Names(const fs::path& archive)
{
    std::string names;
    for (const ListedEntry& entry : Entries(archive))
        names += entry.name + "|";
    return names;
}

void SetEnvironment(const char* name, const char* value)
{
#ifdef _WIN32
    _putenv_s(name, value == nullptr ? "" : value);
#else
    if (value == nullptr)
        unsetenv(name);
    else
        setenv(name, value, 1);
#endif
}

class KmarcTest : public KmarcWorkTest {
protected:
    // A tree with nested folders, binary and empty files, and a name with a blank.
    void MakeSourceTree()
    {
        std::string allBytes;
        for (int i = 0; i < 4096; ++i)
            allBytes += char(i);
        std::string noise;
        uint32_t state = 12345;
        for (int i = 0; i < 300000; ++i) {
            state = state * 1103515245u + 12345u;
            noise += char(state >> 24);
        }
        WriteFile(work / "src" / "top.bin", allBytes);
        WriteFile(work / "src" / "empty.txt", "");
        WriteFile(work / "src" / "a b.txt", "blank in the name\r\n");
        WriteFile(work / "src" / "Data" / "noise.bin", noise);
        WriteFile(work / "src" / "Data" / "Sub" / "zeros.bin", std::string(1 << 20, '\0'));
        WriteFile(work / "src" / "Docs" / "Deutsch" / "liesmich.txt", "Hallo\n");
    }

    std::string Archive() const { return Quote(work / "out.kma"); }
};

TEST_F(KmarcTest, PackVerifyExtractGivesTheTreeBackByteForByte)
{
    MakeSourceTree();
    ASSERT_EQ(0, Kmarc(work, "pack " + Archive() + " " + Quote(work / "src"))) << ReadFile(work / "stderr.txt");
    ASSERT_EQ(0, Kmarc(work, "verify " + Archive())) << ReadFile(work / "stderr.txt");
    ASSERT_EQ(0, Kmarc(work, "extract " + Archive() + " " + Quote(work / "dst"))) << ReadFile(work / "stderr.txt");
    EXPECT_EQ(Snapshot(work / "src"), Snapshot(work / "dst"));
    // Again over the files of the first run, one of them changed meanwhile.
    WriteFile(work / "dst" / "Data" / "noise.bin", "changed");
    ASSERT_EQ(0, Kmarc(work, "extract " + Archive() + " " + Quote(work / "dst"))) << ReadFile(work / "stderr.txt");
    EXPECT_EQ(Snapshot(work / "src"), Snapshot(work / "dst"));

    ASSERT_EQ(0, Kmarc(work, "list " + Archive()));
    std::string list = ReadFile(work / "stdout.txt");
    const char* const names[] = { "Data\\Sub\\zeros.bin", "Data\\noise.bin", "Docs\\Deutsch\\liesmich.txt",
                                  "a b.txt", "empty.txt", "top.bin" };
    size_t position = 0;
    for (const char* name : names) {
        size_t found = list.find(name, position);
        EXPECT_NE(std::string::npos, found) << name << " missing or out of order in\n" << list;
        position = found == std::string::npos ? position : found;
    }
    EXPECT_NE(std::string::npos, list.find("   1048576 ")) << list;
}

TEST_F(KmarcTest, DamageIsNamedAndNothingDamagedIsWritten)
{
    MakeSourceTree();
    ASSERT_EQ(0, Kmarc(work, "pack " + Archive() + " " + Quote(work / "src")));
    std::string bytes = ReadFile(work / "out.kma");
    ArchiveReader reader(reinterpret_cast<const unsigned char*>(bytes.data()), uint32_t(bytes.size()), 0);
    ArchiveEntry entry;
    while (reader.Next(entry) && std::string(entry.name) != "Data\\noise.bin") {
    }
    bytes[entry.data - reinterpret_cast<const unsigned char*>(bytes.data()) + entry.compressedSize / 2] ^= 0x55;
    WriteFile(work / "out.kma", bytes);

    // The damaged entry is named, and extraction leaves nothing of its run behind:
    // neither the sound entries before it nor the folders it made; what was in the
    // destination before stays as it was.
    EXPECT_EQ(1, Kmarc(work, "verify " + Archive()));
    EXPECT_NE(std::string::npos, ReadFile(work / "stderr.txt").find("'Data\\noise.bin' is damaged"));
    WriteFile(work / "dst" / "top.bin", "there before");
    WriteFile(work / "dst" / "Data" / "own.txt", "there before");
    EXPECT_EQ(1, Kmarc(work, "extract " + Archive() + " " + Quote(work / "dst")));
    EXPECT_NE(std::string::npos, ReadFile(work / "stderr.txt").find("'Data\\noise.bin' is damaged"));
    std::map<std::string, std::string> before = { { "Data/own.txt", "there before" }, { "top.bin", "there before" } };
    EXPECT_EQ(before, Snapshot(work / "dst"));
    EXPECT_FALSE(fs::exists(work / "dst" / "Data" / "Sub"));
    // Data, Data/own.txt and top.bin: no staging folder is left either.
    EXPECT_EQ(3, std::distance(fs::recursive_directory_iterator(work / "dst"), fs::recursive_directory_iterator()));

    // A directory cut short is refused before anything is written.
    WriteFile(work / "out.kma", bytes.substr(0, bytes.size() - 3));
    EXPECT_EQ(1, Kmarc(work, "list " + Archive()));
    EXPECT_EQ(1, Kmarc(work, "extract " + Archive() + " " + Quote(work / "dst2")));
    EXPECT_NE(std::string::npos, ReadFile(work / "stderr.txt").find("damaged archive"));
    EXPECT_FALSE(fs::exists(work / "dst2"));

    // A file that never was an archive is called so.
    WriteFile(work / "readme.txt", "This is a text file, not an archive.\n");
    EXPECT_EQ(1, Kmarc(work, "list " + Quote(work / "readme.txt")));
    EXPECT_NE(std::string::npos, ReadFile(work / "stderr.txt").find("readme.txt: not an archive"))
        << ReadFile(work / "stderr.txt");
    WriteFile(work / "empty.kma", "");
    EXPECT_EQ(1, Kmarc(work, "verify " + Quote(work / "empty.kma")));
    EXPECT_NE(std::string::npos, ReadFile(work / "stderr.txt").find("empty.kma: not an archive"));
}

TEST_F(KmarcTest, ExitCodesFollowTheHelp)
{
    WriteFile(work / "src" / "a.txt", "a");
#ifndef _WIN32
    WriteFile(work / "bad" / "con.txt", "");
    WriteFile(work / "twins" / "Same.txt", "");
    WriteFile(work / "twins" / "same.TXT", "");
#endif
    const struct {
        std::string arguments;
        int exitCode;
    } cases[] = {
        { "--help", 0 },
        { "pack --help", 0 },
        { "--version", 0 },
        { "", 2 },
        { "unpack x", 2 },
        { "list", 2 },
        { "list a b", 2 },
        { "verify --fast x", 2 },
        { "pack --level 13 x y", 2 },
        { "pack --level 1x x y", 2 },
        { "list --fast x", 2 },
        { "pack --level", 2 },
        { "list --level 5 x", 2 },
        { "list " + Quote(work / "missing.kma"), 3 },
        { "pack " + Archive() + " " + Quote(work / "missing"), 3 },
        { "pack --level=0 " + Archive() + " " + Quote(work / "src"), 0 },
#ifndef _WIN32
        // Names a Linux folder can hold but the launcher would refuse.
        { "pack " + Archive() + " " + Quote(work / "bad"), 4 },
        { "pack " + Archive() + " " + Quote(work / "twins"), 4 },
#endif
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.exitCode, Kmarc(work, c.arguments)) << c.arguments;
    EXPECT_EQ("\x78\x01", ReadFile(work / "out.kma").substr(4, 2));  // level 0 stores
}

TEST_F(KmarcTest, AddMissingFillsOnlyWhatTheFolderLacks)
{
    WriteFile(work / "src" / "zephrun.EXE", "vendor's own");
    WriteFile(work / "src" / "Data" / "a.txt", "a");
    WriteFile(work / "stand-ins" / "Zephrun.exe", "stand-in");
    WriteFile(work / "stand-ins" / "lingerx.exe", "waiter");
    WriteFile(work / "stand-ins" / "DATA", "a file named like the folder");
    std::string addMissing;
    for (const char* name : { "Zephrun.exe", "lingerx.exe", "DATA" })
        addMissing += " --add-missing " + Quote(work / "stand-ins" / name);
    ASSERT_EQ(0, Kmarc(work, "pack" + addMissing + " " + Archive() + " " + Quote(work / "src")))
        << ReadFile(work / "stderr.txt");
    EXPECT_EQ("Data\\a.txt|lingerx.exe|zephrun.EXE|", Names(work / "out.kma"));
    ASSERT_EQ(0, Kmarc(work, "extract " + Archive() + " " + Quote(work / "dst")));
    EXPECT_EQ("waiter", ReadFile(work / "dst" / "lingerx.exe"));
    EXPECT_EQ("vendor's own", ReadFile(work / "dst" / "zephrun.EXE"));

    // A file that is not there is a file-system failure, and the archive stays as it was.
    std::string before = ReadFile(work / "out.kma");
    EXPECT_EQ(3, Kmarc(work, "pack --add-missing " + Quote(work / "nothing.exe") + " " + Archive() + " " +
                                 Quote(work / "src")));
    EXPECT_NE(std::string::npos, ReadFile(work / "stderr.txt").find("nothing.exe: not a file"));
    EXPECT_EQ(before, ReadFile(work / "out.kma"));
}

// The depfile names the archive, every folder listed and every file read, in Ninja's
// spelling; what Ninja cannot read is named through a link, or where links cannot be
// made, through a file that never exists.
TEST_F(KmarcTest, DepfileNamesEveryFolderAndFileRead)
{
    WriteFile(work / "src" / "Sub" / "b b.txt", "b");
    WriteFile(work / "src" / "Notes; draft.txt", "n");
    WriteFile(work / "extra" / "lingerx.exe", "l");
    ASSERT_EQ(0, Kmarc(work, "pack --quiet --depfile " + Quote(work / "out.d") + " --add-missing " +
                                 Quote(work / "extra" / "lingerx.exe") + " " + Archive() + " " + Quote(work / "src")))
        << ReadFile(work / "stderr.txt");
    auto spelt = [](const fs::path& path) {
        std::string text;
        for (char c : path.generic_string()) {
            if (c == ' ' || c == ':' || c == '#')
                text += '\\';
            text += c;
        }
        return text;
    };
    std::string depfile = ReadFile(work / "out.d");
    EXPECT_EQ(0u, depfile.find(spelt(work / "out.kma") + ": \\\n")) << depfile;
    for (const fs::path& path : { work / "src", work / "src" / "Sub", work / "src" / "Sub" / "b b.txt",
                                  work / "extra" / "lingerx.exe" })
    {
        // One prerequisite per line, whole: a blank and a backslash or the end follow.
        const std::string line = "\n  " + spelt(path);
        size_t at = depfile.find(line);
        ASSERT_NE(std::string::npos, at) << path << "\n" << depfile;
        EXPECT_TRUE(depfile.compare(at + line.size(), 3, " \\\n") == 0 || at + line.size() + 1 == depfile.size())
            << path;
    }
    EXPECT_EQ(std::string::npos, depfile.find("Notes")) << depfile;
#ifdef _WIN32
    EXPECT_NE(std::string::npos, depfile.find("out.d.unlisted")) << depfile;
    EXPECT_FALSE(fs::exists(work / "out.d.unlisted"));
    EXPECT_NE(std::string::npos, ReadFile(work / "stderr.txt").find("repacked on every build"));
#else
    EXPECT_NE(std::string::npos, depfile.find("out.d.links/")) << depfile;
    EXPECT_TRUE(fs::equivalent(work / "out.d.links" / "0", work / "src" / "Notes; draft.txt"));
    EXPECT_EQ("", ReadFile(work / "stderr.txt"));
#endif
}

TEST_F(KmarcTest, SameFilesGiveTheSameBytesWhereverTheyLie)
{
    MakeSourceTree();
    ASSERT_EQ(0, Kmarc(work, "pack " + Archive() + " " + Quote(work / "src")));
    // A copy elsewhere with the same last write times, read in between (which moves
    // access times), packs to the same bytes.
    fs::create_directories(work / "elsewhere");
    fs::copy(work / "src", work / "elsewhere" / "copy", fs::copy_options::recursive);
    for (const auto& entry : fs::recursive_directory_iterator(work / "src")) {
        if (!entry.is_regular_file())
            continue;
        fs::path copy = work / "elsewhere" / "copy" / entry.path().lexically_relative(work / "src");
        fs::last_write_time(copy, fs::last_write_time(entry.path()));
    }
    Snapshot(work / "src");
    ASSERT_EQ(0, Kmarc(work, "pack " + Quote(work / "again.kma") + " " + Quote(work / "elsewhere" / "copy")));
    EXPECT_EQ(ReadFile(work / "out.kma"), ReadFile(work / "again.kma"));

    // Every time stamp is the file's last write time, or SOURCE_DATE_EPOCH when earlier.
    SetEnvironment("SOURCE_DATE_EPOCH", "1000000000");
    int clamped = Kmarc(work, "pack " + Archive() + " " + Quote(work / "src"));
    SetEnvironment("SOURCE_DATE_EPOCH", nullptr);
    ASSERT_EQ(0, clamped) << ReadFile(work / "stderr.txt");
    for (const ListedEntry& entry : Entries(work / "out.kma")) {
        for (uint32_t time : entry.times)
            EXPECT_EQ(1000000000u, time) << entry.name;
    }
    ASSERT_EQ(0, Kmarc(work, "pack " + Archive() + " " + Quote(work / "src")));
    for (const ListedEntry& entry : Entries(work / "out.kma")) {
        EXPECT_GT(entry.times[0], 1000000000u) << entry.name;
        EXPECT_EQ(entry.times[0], entry.times[1]);
        EXPECT_EQ(entry.times[0], entry.times[2]);
    }
}

// Host names go into the archive in its code page and come back out of it.
TEST_F(KmarcTest, NamesTravelInTheArchiveCodePage)
{
    WriteFile(work / "src" / fs::u8path("Dokumente/\xC3\x9C" "bersicht.txt"), "u");
    WriteFile(work / "src" / fs::u8path("Caf\xC3\xA9 \xE2\x82\xAC.txt"), "e");  // é and the euro sign
    ASSERT_EQ(0, Kmarc(work, "pack " + Archive() + " " + Quote(work / "src"))) << ReadFile(work / "stderr.txt");
    EXPECT_EQ("Caf\xE9 \x80.txt|Dokumente\\\xDC" "bersicht.txt|", Names(work / "out.kma"));
    ASSERT_EQ(0, Kmarc(work, "extract " + Archive() + " " + Quote(work / "dst")));
    EXPECT_EQ(Snapshot(work / "src"), Snapshot(work / "dst"));
    EXPECT_EQ("u", ReadFile(work / "dst" / fs::u8path("Dokumente/\xC3\x9C" "bersicht.txt")));

    // Another code page: Cyrillic in 1251 packs, and lists back with that code page.
    WriteFile(work / "ru" / fs::u8path("\xD0\x9F\xD1\x80\xD0\xB8.txt"), "p");
    ASSERT_EQ(0, Kmarc(work, "pack --codepage 1251 " + Archive() + " " + Quote(work / "ru")));
    EXPECT_EQ("\xCF\xF0\xE8.txt|", Names(work / "out.kma"));
    ASSERT_EQ(0, Kmarc(work, "extract --codepage=1251 " + Archive() + " " + Quote(work / "dst-ru")));
    EXPECT_EQ("p", ReadFile(work / "dst-ru" / fs::u8path("\xD0\x9F\xD1\x80\xD0\xB8.txt")));

    // A name the code page cannot hold is refused with the file and the character, and
    // no archive is written.
    WriteFile(work / "jp" / "Data" / fs::u8path("\xE6\x97\xA5\xE6\x9C\xAC.txt"), "j");
    EXPECT_EQ(4, Kmarc(work, "pack " + Quote(work / "jp.kma") + " " + Quote(work / "jp")));
    std::string error = ReadFile(work / "stderr.txt");
#ifdef _WIN32
    EXPECT_NE(std::string::npos, error.find("name has U+65E5, which code page 1252 cannot hold")) << error;
#else
    EXPECT_NE(std::string::npos, error.find("name has '\xE6\x97\xA5' (U+65E5), which code page 1252 cannot hold"))
        << error;
#endif
    EXPECT_NE(std::string::npos, error.find("Data")) << error;
    EXPECT_FALSE(fs::exists(work / "jp.kma"));
    EXPECT_EQ(2, Kmarc(work, "pack --codepage 65001 " + Archive() + " " + Quote(work / "src")));
    EXPECT_NE(std::string::npos, ReadFile(work / "stderr.txt").find("code page 65001 is not supported"));
}

// Each name Windows would not write as given is refused at pack time with its reason;
// names Windows takes, however odd, are packed.
TEST_F(KmarcTest, PackRefusesWhatWindowsWouldNotWriteAndSaysWhy)
{
    const std::string fits(145 - 5, 'n');  // with "Data\\" the name has 145 bytes
    const std::string deepest = std::string(66, 'd') + "/" + std::string(66, 'e');  // a folder path of 133 bytes
    WriteFile(work / "src" / "Notes; draft.txt", "legal");
    WriteFile(work / "src" / "it's & (so) [odd] {yes} #1 $2 %3 ^4 `5 ~6 =7 +8 ,9 !.txt", "legal");
    WriteFile(work / "src" / "Data" / fits, "fits");
    WriteFile(work / "src" / deepest / "f.txt", "fits");
    WriteFile(work / "src" / "COM10.txt", "not a device");
    WriteFile(work / "src" / "NULL.txt", "not a device");
    ASSERT_EQ(0, Kmarc(work, "pack " + Archive() + " " + Quote(work / "src"))) << ReadFile(work / "stderr.txt");
    ASSERT_EQ(0, Kmarc(work, "verify " + Archive())) << ReadFile(work / "stderr.txt");
    ASSERT_EQ(0, Kmarc(work, "extract " + Archive() + " " + Quote(work / "dst")));
    EXPECT_EQ(Snapshot(work / "src"), Snapshot(work / "dst"));

    struct Case {
        std::string name;
        const char* why;
    };
    std::vector<Case> cases = {
        { "Data/" + fits + "x", "name has 146 bytes, too long" },
        { deepest + "e/f.txt", "has 134 bytes, too long" },
        { "COM0", "names a Windows device" },
        { "Docs/lpt0.txt", "names a Windows device" },
    };
#ifndef _WIN32
    // Names that Linux can hold but Windows cannot.
    const std::vector<Case> linuxOnly = {
        { "CONIN$", "names a Windows device" },
        { "conout$.log", "names a Windows device" },
        { "say \"hi\".txt", "name has '\"', which Windows does not allow in file names" },
        { "a:b.txt", "name has ':', which Windows does not allow" },
        { "tab\there", "name has control character 0x09" },
        { "NUL .dat", "'NUL .dat' names a Windows device" },
        { "Docs/CON .txt", "'CON .txt' names a Windows device" },
        { "COM\xC2\xB9", "names a Windows device" },  // superscript one
        { "LPT\xC2\xB3.txt", "names a Windows device" },  // superscript three
        { "Data./a.txt", "'Data.' ends in a dot" },
        { "trailing ", "ends in a blank" },
        { "back\\slash.txt", "name holds a backslash" },
        { "caf\xE9.txt", "not UTF-8" },
        { "Docs/\xC3\x84rger.txt", "differ only in case" },  // beside Docs/ärger.txt
        { "docs", "differ only in case" },                       // a file named like the folder Docs
    };
    cases.insert(cases.end(), linuxOnly.begin(), linuxOnly.end());
    WriteFile(work / "base" / "Docs" / fs::u8path("\xC3\xA4rger.txt"), "");
#endif
    WriteFile(work / "base" / "keep.txt", "");
    for (const Case& c : cases) {
        fs::remove_all(work / "bad");
        fs::remove(work / "bad.kma");
        fs::copy(work / "base", work / "bad", fs::copy_options::recursive);
        fs::path bad = work / "bad" / fs::u8path(c.name);
        WriteFile(bad, "x");
        EXPECT_EQ(4, Kmarc(work, "pack " + Quote(work / "bad.kma") + " " + Quote(work / "bad"))) << c.name;
        std::string error = ReadFile(work / "stderr.txt");
        EXPECT_NE(std::string::npos, error.find(c.why)) << c.name << ": " << error;
        EXPECT_NE(std::string::npos, error.find(fs::u8path(c.name).filename().string())) << c.name << ": " << error;
        EXPECT_FALSE(fs::exists(work / "bad.kma")) << c.name;
    }
}

// A .part planted beside the archive (a link on Linux, where a user can make one in a
// shared folder; a file on Windows) is refused by name and never written through; the
// archive and the depfile appear only once it is gone.
TEST_F(KmarcTest, PackNeverWritesThroughAPartSomeoneElsePutThere)
{
    WriteFile(work / "src" / "a.txt", "a");
    WriteFile(work / "victim.txt", "precious");
    std::string command = "pack --depfile " + Quote(work / "out.d") + " " + Archive() + " " + Quote(work / "src");
#ifdef _WIN32
    WriteFile(work / "out.kma.part", "precious");
#else
    fs::create_symlink(work / "victim.txt", work / "out.kma.part");
#endif
    EXPECT_EQ(3, Kmarc(work, command));
    std::string message = ReadFile(work / "stderr.txt");
    EXPECT_NE(std::string::npos, message.find("out.kma.part: already exists")) << message;
    EXPECT_EQ("precious", ReadFile(work / "victim.txt"));
    EXPECT_EQ("precious", ReadFile(work / "out.kma.part"));
    EXPECT_FALSE(fs::exists(work / "out.kma"));
    EXPECT_FALSE(fs::exists(work / "out.d"));

    fs::remove(work / "out.kma.part");
    ASSERT_EQ(0, Kmarc(work, command)) << ReadFile(work / "stderr.txt");
    EXPECT_TRUE(fs::exists(work / "out.d"));
    EXPECT_FALSE(fs::exists(work / "out.kma.part"));
    EXPECT_EQ(0, Kmarc(work, "verify " + Archive()));
}

// A file over the format's limit is refused by its size, before any of it is read
// (a sparse file, so the test costs no disk), and nothing is left behind.
TEST_F(KmarcTest, FilesTooLargeForTheFormatAreRefusedBeforeReading)
{
    WriteFile(work / "src" / "a.txt", "a");
    WriteFile(work / "src" / "Data" / "huge.bin", "");
    std::error_code error;
    fs::resize_file(work / "src" / "Data" / "huge.bin", 5ull << 30, error);
    if (error)
        GTEST_SKIP() << "no sparse file of 5 GiB here: " << error.message();
    EXPECT_EQ(4, Kmarc(work, "pack " + Archive() + " " + Quote(work / "src")));
    std::string message = ReadFile(work / "stderr.txt");
    EXPECT_NE(std::string::npos, message.find("huge.bin: larger than the 4 GiB an archive can hold")) << message;
    EXPECT_FALSE(fs::exists(work / "out.kma"));
    EXPECT_FALSE(fs::exists(work / "out.kma.part"));

    // A folder that cannot take the archive is a file-system failure.
    fs::remove(work / "src" / "Data" / "huge.bin");
    EXPECT_EQ(3, Kmarc(work, "pack " + Quote(work / "no" / "such" / "out.kma") + " " + Quote(work / "src")));
    EXPECT_NE(std::string::npos, ReadFile(work / "stderr.txt").find("out.kma.part: cannot create"));
}

// verify holds an archive written by any packer to the rules pack follows.
TEST_F(KmarcTest, VerifyAppliesTheNameRulesOfPack)
{
    const unsigned char x = 'x';
    const struct {
        std::vector<std::string> names;
        const char* message;
    } cases[] = {
        { { "a.txt", "A.TXT" }, "entries 'a.txt' and 'A.TXT' clash" },
        { { "Docs\\\xC4rger.txt", "docs\\\xE4RGER.TXT" }, "differs only in case" },
        { { "Data", "DATA\\a.txt" }, "entries 'Data' and 'DATA\\a.txt' clash" },
        { { "Data\\" + std::string(141, 'n') }, "name has 146 bytes, too long" },
        { { "ok.txt", "bad\x81.txt" }, "byte 0x81 is no character in code page 1252" },
    };
    for (const auto& c : cases) {
        ArchiveWriter writer;
        for (const std::string& name : c.names)
            ASSERT_EQ(ArchiveWriteResult::Ok, writer.Add(name, &x, 1, {}));
        std::vector<unsigned char> bytes;
        ASSERT_EQ(ArchiveWriteResult::Ok, writer.Finish(bytes));
        WriteFile(work / "out.kma", std::string(bytes.begin(), bytes.end()));
        EXPECT_EQ(1, Kmarc(work, "verify " + Archive())) << c.message;
        std::string error = ReadFile(work / "stderr.txt");
        EXPECT_NE(std::string::npos, error.find(c.message)) << error;
        EXPECT_NE(std::string::npos, error.find("name fault")) << error;
    }
}

#ifndef _WIN32
// Runs a shell command in work; its output goes to ninja.txt.
int Shell(const fs::path& work, const std::string& command)
{
    int status = std::system(("cd " + Quote(work) + " && " + command + " >ninja.txt 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(KmarcTest, NinjaRepacksOnEveryChangeOfTheTreeAndOnlyThen)
{
#ifndef KMARC_TEST_NINJA
    GTEST_SKIP() << "no Ninja in this tree";
#else
    const std::string ninja = Quote(KMARC_TEST_NINJA);
    const fs::path odd = work / "src" / "sub dir#1" / "x$y";
    WriteFile(odd / "a b.txt", "first");
    WriteFile(work / "src" / "top.txt", "top");
    std::ofstream(work / "build.ninja") << "rule pack\n  command = " << Quote(KmarcPath())
                                        << " pack --depfile $out.d $out src\n  depfile = $out.d\n  deps = gcc\n"
                                           "build out.kma: pack\n";
    auto Build = [&]() { return Shell(work, ninja); };
    auto UpToDate = [&]() {
        EXPECT_EQ(0, Shell(work, ninja + " -n"));
        return ReadFile(work / "ninja.txt").find("no work to do") != std::string::npos;
    };
    ASSERT_EQ(0, Build()) << ReadFile(work / "ninja.txt");
    EXPECT_TRUE(UpToDate()) << ReadFile(work / "ninja.txt");

    // Added, changed, renamed and removed files each make the archive out of date.
    WriteFile(odd / "new.txt", "new");
    EXPECT_FALSE(UpToDate());
    ASSERT_EQ(0, Build());
    EXPECT_EQ("sub dir#1\\x$y\\a b.txt|sub dir#1\\x$y\\new.txt|top.txt|", Names(work / "out.kma"));
    EXPECT_TRUE(UpToDate());

    WriteFile(odd / "a b.txt", "changed");
    fs::last_write_time(odd / "a b.txt", fs::last_write_time(odd / "a b.txt") + std::chrono::seconds(2));
    EXPECT_FALSE(UpToDate());
    ASSERT_EQ(0, Build());
    EXPECT_EQ(7u, Entries(work / "out.kma")[0].size);

    fs::rename(odd / "new.txt", odd / "renamed.txt");
    EXPECT_FALSE(UpToDate());
    ASSERT_EQ(0, Build());
    fs::remove(odd / "a b.txt");
    EXPECT_FALSE(UpToDate());
    ASSERT_EQ(0, Build());
    EXPECT_EQ("sub dir#1\\x$y\\renamed.txt|top.txt|", Names(work / "out.kma"));
    EXPECT_TRUE(UpToDate());

    // Names Ninja cannot read in a depfile are followed through links of plain names,
    // so changes to them are seen as well.
    const fs::path semicolon = work / "src" / "a;b";
    WriteFile(semicolon / "Notes; draft.txt", "legal on Windows");
    EXPECT_FALSE(UpToDate());
    ASSERT_EQ(0, Build()) << ReadFile(work / "ninja.txt");
    EXPECT_EQ("a;b\\Notes; draft.txt|sub dir#1\\x$y\\renamed.txt|top.txt|", Names(work / "out.kma"));
    EXPECT_TRUE(UpToDate()) << ReadFile(work / "ninja.txt");
    WriteFile(semicolon / "Notes; draft.txt", "changed");
    fs::last_write_time(semicolon / "Notes; draft.txt",
                        fs::last_write_time(semicolon / "Notes; draft.txt") + std::chrono::seconds(2));
    EXPECT_FALSE(UpToDate());
    ASSERT_EQ(0, Build());
    EXPECT_EQ(7u, Entries(work / "out.kma")[0].size);
    WriteFile(semicolon / "more & more.txt", "");
    EXPECT_FALSE(UpToDate());
    ASSERT_EQ(0, Build());
    fs::remove_all(semicolon);
    EXPECT_FALSE(UpToDate());
    ASSERT_EQ(0, Build());
    EXPECT_EQ("sub dir#1\\x$y\\renamed.txt|top.txt|", Names(work / "out.kma"));
    EXPECT_TRUE(UpToDate());
#endif
}

TEST_F(KmarcTest, LinksInsideTheTreeArePackedAndAllOthersRefused)
{
    WriteFile(work / "src" / "Data" / "real.txt", "real");
    fs::create_symlink("Data/real.txt", work / "src" / "alias.txt");
    fs::create_symlink("../alias.txt", work / "src" / "Data" / "chain.txt");
    ASSERT_EQ(0, Kmarc(work, "pack " + Archive() + " " + Quote(work / "src"))) << ReadFile(work / "stderr.txt");
    ASSERT_EQ(0, Kmarc(work, "extract " + Archive() + " " + Quote(work / "dst")));
    EXPECT_EQ("real", ReadFile(work / "dst" / "alias.txt"));
    EXPECT_EQ("real", ReadFile(work / "dst" / "Data" / "chain.txt"));
    EXPECT_FALSE(fs::is_symlink(work / "dst" / "alias.txt"));

    WriteFile(work / "outside.txt", "outside");
    const struct {
        const char* name;
        std::string target;
        const char* why;
    } cases[] = {
        { "out.txt", (work / "outside.txt").string(), "outside the folder being packed" },
        { "up.txt", "../../outside.txt", "outside the folder being packed" },
        { "dangling.txt", "nothing.txt", "symbolic link to nothing" },
        { "folder", "../Data", "symbolic link to a folder" },
        { "loop.txt", "loop.txt", "symbolic link loop" },
    };
    for (const auto& c : cases) {
        fs::path tree = work / (std::string("bad-") + c.name);
        WriteFile(tree / "Data" / "keep.txt", "keep");
        fs::create_symlink(c.target, tree / "Data" / c.name);
        EXPECT_EQ(4, Kmarc(work, "pack " + Quote(work / "bad.kma") + " " + Quote(tree))) << c.name;
        std::string error = ReadFile(work / "stderr.txt");
        EXPECT_EQ(0u, error.find("kmarc: " + (tree / "Data" / c.name).string() + ": symbolic link")) << error;
        EXPECT_NE(std::string::npos, error.find(c.why)) << error;
        EXPECT_FALSE(fs::exists(work / "bad.kma"));
    }
}
#endif

} // namespace
