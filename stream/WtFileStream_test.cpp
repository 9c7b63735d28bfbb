#include "stream/WtFileStream.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::uint32_t kCreateWrite = 0x1001;
const std::uint32_t kShared = WtFileStream::AccessReadWrite | WtFileStream::ShareReadWrite;

struct ProbeFileStream : WtFileStream
{
    using WtFileStream::WtFileStream;
    void CloseHandleBehindItsBack() { ASSERT_TRUE(CloseHandle(handle)); }
};

// The code of the WtStreamException that action throws by pointer (0 if none); deletes
// it, as every handler of the file stream must.
template <class Action>
std::int32_t ThrownCode(Action action, std::string* text = nullptr)
{
    try {
        action();
    } catch (WtStreamException* e) {
        const std::int32_t code = e->code;
        if (text && e->text)
            *text = e->text;
        delete e;
        return code;
    }
    return 0;
}

class WtFileStreamTest : public testing::Test
{
protected:
    void SetUp() override
    {
        // A fresh folder per test, even beside leftovers of an aborted run.
        char temp[MAX_PATH], unique[MAX_PATH];
        ASSERT_NE(0u, GetTempPathA(MAX_PATH, temp));
        ASSERT_NE(0u, GetTempFileNameA(temp, "wts", 0, unique));
        ASSERT_TRUE(DeleteFileA(unique) && CreateDirectoryA(unique, nullptr));
        folder = unique;
    }
    void TearDown() override
    {
        for (const std::string& file : files)
            DeleteFileA(file.c_str());
        RemoveDirectoryA(folder.c_str());
    }
    std::string Path(const char* name)
    {
        files.push_back(folder + "\\" + name);
        return files.back();
    }
    std::string MakeFile(const char* name, const std::string& content)
    {
        const std::string path = Path(name);
        WtFileStream(path.c_str(), kCreateWrite).Write(content.data(), content.size());
        return path;
    }
    static std::string Contents(const std::string& path)
    {
        WtFileStream stream(path.c_str(), WtFileStream::AccessRead | WtFileStream::ShareRead);
        std::string content(stream.GetSize(), '\0');
        EXPECT_EQ(content.size(), stream.Read(&content[0], content.size()));
        return content;
    }

    std::string folder;
    std::vector<std::string> files;
};

} // namespace

TEST_F(WtFileStreamTest, ModeWordDecidesCreationTruncationAndSharing)
{
    const std::string path = MakeFile("a.txt", "old");
    const std::string missing = Path("missing.txt");
    const std::string lost = folder + "\\no folder\\b.txt";
    const std::uint32_t keep = WtFileStream::OpenKeepExisting, read = WtFileStream::AccessRead;
    struct Case { std::uint32_t mode; const std::string* file; bool opens; const char* after; };
    const Case cases[] = {
        {keep | read, &missing, false, nullptr}, // OpenKeepExisting alone creates nothing
        {keep | read, &path, true, "old"},
        {kCreateWrite | keep, &path, true, "old"},
        {kCreateWrite, &path, true, ""},
        {kCreateWrite, &missing, true, ""},
        {kCreateWrite, &lost, false, nullptr},
        {0x3, &path, false, nullptr},  // undefined access value
        {0x50, &path, false, nullptr}, // undefined share value
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.mode << " " << *c.file);
        std::string text;
        EXPECT_EQ(c.opens ? 0 : 7, ThrownCode([&] { WtFileStream s(c.file->c_str(), c.mode); }, &text));
        EXPECT_EQ(c.opens ? "" : *c.file, text);
        if (c.after) {
            EXPECT_EQ(c.after, Contents(*c.file));
        }
    }

    const std::uint32_t shares[] = {WtFileStream::ShareDefault, WtFileStream::ShareNone, WtFileStream::ShareRead};
    for (std::uint32_t share : shares) {
        WtFileStream first(path.c_str(), read | share);
        EXPECT_EQ(share == WtFileStream::ShareRead ? 0 : 7,
                  ThrownCode([&] { WtFileStream second(path.c_str(), read | WtFileStream::ShareRead); }));
    }
}

