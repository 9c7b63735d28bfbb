#include "bench/BenchSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace {

const int kLongestRunCount = 1000;
// "C:\\": a drive root keeps its backslash.
const size_t kDriveRootLength = 3;

// A search handle of FindFirstFileA, closed once.
class FindHandle {
public:
    explicit FindHandle(HANDLE handle) : m_handle(handle) {}
    ~FindHandle()
    {
        if (m_handle != INVALID_HANDLE_VALUE)
            FindClose(m_handle);
    }
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;

    HANDLE Get() const { return m_handle; }

private:
    HANDLE m_handle;
};

std::vector<unsigned char> ReadWholeFile(const std::string& path)
{
    FileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.Get() == INVALID_HANDLE_VALUE)
        throw BenchError{ "cannot open " + path };
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart > MAXDWORD)
        throw BenchError{ "cannot size " + path };
    std::vector<unsigned char> bytes(static_cast<size_t>(size.QuadPart));
    DWORD done = 0;
    if (!bytes.empty() && (!ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr)
                           || done != bytes.size()))
        throw BenchError{ "cannot read " + path };
    return bytes;
}

bool IsDotOrDotDot(const char* name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

void RemoveBelow(const std::string& folder)
{
    WIN32_FIND_DATAA found;
    FindHandle search(FindFirstFileA((folder + "\\*").c_str(), &found));
    if (search.Get() == INVALID_HANDLE_VALUE)
        return;
    do {
        if (IsDotOrDotDot(found.cFileName))
            continue;
        std::string path = folder + "\\" + found.cFileName;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            RemoveBelow(path);
            RemoveDirectoryA(path.c_str());
        } else {
            // A file left read-only by a peer would otherwise survive into the next run.
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(path.c_str());
        }
    } while (FindNextFileA(search.Get(), &found));
}

} // namespace

std::vector<LoadedArchive> LoadArchives(const std::vector<std::string>& paths, uint32_t folderLength)
{
    std::vector<LoadedArchive> archives;
    for (const std::string& path : paths) {
        LoadedArchive archive{ path, ReadWholeFile(path) };
        ArchiveReader check(archive.bytes.data(), static_cast<uint32_t>(archive.bytes.size()), folderLength);
        if (check.GetFault() != ArchiveFault::None)
            throw BenchError{ path + ": " + DescribeArchiveFault(check.GetFault()) };
        archives.push_back(std::move(archive));
    }
    return archives;
}

Stopwatch::Stopwatch()
{
    QueryPerformanceFrequency(&m_frequency);
    QueryPerformanceCounter(&m_start);
}

double Stopwatch::ElapsedMs() const
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return 1000.0 * static_cast<double>(now.QuadPart - m_start.QuadPart) / static_cast<double>(m_frequency.QuadPart);
}

std::string FolderOf(const std::string& path)
{
    size_t slash = path.rfind('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

void RemoveTree(const std::string& path)
{
    RemoveBelow(path);
    RemoveDirectoryA(path.c_str());
    if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES)
        throw BenchError{ "cannot remove " + path };
}

RunFolders MakeRunFolders(const std::string& root)
{
    return RunFolders{ root + "\\full\\", root + "\\folders\\", root + "\\files\\" };
}

uint32_t LongestRunFolder(const RunFolders& run)
{
    return static_cast<uint32_t>(std::max({ run.full.size(), run.folders.size(), run.files.size() }));
}

void RemoveRunFolders(const RunFolders& run)
{
    RemoveTree(run.full.substr(0, run.full.size() - 1));
    RemovePartialFolders(run);
}

void RemovePartialFolders(const RunFolders& run)
{
    RemoveTree(run.folders.substr(0, run.folders.size() - 1));
    RemoveTree(run.files.substr(0, run.files.size() - 1));
}

BenchArguments ParseBenchArguments(int argc, char** argv, const char* programName)
{
    const std::string usage = std::string("usage: ") + programName + " [--whole-only] RUNS OUTDIR ARCHIVE...";
    int first = 1;
    bool parts = true;
    if (argc > 1 && std::strcmp(argv[1], "--whole-only") == 0) {
        parts = false;
        first = 2;
    }
    if (argc - first < 3)
        throw BenchError{ usage };
    char* end = nullptr;
    long runs = std::strtol(argv[first], &end, 10);
    if (*end != '\0' || runs < 1 || runs > kLongestRunCount)
        throw BenchError{ usage + " (RUNS from 1 to 1000)" };

    char full[MAX_PATH];
    DWORD length = GetFullPathNameA(argv[first + 1], MAX_PATH, full, nullptr);
    if (length == 0 || length >= MAX_PATH)
        throw BenchError{ std::string("cannot use output folder ") + argv[first + 1] };
    std::string folder(full, length);
    while (folder.size() > kDriveRootLength && folder.back() == '\\')
        folder.pop_back();

    BenchArguments arguments{ parts, static_cast<int>(runs), folder, {} };
    for (int i = first + 2; i < argc; ++i)
        arguments.archives.push_back(argv[i]);
    return arguments;
}

void PrintRunReport(const RunReport& report)
{
    std::printf("run %d total_ms %.3f inflate_ms %.3f folders_ms %.3f files_ms %.3f files %u folders %u bytes %llu\n",
                report.run, report.totalMs, report.inflateMs, report.foldersMs, report.filesMs, report.files,
                report.folders, static_cast<unsigned long long>(report.bytes));
    std::fflush(stdout);
}

void RunRounds(const BenchArguments& arguments, const Contestant& contestant)
{
    RunFolders run = MakeRunFolders(arguments.outputFolder);
    uint32_t folderLength = LongestRunFolder(run);
    std::vector<LoadedArchive> archives = LoadArchives(arguments.archives, folderLength);
    // Only the file-writing part needs the contents ahead of time.
    EntryContents contents;
    if (arguments.parts)
        contents = contestant.inflateAll(archives, folderLength);

    for (int i = 1; i <= arguments.runs; ++i) {
        RemoveRunFolders(run);
        RunReport report{};
        report.run = i;
        report.totalMs = contestant.timeExtraction(archives, folderLength, run.full, report);
        if (arguments.parts) {
            report.inflateMs = contestant.timeInflation(archives, folderLength);
            report.foldersMs = contestant.timeFolderCreation(archives, folderLength, run.folders);
            report.filesMs = contestant.timeFileWrites(archives, folderLength, run.files, contents);
        }
        PrintRunReport(report);
    }
    RemovePartialFolders(run);
}

int ReportFailure(const char* programName, const std::string& message)
{
    std::fprintf(stderr, "%s: %s\n", programName, message.c_str());
    return kExitFailed;
}

int RunBenchProgram(int argc, char** argv, const char* programName, const Contestant& contestant)
{
    try {
        RunRounds(ParseBenchArguments(argc, argv, programName), contestant);
        return 0;
    } catch (const BenchError& error) {
        return ReportFailure(programName, error.message);
    } catch (const std::bad_alloc&) {
        return ReportFailure(programName, "out of memory");
    }
}
