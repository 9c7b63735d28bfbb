#include "archive/ArchiveWriter.h"

#include "archive/EntryName.h"
#include "archive/LittleEndian.h"

#include <zlib.h>

#include <limits>

namespace {

const size_t kDirectoryOffsetSize = 4;
const size_t kMaxNameLength = 255;
const size_t kEntryFixedSize = 25;
const uint64_t kMaxArchiveSize = std::numeric_limits<uint32_t>::max();

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

    // Appends the complete zlib stream of the input to out. size must fit uInt, which
    // the 4 GiB limit of an archive guarantees.
    bool Compress(const unsigned char* input, uint32_t size, std::vector<unsigned char>& out)
    {
        if (!m_ready)
            return false;
        m_stream.next_in = const_cast<unsigned char*>(input);
        m_stream.avail_in = size;
        for (;;) {
            unsigned char buffer[65536];
            m_stream.next_out = buffer;
            m_stream.avail_out = sizeof buffer;
            int result = deflate(&m_stream, Z_FINISH);
            out.insert(out.end(), buffer, buffer + (sizeof buffer - m_stream.avail_out));
            if (result == Z_STREAM_END)
                return true;
            if (result != Z_OK)
                return false;
        }
    }

private:
    z_stream m_stream = {};
    bool m_ready = false;
};

} // namespace

const char* DescribeArchiveWriteResult(ArchiveWriteResult result)
{
    switch (result) {
    case ArchiveWriteResult::Ok: return "ok";
    case ArchiveWriteResult::NameNotAllowed: return "name is not allowed in an archive";
    case ArchiveWriteResult::TooLarge: return "archive would exceed 4 GiB";
    case ArchiveWriteResult::CompressionFailed: return "compression failed";
    }
    return "unknown result";
}

ArchiveWriter::ArchiveWriter(int level) : m_level(level), m_archive(kDirectoryOffsetSize) {}

ArchiveWriteResult ArchiveWriter::Add(const std::string& name, const unsigned char* contents, size_t size,
                                      const ArchiveTimes& times)
{
    if (name.size() > kMaxNameLength || !IsSafeEntryName(name.data(), static_cast<uint32_t>(name.size()), 0))
        return ArchiveWriteResult::NameNotAllowed;
    if (size > kMaxArchiveSize)
        return ArchiveWriteResult::TooLarge;

    size_t dataOffset = m_archive.size();
    Deflater deflater(m_level);
    if (!deflater.Compress(contents, static_cast<uint32_t>(size), m_archive)) {
        m_archive.resize(dataOffset);
        return ArchiveWriteResult::CompressionFailed;
    }
    if (m_archive.size() > kMaxArchiveSize) {
        m_archive.resize(dataOffset);
        return ArchiveWriteResult::TooLarge;
    }
    m_entries.push_back({ name, static_cast<uint32_t>(dataOffset), static_cast<uint32_t>(m_archive.size() - dataOffset),
                          static_cast<uint32_t>(size), times });
    return ArchiveWriteResult::Ok;
}

ArchiveWriteResult ArchiveWriter::Finish(std::vector<unsigned char>& archive)
{
    uint64_t total = m_archive.size() + 4;
    for (const Entry& entry : m_entries)
        total += kEntryFixedSize + entry.name.size();
    if (total > kMaxArchiveSize)
        return ArchiveWriteResult::TooLarge;

    StoreUint32LE(m_archive, 0, static_cast<uint32_t>(m_archive.size()));
    AppendUint32LE(m_archive, static_cast<uint32_t>(m_entries.size()));
    for (const Entry& entry : m_entries) {
        m_archive.push_back(static_cast<unsigned char>(entry.name.size()));
        m_archive.insert(m_archive.end(), entry.name.begin(), entry.name.end());
        for (uint32_t field : { entry.dataOffset, entry.compressedSize, entry.uncompressedSize, entry.times.creation,
                                entry.times.lastWrite, entry.times.lastAccess })
            AppendUint32LE(m_archive, field);
    }
    archive.swap(m_archive);
    m_archive.assign(kDirectoryOffsetSize, 0);
    m_entries.clear();
    return ArchiveWriteResult::Ok;
}
