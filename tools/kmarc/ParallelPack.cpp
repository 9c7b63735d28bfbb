#include "tools/kmarc/ParallelPack.h"

#include "archive/ChunkedDeflate.h"
#include "archive/Deflate.h"
#include "tools/kmarc/HostFiles.h"
#include "tools/kmarc/IdenticalFiles.h"
#include "tools/kmarc/ToolError.h"

#include <condition_variable>
#include <algorithm>
#include <deque>
#include <memory>
#include <exception>
#include <limits>
#include <mutex>
#include <thread>

namespace {

// The largest entry the archive's 32-bit fields can describe.
const uint64_t kMaxEntrySize = std::numeric_limits<uint32_t>::max();
// Threads never outnumber this, whatever is asked: each holds an encoder's state.
const unsigned kMaxThreads = 64;

// Chunks of one stream posted to lent threads: the calls of a ChunkHelpers::Run.
struct Batch {
    const std::function<void(unsigned, ChunkCompressor&)>* task;
    unsigned next;        // the next call to hand out
    unsigned count;
    unsigned unfinished;  // calls after the first not yet returned
};

// Threads of the packer lent to the files being packed at the chunked levels, so that
// the chunks of a large file are compressed on every thread: those with no file left
// to start, and those whose compressed bytes must wait for an earlier entry while the
// waiting budget is spent. A file's thread asks for as many as are waiting, reads that
// many chunks more and posts them; what no lent thread has taken when its own chunk is
// done, it compresses itself, so a lent thread that leaves never stalls it.
class LentThreads : public ChunkHelpers {
public:
    struct Task {
        Batch* batch = nullptr;
        unsigned index = 0;
    };

    explicit LentThreads(std::function<void()> posted) : m_posted(std::move(posted)) {}

    unsigned Reserve(unsigned wanted) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        int available = m_waiting - m_promised - m_queued;
        unsigned taken = available <= 0 ? 0 : std::min(wanted, static_cast<unsigned>(available));
        m_promised += static_cast<int>(taken);
        return taken;
    }

    void GiveBack(unsigned count) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_promised -= static_cast<int>(count);
    }

    void Run(unsigned count, ChunkCompressor& own, const std::function<void(unsigned, ChunkCompressor&)>& task) override
    {
        if (count == 0)
            return;
        Batch batch{ &task, 1, count, count - 1 };
        if (count > 1) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_promised -= static_cast<int>(count - 1);
                m_queued += static_cast<int>(count - 1);
                m_batches.push_back(&batch);
                m_wake.notify_all();
            }
            m_posted();
        }
        task(0, own);
        // What no lent thread took, this one does.
        std::unique_lock<std::mutex> lock(m_mutex);
        while (batch.next < batch.count) {
            Task left = TakeFrom(batch);
            lock.unlock();
            Perform(left, own);
            lock.lock();
        }
        m_done.wait(lock, [&batch] { return batch.unfinished == 0; });
    }

    // A thread waits to be lent (Lend), takes tasks while it is (TakeTask, then
    // Perform), and leaves again (Unlend). TakeTask is called with no lock of the
    // pool held; false when no task waits.
    void Lend()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_waiting;
    }
    void Unlend()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        --m_waiting;
    }
    bool TakeTask(Task& task)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_batches.empty())
            return false;
        task = TakeFrom(*m_batches.front());
        --m_waiting;
        return true;
    }
    // Runs a task taken by a lent thread, which then waits to be lent again.
    void PerformLent(const Task& task, ChunkCompressor& compressor)
    {
        Perform(task, compressor);
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_waiting;
    }

    // Lends the calling thread, which has no file left to start, until Close.
    void Serve(ChunkCompressor& compressor)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        ++m_waiting;
        for (;;) {
            m_wake.wait(lock, [this] { return m_closed || !m_batches.empty(); });
            if (m_batches.empty()) {
                --m_waiting;
                return;
            }
            Task task = TakeFrom(*m_batches.front());
            --m_waiting;
            lock.unlock();
            Perform(task, compressor);
            lock.lock();
            ++m_waiting;
        }
    }

    // No more chunks will come: the threads in Serve return.
    void Close()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = true;
        m_wake.notify_all();
    }

