// The bit writer's single bits, code words and the last partial byte.

#include "reference/BitWriter.h"

#include "code/CodeWord.h"

namespace hufpack {

void BitWriter::PutBit(std::int32_t bit)
{
    if (bit != 0 && bit != 1)
        return;
    m_bits = (m_bits << 1) | static_cast<std::uint64_t>(bit);
    if (++m_pending >= 8)
        EmitWholeBytes();
}

void BitWriter::PutCode(const CodeWord& code)
{
    for (int i = 1; i <= code.Length(); ++i)
        PutBit(code[i]);
}

void BitWriter::EmitWholeBytes()
{
    while (m_pending >= 8) {
        m_pending -= 8;
        m_stream.Put(static_cast<std::uint8_t>(m_bits >> m_pending));
    }
}

void BitWriter::FlushByte()
{
    EmitWholeBytes();
    if (m_pending > 0) {
        m_stream.Put(static_cast<std::uint8_t>(m_bits << (8 - m_pending)));
        m_pending = 0;
    }
}

void BitWriter::Finish()
{
    FlushByte();
    m_stream.Flush();
}

} // namespace hufpack
