#include "archive/EntryInflation.h"

#include "archive/ArchiveTestSupport.h"

#include <gtest/gtest.h>

namespace {

struct StringSink : WtWriter {
    std::string bytes;
    uint32_t Write(const void* data, uint32_t count) override
    {
        bytes.append(static_cast<const char*>(data), count);
        return count;
    }
};

TEST(EntryInflationTest, JudgesStreamAndRecordedSize)
{
    const std::string text(250, 'z');
    const std::vector<unsigned char> sound = Deflate(text);
    std::vector<unsigned char> badChecksum = sound;
    badChecksum.back() ^= 1;
    const std::vector<unsigned char> bomb = Deflate(std::string(1000000, '\0'));
    const uint32_t full = static_cast<uint32_t>(sound.size());
    const struct {
        const char* what;
        const std::vector<unsigned char>* stream;
        uint32_t compressedSize;
        uint32_t uncompressedSize;
        EntryDamage expected;
        size_t written;
    } cases[] = {
        { "sound", &sound, full, 250, EntryDamage::None, 250 },
        { "empty file", &sound, 0, 0, EntryDamage::None, 0 },
        { "no stream for a non-empty file", &sound, 0, 250, EntryDamage::StreamBroken, 0 },
        { "cut short", &sound, full - 5, 250, EntryDamage::StreamBroken, 250 },
        { "checksum fails", &badChecksum, full, 250, EntryDamage::StreamBroken, 250 },
        { "recorded size too large", &sound, full, 251, EntryDamage::SizeMismatch, 250 },
        { "recorded size too small", &sound, full, 249, EntryDamage::SizeMismatch, 250 },
        { "stops one byte past an understated size", &bomb, uint32_t(bomb.size()), 10, EntryDamage::SizeMismatch, 11 },
    };
    for (const auto& c : cases) {
        ArchiveEntry entry = { nullptr, c.stream->data(), c.compressedSize, c.uncompressedSize, 0, 0, 0 };
        StringSink sink;
        EXPECT_EQ(c.expected, InflateEntry(entry, sink)) << c.what;
        EXPECT_EQ(c.written, sink.bytes.size()) << c.what;
    }
}

} // namespace
