// Where a written executable or resource section goes, piece by piece, so that one
// carrying a large payload need not be held in memory.
#ifndef PE_BYTE_SINK_H
#define PE_BYTE_SINK_H

#include <cstddef>
#include <cstdint>
#include <vector>

// Write appends; Rewrite changes bytes already written (a checksum known only at the
// end). A sink that cannot write throws.
class ByteSink {
public:
    virtual void Write(const uint8_t* bytes, size_t count) = 0;
    virtual void Rewrite(uint64_t offset, const uint8_t* bytes, size_t count) = 0;
    // Bytes written so far.
    virtual uint64_t Size() const = 0;

    void Write(const std::vector<uint8_t>& bytes) { Write(bytes.data(), bytes.size()); }
    // Zero bytes until Size() is target (no-op when it is there already).
    void PadTo(uint64_t target);

protected:
    ~ByteSink() = default;
};

// A sink into a vector.
class MemorySink final : public ByteSink {
public:
    using ByteSink::Write;
    void Write(const uint8_t* bytes, size_t count) override;
    void Rewrite(uint64_t offset, const uint8_t* bytes, size_t count) override;
    uint64_t Size() const override { return m_bytes.size(); }
    std::vector<uint8_t>& Bytes() { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
};

#endif
