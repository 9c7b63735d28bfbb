#include "pe/PeWriter.h"
#include "pe/PeTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace {

const uint16_t kGerman = 1031;

size_t OptionalOf(const PeImage& image)
{
    return image.OptionalHeaderOffset();
}

uint32_t Field(const PeImage& image, size_t offset)
{
    return image.View().U32(offset, "field");
}

// What every rewritten image must satisfy: it reads as sound, its size of image, its
// checksum and its resource directory agree with its sections.
void ExpectConsistent(const PeImage& image)
{
    const PeSection& last = image.Sections().back();
    uint32_t end = (last.virtualAddress + last.VirtualExtent() + image.SectionAlignment() - 1) /
                   image.SectionAlignment() * image.SectionAlignment();
    EXPECT_EQ(end, image.SizeOfImage());
    EXPECT_EQ(ComputePeChecksum(image.Bytes(), OptionalOf(image) + kOptionalChecksum), image.Checksum());
    int resource = image.SectionOf(image.Directory(kPeDirResource).address);
    ASSERT_GE(resource, 0);
    EXPECT_EQ(image.Sections()[resource].virtualAddress, image.Directory(kPeDirResource).address);
    EXPECT_EQ(image.Sections()[resource].virtualSize, image.Directory(kPeDirResource).size);
    uint32_t initialized = 0;
    for (const PeSection& section : image.Sections())
        if (section.characteristics & kSectionInitializedDataFlag)
            initialized += section.rawSize;
    EXPECT_EQ(initialized, Field(image, OptionalOf(image) + kOptionalSizeOfInitializedData));
}

void ExpectSameResources(const ResourceTree& expected, const ResourceTree& actual)
{
    ASSERT_EQ(expected.Count(), actual.Count());
    for (const auto& type : expected.Types())
        for (const auto& name : type.second)
            for (const auto& language : name.second) {
                const ResourceData* found = actual.Find(type.first, name.first, language.first);
                ASSERT_NE(nullptr, found) << type.first.Display() << "/" << name.first.Display();
                EXPECT_EQ(language.second.bytes, found->bytes) << type.first.Display() << "/" << name.first.Display();
                EXPECT_EQ(language.second.codePage, found->codePage);
            }
}

// Growing and shrinking the resources in place: the sections before stay where they
// are byte for byte, the relocations and the symbol table move with the change.
TEST(PeWriterTest, ResizesTheResourceSectionAndMovesWhatFollows)
{
    PeImage original(BuildTestImage(LauncherLikeImage(LauncherResources())));
    const PeSection before = *FindSection(original, ".reloc");
    uint32_t symbols = original.SymbolTablePointer();
    std::vector<uint8_t> trailer(original.Bytes().begin() + symbols, original.Bytes().end());

    for (size_t payload : { size_t(200000), size_t(10) }) {
        ResourceTree tree = ReadResources(original);
        tree.Set(ResourceId::Named("KMARC"), ResourceId::Named("BASE"), kGerman, { Pattern(payload, 42), 0 });
        tree.Remove(ResourceId::Named("KMARC"), ResourceId::Named("APPBASE"));
        tree.Set(ResourceId::Named("KMARC"), ResourceId::Named("PHOTOUNINST"), kGerman, { Pattern(77, 43), 0 });
        PeImage rewritten(WithResources(original, tree));
        SCOPED_TRACE(payload);
        ExpectConsistent(rewritten);
        ExpectSameResources(tree, ReadResources(rewritten));

        for (const char* name : { ".text", ".data" }) {
            const PeSection* a = FindSection(original, name);
            const PeSection* b = FindSection(rewritten, name);
            ASSERT_NE(nullptr, b);
            EXPECT_EQ(a->virtualAddress, b->virtualAddress);
            EXPECT_EQ(a->rawPointer, b->rawPointer);
            EXPECT_EQ(SectionBytes(original, *a), SectionBytes(rewritten, *b)) << name;
        }
        const PeSection* rsrc = FindSection(rewritten, ".rsrc");
        const PeSection* reloc = FindSection(rewritten, ".reloc");
        ASSERT_NE(nullptr, reloc);
        EXPECT_EQ(rsrc->virtualAddress, FindSection(original, ".rsrc")->virtualAddress);
        EXPECT_GE(reloc->virtualAddress, rsrc->virtualAddress + rsrc->virtualSize);
        EXPECT_EQ(reloc->rawPointer, rsrc->rawPointer + rsrc->rawSize);
        EXPECT_EQ(reloc->virtualAddress, rewritten.Directory(kPeDirBaseReloc).address);
        EXPECT_EQ(before.virtualSize, rewritten.Directory(kPeDirBaseReloc).size);
        EXPECT_EQ(SectionBytes(original, before), SectionBytes(rewritten, *reloc));
        std::vector<uint8_t> movedTrailer(rewritten.Bytes().begin() + rewritten.SymbolTablePointer(),
                                          rewritten.Bytes().end());
        EXPECT_EQ(trailer, movedTrailer);
        // The same input gives the same bytes.
        EXPECT_EQ(rewritten.Bytes(), WithResources(original, tree));
    }
}

