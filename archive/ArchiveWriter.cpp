#include "archive/ArchiveWriter.h"

#include "archive/EntryName.h"
#include "archive/LittleEndian.h"

#include <cstring>
#include <limits>

namespace {

const size_t kDirectoryOffsetSize = 4;
const size_t kMaxNameLength = 255;
const size_t kEntryFixedSize = 25;
const uint64_t kMaxArchiveSize = std::numeric_limits<uint32_t>::max();
class MemoryInput : public ArchiveInput {
public:
    MemoryInput(const unsigned char* contents, size_t size) : m_contents(contents), m_left(size) {}
    size_t Read(unsigned char* buffer, size_t capacity) override
    {
        size_t count = m_left < capacity ? m_left : capacity;
        if (count != 0)
            std::memcpy(buffer, m_contents, count);
        m_contents += count;
        m_left -= count;
        return count;
    }

private:
    const unsigned char* m_contents;
    size_t m_left;
};

} // namespace

class ArchiveWriter::MemoryOutput final : public ArchiveOutput {
public:
    bool Append(const unsigned char* bytes, size_t count) override
    {
        const size_t start = bytes_.size();
        bytes_.resize(start + count);
        if (count != 0)
            std::memcpy(&bytes_[start], bytes, count);
        return true;
    }
    bool Rewrite(uint64_t offset, const unsigned char* bytes, size_t count) override
    {
        std::memcpy(&bytes_[static_cast<size_t>(offset)], bytes, count);
        return true;
    }
    std::vector<unsigned char> bytes_;
};

const char* DescribeArchiveWriteResult(ArchiveWriteResult result)
{
    switch (result) {
    case ArchiveWriteResult::Ok: return "ok";
    case ArchiveWriteResult::NameNotAllowed: return "name is not allowed in an archive";
    case ArchiveWriteResult::TooLarge: return "larger than the 4 GiB an archive can hold";
    case ArchiveWriteResult::CompressionFailed: return "compression failed";
    case ArchiveWriteResult::WriteFailed: return "cannot write the archive";
    }
    return "unknown result";
}

ArchiveWriter::ArchiveWriter(int level) : m_level(level), m_memory(new MemoryOutput), m_output(m_memory.get())
{
    Start();
}

ArchiveWriter::ArchiveWriter(ArchiveOutput& output, int level) : m_level(level), m_output(&output)
{
    Start();
}

ArchiveWriter::~ArchiveWriter() = default;

// The directory offset goes first and is written over when the directory is placed.
void ArchiveWriter::Start()
{
    const unsigned char placeholder[kDirectoryOffsetSize] = {};
    m_size = m_output->Append(placeholder, sizeof placeholder) ? kDirectoryOffsetSize : 0;
}

ArchiveWriteResult ArchiveWriter::Add(const std::string& name, const unsigned char* contents, size_t size,
                                      const ArchiveTimes& times)
{
    if (size > kMaxArchiveSize)
        return ArchiveWriteResult::TooLarge;
    MemoryInput input(contents, size);
    return AddStream(name, input, times);
}

namespace {

// Hands the encoder's pieces to the writer, keeping the first refusal.
class WriterSink : public DeflateSink {
public:
    explicit WriterSink(ArchiveWriter& writer) : m_writer(writer) {}
    bool Put(const unsigned char* bytes, size_t count) override
    {
        m_result = m_writer.AppendEntryData(bytes, count);
        return m_result == ArchiveWriteResult::Ok;
    }
    ArchiveWriteResult Result() const { return m_result; }

private:
    ArchiveWriter& m_writer;
    ArchiveWriteResult m_result = ArchiveWriteResult::Ok;
};

} // namespace

ArchiveWriteResult ArchiveWriter::AddStream(const std::string& name, ArchiveInput& input, const ArchiveTimes& times)
{
    ArchiveWriteResult result = BeginEntry(name);
    if (result != ArchiveWriteResult::Ok)
        return result;
    WriterSink sink(*this);
    uint64_t size = 0;
    DeflateResult deflated = DeflateEntry(input, m_level, kMaxArchiveSize, sink, size);
    switch (deflated) {
    case DeflateResult::Ok: result = EndEntry(size, times); break;
    case DeflateResult::TooLarge: result = ArchiveWriteResult::TooLarge; break;
    case DeflateResult::Failed: result = ArchiveWriteResult::CompressionFailed; break;
    case DeflateResult::SinkRefused: result = sink.Result(); break;
    }
    if (result != ArchiveWriteResult::Ok)
        Rollback();
    return result;
}

