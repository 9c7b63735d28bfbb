#include "tools/kmarc/KmarcTestSupport.h"

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>

#ifdef _WIN32
#include <windows.h>
#else
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

fs::path KmarcPath()
{
#ifdef _WIN32
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return fs::path(self).parent_path() / "kmarc.exe";
#else
    return fs::read_symlink("/proc/self/exe").parent_path() / "kmarc";
#endif
}

std::string Quote(const fs::path& path)
{
    return "\"" + path.string() + "\"";
}

namespace {

std::string KmarcCommand(const fs::path& work, const std::string& arguments)
{
    return Quote(KmarcPath()) + " " + arguments + " >" + Quote(work / "stdout.txt") + " 2>" +
           Quote(work / "stderr.txt");
}

} // namespace

// Runs kmarc with the arguments; stdout and stderr go to files under work.
int Kmarc(const fs::path& work, const std::string& arguments)
{
    std::string command = KmarcCommand(work, arguments);
#ifdef _WIN32
    // cmd.exe strips the outer pair of quotes from a line that starts with one.
    command = "\"" + command + "\"";
    return std::system(command.c_str());
#else
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

#ifndef _WIN32
// The shell replaces itself with kmarc, so the usage wait4 reports is kmarc's own.
int KmarcMeasured(const fs::path& work, const std::string& arguments, uint64_t& peakBytes)
{
    std::string command = "exec " + KmarcCommand(work, arguments);
    char shell[] = "/bin/sh";
    char option[] = "-c";
    char* argv[] = { shell, option, &command[0], nullptr };
    pid_t child = -1;
    peakBytes = UINT64_MAX;
    if (posix_spawn(&child, shell, nullptr, nullptr, argv, environ) != 0)
        return -1;
    int status = 0;
    struct rusage usage;
    if (wait4(child, &status, 0, &usage) != child)
        return -1;
    peakBytes = uint64_t(usage.ru_maxrss) * 1024;  // Linux counts kilobytes
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const std::string& bytes)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

// Relative path -> contents of every file below root.
std::map<std::string, std::string> Snapshot(const fs::path& root)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file())
            files[entry.path().lexically_relative(root).generic_string()] = ReadFile(entry.path());
    }
    return files;
}

void KmarcWorkTest::SetUp()
{
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    // The process id keeps apart test runs of other trees that share the temporary folder.
#ifdef _WIN32
    unsigned long process = GetCurrentProcessId();
#else
    unsigned long process = static_cast<unsigned long>(getpid());
#endif
    work = fs::temp_directory_path() / ("kmarc_test_" + std::to_string(process) + "_" + std::string(test->name()));
    fs::remove_all(work);
    fs::create_directories(work);
}

void KmarcWorkTest::TearDown()
{
    fs::remove_all(work);
}
