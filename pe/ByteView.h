// Bounds-checked little-endian access to bytes of a file held in memory. Every read of
// the PE code goes through ByteView, so no field is read past the end of the bytes, and
// no byte pointer is ever cast to a structure.
#ifndef PE_BYTE_VIEW_H
#define PE_BYTE_VIEW_H

#include "pe/PeError.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class ByteView {
public:
    ByteView() = default;
    ByteView(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    explicit ByteView(const std::vector<uint8_t>& bytes) : m_data(bytes.data()), m_size(bytes.size()) {}

    const uint8_t* Data() const { return m_data; }
    size_t Size() const { return m_size; }

    // Whether count bytes starting at offset lie inside the view (no overflow).
    bool Holds(size_t offset, size_t count) const { return offset <= m_size && count <= m_size - offset; }

    // Each read throws PeError(Truncated) with what names the field when it does not
    // lie inside the view.
    uint8_t U8(size_t offset, const char* what) const;
    uint16_t U16(size_t offset, const char* what) const;
    uint32_t U32(size_t offset, const char* what) const;
    // The count bytes at offset, checked the same way.
    ByteView Sub(size_t offset, size_t count, const char* what) const;
    std::vector<uint8_t> Copy(size_t offset, size_t count, const char* what) const;

private:
    void Require(size_t offset, size_t count, const char* what) const;

    const uint8_t* m_data = nullptr;
    size_t m_size = 0;
};

// Writers into a byte vector: Put overwrites bytes that must already exist, Append adds.
void PutU16(std::vector<uint8_t>& bytes, size_t offset, uint16_t value);
void PutU32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value);
void AppendU16(std::vector<uint8_t>& bytes, uint16_t value);
void AppendU32(std::vector<uint8_t>& bytes, uint32_t value);
// Appends zero bytes until the size is a multiple of alignment (a power of two).
void PadTo(std::vector<uint8_t>& bytes, size_t alignment);

// value rounded up to a multiple of alignment, a power of two; false when that passes
// 32 bits.
bool AlignUp(uint32_t value, uint32_t alignment, uint32_t& aligned);

#endif
