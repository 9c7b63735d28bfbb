#include "tools/kmarc/ParallelPack.h"

#include "archive/ChunkedDeflate.h"
#include "archive/Deflate.h"
#include "tools/kmarc/HostFiles.h"
#include "tools/kmarc/IdenticalFiles.h"
#include "tools/kmarc/ToolError.h"

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <exception>
#include <limits>
#include <mutex>
#include <thread>

namespace {

// The largest entry the archive's 32-bit fields can describe.
const uint64_t kMaxEntrySize = std::numeric_limits<uint32_t>::max();
// Threads never outnumber this, whatever is asked: each holds an encoder's state.
const unsigned kMaxThreads = 64;

// A payload file read in pieces.
class FileInput : public ArchiveInput {
public:
    explicit FileInput(const std::filesystem::path& path) : m_path(path), m_file(OpenFile(path, "rb"))
    {
        if (m_file == nullptr)
            throw ToolError{ kExitFileSystem, DisplayPath(path) + ": cannot open for reading" };
    }
    ~FileInput() { std::fclose(m_file); }
    FileInput(const FileInput&) = delete;
    FileInput& operator=(const FileInput&) = delete;

    size_t Read(unsigned char* buffer, size_t capacity) override
    {
        size_t count = std::fread(buffer, 1, capacity, m_file);
        if (count < capacity && std::ferror(m_file))
            throw ToolError{ kExitFileSystem, DisplayPath(m_path) + ": cannot read" };
        return count;
    }

private:
    std::filesystem::path m_path;
    FILE* m_file;
};

// The packer's threads that have no file left to start, lent to the files still being
// packed, so that the chunks of the last large files are compressed on every thread.
class IdleThreads : public ChunkHelpers {
public:
    explicit IdleThreads(int level) : m_level(level) {}

    unsigned Reserve(unsigned wanted) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        unsigned taken = std::min(wanted, m_free);
        m_free -= taken;
        return taken;
    }

    void GiveBack(unsigned count) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_free += count;
    }

    void Run(unsigned count, ChunkCompressor& own, const std::function<void(unsigned, ChunkCompressor&)>& task) override
    {
        if (count == 0)
            return;
        Batch batch{ &task, 1, count, count - 1 };
        if (count > 1) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_batches.push_back(&batch);
            m_wake.notify_all();
        }
        task(0, own);
        std::unique_lock<std::mutex> lock(m_mutex);
        m_done.wait(lock, [&batch] { return batch.unfinished == 0; });
    }

    // Lends the calling thread until Close.
    void Serve()
    {
        ChunkCompressor compressor(m_level);
        std::unique_lock<std::mutex> lock(m_mutex);
        ++m_free;
        for (;;) {
            m_wake.wait(lock, [this] { return m_closed || !m_batches.empty(); });
            if (m_batches.empty())
                return;
            Batch& batch = *m_batches.front();
            unsigned index = batch.next++;
            if (batch.next == batch.count)
                m_batches.pop_front();
            lock.unlock();
            (*batch.task)(index, compressor);
            lock.lock();
            if (--batch.unfinished == 0)
                m_done.notify_all();
            ++m_free;
        }
    }

    // No more chunks will come: the lent threads return.
    void Close()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = true;
        m_wake.notify_all();
    }

private:
    struct Batch {
        const std::function<void(unsigned, ChunkCompressor&)>* task;
        unsigned next;        // the next call to hand out
        unsigned count;
        unsigned unfinished;  // calls on lent threads not yet returned
    };

    int m_level;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_done;
    std::deque<Batch*> m_batches;  // those with calls still to hand out
    unsigned m_free = 0;           // lent threads neither reserved nor at work
    bool m_closed = false;
};

class Packer {
public:
    Packer(ArchiveWriter& writer, const std::vector<PackItem>& items, int level, const PackFailure& fail,
           PackObserver& observer, size_t waitingBudget)
        : m_writer(writer), m_items(items), m_level(level), m_fail(fail), m_observer(observer),
          m_waitingBudget(waitingBudget), m_slots(items.size()), m_earlier(FindIdenticalFiles(items)),
          m_idle(level)
    {
    }

