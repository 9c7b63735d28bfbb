#include "archive/ExtractEntry.h"
#include "archive/ExtractTestSupport.h"

#include "stream/WtStream.h"

#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <zlib.h>

namespace {

typedef std::vector<unsigned char> Bytes;

std::string Text(int lines)
{
    std::string text;
    for (int i = 0; i < lines; ++i)
        text += "line " + std::to_string(i) + " of the entry\r\n";
    return text;
}

// With flushAt, a full flush after that many bytes; *flushEnd says where it ends in the
// stream, so a test can damage the stream just behind it.
Bytes Compress(const std::string& text, size_t flushAt = 0, size_t* flushEnd = nullptr)
{
    z_stream z = {};
    deflateInit(&z, Z_DEFAULT_COMPRESSION);
    Bytes out(compressBound(text.size()) + 64);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.next_out = out.data();
    z.avail_out = out.size();
    if (flushAt != 0) {
        z.avail_in = flushAt;
        deflate(&z, Z_FULL_FLUSH);
        *flushEnd = z.total_out;
    }
    z.avail_in = text.size() - flushAt;
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

std::string ReadAll(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

void WriteAll(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

void ExpectThrown(const std::function<void()>& call, int code, const char* text)
{
    try {
        call();
        ADD_FAILURE() << "nothing thrown";
    } catch (WtStreamException* thrown) {
        std::unique_ptr<WtStreamException> owned(thrown);
        EXPECT_EQ(thrown->code, code);
        EXPECT_STREQ(thrown->text, text);
    }
}

class ExtractEntryTest : public ScratchTest
{
protected:
    ExtractionResult Extract(const Bytes& stream, const std::string& path,
                             CreatedDirectoryList* list = nullptr, size_t size = ~size_t(0))
    {
        return ExtractEntry(stream.data(), std::min(size, stream.size()), path.c_str(), list);
    }
};

TEST_F(ExtractEntryTest, RecordsEveryFolderItCreatesNewestFirst)
{
    const std::string setup = scratch + "\\KMGSetup0";
    const std::string text = Text(100);
    CreatedDirectoryList list;
    for (const char* name : {"\\Docs\\Eng\\a.txt", "\\Docs\\Ger\\a.txt", "\\Docs\\Ger\\b.txt"}) {
        const ExtractionResult result = Extract(Compress(text), setup + name, &list);
        EXPECT_TRUE(result.complete);
        EXPECT_EQ(result.bytesWritten, text.size());
        EXPECT_EQ(ReadAll(setup + name), text);
    }
    EXPECT_EQ(Listed(list), (Paths{setup + "\\Docs\\Ger", setup + "\\Docs\\Eng",
                                   setup + "\\Docs", setup}));
}

TEST_F(ExtractEntryTest, PathWithoutFolderIsWrittenHere)
{
    ASSERT_TRUE(SetCurrentDirectoryA(scratch.c_str()));
    expectedDirectory = scratch;
    CreatedDirectoryList list;
    Extract(Compress("plain"), "plain.txt", &list);
    EXPECT_EQ(ReadAll(scratch + "\\plain.txt"), "plain");
    EXPECT_EQ(list.GetCount(), 0);
}

TEST_F(ExtractEntryTest, ExistingLongerFileIsTruncatedAndRewritten)
{
    const std::string path = scratch + "\\old.txt";
    WriteAll(path, std::string(5000, 'x'));
    CreatedDirectoryList list;
    Extract(Compress("new"), path, &list);
    EXPECT_EQ(ReadAll(path), "new");
    EXPECT_EQ(list.GetCount(), 0);
}

TEST_F(ExtractEntryTest, NoCompressedBytesGiveACompleteEmptyFile)
{
    const ExtractionResult result = Extract(Compress("unused"), scratch + "\\empty", nullptr, 0);
    EXPECT_TRUE(result.complete);
    EXPECT_EQ(result.bytesWritten, 0u);
    EXPECT_TRUE(GetFileAttributesA((scratch + "\\empty").c_str()) != INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(ReadAll(scratch + "\\empty"), "");
}

TEST_F(ExtractEntryTest, DamagedStreamKeepsWhatInflatedAndIsIncomplete)
{
    const std::string text = Text(200);
    size_t flushEnd = 0;
    const Bytes sound = Compress(text, 1000, &flushEnd);
    Bytes badBlock = sound;
    badBlock[flushEnd] = 0x07; // a block type that does not exist
    Bytes badChecksum = sound;
    badChecksum.back() ^= 1;
    const struct { const char* name; Bytes stream; size_t size; std::string kept; } cases[] = {
        {"bad block", badBlock, badBlock.size(), text.substr(0, 1000)},
        {"cut short", sound, flushEnd, text.substr(0, 1000)},
        {"bad checksum", badChecksum, badChecksum.size(), text},
    };
    for (const auto& c : cases) {
        const ExtractionResult result = Extract(c.stream, scratch + "\\damaged", nullptr, c.size);
        EXPECT_FALSE(result.complete) << c.name;
        EXPECT_EQ(result.bytesWritten, c.kept.size()) << c.name;
        EXPECT_EQ(ReadAll(scratch + "\\damaged"), c.kept) << c.name;
    }
}

TEST_F(ExtractEntryTest, ReadOnlyFileIsRefusedBeforeInflating)
{
    SKIP_UNLESS_DRIVES_MAPPED();
    const std::string path = kTestDrive + std::string("\\readonly.txt");
    ASSERT_TRUE(GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_READONLY);
    HANDLE probe = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe != INVALID_HANDLE_VALUE) {
        CloseHandle(probe);
        GTEST_SKIP() << "this file system lets the test write a read-only file";
    }
    ExpectThrown([&] { Extract(Compress("new"), path); }, WtStreamException::OpenFailed,
                 path.c_str());
    EXPECT_EQ(ReadAll(path), "old");
}

TEST_F(ExtractEntryTest, OverlongPathFailsBeforeAnyFolderIsMade)
{
    // 511 characters still go through (the name is too long for the file system); 512 do not.
    for (size_t length : {511u, 512u}) {
        const std::string folder = scratch + "\\new" + std::to_string(length);
        const std::string path = folder + "\\" + std::string(length - folder.size() - 1, 'n');
        ExpectThrown([&] { Extract(Compress("x"), path); }, WtStreamException::OpenFailed,
                     path.c_str());
        EXPECT_EQ(IsFolder(folder), length == 511) << length;
    }
}

TEST_F(ExtractEntryTest, FailedWriteStillClosesTheFile)
{
    SKIP_UNLESS_DRIVES_MAPPED();
    const std::string path = kTestDrive + std::string("\\full.bin"); // a link to /dev/full
    ExpectThrown([&] { Extract(Compress(Text(10)), path); }, WtStreamException::WriteFailed,
                 nullptr);
    // A handle left open would refuse this unshared open.
    HANDLE again = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    CloseHandle(again);
}

} // namespace
