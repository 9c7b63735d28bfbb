#include "tools/kmarc/Spool.h"

#include <algorithm>
#include <vector>

namespace {

// Copies go through a buffer of this size, so memory does not follow the archives' size.
const size_t kCopyPiece = 1 << 20;

} // namespace

void SpooledResource::WriteTo(ByteSink& out) const
{
    std::vector<uint8_t> piece(static_cast<size_t>(std::min<uint64_t>(kCopyPiece, m_size)));
    for (uint64_t done = 0; done < m_size;) {
        size_t count = static_cast<size_t>(std::min<uint64_t>(piece.size(), m_size - done));
        m_file.ReadAt(m_offset + done, piece.data(), count);
        out.Write(piece.data(), count);
        done += count;
    }
}
