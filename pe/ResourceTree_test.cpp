// The resource directory of a file from anywhere: what it unfolds to is bounded by the
// file's size, keys listed twice are refused, and a tree the 16-bit counts of a table
// cannot list is refused when written.
#include "pe/PeImage.h"
#include "pe/PeTestSupport.h"
#include "pe/ResourceTree.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

const uint16_t kEnglish = 1033;
const uint64_t kHundredMegabytes = 100ull << 20;

// The PeError that reading the image's resources throws.
PeError ReadFailure(const std::vector<uint8_t>& bytes, uint64_t* unfolded = nullptr)
{
    try {
        ReadResources(PeImage(bytes), unfolded);
    } catch (const PeError& error) {
        return error;
    }
    ADD_FAILURE() << "read";
    return PeError(PeFault::Malformed, "");
}

// 500 types that share 1000 names of 30,000 characters and more, all cut from one block
// of 32,000 units: about 80 KB of file that unfolds to some 30 GB of names. It is
// refused before its names pass the file's size, so the reader never holds more.
TEST(ResourceBudgetTest, ANameBombIsRefusedWithinTheFilesSize)
{
    std::vector<uint8_t> bomb = NameBombImage(500, 1000, 30000);
    ASSERT_LT(bomb.size(), 100u * 1024);
    uint64_t unfolded = 0;
    PeError error = ReadFailure(bomb, &unfolded);
    EXPECT_EQ(PeFault::Malformed, error.Fault());
    EXPECT_NE(std::string::npos, std::string(error.what()).find("the resource names would unfold to more than")) << error.what();
    EXPECT_LE(unfolded, bomb.size());
    EXPECT_LT(unfolded, kHundredMegabytes);

    // Short names shared the same way are counted per use just as well.
    std::vector<uint8_t> shortNames = NameBombImage(500, 1000, 8);
    error = ReadFailure(shortNames, &unfolded);
    EXPECT_NE(std::string::npos, std::string(error.what()).find("would unfold")) << error.what();
    EXPECT_LE(unfolded, shortNames.size());
}

// Shared tables of numbered names and shared data, without a single name: every entry
// and data block is counted where it is used.
TEST(ResourceBudgetTest, SharedTablesAndDataAreCountedPerUse)
{
    const struct {
        const char* what;
        uint16_t types;
        uint16_t names;
        size_t dataSize;
        const char* message;
    } cases[] = {
        { "a million leaves from two tables", 1000, 1000, 1, "would unfold" },
        { "one block of data under a thousand keys", 1000, 1, 4000, "the resources' data would unfold" },
    };
    for (const auto& c : cases) {
        RawResourceDirectory directory;
        uint32_t root = directory.AddTable(0, c.types);
        uint32_t names = directory.AddTable(0, c.names);
        uint32_t languages = directory.AddTable(0, 1);
        directory.SetEntry(languages, 0, kEnglish, directory.AddData(Pattern(c.dataSize, 2)));
        for (uint16_t i = 0; i < c.names; ++i)
            directory.SetEntry(names, i, i + 1u, languages | kRawHighBit);
        for (uint16_t i = 0; i < c.types; ++i)
            directory.SetEntry(root, i, i + 1u, names | kRawHighBit);
        std::vector<uint8_t> bytes = ImageWithDirectory(directory);
        uint64_t unfolded = 0;
        PeError error = ReadFailure(bytes, &unfolded);
        EXPECT_NE(std::string::npos, std::string(error.what()).find(c.message)) << c.what << ": " << error.what();
        EXPECT_LE(unfolded, bytes.size()) << c.what;
    }
}

