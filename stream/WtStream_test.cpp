#include "stream/WtStream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <type_traits>

// Interfaces must not be deletable through themselves; the concrete classes are.
static_assert(!std::has_virtual_destructor<WtStream>::value, "");
static_assert(!std::has_virtual_destructor<WtReader>::value, "");
static_assert(!std::has_virtual_destructor<WtInOutStream>::value, "");
static_assert(!std::has_virtual_destructor<WtCodec>::value, "");
static_assert(std::has_virtual_destructor<WtStreamException>::value, "");

namespace {

class NullInOutStream : public WtInOutStream
{
public:
    std::uint32_t Read(void*, std::uint32_t) override { return 0; }
    std::uint32_t Write(const void*, std::uint32_t count) override { return count; }
    std::uint32_t GetSize() override { return 0; }
    std::uint32_t GetPosition() override { return 0; }
    std::uint32_t Seek(std::int32_t, std::uint32_t) override { return 0; }
    std::int32_t LockRange(std::uint32_t, std::uint32_t) override { return 0; }
    void UnlockRange(std::uint32_t, std::uint32_t) override {}
};

} // namespace

TEST(WtStreamTree, ReaderAndWriterSidesShareOneStream)
{
    NullInOutStream stream;
    WtInStream& in = stream;
    WtOutStream& out = stream;
    EXPECT_EQ(static_cast<WtStream*>(&in), static_cast<WtStream*>(&out));
}

TEST(WtStreamException, CodeAloneHasNoText)
{
    WtStreamException e(WtStreamException::CloseFailed);
    EXPECT_EQ(8, e.code);
    EXPECT_EQ(nullptr, e.text);
    EXPECT_EQ(nullptr, WtStreamException(-5, nullptr).text);
}

TEST(WtStreamException, KeepsItsOwnCopyOfTheText)
{
    std::string name = "C:\\missing\\file.txt";
    auto* original = new WtStreamException(7, name.c_str());
    name.assign(name.size(), 'x');
    EXPECT_STREQ("C:\\missing\\file.txt", original->text);

    WtStreamException copy(*original);
    EXPECT_EQ(7, copy.code);
    EXPECT_NE(original->text, copy.text);
    delete original;
    EXPECT_STREQ("C:\\missing\\file.txt", copy.text);

    {
        WtStreamException second(copy);
        second.text[0] = 'D';
    }
    EXPECT_STREQ("C:\\missing\\file.txt", copy.text);
}
