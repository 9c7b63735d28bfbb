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

// With flushAt, the stream is fully flushed after that many bytes, and *flushEnd says
// where the flush ends in the stream, so a test can damage the stream just behind it.
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
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
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

ExtractionResult Extract(const Bytes& stream, const std::string& path,
                         CreatedDirectoryList* list = nullptr, size_t size = ~size_t(0))
{
    return ExtractEntry(stream.data(), std::min(size, stream.size()), path.c_str(), list);
}

using ExtractEntryTest = ScratchTest;

TEST_F(ExtractEntryTest, RecordsEveryFolderItCreatesNewestFirst)
{
    const std::string setup = scratch + "\\KMGSetup0";
    CreatedDirectoryList list;
    for (const char* name : {"\\Docs\\Eng\\a.txt", "\\Docs\\Ger\\a.txt", "\\Docs\\Ger\\b.txt"}) {
        Extract(Compress(name), setup + name, &list);
        EXPECT_EQ(ReadAll(setup + name), name);
    }
    EXPECT_EQ(Listed(list), (Paths{setup + "\\Docs\\Ger", setup + "\\Docs\\Eng",
                                   setup + "\\Docs", setup}));
}

// Entry names are bytes in the ANSI code page, as kmarc packs them: from UTF-8
// "Dökumente/Übersicht €.txt" it writes 0xF6, 0xDC and 0x80, which the extractor's ANSI
// calls turn back into the same characters.
TEST_F(ExtractEntryTest, AnsiNamesComeBackAsTheCharactersPacked)
{
    if (GetACP() != 1252)
        GTEST_SKIP() << "the ANSI code page is " << GetACP() << ", not 1252";
    const std::string setup = scratch + "\\KMGSetup0";
    CreatedDirectoryList list;
    Extract(Compress("u"), setup + "\\D\xF6kumente\\\xDC" "bersicht \x80.txt", &list);
    const std::wstring folder = std::wstring(scratch.begin(), scratch.end()) + L"\\KMGSetup0\\D\u00F6kumente";
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*.txt").c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_EQ(std::wstring(found.cFileName), L"\u00DC" L"bersicht \u20AC.txt");
    EXPECT_FALSE(FindNextFileW(search, &found));
    FindClose(search);
}

// All in the current directory, which exists, so no case records a folder.
TEST_F(ExtractEntryTest, FileHoldsWhatInflatedAndTheResultSaysWhetherThatIsAll)
{
    EnterScratch();
    std::ofstream("old.txt", std::ios::binary) << std::string(5000, 'x');
    const std::string text = Text(200);
    size_t flushEnd = 0;
    const Bytes sound = Compress(text, 1000, &flushEnd);
    Bytes badBlock = sound;
    badBlock[flushEnd] = 0x07; // a block type that does not exist
    Bytes badChecksum = sound;
    badChecksum.back() ^= 1;
    const struct { const char* path; Bytes stream; size_t size; std::string kept; bool complete; }
        cases[] = {
            {"sound.txt", sound, sound.size(), text, true},
            {"old.txt", Compress("new"), ~size_t(0), "new", true},
            {"empty.txt", sound, 0, "", true},
            {"bad-block.txt", badBlock, badBlock.size(), text.substr(0, 1000), false},
            {"cut-short.txt", sound, flushEnd, text.substr(0, 1000), false},
            {"bad-checksum.txt", badChecksum, badChecksum.size(), text, false},
        };
    for (const auto& c : cases) {
        CreatedDirectoryList list;
        const ExtractionResult result = Extract(c.stream, c.path, &list, c.size);
        EXPECT_EQ(result.complete, c.complete) << c.path;
        EXPECT_EQ(result.bytesWritten, c.kept.size()) << c.path;
        EXPECT_EQ(ReadAll(c.path), c.kept) << c.path;
        EXPECT_EQ(list.GetCount(), 0) << c.path;
    }
}

// The entry goes to a message pipe instead of a disk file, so every write of the file
// stream arrives as one message and the reader sees how the bytes were cut up.
TEST_F(ExtractEntryTest, WritesTheEntryInPiecesOfAHundredBytes)
{
    EnterScratch();
    const std::string pipe = "\\\\.\\pipe\\kmextract-" + std::to_string(GetCurrentProcessId());
    const DWORD room = 4096; // all messages fit, so the writer never waits for the reader
    HANDLE reader = CreateNamedPipeA(pipe.c_str(), PIPE_ACCESS_INBOUND,
                                     PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 0,
                                     room, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    const std::string text = Text(20).substr(0, 250);
    CreatedDirectoryList list;
    const ExtractionResult result = Extract(Compress(text), pipe, &list);
    EXPECT_TRUE(result.complete);
    EXPECT_EQ(result.bytesWritten, 250u);
    EXPECT_EQ(list.GetCount(), 0);

    std::vector<DWORD> writes;
    std::string received;
    char message[room];
    DWORD length = 0;
    while (ReadFile(reader, message, sizeof message, &length, nullptr)) {
        writes.push_back(length);
        received.append(message, length);
    }
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BROKEN_PIPE)); // the file was closed
    EXPECT_EQ(writes, (std::vector<DWORD>{100, 100, 50}));
    EXPECT_EQ(received, text);
    CloseHandle(reader);
    EXPECT_TRUE(std::filesystem::is_empty(scratch)); // no folder was made for the pipe
}

TEST_F(ExtractEntryTest, OverlongPathFailsBeforeAnyFolderIsMade)
{
    // 511 characters are taken (and then refused by the file system); 512 are not.
    for (size_t length : {511u, 512u}) {
        const std::string folder = scratch + "\\new" + std::to_string(length);
        const std::string path = folder + "\\" + std::string(length - folder.size() - 1, 'n');
        ExpectThrown([&] { Extract(Compress("x"), path); }, WtStreamException::OpenFailed,
                     path.c_str());
        EXPECT_EQ(std::filesystem::exists(folder), length == 511) << length;
    }
}

TEST_F(ExtractEntryTest, ReadOnlyFileIsRefusedBeforeInflating)
{
    SKIP_UNLESS_DRIVES_MAPPED();
    const char path[] = "Q:\\readonly.txt";
    ASSERT_TRUE(GetFileAttributesA(path) & FILE_ATTRIBUTE_READONLY);
    HANDLE probe = CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (probe != INVALID_HANDLE_VALUE) {
        CloseHandle(probe);
        GTEST_SKIP() << "this file system lets the test write a read-only file";
    }
    ExpectThrown([&] { Extract(Compress("new"), path); }, WtStreamException::OpenFailed, path);
    EXPECT_EQ(ReadAll(path), "old");
}

// The system's own handle count is not kept under Wine, so the handles are counted here.
int OpenHandles()
{
    int count = 0;
    DWORD flags;
    for (ULONG_PTR value = 4; value < 0x2000; value += 4)
        count += GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) ? 1 : 0;
    return count;
}

TEST_F(ExtractEntryTest, FailedWriteStillClosesTheFile)
{
    SKIP_UNLESS_DRIVES_MAPPED();
    int handles[2];
    for (int& count : handles) {
        ExpectThrown([] { Extract(Compress(Text(10)), "Q:\\full.bin"); }, // a link to /dev/full
                     WtStreamException::WriteFailed, nullptr);
        count = OpenHandles();
    }
    EXPECT_EQ(handles[1], handles[0]);
}

} // namespace