// A section the program refers to by address follows the resources: nothing may
// move, so the new resources go into a new last section and the old one is retired.
TEST(PeWriterTest, AppendsANewSectionWhenWhatFollowsCannotMove)
{
    TestImage layout = LauncherLikeImage(LauncherResources());
    layout.sections.push_back({ ".tls", Pattern(40, 20), kTestDataFlags });
    PeImage original(BuildTestImage(layout));
    ResourceTree tree = ReadResources(original);
    tree.Set(ResourceId::Named("KMARC"), ResourceId::Named("BASE"), kGerman, { Pattern(9000, 44), 0 });

    PeImage rewritten(WithResources(original, tree));
    ExpectConsistent(rewritten);
    ExpectSameResources(tree, ReadResources(rewritten));
    ASSERT_EQ(original.Sections().size() + 1, rewritten.Sections().size());
    for (size_t i = 0; i < original.Sections().size(); ++i) {
        const PeSection& a = original.Sections()[i];
        const PeSection& b = rewritten.Sections()[i];
        EXPECT_EQ(a.virtualAddress, b.virtualAddress);
        EXPECT_EQ(SectionBytes(original, a), SectionBytes(rewritten, b));
        EXPECT_EQ(a.name == ".rsrc" ? ".oldrsrc" : a.name, b.name);
    }
    EXPECT_EQ(".rsrc", rewritten.Sections().back().name);
    EXPECT_EQ(original.SymbolTablePointer(), rewritten.SymbolTablePointer());

    // With the section table filling the headers there is no room for another.
    std::vector<uint8_t> full = original.Bytes();
    size_t tableEnd = original.SectionTableOffset() + original.Sections().size() * kSectionHeaderSize;
    for (size_t i = tableEnd; i < original.SizeOfHeaders(); ++i)
        full[i] = 0xCC;
    try {
        WithResources(PeImage(full), tree);
        ADD_FAILURE() << "no room, yet written";
    } catch (const PeError& error) {
        EXPECT_EQ(PeFault::NoRoom, error.Fault());
    }
}

TEST(PeWriterTest, AnImageWithoutResourcesGetsASection)
{
    TestImage layout;
    layout.sections.push_back({ ".text", Pattern(100, 30), kTestCodeFlags });
    PeImage original(BuildTestImage(layout));
    EXPECT_EQ(0u, ReadResources(original).Count());
    PeImage rewritten(WithResources(original, LauncherResources()));
    ExpectConsistent(rewritten);
    ExpectSameResources(LauncherResources(), ReadResources(rewritten));
}

std::vector<uint8_t> Signed(const std::vector<uint8_t>& unsignedBytes, size_t tableSize)
{
    PeImage image(unsignedBytes);
    std::vector<uint8_t> bytes = unsignedBytes;
    uint32_t at = static_cast<uint32_t>(bytes.size());
    std::vector<uint8_t> table = Pattern(tableSize, 50);
    bytes.insert(bytes.end(), table.begin(), table.end());
    size_t directory = image.OptionalHeaderOffset() + kOptionalDataDirectories + 8 * kPeDirSecurity;
    PutU32(bytes, directory, at);
    PutU32(bytes, directory + 4, static_cast<uint32_t>(tableSize));
    return bytes;
}

