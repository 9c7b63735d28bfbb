#include "archive/EntryInflation.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

namespace {

struct StringSink : WtWriter {
    std::string bytes;
    uint32_t Write(const void* data, uint32_t count) override
    {
        bytes.append(static_cast<const char*>(data), count);
        return count;
    }
};

std::vector<unsigned char> Deflate(const std::string& text)
{
    uLongf size = compressBound(static_cast<uLong>(text.size()));
    std::vector<unsigned char> out(size);
    compress(out.data(), &size, reinterpret_cast<const Bytef*>(text.data()), static_cast<uLong>(text.size()));
    out.resize(size);
    return out;
}

TEST(EntryInflationTest, JudgesStreamAndRecordedSize)
{
    const std::string text(250, 'z');
    const std::vector<unsigned char> sound = Deflate(text);
    std::vector<unsigned char> badChecksum = sound;
    badChecksum.back() ^= 1;
    const uint32_t full = static_cast<uint32_t>(sound.size());
    const struct {
        const char* what;
        const std::vector<unsigned char>* stream;
        uint32_t compressedSize;
        uint32_t uncompressedSize;
        EntryDamage expected;
    } cases[] = {
        { "sound", &sound, full, 250, EntryDamage::None },
        { "empty file", &sound, 0, 0, EntryDamage::None },
        { "no stream for a non-empty file", &sound, 0, 250, EntryDamage::StreamBroken },
        { "cut short", &sound, full - 5, 250, EntryDamage::StreamBroken },
        { "checksum fails", &badChecksum, full, 250, EntryDamage::StreamBroken },
        { "recorded size too large", &sound, full, 251, EntryDamage::SizeMismatch },
        { "recorded size too small", &sound, full, 249, EntryDamage::SizeMismatch },
        { "recorded size zero", &sound, full, 0, EntryDamage::SizeMismatch },
    };
    for (const auto& c : cases) {
        ArchiveEntry entry = { nullptr, c.stream->data(), c.compressedSize, c.uncompressedSize, 0, 0, 0 };
        StringSink sink;
        EXPECT_EQ(c.expected, InflateEntry(entry, sink)) << c.what;
        if (c.expected == EntryDamage::None) {
            EXPECT_EQ(text.substr(0, c.uncompressedSize), sink.bytes) << c.what;
        }
    }
}

TEST(EntryInflationTest, StopsOneBytePastAnUnderstatedSize)
{
    const std::vector<unsigned char> bomb = Deflate(std::string(1000000, '\0'));
    ArchiveEntry entry = { nullptr, bomb.data(), static_cast<uint32_t>(bomb.size()), 10, 0, 0, 0 };
    StringSink sink;
    EXPECT_EQ(EntryDamage::SizeMismatch, InflateEntry(entry, sink));
    EXPECT_EQ(11u, sink.bytes.size());
}

} // namespace
