// Unsigned little-endian fields of the archive layout. Every read names the length of
// the block it reads from, so a field that would run past the end is refused instead
// of read.
#ifndef ARCHIVE_LITTLE_ENDIAN_H
#define ARCHIVE_LITTLE_ENDIAN_H

#include <cstddef>
#include <cstdint>
#include <vector>

// Stores the 32-bit value at base + offset in value and returns true when the four
// bytes lie inside the size bytes at base; otherwise returns false and leaves value.
inline bool ReadUint32LE(const unsigned char* base, uint32_t size, uint32_t offset, uint32_t& value)
{
    if (offset > size || size - offset < 4)
        return false;
    const unsigned char* p = base + offset;
    value = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    return true;
}

// Appends value as four little-endian bytes.
inline void AppendUint32LE(std::vector<unsigned char>& out, uint32_t value)
{
    out.push_back(static_cast<unsigned char>(value));
    out.push_back(static_cast<unsigned char>(value >> 8));
    out.push_back(static_cast<unsigned char>(value >> 16));
    out.push_back(static_cast<unsigned char>(value >> 24));
}

// Overwrites the four bytes at offset, which the caller has already appended.
inline void StoreUint32LE(std::vector<unsigned char>& out, std::size_t offset, uint32_t value)
{
    out[offset] = static_cast<unsigned char>(value);
    out[offset + 1] = static_cast<unsigned char>(value >> 8);
    out[offset + 2] = static_cast<unsigned char>(value >> 16);
    out[offset + 3] = static_cast<unsigned char>(value >> 24);
}

#endif
