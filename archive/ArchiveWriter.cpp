#include "archive/ArchiveWriter.h"

#include "archive/EntryName.h"
#include "archive/LittleEndian.h"

#include <zlib.h>

#include <cstring>
#include <limits>

namespace {

const size_t kDirectoryOffsetSize = 4;
const size_t kMaxNameLength = 255;
const size_t kEntryFixedSize = 25;
const uint64_t kMaxArchiveSize = std::numeric_limits<uint32_t>::max();
// Pieces of input read and of output written at a time; fixed, so that the same input
// always gives the same stream.
const size_t kPieceSize = 65536;

class Deflater {
public:
    explicit Deflater(int level) { m_ready = deflateInit(&m_stream, level) == Z_OK; }
    ~Deflater()
    {
        if (m_ready)
            deflateEnd(&m_stream);
    }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    bool Ready() const { return m_ready; }
    z_stream& Stream() { return m_stream; }

private:
    z_stream m_stream = {};
    bool m_ready = false;
};

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

ArchiveWriteResult ArchiveWriter::AddStream(const std::string& name, ArchiveInput& input, const ArchiveTimes& times)
{
    if (name.size() > kMaxNameLength || !IsSafeEntryName(name.data(), static_cast<uint32_t>(name.size()), 0))
        return ArchiveWriteResult::NameNotAllowed;
    if (m_size < kDirectoryOffsetSize)
        return ArchiveWriteResult::WriteFailed;

    const uint64_t dataOffset = m_size;
    auto fail = [&](ArchiveWriteResult result) {
        if (m_memory) {
            m_memory->bytes_.resize(static_cast<size_t>(dataOffset));
            m_size = dataOffset;
        }
        return result;
    };
    Deflater deflater(m_level);
    if (!deflater.Ready())
        return fail(ArchiveWriteResult::CompressionFailed);
    z_stream& stream = deflater.Stream();
    std::vector<unsigned char> in(kPieceSize);
    std::vector<unsigned char> out(kPieceSize);
    uint64_t total = 0;
    int result = Z_OK;
    while (result != Z_STREAM_END) {
        size_t count = 0;
        // Fill the piece whole, so that how the input hands out its bytes cannot change
        // the stream.
        for (size_t got = 1; count < in.size() && got != 0; count += got)
            got = input.Read(in.data() + count, in.size() - count);
        total += count;
        if (total > kMaxArchiveSize)
            return fail(ArchiveWriteResult::TooLarge);
        const int flush = count < in.size() ? Z_FINISH : Z_NO_FLUSH;
        stream.next_in = in.data();
        stream.avail_in = static_cast<uInt>(count);
        do {
            stream.next_out = out.data();
            stream.avail_out = static_cast<uInt>(out.size());
            result = deflate(&stream, flush);
            if (result == Z_STREAM_ERROR)
                return fail(ArchiveWriteResult::CompressionFailed);
            size_t produced = out.size() - stream.avail_out;
            if (m_size + produced > kMaxArchiveSize)
                return fail(ArchiveWriteResult::TooLarge);
            if (produced != 0 && !m_output->Append(out.data(), produced))
                return fail(ArchiveWriteResult::WriteFailed);
            m_size += produced;
        } while (stream.avail_out == 0 || (flush == Z_FINISH && result != Z_STREAM_END));
        if (flush == Z_FINISH && result != Z_STREAM_END)
            return fail(ArchiveWriteResult::CompressionFailed);
    }
    m_entries.push_back({ name, static_cast<uint32_t>(dataOffset), static_cast<uint32_t>(m_size - dataOffset),
                          static_cast<uint32_t>(total), times });
    return ArchiveWriteResult::Ok;
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
