// Runs the kmarc executable that lies beside the tests, as a packager would: helpers
// for the tests of its commands, of embed and of the commands on setup executables.
#ifndef KMARC_KMARC_TEST_SUPPORT_H
#define KMARC_KMARC_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

std::filesystem::path KmarcPath();
std::string Quote(const std::filesystem::path& path);
// Runs kmarc with the arguments; stdout and stderr go to stdout.txt and stderr.txt
// under work. Returns the exit code.
int Kmarc(const std::filesystem::path& work, const std::string& arguments);
#ifndef _WIN32
// Kmarc, and the most memory the run held at once (its peak resident size), in bytes.
int KmarcMeasured(const std::filesystem::path& work, const std::string& arguments, uint64_t& peakBytes);
#endif
std::string ReadFile(const std::filesystem::path& path);
// Writes the bytes, creating the folders above the file.
void WriteFile(const std::filesystem::path& path, const std::string& bytes);
// Relative path -> contents of every file below root.
std::map<std::string, std::string> Snapshot(const std::filesystem::path& root);

// A scratch folder of the test's own name, removed after it.
class KmarcWorkTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::filesystem::path work;
};

#endif
