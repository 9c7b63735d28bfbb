#include "pe/ByteView.h"

#include <string>

void ByteView::Require(size_t offset, size_t count, const char* what) const
{
    if (!Holds(offset, count))
        throw PeError(PeFault::Truncated, std::string(what) + " lies past the end of the file (offset " +
                                              std::to_string(offset) + ", " + std::to_string(count) +
                                              " bytes, file holds " + std::to_string(m_size) + ")");
}

uint8_t ByteView::U8(size_t offset, const char* what) const
{
    Require(offset, 1, what);
    return m_data[offset];
}

uint16_t ByteView::U16(size_t offset, const char* what) const
{
    Require(offset, 2, what);
    return static_cast<uint16_t>(m_data[offset] | m_data[offset + 1] << 8);
}

uint32_t ByteView::U32(size_t offset, const char* what) const
{
    Require(offset, 4, what);
    return uint32_t(m_data[offset]) | uint32_t(m_data[offset + 1]) << 8 | uint32_t(m_data[offset + 2]) << 16 |
           uint32_t(m_data[offset + 3]) << 24;
}

ByteView ByteView::Sub(size_t offset, size_t count, const char* what) const
{
    Require(offset, count, what);
    return ByteView(m_data + offset, count);
}

std::vector<uint8_t> ByteView::Copy(size_t offset, size_t count, const char* what) const
{
    Require(offset, count, what);
    return std::vector<uint8_t>(m_data + offset, m_data + offset + count);
}

void PutU16(std::vector<uint8_t>& bytes, size_t offset, uint16_t value)
{
    bytes.at(offset + 1);
    bytes[offset] = uint8_t(value);
    bytes[offset + 1] = uint8_t(value >> 8);
}

void PutU32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value)
{
    bytes.at(offset + 3);
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = uint8_t(value >> (8 * i));
}

void AppendU16(std::vector<uint8_t>& bytes, uint16_t value)
{
    bytes.push_back(uint8_t(value));
    bytes.push_back(uint8_t(value >> 8));
}

void AppendU32(std::vector<uint8_t>& bytes, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes.push_back(uint8_t(value >> (8 * i)));
}

void PadTo(std::vector<uint8_t>& bytes, size_t alignment)
{
    while (bytes.size() % alignment != 0)
        bytes.push_back(0);
}

bool AlignUp(uint32_t value, uint32_t alignment, uint32_t& aligned)
{
    uint64_t rounded = (uint64_t(value) + alignment - 1) / alignment * alignment;
    if (rounded > UINT32_MAX)
        return false;
    aligned = static_cast<uint32_t>(rounded);
    return true;
}
