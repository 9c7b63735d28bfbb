// What the extraction benchmarks share: the archives held in memory, a stopwatch, the
// folders the runs write into and remove again, the rounds of runs with their one-line
// report each, and the program's failure report. How a contestant unpacks is its own.
#ifndef BENCH_SUPPORT_H
#define BENCH_SUPPORT_H

#include "archive/ArchiveEntry.h"
#include "archive/ArchiveReader.h"

#include <cstdint>
#include <string>
#include <vector>
#include <windows.h>

// A fault of the benchmark itself (bad arguments, unreadable archive, a file the run
// could not write); main reports it and exits with kExitFailed.
struct BenchError {
    std::string message;
};

const int kExitFailed = 1;

// One archive file read whole into memory before any timing starts, so that every run
// inflates from memory as the launcher does from its locked resources.
struct LoadedArchive {
    std::string path;
    std::vector<unsigned char> bytes;
};

// Reads every archive. Throws BenchError when a file cannot be read or its directory is
// damaged (checked as the launcher's reader checks it, for a setup folder of
// folderLength characters).
std::vector<LoadedArchive> LoadArchives(const std::vector<std::string>& paths, uint32_t folderLength);

// Calls visit(entry) for every entry of every archive, archive by archive, each in
// directory order: the order in which the launcher writes the files.
template <class Visit>
void ForEachEntry(const std::vector<LoadedArchive>& archives, uint32_t folderLength, Visit visit);

// A handle of CreateFileA, closed once.
class FileHandle {
public:
    explicit FileHandle(HANDLE handle) : m_handle(handle) {}
    ~FileHandle()
    {
        if (m_handle != INVALID_HANDLE_VALUE)
            CloseHandle(m_handle);
    }
    FileHandle(FileHandle&& other) noexcept : m_handle(other.m_handle) { other.m_handle = INVALID_HANDLE_VALUE; }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    HANDLE Get() const { return m_handle; }

private:
    HANDLE m_handle;
};

// Milliseconds from the performance counter, which is monotonic and unaffected by
// changes of the wall clock.
class Stopwatch {
public:
    Stopwatch();
    double ElapsedMs() const;

private:
    LARGE_INTEGER m_start;
    LARGE_INTEGER m_frequency;
};

// The folder part of an entry's output path, without the trailing backslash; empty for
// a path without one.
std::string FolderOf(const std::string& path);

// Deletes path and everything below it; a missing path is fine. Throws BenchError when
// something remains, since the next run would then find files it did not write.
void RemoveTree(const std::string& path);

// The three folders of one run, each with its trailing backslash as the launcher forms
// its setup folder: the whole extraction, folder creation alone, file writing alone.
struct RunFolders {
    std::string full;
    std::string folders;
    std::string files;
};

RunFolders MakeRunFolders(const std::string& root);

// The longest of the three, for the reader's check of the output path lengths.
uint32_t LongestRunFolder(const RunFolders& run);

// Removes all three; throws BenchError like RemoveTree.
void RemoveRunFolders(const RunFolders& run);

// Removes the two partial folders and keeps the whole extraction for checking.
void RemovePartialFolders(const RunFolders& run);

// The command line shared by the extraction programs: [--whole-only] RUNS OUTDIR ARCHIVE...
// --whole-only leaves out the parts, for timing the program from its start to its end.
struct BenchArguments {
    bool parts;
    int runs;
    std::string outputFolder; // absolute, without a trailing backslash
    std::vector<std::string> archives;
};

// Throws BenchError with the usage text when the arguments do not fit.
BenchArguments ParseBenchArguments(int argc, char** argv, const char* programName);

// The report line of one run: "run N" followed by name/value pairs, in milliseconds
// for times, e.g. "run 1 total_ms 812.3 inflate_ms 301.0 ... files 75 bytes 21000000".
// The parts are 0 when they were not measured.
struct RunReport {
    int run;
    double totalMs;
    double inflateMs;
    double foldersMs;
    double filesMs;
    uint32_t files;
    uint32_t folders;
    uint64_t bytes;
};

void PrintRunReport(const RunReport& report);

// The inflated bytes of every entry, in the order of ForEachEntry.
typedef std::vector<std::vector<unsigned char>> EntryContents;

// One way of unpacking the archives, timed whole and in its parts. Every part walks
// all entries of the archives with ForEachEntry; folderLength is the reader's setup
// folder length and setupFolder ends with a backslash.
struct Contestant {
    // The contents the file-writing part writes, inflated before any timing.
    EntryContents (*inflateAll)(const std::vector<LoadedArchive>& archives, uint32_t folderLength);
    // The whole extraction; adds its files, created folders and bytes to the report.
    double (*timeExtraction)(const std::vector<LoadedArchive>& archives, uint32_t folderLength,
                             const std::string& setupFolder, RunReport& report);
    // Inflation alone, keeping nothing.
    double (*timeInflation)(const std::vector<LoadedArchive>& archives, uint32_t folderLength);
    // Folder creation alone.
    double (*timeFolderCreation)(const std::vector<LoadedArchive>& archives, uint32_t folderLength,
                                 const std::string& setupFolder);
    // Creating and writing the files of contents alone, into folders made beforehand.
    double (*timeFileWrites)(const std::vector<LoadedArchive>& archives, uint32_t folderLength,
                             const std::string& setupFolder, const EntryContents& contents);
};

// The runs of one contestant: the archives loaded once, then per run fresh folders,
// the whole extraction and, unless --whole-only, its three parts, and one report line.
// The whole extraction of the last run stays in OUTDIR\full for checking.
void RunRounds(const BenchArguments& arguments, const Contestant& contestant);

// Writes "programName: message" to stderr and returns kExitFailed.
int ReportFailure(const char* programName, const std::string& message);

// The body of a benchmark program's main: the rounds of the contestant on the command
// line's archives. Returns 0, or reports a BenchError or a lack of memory with
// ReportFailure; other exceptions pass to the caller.
int RunBenchProgram(int argc, char** argv, const char* programName, const Contestant& contestant);

template <class Visit>
void ForEachEntry(const std::vector<LoadedArchive>& archives, uint32_t folderLength, Visit visit)
{
    for (const LoadedArchive& archive : archives) {
        ArchiveReader reader(archive.bytes.data(), static_cast<uint32_t>(archive.bytes.size()), folderLength);
        ArchiveEntry entry;
        while (reader.Next(entry))
            visit(entry);
    }
}

#endif
