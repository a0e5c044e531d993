#pragma once

#include "FileStream.h"
#include "Progress.h"
#include "TreeNode.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace hufpack {

// Decodes a bit stream with lookup tables derived from the code tree, producing exactly what a
// walk of the tree one bit at a time produces.
//
// Bit buffer: m_bits holds m_bitCount not yet consumed bits, left-aligned (the next bit is bit
// 63); the bits below them are zero or the input's following bits, which a later refill ORs in
// again at the same place. A refill tops it up to at least 56 bits with one big-endian load.
//
// Two tables are indexed by the next kTableBits bits. In the symbol table each entry is one
// whole code (its symbol and length) or, for a code longer than the table, the tree node reached
// after kTableBits bits, from which a walk goes on one bit at a time: codes can be up to 255 bits
// long. The run table packs up to three whole codes that fit in the window into one entry, so
// that the common short codes come out several per lookup.
//
// The fast loop runs while at least a refill's worth of input, of output room and of bits
// remain, so it checks nothing per symbol; the careful step takes one code at a time with every
// check, for long codes and for the end of the stream, where a code left unfinished by the last
// bit is dropped.
class TableDecoder
{
public:
    static constexpr int kTableBits = 12;

    explicit TableDecoder(const TreeNode* root);

    // Decodes the next `totalBits` bits of `in` into `out` and adds every byte written to
    // `written`. Reads (totalBits + 7) / 8 bytes at most; if the input ends sooner, the missing
    // bits read as 0. Each block written is added to `progress`.
    void Run(FileStream& in, FileStream& out, std::int64_t totalBits,
             std::array<std::uint64_t, 256>& written, Progress& progress);

private:
    static constexpr std::uint32_t kLongCode = 0x80000000u;
    static constexpr std::size_t kInputBytes = std::size_t { 64 } << 10;
    static constexpr std::size_t kOutputBytes = std::size_t { 128 } << 10;
    // Room the fast loop keeps at the end of the buffers for its whole-word loads and stores.
    static constexpr std::size_t kSlack = 64;

    void FillSymbols(const TreeNode* node, int depth, std::uint32_t prefix);
    void FillRuns();
    void TopUpInput();
    void RefillCarefully();
    bool DecodeOneCarefully();
    void Emit(std::uint8_t symbol) { *m_out++ = symbol; }
    void FlushOutput();

    // Symbol table entry: length in bits 0-7, then the symbol in bits 8-15; or, with kLongCode
    // set, kTableBits and the index of a node in m_longCodeNodes from bit 8.
    std::array<std::uint32_t, 1u << kTableBits> m_symbols {};
    // Run table entry: the symbols in bytes 0-2, the bits they take in bits 24-27, how many in
    // bits 28-29; kLongCode when the first code is longer than the table.
    std::array<std::uint32_t, 1u << kTableBits> m_runs {};
    std::vector<const TreeNode*> m_longCodeNodes;

    std::uint64_t m_bits = 0;
    int m_bitCount = 0;
    std::int64_t m_bitsLeft = 0;

    FileStream* m_in = nullptr;
    std::int64_t m_inputLeft = 0; // stream bytes not yet read from the file
    std::unique_ptr<std::uint8_t[]> m_input;
    const std::uint8_t* m_next = nullptr; // first byte not yet in m_bits
    const std::uint8_t* m_end = nullptr; // end of the bytes read; zeros follow

    FileStream* m_outStream = nullptr;
    std::unique_ptr<std::uint8_t[]> m_output;
    std::uint8_t* m_out = nullptr;
    std::array<std::uint64_t, 256>* m_written = nullptr;
    Progress* m_progress = nullptr;
};

} // namespace hufpack
