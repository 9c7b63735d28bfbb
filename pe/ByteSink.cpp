#include "pe/ByteSink.h"

#include "pe/PeError.h"

#include <algorithm>
#include <cstring>

void ByteSink::PadTo(uint64_t target)
{
    static const uint8_t kZeros[4096] = {};
    while (Size() < target) {
        uint64_t gap = target - Size();
        Write(kZeros, static_cast<size_t>(std::min<uint64_t>(gap, sizeof kZeros)));
    }
}

void MemorySink::Write(const uint8_t* bytes, size_t count)
{
    m_bytes.insert(m_bytes.end(), bytes, bytes + count);
}

void MemorySink::Rewrite(uint64_t offset, const uint8_t* bytes, size_t count)
{
    if (offset > m_bytes.size() || count > m_bytes.size() - offset)
        throw PeError(PeFault::NoRoom, "rewrite past the end of what was written");
    std::memcpy(&m_bytes[static_cast<size_t>(offset)], bytes, count);
}
