#include "TableDecoder.h"

#include "ByteCounter.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstring>

namespace hufpack {

namespace {

std::uint64_t LoadBigEndian64(const std::uint8_t* p)
{
    std::uint64_t value;
    std::memcpy(&value, p, 8);
    if constexpr (std::endian::native == std::endian::little)
        value = __builtin_bswap64(value);
    return value;
}

} // namespace

TableDecoder::TableDecoder(const TreeNode* root)
{
    assert(root && !root->IsLeaf());
    FillSymbols(root, 0, 0);
    FillRuns();
}

void TableDecoder::FillSymbols(const TreeNode* node, int depth, std::uint32_t prefix)
{
    if (node->IsLeaf()) {
        // Every window that starts with this code decodes to this leaf.
        const int freeBits = kTableBits - depth;
        const std::uint32_t entry = static_cast<std::uint32_t>(depth) | (node->symbol << 8);
        const std::uint32_t first = prefix << freeBits;
        std::fill_n(m_symbols.begin() + first, 1u << freeBits, entry);
        return;
    }
    if (depth == kTableBits) {
        m_symbols[prefix] = kLongCode | static_cast<std::uint32_t>(kTableBits)
            | (static_cast<std::uint32_t>(m_longCodeNodes.size()) << 8);
        m_longCodeNodes.push_back(node);
        return;
    }
    FillSymbols(node->left, depth + 1, prefix << 1);
    FillSymbols(node->right, depth + 1, (prefix << 1) | 1);
}

void TableDecoder::FillRuns()
{
    constexpr std::uint32_t kMask = (1u << kTableBits) - 1;
    for (std::uint32_t window = 0; window <= kMask; ++window) {
        if (m_symbols[window] & kLongCode) {
            m_runs[window] = kLongCode;
            continue;
        }
        std::uint32_t run = 0;
        int used = 0;
        int count = 0;
        while (count < 3 && used < kTableBits) {
            // The code at `used` is known only if it ends inside the window.
            const std::uint32_t entry = m_symbols[(window << used) & kMask];
            const int length = static_cast<int>(entry & 0xFF);
            if ((entry & kLongCode) || used + length > kTableBits)
                break;
            run |= ((entry >> 8) & 0xFF) << (8 * count);
            used += length;
            ++count;
        }
        m_runs[window] = run | (static_cast<std::uint32_t>(used) << 24)
            | (static_cast<std::uint32_t>(count) << 28);
    }
}

// Moves the unread input to the front of the buffer and reads more behind it, keeping zeros
// after the end of what was read.
void TableDecoder::TopUpInput()
{
    std::uint8_t* const buffer = m_input.get();
    const auto kept = static_cast<std::size_t>(std::max<std::ptrdiff_t>(m_end - m_next, 0));
    std::memmove(buffer, m_next, kept);
    const auto want = static_cast<std::size_t>(
        std::min<std::int64_t>(m_inputLeft, static_cast<std::int64_t>(kInputBytes - kept)));
    const std::size_t got = want > 0 ? m_in->Read(buffer + kept, want) : 0;
    // A short read means the file ended early (the caller checked it did not) or failed.
    m_inputLeft = got == want ? m_inputLeft - static_cast<std::int64_t>(got) : 0;
    m_next = buffer;
    m_end = buffer + kept + got;
    std::memset(buffer + kept + got, 0, kSlack);
}

void TableDecoder::RefillCarefully()
{
    while (m_bitCount <= 56) {
        // The fast loop may leave m_next past m_end, inside the zeros that follow it.
        if (m_next >= m_end) {
            if (m_inputLeft > 0)
                TopUpInput();
            if (m_next >= m_end) {
                // Past the end of the input: zero bits, which are never used as code bits.
                m_bitCount += 8;
                continue;
            }
        }
        m_bits |= std::uint64_t { *m_next++ } << (56 - m_bitCount);
        m_bitCount += 8;
    }
}

// Decodes one code with every check; false at the end of the stream.
bool TableDecoder::DecodeOneCarefully()
{
    if (m_bitsLeft <= 0)
        return false;
    if (m_bitCount < kTableBits)
        RefillCarefully();
    const std::uint32_t entry = m_symbols[m_bits >> (64 - kTableBits)];
    const int length = static_cast<int>(entry & 0xFF);
    if (length > m_bitsLeft)
        return false; // the last code is unfinished: drop it
    m_bits <<= length;
    m_bitCount -= length;
    m_bitsLeft -= length;
    if (!(entry & kLongCode)) {
        Emit(static_cast<std::uint8_t>(entry >> 8));
        return true;
    }
    const TreeNode* node = m_longCodeNodes[(entry & ~kLongCode) >> 8];
    while (!node->IsLeaf()) {
        if (m_bitsLeft == 0)
            return false;
        if (m_bitCount == 0)
            RefillCarefully();
        node = (m_bits >> 63) ? node->right : node->left;
        m_bits <<= 1;
        --m_bitCount;
        --m_bitsLeft;
    }
    Emit(node->symbol);
    return true;
}

void TableDecoder::FlushOutput()
{
    const std::span<const std::uint8_t> bytes(m_output.get(), m_out);
    ByteCounter::CountBlock(bytes, *m_written);
    m_outStream->Write(bytes.data(), bytes.size());
    m_progress->Add(static_cast<std::int64_t>(bytes.size()));
    m_out = m_output.get();
}

void TableDecoder::Run(FileStream& in, FileStream& out, std::int64_t totalBits,
                       std::array<std::uint64_t, 256>& written, Progress& progress)
{
    m_progress = &progress;
    m_in = &in;
    m_outStream = &out;
    m_written = &written;
    m_inputLeft = (totalBits + 7) / 8;
    m_bitsLeft = totalBits;
    m_bits = 0;
    m_bitCount = 0;
    m_input = std::make_unique_for_overwrite<std::uint8_t[]>(kInputBytes + kSlack);
    m_output = std::make_unique_for_overwrite<std::uint8_t[]>(kOutputBytes + kSlack);
    m_next = m_end = m_input.get();
    m_out = m_output.get();
    TopUpInput();

    // Per round: one refill, then up to four runs of at most kTableBits bits each, which the
    // 56 bits after a refill always hold. Each run stores four bytes and keeps up to three.
    constexpr int kRunsPerRefill = 56 / kTableBits;
    constexpr std::int64_t kRoundBits = kRunsPerRefill * kTableBits;
    constexpr std::ptrdiff_t kRoundOutput = 4 * kRunsPerRefill + 4;
    std::uint8_t* const outputEnd = m_output.get() + kOutputBytes;
    for (;;) {
        if (m_end - m_next < 8 && m_inputLeft > 0)
            TopUpInput();
        if (outputEnd - m_out < kRoundOutput)
            FlushOutput();
        // The fast loop: the input holds a whole word (or only zero padding is left after it),
        // the output has room for a round, and a round cannot pass the last bit.
        std::uint64_t bits = m_bits;
        int bitCount = m_bitCount;
        std::int64_t bitsLeft = m_bitsLeft;
        const std::uint8_t* next = m_next;
        std::uint8_t* out = m_out;
        const std::uint8_t* const inputLimit = m_inputLeft > 0 ? m_end - 8 : m_end;
        bool longCode = false;
        while (next <= inputLimit && outputEnd - out >= kRoundOutput && bitsLeft >= kRoundBits) {
            bits |= LoadBigEndian64(next) >> bitCount;
            next += (63 - bitCount) >> 3;
            bitCount |= 56;
            for (int run = 0; run < kRunsPerRefill; ++run) {
                const std::uint32_t entry = m_runs[bits >> (64 - kTableBits)];
                if (entry & kLongCode) {
                    longCode = true;
                    break;
                }
                const int length = static_cast<int>((entry >> 24) & 0xF);
                std::memcpy(out, &entry, 4);
                out += entry >> 28;
                bits <<= length;
                bitCount -= length;
                bitsLeft -= length;
            }
            if (longCode)
                break;
        }
        m_bits = bits;
        m_bitCount = bitCount;
        m_bitsLeft = bitsLeft;
        m_next = next;
        m_out = out;
        if (longCode) {
            DecodeOneCarefully();
            continue;
        }
        if (m_bitsLeft < kRoundBits || (m_next > inputLimit && m_inputLeft == 0)) {
            // The end of the stream: one code at a time.
            while (DecodeOneCarefully()) {
                if (outputEnd - m_out < kRoundOutput)
                    FlushOutput();
            }
            break;
        }
    }
    FlushOutput();
}

} // namespace hufpack
