#include "pe/PeImage.h"
#include "pe/PeTestSupport.h"
#include "pe/ResourceTree.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

std::vector<uint8_t> SoundImage()
{
    return BuildTestImage(LauncherLikeImage(LauncherResources()));
}

size_t Optional(const std::vector<uint8_t>& bytes)
{
    return ByteView(bytes).U32(kDosPeOffsetField, "") + 4 + kCoffHeaderSize;
}

size_t SectionTable(const std::vector<uint8_t>& bytes)
{
    return Optional(bytes) + 0xE0;
}

TEST(PeImageTest, ReadsTheHeadersAndSectionsOfASoundImage)
{
    PeImage image(SoundImage());
    ASSERT_EQ(4u, image.Sections().size());
    EXPECT_EQ(".rsrc", image.Sections()[2].name);
    EXPECT_EQ(kTestFileAlignment, image.FileAlignment());
    EXPECT_EQ(kTestSectionAlignment, image.SectionAlignment());
    EXPECT_EQ(image.Sections()[2].virtualAddress, image.Directory(kPeDirResource).address);
    EXPECT_FALSE(image.HasCertificate());
    EXPECT_EQ(image.Checksum(), ComputePeChecksum(image.Bytes(), Optional(image.Bytes()) + kOptionalChecksum));
    EXPECT_EQ(image.Sections()[3].rawPointer + image.Sections()[3].rawSize, image.EndOfSections());
}

// Each damage gives its own kind of fault, and never a read outside the bytes.
TEST(PeImageTest, RefusesEachKindOfDamageByName)
{
    const struct {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> damage;
        PeFault fault;
        const char* message;
    } cases[] = {
        { "empty file", [](std::vector<uint8_t>& b) { b.clear(); }, PeFault::NotPe, "no MZ" },
        { "text file", [](std::vector<uint8_t>& b) { b.assign(500, 'x'); }, PeFault::NotPe, "no MZ" },
        { "only MZ", [](std::vector<uint8_t>& b) { b.resize(2); }, PeFault::Truncated, "DOS header" },
        { "PE header past the end", [](std::vector<uint8_t>& b) { PutU32(b, kDosPeOffsetField, 0x7FFFFFF0); },
          PeFault::Truncated, "past the end" },
        { "DOS program", [](std::vector<uint8_t>& b) { b[0x80] = 'N'; }, PeFault::NotPe, "no PE signature" },
        { "64-bit", [](std::vector<uint8_t>& b) { PutU16(b, Optional(b), 0x020B); }, PeFault::NotPe32, "64-bit" },
        { "other machine", [](std::vector<uint8_t>& b) { PutU16(b, 0x84, 0x8664); }, PeFault::NotPe32, "machine" },
        { "no sections", [](std::vector<uint8_t>& b) { PutU16(b, 0x84 + kCoffNumberOfSections, 0); },
          PeFault::Malformed, "section count" },
        { "odd file alignment", [](std::vector<uint8_t>& b) { PutU32(b, Optional(b) + 36, 0x300); },
          PeFault::Malformed, "file alignment" },
        { "cut inside a section", [](std::vector<uint8_t>& b) { b.resize(0x1000); }, PeFault::Truncated,
          "cut short" },
        { "cut inside the headers", [](std::vector<uint8_t>& b) { b.resize(0x200); }, PeFault::Truncated, "" },
        { "section over the headers", [](std::vector<uint8_t>& b) { PutU32(b, SectionTable(b) + 20, 0x200); },
          PeFault::Malformed, "headers" },
        { "sections overlap in memory", [](std::vector<uint8_t>& b) { PutU32(b, SectionTable(b) + 40 + 12, 0x1000); },
          PeFault::Malformed, "overlaps" },
        { "section past the image size", [](std::vector<uint8_t>& b) { PutU32(b, Optional(b) + 56, 0x2000); },
          PeFault::Malformed, "image size" },
        { "certificate past the end",
          [](std::vector<uint8_t>& b) {
              PutU32(b, Optional(b) + kOptionalDataDirectories + 8 * kPeDirSecurity, uint32_t(b.size() - 8));
              PutU32(b, Optional(b) + kOptionalDataDirectories + 8 * kPeDirSecurity + 4, 64);
          },
          PeFault::Truncated, "certificate table" },
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> bytes = SoundImage();
        c.damage(bytes);
        try {
            PeImage image(bytes);
            ADD_FAILURE() << c.what << ": taken";
        } catch (const PeError& error) {
            EXPECT_EQ(c.fault, error.Fault()) << c.what << ": " << error.what();
            EXPECT_NE(std::string::npos, std::string(error.what()).find(c.message)) << c.what << ": " << error.what();
        }
    }
}

