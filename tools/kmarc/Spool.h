// Writing a large result through a file instead of memory: embed packs the archives into
// a scratch OutputFile beside the setup, then lays the setup out from their sizes and
// copies them into it piece by piece.
#ifndef KMARC_SPOOL_H
#define KMARC_SPOOL_H

#include "archive/ArchiveWriter.h"
#include "pe/ByteSink.h"
#include "pe/ResourceTree.h"
#include "tools/kmarc/OutputFile.h"

#include <cstdint>

// An executable written into an output file.
class OutputSink final : public ByteSink {
public:
    explicit OutputSink(OutputFile& file) : m_file(file) {}
    using ByteSink::Write;
    void Write(const uint8_t* bytes, size_t count) override { m_file.Append(bytes, count); }
    void Rewrite(uint64_t offset, const uint8_t* bytes, size_t count) override { m_file.WriteAt(offset, bytes, count); }
    uint64_t Size() const override { return m_file.Size(); }

private:
    OutputFile& m_file;
};

// An archive streamed to the end of an output file; its offsets count from where it
// starts. Write failures throw ToolError rather than return false.
class SpooledArchive final : public ArchiveOutput {
public:
    explicit SpooledArchive(OutputFile& file) : m_file(file), m_start(file.Size()) {}
    bool Append(const unsigned char* bytes, size_t count) override
    {
        m_file.Append(bytes, count);
        return true;
    }
    bool Rewrite(uint64_t offset, const unsigned char* bytes, size_t count) override
    {
        m_file.WriteAt(m_start + offset, bytes, count);
        return true;
    }
    uint64_t Start() const { return m_start; }
    uint64_t Size() const { return m_file.Size() - m_start; }

private:
    OutputFile& m_file;
    uint64_t m_start;
};

// A resource whose bytes lie in an output file (which must outlive it), copied out in
// pieces when the executable is written.
class SpooledResource final : public ResourceSource {
public:
    SpooledResource(OutputFile& file, uint64_t offset, uint64_t size) : m_file(file), m_offset(offset), m_size(size) {}
    uint64_t Size() const override { return m_size; }
    void WriteTo(ByteSink& out) const override;

private:
    OutputFile& m_file;
    uint64_t m_offset;
    uint64_t m_size;
};

#endif
