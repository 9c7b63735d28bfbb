// Everything one run has put on disk, so that a run that cannot finish takes it all away
// again instead of leaving a half-unpacked setup behind.
#ifndef LAUNCHER_RUNOUTPUT_H
#define LAUNCHER_RUNOUTPUT_H

#include "archive/DirectoryPath.h"
#include "string/WtString.h"

#include <list>

class RunOutput {
public:
    RunOutput() = default;
    RunOutput(const RunOutput&) = delete;
    RunOutput& operator=(const RunOutput&) = delete;

    // Records a file before it is written, so that a file the failure interrupted is
    // removed as well. The same path may be recorded more than once.
    void AddFile(const WtString& path) { files.push_back(path); }

    // Folders created while unpacking; the extractor adds to it.
    CreatedDirectoryList& Folders() { return folders; }
    const CreatedDirectoryList& Folders() const { return folders; }

    // Deletes the recorded files, newest first, then removes the recorded folders in
    // list order (each before its parent), then deletes scriptPath when it is not empty.
    // A folder that still holds something that is not the run's stays. Failures are
    // not reported: everything that can go, goes.
    void RemoveAll(const char* scriptPath) const;

private:
    std::list<WtString> files;
    CreatedDirectoryList folders;
};

#endif // LAUNCHER_RUNOUTPUT_H
