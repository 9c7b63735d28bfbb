// Compressing the files of an archive on several threads at once, with the archive's
// bytes the same whatever the number of threads.
#ifndef KMARC_PARALLEL_PACK_H
#define KMARC_PARALLEL_PACK_H

#include "archive/ArchiveWriter.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

struct PackItem {
    std::string name;             // the entry's name in the archive
    std::filesystem::path path;   // the file it is read from
    ArchiveTimes times;
};

// Told how the packing goes; called with the packer's lock held, so one call at a time.
class PackObserver {
public:
    // count more bytes of the files were read.
    virtual void BytesRead(uint64_t count) = 0;
    // The entry went into the archive (in the order of the items).
    virtual void EntryWritten(const PackItem& item) = 0;

protected:
    ~PackObserver() = default;
};

// What a failed item becomes: the exception to report (a ToolError naming the file).
typedef std::function<void(const PackItem& item, ArchiveWriteResult result)> PackFailure;

// Compressed bytes that may wait in memory for their entry's turn, all entries together.
const size_t kDefaultWaitingBudget = 16u << 20;

// Compresses every item's file with DeflateEntry, up to threads at once (0: one per
// processor), and adds the entries to writer in the order of items. A file with the
// same bytes as an earlier one is not compressed again: its entry shares the earlier
// entry's stream (IdenticalFiles.h). At the chunked levels a thread with no file left
// to start compresses chunks of the large files still being packed. An entry whose
// turn has not come keeps its compressed bytes in memory until it may be written; all
// such bytes together stay under a fixed budget (threads past it wait), so memory does
// not grow with the files (waitingBudget, plus one encoder's state and buffers per
// thread). A file that cannot be read throws ToolError; a writer result
// other than Ok is passed to fail, which throws. The first failure in the order of the
// items is rethrown once every thread has stopped, which is also the one a single
// thread would have met; items after it are not packed.
void PackInParallel(ArchiveWriter& writer, const std::vector<PackItem>& items, int level, unsigned threads,
                    const PackFailure& fail, PackObserver& observer,
                    size_t waitingBudget = kDefaultWaitingBudget);

// The number of threads that 0 stands for: the processors the system reports (at least 1).
unsigned DefaultPackThreads();

#endif
