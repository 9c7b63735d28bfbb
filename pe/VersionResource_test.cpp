#include "pe/VersionResource.h"

#include "pe/ByteView.h"

#include <gtest/gtest.h>

#include <map>

namespace {

TEST(VersionResourceTest, VersionNumbersTakeOneToFourPartsUpTo65535)
{
    const struct {
        const char* text;
        bool valid;
        uint16_t parts[4];
    } cases[] = {
        { "1", true, { 1, 0, 0, 0 } },         { "2.5", true, { 2, 5, 0, 0 } },
        { "1.2.3.4", true, { 1, 2, 3, 4 } },   { "65535.0.0.65535", true, { 65535, 0, 0, 65535 } },
        { "", false, {} },                     { "1.2.3.4.5", false, {} },
        { "65536", false, {} },                { "1..2", false, {} },
        { "1.2.", false, {} },                 { "v1.2", false, {} },
        { "1.2 beta", false, {} },             { "-1", false, {} },
    };
    for (const auto& c : cases) {
        VersionNumber number;
        EXPECT_EQ(c.valid, ParseVersionNumber(c.text, number)) << c.text;
        if (c.valid) {
            for (int i = 0; i < 4; ++i)
                EXPECT_EQ(c.parts[i], number.parts[i]) << c.text;
        }
    }
}

// Walks the blocks as a reader of version resources does, checking every length
// against its parent, and collects the strings and the fixed part.
struct VersionReader {
    std::map<std::u16string, std::u16string> strings;
    std::vector<uint32_t> fixed;
    uint32_t translation = 0;

    std::u16string Text(ByteView view, size_t& at)
    {
        std::u16string text;
        for (uint16_t unit; (unit = view.U16(at, "text")) != 0; at += 2)
            text.push_back(static_cast<char16_t>(unit));
        at += 2;
        return text;
    }

    void Read(ByteView view, size_t start, size_t end, const std::u16string& parent)
    {
        size_t length = view.U16(start, "length");
        ASSERT_LE(start + length, end);
        uint16_t valueLength = view.U16(start + 2, "value length");
        uint16_t type = view.U16(start + 4, "type");
        size_t at = start + 6;
        std::u16string key = Text(view, at);
        at = (at + 3) / 4 * 4;
        if (key == u"VS_VERSION_INFO") {
            for (int i = 0; i < 13; ++i)
                fixed.push_back(view.U32(at + 4 * i, "fixed"));
            at += valueLength;
        } else if (parent == u"StringTable") {
            EXPECT_EQ(1, type);
            size_t valueAt = at;
            std::u16string value = Text(view, valueAt);
            EXPECT_EQ(value.size() + 1, valueLength);
            strings[key] = value;
            return;
        } else if (key == u"Translation") {
            translation = view.U32(at, "translation");
            return;
        }
        std::u16string childParent = parent == u"StringFileInfo" ? u"StringTable" : key;
        while ((at = (at + 3) / 4 * 4) < start + length) {
            uint16_t childLength = view.U16(at, "length");
            ASSERT_GT(childLength, 6) << "a block of no length";
            Read(view, at, start + length, childParent);
            at += childLength;
        }
    }
};

TEST(VersionResourceTest, BlocksNestWithTheirLengthsAndCarryTheValues)
{
    VersionInfo info;
    ASSERT_TRUE(ParseVersionNumber("2.5.1.300", info.fileVersion));
    ASSERT_TRUE(ParseVersionNumber("2.5", info.productVersion));
    info.strings = { { u"ProductName", u"Kalmora Photo" },
                     { u"CompanyName", u"Kalmora Software" },
                     { u"FileVersion", u"2.5.1.300" },
                     { u"LegalCopyright", u"\u00A9 2026 K\u00E4lmora" },
                     { u"FileDescription", u"" } };
    std::vector<uint8_t> block = BuildVersionResource(info);
    ByteView view(block);
    EXPECT_EQ(block.size(), view.U16(0, "length"));

    VersionReader reader;
    reader.Read(view, 0, block.size(), u"");
    ASSERT_EQ(13u, reader.fixed.size());
    EXPECT_EQ(0xFEEF04BDu, reader.fixed[0]);
    EXPECT_EQ(0x00020005u, reader.fixed[2]);
    EXPECT_EQ(0x0001012Cu, reader.fixed[3]);
    EXPECT_EQ(0x00020005u, reader.fixed[4]);
    EXPECT_EQ(0u, reader.fixed[5]);
    EXPECT_EQ(0x04B00409u, reader.translation);
    EXPECT_EQ(5u, reader.strings.size());
    EXPECT_EQ(u"Kalmora Photo", reader.strings[u"ProductName"]);
    EXPECT_EQ(u"\u00A9 2026 K\u00E4lmora", reader.strings[u"LegalCopyright"]);
    EXPECT_EQ(u"", reader.strings[u"FileDescription"]);

    info.strings = { { u"Comments", std::u16string(40000, u'x') } };
    EXPECT_THROW(BuildVersionResource(info), PeError);
}

} // namespace