TEST(PeWriterTest, ASignedImageIsRefusedUntilItsCertificateIsRemoved)
{
    TestImage layout = LauncherLikeImage(LauncherResources());
    layout.trailer.clear();
    layout.symbolTable = false;
    std::vector<uint8_t> unsignedBytes = BuildTestImage(layout);
    PeImage signedImage(Signed(unsignedBytes, 1200));
    EXPECT_TRUE(signedImage.HasCertificate());
    try {
        WithResources(signedImage, LauncherResources());
        ADD_FAILURE() << "signed image rewritten";
    } catch (const PeError& error) {
        EXPECT_EQ(PeFault::Signed, error.Fault());
    }

    PeImage stripped(WithoutCertificate(signedImage));
    EXPECT_FALSE(stripped.HasCertificate());
    EXPECT_EQ(0u, stripped.Directory(kPeDirSecurity).address);
    // Back to the unsigned file, checksum and all.
    EXPECT_EQ(unsignedBytes, stripped.Bytes());
    EXPECT_NO_THROW(WithResources(stripped, LauncherResources()));

    // A file whose last section ends off the 8-byte boundary: the signer's padding
    // zeros go with the table, and the file is the unsigned one again.
    std::vector<uint8_t> unaligned = unsignedBytes;
    {
        PeImage image(unsignedBytes);
        size_t lastHeader = image.SectionTableOffset() + (image.Sections().size() - 1) * kSectionHeaderSize;
        PutU32(unaligned, lastHeader + 16, image.Sections().back().rawSize - 5);
        unaligned.resize(unaligned.size() - 5);
        size_t checksum = image.OptionalHeaderOffset() + kOptionalChecksum;
        PutU32(unaligned, checksum, ComputePeChecksum(unaligned, checksum));
    }
    std::vector<uint8_t> padded = unaligned;
    padded.resize(padded.size() + 5, 0);
    EXPECT_EQ(unaligned, WithoutCertificate(PeImage(Signed(padded, 64))));

    // A table with something behind it cannot be cut off cleanly.
    std::vector<uint8_t> followed = Signed(unsignedBytes, 1200);
    followed.push_back(0);
    try {
        WithoutCertificate(PeImage(followed));
        ADD_FAILURE() << "certificate inside the file removed";
    } catch (const PeError& error) {
        EXPECT_EQ(PeFault::Malformed, error.Fault());
    }
}

} // namespace

namespace {

// A resource kept outside the tree, handed out in small pieces of odd sizes so that
// the checksum meets words split across writes; short writes less than it claims.
class PatternSource : public ResourceSource {
public:
    PatternSource(std::vector<uint8_t> bytes, bool shortWrite = false) : m_bytes(std::move(bytes)), m_short(shortWrite) {}
    uint64_t Size() const override { return m_bytes.size(); }
    void WriteTo(ByteSink& out) const override
    {
        size_t end = m_bytes.size() - (m_short ? 1 : 0);
        for (size_t at = 0; at < end; at += 7)
            out.Write(m_bytes.data() + at, std::min<size_t>(7, end - at));
    }

private:
    std::vector<uint8_t> m_bytes;
    bool m_short;
};

} // namespace

// A resource streamed from a source gives the very bytes of the same resource held in
// the tree, whether the resource section is laid out again or appended.
TEST(PeWriterTest, ResourcesFromASourceAreWrittenAsIfHeldInTheTree)
{
    TestImage movable = LauncherLikeImage(LauncherResources());
    TestImage fixed = movable;
    fixed.sections.push_back({ ".tls", Pattern(40, 20), kTestDataFlags });
    for (const TestImage& layout : { movable, fixed }) {
        PeImage original(BuildTestImage(layout));
        ResourceTree held = ReadResources(original);
        ResourceTree streamed = held;
        // Odd sizes, so the data after them starts at an odd offset before alignment.
        for (const char* name : { "BASE", "APPBASE" }) {
            std::vector<uint8_t> bytes = Pattern(name[0] == 'B' ? 9001 : 70001, static_cast<uint8_t>(name[1]));
            held.Set(ResourceId::Named("KMARC"), ResourceId::Named(name), kGerman, { bytes, 0 });
            ResourceData data;
            data.source = std::make_shared<PatternSource>(bytes);
            streamed.Set(ResourceId::Named("KMARC"), ResourceId::Named(name), kGerman, std::move(data));
        }
        std::vector<uint8_t> expected = WithResources(original, held);
        MemorySink sink;
        WriteWithResources(original, streamed, sink);
        EXPECT_EQ(expected, sink.Bytes());
        PeImage rewritten(sink.Bytes());
        ExpectConsistent(rewritten);
        ExpectSameResources(held, ReadResources(rewritten));
    }

    // A source that writes other than its size is caught, not laid out wrongly.
    PeImage original(BuildTestImage(movable));
    ResourceTree tree = ReadResources(original);
    ResourceData data;
    data.source = std::make_shared<PatternSource>(Pattern(100, 1), true);
    tree.Set(ResourceId::Named("KMARC"), ResourceId::Named("BASE"), kGerman, std::move(data));
    MemorySink sink;
    EXPECT_THROW(WriteWithResources(original, tree, sink), PeError);
}
