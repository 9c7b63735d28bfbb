// Shared by the extraction tests: a fresh folder per test, and the check that every
// call left the current drive and directory where they were.
#ifndef ARCHIVE_EXTRACT_TEST_SUPPORT_H
#define ARCHIVE_EXTRACT_TEST_SUPPORT_H

#include "archive/DirectoryPath.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include <windows.h>

typedef std::vector<std::string> Paths;

// MapTestDrive.cmake maps drive Q: and this share to one scratch folder.
const char kTestShare[] = "\\\\kmtest\\scratch";
#define SKIP_UNLESS_DRIVES_MAPPED()                                                       \
    if (std::getenv("KM_TEST_DRIVES_MAPPED") == nullptr)                                  \
        GTEST_SKIP() << "drive Q: is mapped when ctest runs this"

inline std::string CurrentDirectory()
{
    char buffer[MAX_PATH];
    return std::string(buffer, GetCurrentDirectoryA(MAX_PATH, buffer));
}

inline Paths Listed(const CreatedDirectoryList& list)
{
    return Paths(list.begin(), list.end());
}

class ScratchTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        scratch = temp + std::string("kmextract-") + std::to_string(GetCurrentProcessId()) +
                  "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::error_code ignored; // Wine reuses process ids; an earlier run may have left one
        std::filesystem::remove_all(scratch, ignored);
        ASSERT_TRUE(CreateDirectoryA(scratch.c_str(), nullptr));
        startDirectory = expectedDirectory = CurrentDirectory();
        // As in a process started from outside a shell, no drive has a recorded
        // directory; nor may one point into a scratch folder an earlier test removed.
        for (char drive = 'A'; drive <= 'Z'; ++drive)
            SetEnvironmentVariableA((std::string("=") + drive + ":").c_str(), nullptr);
    }

    void TearDown() override
    {
        EXPECT_EQ(CurrentDirectory(), expectedDirectory);
        SetCurrentDirectoryA(startDirectory.c_str());
        std::error_code ignored;
        std::filesystem::remove_all(scratch, ignored);
    }

    void EnterScratch()
    {
        ASSERT_TRUE(SetCurrentDirectoryA(scratch.c_str()));
        expectedDirectory = scratch;
    }

    std::string scratch;
    std::string startDirectory;
    std::string expectedDirectory; // where the current directory must be after the test
};

#endif
