// Runs the kmarc executable that lies beside this test, as a packager would.
#include "archive/ArchiveReader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#endif

namespace fs = std::filesystem;

namespace {

fs::path KmarcPath()
{
#ifdef _WIN32
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return fs::path(self).parent_path() / "kmarc.exe";
#else
    return fs::read_symlink("/proc/self/exe").parent_path() / "kmarc";
#endif
}

std::string Quote(const fs::path& path)
{
    return "\"" + path.string() + "\"";
}

// Runs kmarc with the arguments; stdout and stderr go to files under work.
int Kmarc(const fs::path& work, const std::string& arguments)
{
    std::string command = Quote(KmarcPath()) + " " + arguments + " >" + Quote(work / "stdout.txt") + " 2>" +
                          Quote(work / "stderr.txt");
#ifdef _WIN32
    // cmd.exe strips the outer pair of quotes from a line that starts with one.
    command = "\"" + command + "\"";
    return std::system(command.c_str());
#else
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const std::string& bytes)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

// Relative path -> contents of every file below root.
std::map<std::string, std::string> Snapshot(const fs::path& root)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file())
            files[entry.path().lexically_relative(root).generic_string()] = ReadFile(entry.path());
    }
    return files;
}

class KmarcTest : public testing::Test {
protected:
    void SetUp() override
    {
        const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
        work = fs::temp_directory_path() / ("kmarc_test_" + std::string(test->name()));
        fs::remove_all(work);
        fs::create_directories(work);
    }
    void TearDown() override { fs::remove_all(work); }

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

    fs::path work;
};

TEST_F(KmarcTest, PackVerifyExtractGivesTheTreeBackByteForByte)
{
    MakeSourceTree();
    ASSERT_EQ(0, Kmarc(work, "pack " + Archive() + " " + Quote(work / "src"))) << ReadFile(work / "stderr.txt");
    ASSERT_EQ(0, Kmarc(work, "verify " + Archive())) << ReadFile(work / "stderr.txt");
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

    // The entries before the damaged one are written; the damaged one leaves no file.
    EXPECT_EQ(1, Kmarc(work, "verify " + Archive()));
    EXPECT_NE(std::string::npos, ReadFile(work / "stderr.txt").find("'Data\\noise.bin' is damaged"));
    EXPECT_EQ(1, Kmarc(work, "extract " + Archive() + " " + Quote(work / "dst")));
    EXPECT_NE(std::string::npos, ReadFile(work / "stderr.txt").find("'Data\\noise.bin' is damaged"));
    EXPECT_TRUE(fs::exists(work / "dst" / "Data" / "Sub" / "zeros.bin"));
    EXPECT_FALSE(fs::exists(work / "dst" / "Data" / "noise.bin"));

    // A directory cut short is refused before anything is written.
    WriteFile(work / "out.kma", bytes.substr(0, bytes.size() - 3));
    EXPECT_EQ(1, Kmarc(work, "list " + Archive()));
    EXPECT_EQ(1, Kmarc(work, "extract " + Archive() + " " + Quote(work / "dst2")));
    EXPECT_NE(std::string::npos, ReadFile(work / "stderr.txt").find("damaged archive"));
    EXPECT_FALSE(fs::exists(work / "dst2"));
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
        { "pack --level 10 x y", 2 },
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

} // namespace