TEST_F(WtFileStreamTest, WithoutAFileEveryCallFailsButCountsOfZero)
{
    WtFileStream stream;
    char byte = 0;
    // Counts of 0 never reach the system, which would refuse the missing handle.
    EXPECT_EQ(0u, stream.Read(&byte, 0));
    EXPECT_EQ(0u, stream.Write(&byte, 0));
    EXPECT_EQ(1, ThrownCode([&] { stream.Read(&byte, 1); }));
    EXPECT_EQ(2, ThrownCode([&] { stream.Write(&byte, 1); }));
    EXPECT_EQ(4, ThrownCode([&] { stream.GetSize(); }));
    EXPECT_EQ(-1, stream.LockRange(0, 1));
    stream.Close();
}

TEST_F(WtFileStreamTest, BothSidesMoveOnePosition)
{
    const std::string path = MakeFile("p.txt", "0123456789");
    WtFileStream stream(path.c_str(), kShared);
    WtInStream& in = stream;
    WtOutStream& out = stream;
    char buffer[8];
    EXPECT_EQ(3u, in.Read(buffer, 3));
    EXPECT_EQ(2u, out.Write("ab", 2));
    EXPECT_EQ(5u, in.GetPosition());
    EXPECT_EQ(10u, out.GetSize());
    EXPECT_EQ(5u, stream.GetPosition());
    EXPECT_EQ(8u, stream.Seek(-2, 2));
    EXPECT_EQ(2u, in.Read(buffer, sizeof buffer));
    EXPECT_EQ(0u, in.Read(buffer, sizeof buffer));
    EXPECT_EQ(4, ThrownCode([&] { stream.Seek(-1, 0); }));
    EXPECT_EQ(9u, stream.Seek(-1, 1));
    stream.Close();
    EXPECT_EQ("012ab56789", Contents(path));
}

TEST_F(WtFileStreamTest, AStreamOverAGivenHandleNeverClosesIt)
{
    const std::string path = Path("h.txt");
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    delete new WtFileStream(file);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, "d", 1, &written, nullptr));
    EXPECT_TRUE(CloseHandle(file));
}

TEST_F(WtFileStreamTest, LockConflictReturnsMinusOneAndStrayUnlockThrowsSix)
{
    const std::string path = MakeFile("l.txt", "0123456789");
    WtFileStream first(path.c_str(), kShared), second(path.c_str(), kShared);
    EXPECT_EQ(0, first.LockRange(0, 6));
    EXPECT_EQ(-1, second.LockRange(4, 4));
    EXPECT_EQ(6, ThrownCode([&] { second.UnlockRange(4, 4); }));
    first.UnlockRange(0, 6);
    EXPECT_EQ(0, second.LockRange(4, 4));
}

TEST_F(WtFileStreamTest, FailedCloseThrowsEightUnlessAnotherExceptionUnwinds)
{
    const std::string path = Path("c.txt");
    ProbeFileStream* stream = new ProbeFileStream(path.c_str(), kCreateWrite);
    stream->CloseHandleBehindItsBack();
    EXPECT_EQ(8, ThrownCode([&] { delete stream; }));

    // A second throw here would end the process.
    try {
        ProbeFileStream broken(path.c_str(), kCreateWrite);
        broken.CloseHandleBehindItsBack();
        throw 42;
    } catch (int value) {
        EXPECT_EQ(42, value);
    }
    // While unwinding the handle is still closed: a share-none open succeeds after it.
    try {
        WtFileStream held(path.c_str(), kCreateWrite);
        throw 43;
    } catch (int) {
    }
    EXPECT_TRUE(WtFileStream().Open(path.c_str(), kCreateWrite));
}

// A pipe that does not wait takes no more than fits in its buffer and reports success
// for the part it took: the one short write the system makes on demand.
TEST_F(WtFileStreamTest, ShortWriteThrowsThreeAndABrokenPipeTwo)
{
    const std::string name = "\\\\.\\pipe\\wtstream-short-" + std::to_string(GetCurrentProcessId());
    const DWORD pipeBuffer = 16;
    HANDLE reader = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_NOWAIT,
                                     1, 0, pipeBuffer, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, reader);
    HANDLE writer = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, writer);
    DWORD mode = PIPE_NOWAIT;
    ASSERT_TRUE(SetNamedPipeHandleState(writer, &mode, nullptr, nullptr));
    {
        WtFileStream stream(writer);
        const std::string bytes(64 * 1024, 'x');
        EXPECT_EQ(3, ThrownCode([&] { stream.Write(bytes.data(), bytes.size()); }));
        ASSERT_TRUE(CloseHandle(reader));
        EXPECT_EQ(2, ThrownCode([&] { stream.Write(bytes.data(), 1); }));
    }
    EXPECT_TRUE(CloseHandle(writer));
}
