#include "launcher/PayloadArchives.h"

#include "archive/ArchiveWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

const ArchiveTimes kTimes = { 1000000000u, 1000000000u, 1000000000u };

std::vector<unsigned char> MakeArchive(const std::vector<std::string>& names)
{
    ArchiveWriter writer;
    for (const std::string& name : names) {
        const std::string contents = "contents of " + name;
        EXPECT_EQ(writer.Add(name, reinterpret_cast<const unsigned char*>(contents.data()), contents.size(), kTimes),
                  ArchiveWriteResult::Ok);
    }
    std::vector<unsigned char> archive;
    EXPECT_EQ(writer.Finish(archive), ArchiveWriteResult::Ok);
    return archive;
}

// Overwrites the first occurrence of from (same length) in the archive's bytes.
void PatchBytes(std::vector<unsigned char>& archive, const std::string& from, const std::string& to)
{
    ASSERT_EQ(from.size(), to.size());
    auto at = std::search(archive.begin(), archive.end(), from.begin(), from.end());
    ASSERT_NE(at, archive.end());
    std::copy(to.begin(), to.end(), at);
}

class FindDamagedArchiveTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (int i = 0; i < kPayloadArchiveCount; ++i) {
            contents[i] = MakeArchive({ "File" + std::to_string(i) + ".txt", "Data\\Part" + std::to_string(i) + ".dat" });
            archives[i] = { kSetupArchiveNames[i], contents[i].data(), static_cast<DWORD>(contents[i].size()) };
        }
    }

    const PayloadArchive* Find(DWORD folderLength = 30) { return FindDamagedArchive(archives, folderLength); }

    std::vector<unsigned char> contents[kPayloadArchiveCount];
    PayloadArchive archives[kPayloadArchiveCount];
};

TEST_F(FindDamagedArchiveTest, SoundAndAbsentArchivesPass)
{
    EXPECT_EQ(Find(), nullptr);
    archives[2] = { kSetupArchiveNames[2], nullptr, 0 };
    archives[5] = { kSetupArchiveNames[5], nullptr, 0 };
    EXPECT_EQ(Find(), nullptr);
}

TEST_F(FindDamagedArchiveTest, TheFirstDamagedArchiveIsReported)
{
    contents[5][0] = 0xFF;
    PatchBytes(contents[2], "File2.txt", "C:File2.t");
    EXPECT_EQ(Find(), &archives[2]);
}

// The launcher refuses device names by the same check as kmarc, before anything is
// written; an entry named "NUL .dat" would otherwise pour its bytes into the null device.
TEST_F(FindDamagedArchiveTest, DeviceNamesAreDamageHoweverTheyAreSpelt)
{
    for (const char* text : { "NUL .dat", "CON .txt", "CONIN$", "conout$.log", "COM0", "LPT0.txt", "COM\xB9",
                              "lpt\xB2.txt", "COM\xB3" }) {
        const std::string device = text;
        const std::string placeholder(device.size(), 'p');
        contents[1] = MakeArchive({ "Data\\" + placeholder });
        PatchBytes(contents[1], placeholder, device);
        archives[1].base = contents[1].data();
        archives[1].size = static_cast<DWORD>(contents[1].size());
        EXPECT_EQ(Find(), &archives[1]) << device;
    }
}

TEST_F(FindDamagedArchiveTest, OutputPathsLongerThanTheExtractorTakesAreFound)
{
    const std::string longName = std::string(200, 'n') + ".txt";
    contents[0] = MakeArchive({ longName });
    archives[0].base = contents[0].data();
    archives[0].size = static_cast<DWORD>(contents[0].size());
    EXPECT_EQ(Find(511 - 204), nullptr);
    EXPECT_EQ(Find(511 - 203), &archives[0]);
}

} // namespace