    void Run(unsigned threads)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            MakeHead();
        }
        std::vector<std::thread> helpers;
        for (unsigned i = 1; i < threads; ++i)
            helpers.emplace_back([this] { Work(); });
        Work();
        for (std::thread& helper : helpers)
            helper.join();
        if (m_failure)
            std::rethrow_exception(m_failure);
    }

private:
    struct Slot {
        std::vector<unsigned char> waiting;  // compressed bytes not yet in the archive
        bool direct = false;                 // the entry's turn has come: bytes go straight in
        bool done = false;
        uint64_t size = 0;
    };

    // Passes an item's compressed pieces on: into the archive when its turn has come,
    // into its slot while the budget allows, else it waits.
    class SlotSink : public DeflateSink {
    public:
        SlotSink(Packer& packer, size_t index) : m_packer(packer), m_index(index) {}
        bool Put(const unsigned char* bytes, size_t count) override { return m_packer.Put(m_index, bytes, count); }

    private:
        Packer& m_packer;
        size_t m_index;
    };

    // Counts what the encoder reads.
    class CountedInput : public ArchiveInput {
    public:
        CountedInput(Packer& packer, const std::filesystem::path& path) : m_packer(packer), m_file(path) {}
        size_t Read(unsigned char* buffer, size_t capacity) override
        {
            size_t count = m_file.Read(buffer, capacity);
            std::lock_guard<std::mutex> lock(m_packer.m_mutex);
            m_packer.m_observer.BytesRead(count);
            return count;
        }

    private:
        Packer& m_packer;
        FileInput m_file;
    };

    // The failed item and those after it stop; those before it go on, so that an earlier
    // failure still wins.
    bool Stopped(size_t index) const { return index >= m_failedIndex; }

    bool Shared(size_t index) const { return m_earlier[index] != kNoEarlierCopy; }

    void Work()
    {
        for (;;) {
            size_t index;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                while (m_next < m_items.size() && Shared(m_next))
                    ++m_next;
                if (m_next >= m_items.size() || Stopped(m_next))
                    break;
                index = m_next++;
                ++m_packing;
            }
            try {
                Pack(index);
            } catch (...) {
                std::lock_guard<std::mutex> lock(m_mutex);
                Fail(index, std::current_exception());
            }
            std::lock_guard<std::mutex> lock(m_mutex);
            --m_packing;
        }
        // Nothing left to start: the thread helps with the chunks of the files still
        // being packed, until the last of them is done.
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_packing == 0 || m_level < kMinChunkedLevel) {
                m_idle.Close();
                return;
            }
        }
        m_idle.Serve();
    }

    void Pack(size_t index)
    {
        const PackItem& item = m_items[index];
        CountedInput input(*this, item.path);
        SlotSink sink(*this, index);
        uint64_t size = 0;
        DeflateResult result = DeflateEntry(input, m_level, kMaxEntrySize, sink, size, &m_idle);
        std::lock_guard<std::mutex> lock(m_mutex);
        switch (result) {
        case DeflateResult::Ok: break;
        case DeflateResult::TooLarge: Reject(index, ArchiveWriteResult::TooLarge); return;
        case DeflateResult::Failed: Reject(index, ArchiveWriteResult::CompressionFailed); return;
        case DeflateResult::SinkRefused: return;  // the failure is recorded already, or the item stopped
        }
        m_slots[index].done = true;
        m_slots[index].size = size;
        Advance();
    }

    bool Put(size_t index, const unsigned char* bytes, size_t count)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        Slot& slot = m_slots[index];
        for (;;) {
            if (Stopped(index))
                return false;
            if (slot.direct)
                return Check(index, m_writer.AppendEntryData(bytes, count));
            if (m_waitingBytes + count <= m_waitingBudget) {
                slot.waiting.insert(slot.waiting.end(), bytes, bytes + count);
                m_waitingBytes += count;
                return true;
            }
            m_changed.wait(lock);
        }
    }

    // Writes every finished entry whose turn has come, and opens the next one.
    void Advance()
    {
        while (m_head < m_items.size() && (m_slots[m_head].done || Shared(m_head)) && !Stopped(m_head)) {
            Slot& slot = m_slots[m_head];
            if (Shared(m_head)) {
                slot.size = m_slots[m_earlier[m_head]].size;
                if (!Check(m_head, m_writer.AddSharedEntry(m_items[m_head].name, m_earlier[m_head],
                                                           m_items[m_head].times)))
                    return;
                m_observer.BytesRead(slot.size);
            } else if (!Check(m_head, m_writer.EndEntry(slot.size, m_items[m_head].times))) {
                return;
            }
            m_observer.EntryWritten(m_items[m_head]);
            ++m_head;
            MakeHead();
        }
        m_changed.notify_all();
    }

    // The head entry begins in the archive; what it compressed while it waited goes first.
    void MakeHead()
    {
        if (m_head >= m_items.size() || Stopped(m_head) || Shared(m_head))
            return;
        Slot& slot = m_slots[m_head];
        if (!Check(m_head, m_writer.BeginEntry(m_items[m_head].name)))
            return;
        if (!Check(m_head, m_writer.AppendEntryData(slot.waiting.data(), slot.waiting.size())))
            return;
        m_waitingBytes -= slot.waiting.size();
        std::vector<unsigned char>().swap(slot.waiting);
        slot.direct = true;
        m_changed.notify_all();
    }

    bool Check(size_t index, ArchiveWriteResult result)
    {
        if (result == ArchiveWriteResult::Ok)
            return true;
        Reject(index, result);
        return false;
    }

    void Reject(size_t index, ArchiveWriteResult result)
    {
        try {
            m_fail(m_items[index], result);
            throw ToolError{ kExitFileSystem, DisplayPath(m_items[index].path) + ": " +
                                                  DescribeArchiveWriteResult(result) };
        } catch (...) {
            Fail(index, std::current_exception());
        }
    }

    // Keeps the first failure in the order of the items; the items after it stop.
    void Fail(size_t index, std::exception_ptr failure)
    {
        if (index < m_failedIndex) {
            m_failedIndex = index;
            m_failure = failure;
        }
        m_changed.notify_all();
    }

    ArchiveWriter& m_writer;
    const std::vector<PackItem>& m_items;
    int m_level;
    const PackFailure& m_fail;
    PackObserver& m_observer;
    size_t m_waitingBudget;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Slot> m_slots;
    // For each item, the earlier item whose stream it shares, or kNoEarlierCopy.
    std::vector<size_t> m_earlier;
    IdleThreads m_idle;
    size_t m_next = 0;
    unsigned m_packing = 0;  // threads at work on an item
    size_t m_head = 0;
    size_t m_waitingBytes = 0;
    size_t m_failedIndex = std::numeric_limits<size_t>::max();
    std::exception_ptr m_failure;
};

} // namespace

unsigned DefaultPackThreads()
{
    unsigned count = std::thread::hardware_concurrency();
    return count == 0 ? 1 : count;
}

void PackInParallel(ArchiveWriter& writer, const std::vector<PackItem>& items, int level, unsigned threads,
                    const PackFailure& fail, PackObserver& observer, size_t waitingBudget)
{
    if (threads == 0)
        threads = DefaultPackThreads();
    if (threads > kMaxThreads)
        threads = kMaxThreads;
    // Beyond one per file, threads help only with the chunks of large files.
    if (threads > items.size() && (level < kMinChunkedLevel || items.empty()))
        threads = items.empty() ? 1 : static_cast<unsigned>(items.size());
    Packer packer(writer, items, level, fail, observer, waitingBudget);
    packer.Run(threads);
}
