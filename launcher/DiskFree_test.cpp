#include "launcher/DiskFree.h"

#include <gtest/gtest.h>

#include <string>
#include <windows.h>

namespace {

const double kMiB = 1048576.0;

std::string UnusedDrive()
{
    DWORD used = GetLogicalDrives();
    for (char letter = 'Z'; letter >= 'D'; --letter) {
        if (!(used & (1u << (letter - 'A'))))
            return std::string(1, letter) + ":";
    }
    return std::string();
}

TEST(FreeClusterBytes, ProductNeverOverflows)
{
    const struct {
        DWORD sectorsPerCluster, bytesPerSector, freeClusters;
        double bytes;
    } cases[] = {
        { 8, 512, 2560, 10485760.0 },
        { 8, 512, 2559, 10481664.0 },
        { 0, 512, 2560, 0.0 },
        { 128, 4096, 0xFFFFFFFFu, 128.0 * 4096.0 * 4294967295.0 },
        { 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 4294967295.0 * 4294967295.0 * 4294967295.0 },
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(FreeClusterBytes(c.sectorsPerCluster, c.bytesPerSector, c.freeClusters), c.bytes);
}

TEST(GetDiskFreeBytes, DriveWithoutMediumGivesZeroOnBothRoutes)
{
    std::string drive = UnusedDrive();
    ASSERT_FALSE(drive.empty()) << "every drive letter is in use";
    EXPECT_EQ(GetDiskFreeBytes(drive.c_str()), 0.0);
    EXPECT_EQ(GetDiskFreeBytesUsing(drive.c_str(), nullptr), 0.0);
}

BOOL WINAPI FailWithoutAnswer(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER)
{
    return FALSE;
}

// A user with 5 MiB left of a quota on a volume with 1 GiB free.
BOOL WINAPI AnswerWithQuota(LPCSTR, PULARGE_INTEGER availableToCaller, PULARGE_INTEGER total,
                            PULARGE_INTEGER totalFree)
{
    availableToCaller->QuadPart = 5 * 1048576ull;
    total->QuadPart = 4096ull * 1048576ull;
    if (totalFree)
        totalFree->QuadPart = 1024ull * 1048576ull;
    return TRUE;
}

BOOL WINAPI AnswerBeyondFourGiB(LPCSTR, PULARGE_INTEGER availableToCaller, PULARGE_INTEGER total, PULARGE_INTEGER)
{
    availableToCaller->QuadPart = 0x123456789ull;
    total->QuadPart = 0x200000000ull;
    return TRUE;
}

TEST(GetDiskFreeBytes, ReportsWhatTheCallerMayUse)
{
    EXPECT_EQ(GetDiskFreeBytesUsing("C:", FailWithoutAnswer), 0.0);
    EXPECT_EQ(GetDiskFreeBytesUsing("C:", AnswerWithQuota), 5 * kMiB);
    EXPECT_EQ(GetDiskFreeBytesUsing("C:", AnswerBeyondFourGiB), 4886718345.0);
}

} // namespace