TEST(PeImageTest, ChecksumFoldsCarriesAndCountsTheLength)
{
    // Words 0xFFFF and 0x0002 fold to 0x0002; the odd last byte counts alone; the four
    // checksum bytes count as zero.
    std::vector<uint8_t> bytes = { 0xFF, 0xFF, 0x02, 0x00, 0xAA, 0xBB, 0xCC, 0xDD, 0x05 };
    EXPECT_EQ(0x0002u + 0x0005u + 9u, ComputePeChecksum(bytes, 4));
}

TEST(ResourceTreeTest, ReadsBackEveryResourceWithItsCodePage)
{
    ResourceTree written = LauncherResources();
    PeImage image(BuildTestImage(LauncherLikeImage(written)));
    ResourceTree read = ReadResources(image);
    ASSERT_EQ(written.Count(), read.Count());
    for (const auto& type : written.Types())
        for (const auto& name : type.second)
            for (const auto& language : name.second) {
                const ResourceData* found = read.Find(type.first, name.first, language.first);
                ASSERT_NE(nullptr, found) << type.first.Display() << "/" << name.first.Display();
                EXPECT_EQ(language.second.bytes, found->bytes);
                EXPECT_EQ(language.second.codePage, found->codePage);
            }
}

TEST(ResourceTreeTest, NamesComeBeforeNumbersInCodeUnitOrder)
{
    std::vector<uint8_t> section = BuildResourceSection(LauncherResources(), 0x3000);
    ByteView view(section);
    // Root: one named type (KMARC) first, then five numbered ones in rising order.
    EXPECT_EQ(1u, view.U16(12, ""));
    EXPECT_EQ(5u, view.U16(14, ""));
    EXPECT_NE(0u, view.U32(16, "") & 0x80000000u);
    uint32_t previous = 0;
    for (int i = 1; i < 6; ++i) {
        uint32_t id = view.U32(16 + 8 * i, "");
        EXPECT_LT(previous, id);
        previous = id;
    }
    // The KMARC names: APPBASE before BASE.
    uint32_t names = view.U32(20, "") & 0x7FFFFFFFu;
    uint32_t first = view.U32(names + 16, "") & 0x7FFFFFFFu;
    EXPECT_EQ(7u, view.U16(first, ""));
    EXPECT_EQ('A', view.U16(first + 2, ""));
    EXPECT_TRUE(ResourceId::Named("APPBASE") < ResourceId::Named("BASE"));
    EXPECT_TRUE(ResourceId::Named("BASE") < ResourceId::Named("BASEX"));
    EXPECT_TRUE(ResourceId::Named("Z") < ResourceId(1));
}

// Damaged directories: each is refused with a PeError, none is read outside the file
// or loops.
TEST(ResourceTreeTest, RefusesDirectoriesThatPointOutsideOrLoop)
{
    std::vector<uint8_t> sound = SoundImage();
    PeImage soundImage(sound);
    size_t root = soundImage.Sections()[2].rawPointer;
    const struct {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> damage;
    } cases[] = {
        { "table past the section", [&](std::vector<uint8_t>& b) { PutU32(b, root + 20, 0x80000000u | 0x7FFFF000u); } },
        { "entry count past the section", [&](std::vector<uint8_t>& b) { PutU16(b, root + 14, 0xFFFF); } },
        { "loop back to the root", [&](std::vector<uint8_t>& b) { PutU32(b, root + 28, 0x80000000u); } },
        { "name string outside", [&](std::vector<uint8_t>& b) { PutU32(b, root + 16, 0x80000000u | 0x7FFFFFF0u); } },
        { "data in no section",
          [&](std::vector<uint8_t>& b) {
              ByteView v(b);
              uint32_t names = v.U32(root + 20, "") & 0x7FFFFFFF;
              uint32_t languages = v.U32(root + names + 20, "") & 0x7FFFFFFF;
              uint32_t data = v.U32(root + languages + 20, "");
              PutU32(b, root + data, 0x00F00000);
          } },
        { "data longer than its section",
          [&](std::vector<uint8_t>& b) {
              ByteView v(b);
              uint32_t names = v.U32(root + 20, "") & 0x7FFFFFFF;
              uint32_t languages = v.U32(root + names + 20, "") & 0x7FFFFFFF;
              uint32_t data = v.U32(root + languages + 20, "");
              PutU32(b, root + data + 4, 0x100000);
          } },
        { "data where a table belongs", [&](std::vector<uint8_t>& b) { PutU32(b, root + 20, 0x10); } },
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> bytes = sound;
        c.damage(bytes);
        PeImage image(bytes);
        EXPECT_THROW(ReadResources(image), PeError) << c.what;
    }
}

} // namespace