// What a sound file holds stays well within the count, sharing a little included; the
// count covers each table, entry, name and block of data once.
TEST(ResourceBudgetTest, SoundDirectoriesStayWithinTheCount)
{
    std::vector<uint8_t> sound = BuildTestImage(LauncherLikeImage(LauncherResources()));
    uint64_t unfolded = 0;
    ResourceTree tree = ReadResources(PeImage(sound), &unfolded);
    EXPECT_EQ(LauncherResources().Count(), tree.Count());
    EXPECT_LE(unfolded, sound.size());
    // Root, six types, seven names: 14 tables, 20 entries, 7 data entries, two names of
    // 4 and 7 characters and the data.
    uint64_t data = 60 + 5000 + 300 + 20 + 700 + 3000 + 333;
    EXPECT_EQ(14 * 16 + 20 * 8 + 7 * 16 + (2 + 2 * 4) + (2 + 2 * 5) + (2 + 2 * 7) + data, unfolded);

    // Three types that share a table of two short names read as six resources.
    tree = ReadResources(PeImage(NameBombImage(3, 2, 5)));
    EXPECT_EQ(6u, tree.Count());
    EXPECT_TRUE(tree.Has(3, ResourceId::Named(std::u16string(u"\u0006\u0007\u0008\u0009\u000A"))));
}

// A key listed twice in one table: the tree would merge the two, and the system would
// find only one of them. Each is refused with the table and the key named.
TEST(ResourceTreeReadTest, KeysListedTwiceInOneTableAreRefused)
{
    const struct {
        const char* what;
        std::function<void(RawResourceDirectory&)> make;
        const char* message;
    } cases[] = {
        { "one type twice, with different names under each",
          [](RawResourceDirectory& d) {
              uint32_t root = d.AddTable(0, 2);
              uint32_t languages = d.AddTable(0, 1);
              d.SetEntry(languages, 0, kEnglish, d.AddData(Pattern(8, 1)));
              uint32_t first = d.AddTable(0, 1);
              d.SetEntry(first, 0, 1, languages | kRawHighBit);
              uint32_t second = d.AddTable(0, 1);
              d.SetEntry(second, 0, 2, languages | kRawHighBit);
              d.SetEntry(root, 0, 3, first | kRawHighBit);
              d.SetEntry(root, 1, 3, second | kRawHighBit);
          },
          "the root table lists type #3 twice" },
        { "one name string named twice",
          [](RawResourceDirectory& d) {
              uint32_t root = d.AddTable(0, 1);
              uint32_t names = d.AddTable(2, 0);
              uint32_t languages = d.AddTable(0, 1);
              d.SetEntry(languages, 0, kEnglish, d.AddData(Pattern(8, 1)));
              uint32_t name = d.AddName(u"BASE");
              d.SetEntry(names, 0, name | kRawHighBit, languages | kRawHighBit);
              d.SetEntry(names, 1, name | kRawHighBit, languages | kRawHighBit);
              d.SetEntry(root, 0, 10, names | kRawHighBit);
          },
          "type #10 lists name BASE twice" },
        { "two equal names stored apart",
          [](RawResourceDirectory& d) {
              uint32_t root = d.AddTable(1, 0);
              uint32_t names = d.AddTable(2, 0);
              uint32_t languages = d.AddTable(0, 1);
              d.SetEntry(languages, 0, kEnglish, d.AddData(Pattern(8, 1)));
              d.SetEntry(names, 0, d.AddName(u"APP") | kRawHighBit, languages | kRawHighBit);
              d.SetEntry(names, 1, d.AddName(u"APP") | kRawHighBit, languages | kRawHighBit);
              d.SetEntry(root, 0, d.AddName(u"KMARC") | kRawHighBit, names | kRawHighBit);
          },
          "type KMARC lists name APP twice" },
        { "one language twice",
          [](RawResourceDirectory& d) {
              uint32_t root = d.AddTable(0, 1);
              uint32_t names = d.AddTable(0, 1);
              uint32_t languages = d.AddTable(0, 2);
              d.SetEntry(languages, 0, kEnglish, d.AddData(Pattern(8, 1)));
              d.SetEntry(languages, 1, kEnglish, d.AddData(Pattern(8, 2)));
              d.SetEntry(names, 0, 7, languages | kRawHighBit);
              d.SetEntry(root, 0, 3, names | kRawHighBit);
          },
          "resource #3/#7 lists language 1033 twice" },
    };
    for (const auto& c : cases) {
        RawResourceDirectory directory;
        c.make(directory);
        PeError error = ReadFailure(ImageWithDirectory(directory));
        EXPECT_EQ(PeFault::Malformed, error.Fault()) << c.what;
        EXPECT_NE(std::string::npos, std::string(error.what()).find(c.message)) << c.what << ": " << error.what();
    }
}

