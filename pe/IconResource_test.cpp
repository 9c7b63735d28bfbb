#include "pe/IconResource.h"

#include "pe/PeTestSupport.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

// An .ico file with images of the given sizes and 32 bits, contents from Pattern.
std::vector<uint8_t> IconFile(const std::vector<uint8_t>& sides)
{
    std::vector<uint8_t> file;
    AppendU16(file, 0);
    AppendU16(file, 1);
    AppendU16(file, static_cast<uint16_t>(sides.size()));
    uint32_t offset = static_cast<uint32_t>(6 + 16 * sides.size());
    std::vector<uint8_t> data;
    for (size_t i = 0; i < sides.size(); ++i) {
        std::vector<uint8_t> image = Pattern(100 + 10 * i, uint8_t(i + 1));
        file.insert(file.end(), { sides[i], sides[i], 0, 0 });
        AppendU16(file, 1);
        AppendU16(file, 32);
        AppendU32(file, static_cast<uint32_t>(image.size()));
        AppendU32(file, offset + static_cast<uint32_t>(data.size()));
        data.insert(data.end(), image.begin(), image.end());
    }
    file.insert(file.end(), data.begin(), data.end());
    return file;
}

TEST(IconResourceTest, ReplacesTheGroupAndItsImagesOnly)
{
    ResourceTree tree = LauncherResources();
    // A second group that shares nothing, and an image no group names.
    tree.Set(kResourceTypeIcon, 2, 0, { Pattern(50, 60), 0 });
    tree.Set(kResourceTypeIcon, 7, 0, { Pattern(50, 61), 0 });
    tree.Set(kResourceTypeIconGroup, 200, 0, { { 0, 0, 1, 0, 1, 0, 16, 16, 0, 0, 1, 0, 32, 0, 50, 0, 0, 0, 2, 0 }, 0 });

    std::vector<IconImage> images = ReadIconFile(IconFile({ 48, 32, 0 }));
    ASSERT_EQ(3u, images.size());
    EXPECT_EQ(0, images[2].width);
    EXPECT_EQ(Pattern(110, 2), images[1].bytes);
    SetIconGroup(tree, 101, images);

    const ResourceData* group = tree.Find(kResourceTypeIconGroup, 101, 0);
    ASSERT_NE(nullptr, group);
    std::vector<uint16_t> members = IconGroupMembers(group->bytes);
    // Icon 1 was the old group's and is free again; 2 and 7 stay taken.
    ASSERT_EQ((std::vector<uint16_t>{ 1, 3, 4 }), members);
    for (size_t i = 0; i < members.size(); ++i) {
        const ResourceData* image = tree.Find(kResourceTypeIcon, members[i], 0);
        ASSERT_NE(nullptr, image);
        EXPECT_EQ(images[i].bytes, image->bytes);
        // The group entry gives the image's size in bytes.
        EXPECT_EQ(images[i].bytes.size(), ByteView(group->bytes).U32(6 + 14 * i + 8, ""));
    }
    EXPECT_EQ(Pattern(50, 60), tree.Find(kResourceTypeIcon, 2, 0)->bytes);
    EXPECT_NE(nullptr, tree.Find(kResourceTypeIcon, 7, 0));
    EXPECT_NE(nullptr, tree.Find(kResourceTypeIconGroup, 200, 0));
}

TEST(IconResourceTest, RefusesFilesThatAreNoIconsOrPointOutside)
{
    const struct {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> damage;
    } cases[] = {
        { "empty", [](std::vector<uint8_t>& f) { f.clear(); } },
        { "a cursor", [](std::vector<uint8_t>& f) { f[2] = 2; } },
        { "no images", [](std::vector<uint8_t>& f) { f[4] = 0; } },
        { "more entries than the file holds", [](std::vector<uint8_t>& f) { f[4] = 200; } },
        { "image past the end", [](std::vector<uint8_t>& f) { PutU32(f, 6 + 12, 0x7FFFFFF0); } },
        { "image longer than the file", [](std::vector<uint8_t>& f) { PutU32(f, 6 + 8, 5000); } },
        { "empty image", [](std::vector<uint8_t>& f) { PutU32(f, 6 + 8, 0); } },
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> file = IconFile({ 32, 16 });
        c.damage(file);
        EXPECT_THROW(ReadIconFile(file), PeError) << c.what;
    }
}

// Images that share bytes with each other or with the directory are refused by name
// before any image is copied: 65535 entries naming one large block would otherwise
// copy it 65535 times.
TEST(IconResourceTest, RefusesImagesThatOverlapEachOtherOrTheDirectory)
{
    // Three images at 54, 154 and 264 (100, 110 and 120 bytes).
    const uint32_t kFirst = 6 + 16 * 3;
    const struct {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> damage;
        const char* message;
    } cases[] = {
        { "second starts inside the first", [&](std::vector<uint8_t>& f) { PutU32(f, 6 + 16 + 12, kFirst + 99); },
          "icon image 1 and icon image 2 overlap" },
        { "third is the first again", [&](std::vector<uint8_t>& f) { PutU32(f, 6 + 32 + 12, kFirst); },
          "icon image 1 and icon image 3 overlap" },
        { "first runs into the third", [&](std::vector<uint8_t>& f) { PutU32(f, 6 + 8, 100 + 110 + 1); },
          "icon image 1 and icon image 2 overlap" },
        { "image inside the directory", [&](std::vector<uint8_t>& f) { PutU32(f, 6 + 16 + 12, 6); },
          "icon image 2 overlaps the icon directory" },
        { "image over the last directory byte", [&](std::vector<uint8_t>& f) { PutU32(f, 6 + 32 + 12, kFirst - 1); },
          "icon image 3 overlaps the icon directory" },
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> file = IconFile({ 48, 32, 16 });
        c.damage(file);
        try {
            ReadIconFile(file);
            ADD_FAILURE() << c.what << ": taken";
        } catch (const PeError& error) {
            EXPECT_EQ(PeFault::Malformed, error.Fault()) << c.what;
            EXPECT_NE(std::string::npos, std::string(error.what()).find(c.message)) << c.what << ": " << error.what();
        }
    }
    // Images that touch without sharing a byte, in any order in the file, are sound.
    std::vector<uint8_t> file = IconFile({ 48, 32, 16 });
    PutU32(file, 6 + 12, kFirst + 110);
    PutU32(file, 6 + 16 + 12, kFirst);
    std::vector<IconImage> images = ReadIconFile(file);
    ASSERT_EQ(3u, images.size());
    EXPECT_EQ(100u, images[0].bytes.size());
}

} // namespace