ArchiveWriteResult ArchiveWriter::BeginEntry(const std::string& name)
{
    if (name.size() > kMaxNameLength || !IsSafeEntryName(name.data(), static_cast<uint32_t>(name.size()), 0))
        return ArchiveWriteResult::NameNotAllowed;
    if (m_size < kDirectoryOffsetSize)
        return ArchiveWriteResult::WriteFailed;
    m_entryName = name;
    m_entryOffset = m_size;
    return ArchiveWriteResult::Ok;
}

ArchiveWriteResult ArchiveWriter::AppendEntryData(const unsigned char* bytes, size_t count)
{
    if (m_size + count > kMaxArchiveSize)
        return ArchiveWriteResult::TooLarge;
    if (count != 0 && !m_output->Append(bytes, count))
        return ArchiveWriteResult::WriteFailed;
    m_size += count;
    return ArchiveWriteResult::Ok;
}

ArchiveWriteResult ArchiveWriter::EndEntry(uint64_t uncompressedSize, const ArchiveTimes& times)
{
    if (uncompressedSize > kMaxArchiveSize)
        return ArchiveWriteResult::TooLarge;
    m_entries.push_back({ m_entryName, static_cast<uint32_t>(m_entryOffset),
                          static_cast<uint32_t>(m_size - m_entryOffset), static_cast<uint32_t>(uncompressedSize),
                          times });
    return ArchiveWriteResult::Ok;
}

ArchiveWriteResult ArchiveWriter::AddSharedEntry(const std::string& name, size_t earlier, const ArchiveTimes& times)
{
    ArchiveWriteResult result = BeginEntry(name);
    if (result != ArchiveWriteResult::Ok)
        return result;
    if (earlier >= m_entries.size())
        return ArchiveWriteResult::WriteFailed;
    Entry entry = m_entries[earlier];
    entry.name = name;
    entry.times = times;
    m_entries.push_back(entry);
    return ArchiveWriteResult::Ok;
}

// An archive in memory drops a failed entry's bytes and stays usable.
void ArchiveWriter::Rollback()
{
    if (m_memory) {
        m_memory->bytes_.resize(static_cast<size_t>(m_entryOffset));
        m_size = m_entryOffset;
    }
}

ArchiveWriteResult ArchiveWriter::Finish()
{
    if (m_size < kDirectoryOffsetSize)
        return ArchiveWriteResult::WriteFailed;
    uint64_t total = m_size + 4;
    for (const Entry& entry : m_entries)
        total += kEntryFixedSize + entry.name.size();
    if (total > kMaxArchiveSize)
        return ArchiveWriteResult::TooLarge;

    std::vector<unsigned char> directory;
    AppendUint32LE(directory, static_cast<uint32_t>(m_entries.size()));
    for (const Entry& entry : m_entries) {
        directory.push_back(static_cast<unsigned char>(entry.name.size()));
        directory.insert(directory.end(), entry.name.begin(), entry.name.end());
        for (uint32_t field : { entry.dataOffset, entry.compressedSize, entry.uncompressedSize, entry.times.creation,
                                entry.times.lastWrite, entry.times.lastAccess })
            AppendUint32LE(directory, field);
    }
    std::vector<unsigned char> offset;
    AppendUint32LE(offset, static_cast<uint32_t>(m_size));
    if (!m_output->Append(directory.data(), directory.size()) || !m_output->Rewrite(0, offset.data(), offset.size()))
        return ArchiveWriteResult::WriteFailed;
    m_size += directory.size();
    return ArchiveWriteResult::Ok;
}

ArchiveWriteResult ArchiveWriter::Finish(std::vector<unsigned char>& archive)
{
    if (!m_memory)
        return ArchiveWriteResult::WriteFailed;
    ArchiveWriteResult result = Finish();
    if (result != ArchiveWriteResult::Ok)
        return result;
    archive.swap(m_memory->bytes_);
    m_memory->bytes_.clear();
    m_entries.clear();
    Start();
    return ArchiveWriteResult::Ok;
}