// The counts in a table's header are 16 bits: 65535 entries of one kind are written and
// read back, one more (of any kind, in any table) is refused instead of being cut to 16 bits (which would hide all
// but the remainder from every reader).
TEST(ResourceSectionTest, TablesOfMoreThan65535EntriesOfOneKindAreRefused)
{
    const ResourceData tiny{ { 1 }, 0 };
    const struct {
        const char* what;
        std::function<void(ResourceTree&, uint32_t)> fill;
        const char* message;
    } cases[] = {
        { "numbered names", [&](ResourceTree& t, uint32_t n) { for (uint32_t i = 0; i < n; ++i) t.Set(3, uint16_t(i), 0, tiny); },
          "type #3 has 65536 numbered entries" },
        { "named names",
          [&](ResourceTree& t, uint32_t n) {
              for (uint32_t i = 0; i < n; ++i)
                  t.Set(3, ResourceId::Named("N" + std::to_string(i)), 0, tiny);
          },
          "type #3 has 65536 named entries" },
        { "languages", [&](ResourceTree& t, uint32_t n) { for (uint32_t i = 0; i < n; ++i) t.Set(3, 1, uint16_t(i), tiny); },
          "resource #3/#1 has 65536 numbered entries" },
        { "numbered types", [&](ResourceTree& t, uint32_t n) { for (uint32_t i = 0; i < n; ++i) t.Set(uint16_t(i), 1, 0, tiny); },
          "the root table has 65536 numbered entries" },
    };
    ResourceTree most;
    cases[0].fill(most, 65535);
    EXPECT_EQ(65535u, ReadResources(PeImage(BuildTestImage(LauncherLikeImage(most)))).Count());
    for (const auto& c : cases) {
        ResourceTree tooMany;
        c.fill(tooMany, 65536);
        try {
            BuildResourceSection(tooMany, 0x3000);
            ADD_FAILURE() << c.what << ": written";
        } catch (const PeError& error) {
            EXPECT_EQ(PeFault::NoRoom, error.Fault()) << c.what;
            EXPECT_NE(std::string::npos, std::string(error.what()).find(c.message)) << c.what << ": " << error.what();
        }
    }
}

// A name used in two places is written once for each use, so what the writer makes
// reads back within the count however often its names recur.
TEST(ResourceSectionTest, ANameUsedTwiceIsWrittenForEachUse)
{
    ResourceTree tree;
    tree.Set(ResourceId::Named("KMARC"), ResourceId::Named("KMARC"), kEnglish, { Pattern(10, 1), 0 });
    tree.Set(3, ResourceId::Named("KMARC"), kEnglish, { Pattern(10, 2), 0 });
    std::vector<uint8_t> section = BuildResourceSection(tree, 0x3000);
    ByteView view(section);
    uint32_t namedType = view.U32(16, "") & ~kRawHighBit;
    uint32_t namesOfKmarc = view.U32(20, "") & ~kRawHighBit;
    uint32_t namesOf3 = view.U32(28, "") & ~kRawHighBit;
    uint32_t first = view.U32(namesOfKmarc + 16, "") & ~kRawHighBit;
    uint32_t second = view.U32(namesOf3 + 16, "") & ~kRawHighBit;
    EXPECT_NE(namedType, first);
    EXPECT_NE(first, second);
    for (uint32_t name : { namedType, first, second }) {
        EXPECT_EQ(5u, view.U16(name, ""));
        EXPECT_EQ('K', view.U16(name + 2, ""));
    }
    TestImage image = LauncherLikeImage(tree);
    uint64_t unfolded = 0;
    EXPECT_EQ(2u, ReadResources(PeImage(BuildTestImage(image)), &unfolded).Count());
    // Five tables, six entries, two data entries, three names of five characters, data.
    EXPECT_EQ(5u * 16 + 6 * 8 + 2 * 16 + 3 * 12 + 20, unfolded);
}

} // namespace