private:
    // Takes the next call of batch, with the lock held.
    Task TakeFrom(Batch& batch)
    {
        Task task{ &batch, batch.next++ };
        if (batch.next == batch.count)
            m_batches.erase(std::find(m_batches.begin(), m_batches.end(), &batch));
        --m_queued;
        return task;
    }

    void Perform(const Task& task, ChunkCompressor& compressor)
    {
        (*task.batch->task)(task.index, compressor);
        std::lock_guard<std::mutex> lock(m_mutex);
        if (--task.batch->unfinished == 0)
            m_done.notify_all();
    }

    std::function<void()> m_posted;  // told after chunks were posted, to wake blocked threads
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_done;
    std::deque<Batch*> m_batches;  // those with calls not yet taken
    int m_waiting = 0;             // lent threads waiting for a task
    int m_promised = 0;            // threads reserved for calls not yet posted
    int m_queued = 0;              // calls posted and not yet taken
    bool m_closed = false;
};

class Packer {
public:
    Packer(ArchiveWriter& writer, const std::vector<PackItem>& items, int level, const PackFailure& fail,
           PackObserver& observer, size_t waitingBudget)
        : m_writer(writer), m_items(items), m_level(level), m_fail(fail), m_observer(observer),
          m_waitingBudget(waitingBudget), m_slots(items.size()), m_earlier(FindIdenticalFiles(items)),
          m_lent([this] {
              std::lock_guard<std::mutex> lock(m_mutex);
              m_changed.notify_all();
          })
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

    // A packing thread's compressor for the chunks of other files, made when first needed.
    class Spare {
    public:
        explicit Spare(int level) : m_level(level) {}
        ChunkCompressor& Get()
        {
            if (!m_compressor)
                m_compressor.reset(new ChunkCompressor(m_level));
            return *m_compressor;
        }

    private:
        int m_level;
        std::unique_ptr<ChunkCompressor> m_compressor;
    };

    // Passes an item's compressed pieces on: into the archive when its turn has come,
    // into its slot while the budget allows, else it waits.
    class SlotSink : public DeflateSink {
    public:
        SlotSink(Packer& packer, size_t index, Spare& spare) : m_packer(packer), m_index(index), m_spare(spare) {}
        bool Put(const unsigned char* bytes, size_t count) override
        {
            return m_packer.Put(m_index, bytes, count, m_spare);
        }

    private:
        Packer& m_packer;
        size_t m_index;
        Spare& m_spare;
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
        Spare spare(m_level);
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
                Pack(index, spare);
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
                m_lent.Close();
                return;
            }
        }
        m_lent.Serve(spare.Get());
    }

    void Pack(size_t index, Spare& spare)
    {
        const PackItem& item = m_items[index];
        CountedInput input(*this, item.path);
        SlotSink sink(*this, index, spare);
        uint64_t size = 0;
        DeflateResult result = DeflateEntry(input, m_level, kMaxEntrySize, sink, size, &m_lent);
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

    bool Put(size_t index, const unsigned char* bytes, size_t count, Spare& spare)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        Slot& slot = m_slots[index];
        // While its bytes wait for room, the thread compresses chunks of other files.
        bool lent = false;
        struct Return {
            LentThreads& pool;
            bool& lent;
            ~Return()
            {
                if (lent)
                    pool.Unlend();
            }
        } giveBack{ m_lent, lent };
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
            if (m_level >= kMinChunkedLevel) {
                // The compressor is made before a task is taken: a task once taken must run.
                ChunkCompressor& compressor = spare.Get();
                if (!lent) {
                    m_lent.Lend();
                    lent = true;
                }
                LentThreads::Task task;
                if (m_lent.TakeTask(task)) {
                    lock.unlock();
                    m_lent.PerformLent(task, compressor);
                    lock.lock();
                    continue;
                }
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
    LentThreads m_lent;
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
