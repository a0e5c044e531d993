#pragma once

// Packs bits into bytes, most significant bit first, and puts them to a stream it does not own.
// Pending bits live in one word rather than a slot per bit; the bytes are the same. PutBit emits
// a byte as soon as its eighth bit arrives; PutBits, the coder's fast path, lets up to 31 bits
// wait and emits four bytes at a time. The writer does not look at the stream's state: the job
// asks the stream whether a write failed.

#include "sys/FileStream.h"

#include <cstdint>

namespace hufpack {

class CodeWord;

class BitWriter
{
public:
    explicit BitWriter(FileStream& stream) : m_stream(stream) { }
    BitWriter(const BitWriter&) = delete;
    BitWriter& operator=(const BitWriter&) = delete;

    // Only 0 and 1 are queued; any other value is ignored.
    void PutBit(std::int32_t bit);
    void PutCode(const CodeWord& code);
    // Queues the low `count` bits of `bits`, highest first; 1 <= count <= 32.
    void PutBits(std::uint32_t bits, int count)
    {
        m_bits = (m_bits << count) | bits;
        m_pending += count;
        if (m_pending >= 32) {
            m_pending -= 32;
            const auto word = static_cast<std::uint32_t>(m_bits >> m_pending);
            m_stream.Put(static_cast<std::uint8_t>(word >> 24));
            m_stream.Put(static_cast<std::uint8_t>(word >> 16));
            m_stream.Put(static_cast<std::uint8_t>(word >> 8));
            m_stream.Put(static_cast<std::uint8_t>(word));
        }
    }
    // Emits the pending bits; a partial last byte is padded with 0 bits.
    void FlushByte();
    // Emits the last partial byte and flushes the stream.
    void Finish();

private:
    void EmitWholeBytes();

    FileStream& m_stream;
    // The low m_pending bits are the queued ones, the oldest highest; bits above are stale.
    // Between calls m_pending < 32.
    std::uint64_t m_bits = 0;
    int m_pending = 0;
};

} // namespace hufpack
