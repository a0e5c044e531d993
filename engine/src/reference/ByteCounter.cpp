// Counting a stream's bytes to its end.

#include "reference/ByteCounter.h"

namespace hufpack {

bool ByteCounter::CountAll()
{
    for (auto chunk = m_stream.ReadChunk(); !chunk.empty(); chunk = m_stream.ReadChunk())
        CountBlock(chunk, m_counts);
    return !m_stream.Failed() && m_stream.Seek(0);
}

} // namespace hufpack
