#pragma once

// Hands out the bits of a stream one at a time, most significant bit of each byte first. It is
// always one byte ahead of its caller: the constructor loads the first byte, and the call that
// hands out bit 0 of a byte loads the next. At the end of the data a failed load changes
// nothing, so every later call repeats bit 0 of the last byte loaded (0 when none was).
// This is the plain reference reader; the coder's fast decoder reads the stream in words.

#include "sys/FileStream.h"

#include <cstdint>

namespace hufpack {

class BitReader
{
public:
    explicit BitReader(FileStream& stream) : m_stream(stream) { LoadByte(); }
    BitReader(const BitReader&) = delete;
    BitReader& operator=(const BitReader&) = delete;

    std::int32_t GetBit()
    {
        const auto bit = static_cast<std::int32_t>((m_byte >> m_index) & 1);
        if (m_index != 0)
            --m_index;
        else
            LoadByte();
        return bit;
    }
    void LoadByte()
    {
        const int next = m_stream.Get();
        if (next == FileStream::kEof)
            return;
        m_byte = static_cast<std::uint32_t>(next);
        m_index = 7;
    }

private:
    FileStream& m_stream;
    // Position of the next bit to hand out within m_byte: 7 after a load, down to 0.
    std::int32_t m_index = 7;
    std::uint32_t m_byte = 0;
};

} // namespace hufpack
