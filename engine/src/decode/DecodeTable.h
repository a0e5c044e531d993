#pragma once

// The lookup tables a decoder derives from the code tree, and reading a stream held in memory by
// bit position.

#include "code/CodeBook.h"
#include "code/TreeNode.h"
#include "format/ByteOrder.h"

#include <array>
#include <cstdint>
#include <vector>

namespace hufpack {

// Bits of a stream held in memory, read by absolute bit position. `data` holds the stream from
// bit `firstBit` on (a multiple of 8) and must have 8 readable bytes past any bit asked for.
struct BitView
{
    const std::uint8_t* data = nullptr;
    std::int64_t firstBit = 0;

    // The 57 or more bits from `position` on, left-aligned.
    [[nodiscard]] std::uint64_t Peek(std::int64_t position) const
    {
        const std::int64_t offset = position - firstBit;
        return LoadBigEndian64(data + (offset >> 3)) << (offset & 7);
    }
    [[nodiscard]] bool Bit(std::int64_t position) const { return Peek(position) >> 63; }
};

// The lookup tables a decoder derives from the code tree, and what the tree's code lengths tell
// about where codes can start. Decoding with them gives exactly what a walk of the tree one bit
// at a time gives.
//
// The run table is indexed by the next kRunBits bits of the stream. An entry packs every whole
// code that fits in those bits, up to three, so that short codes come out several per lookup:
//
//   bits  0-23  the symbols, first code in the low byte            (Run::Symbols)
//   bits 24-27  how many bits they take, 1 to kRunBits
//   bits 28-29  zero
//   bits 30-31  how many symbols, 1 to 3                           (Run::Count)
//
// So entry >> 24 is the length in its low six bits, which is all a 64-bit shift looks at, with
// the count above them (Run::Shift): the decoding loop shifts its bit buffer by it directly.
//
// When the first code is longer than kRunBits, the entry's count is 0 and it points to a
// second-level table for the node those bits lead to:
//
//   bits  0-15  where its second-level table starts                (Run::SubTable)
//   bits 16-19  how many further bits index it, 1 to kSubBits      (Run::SubBits)
//
// A second-level entry holds one code: its symbol in bits 0-7 and its whole length in bits 8-15;
// or Sub::kDeeper when the code is longer still, for the careful step to walk from the tree.
//
// The first-code table, also indexed by kRunBits bits, holds the first code alone (its length in
// bits 0-7, its symbol in bits 8-15), or with FirstCode::kLong set the index of the tree node
// reached after kRunBits bits, in bits 8-23. The careful step uses it, one code at a time.
class DecodeTable
{
public:
    static constexpr int kRunBits = 12;
    static constexpr int kSubBits = 8;
    // The most bits one fast lookup can take: a code that the second level resolves.
    static constexpr int kMaxFastBits = kRunBits + kSubBits;

    struct Run
    {
        // Entries below this have no symbol: their first code is longer than the table.
        static constexpr std::uint32_t kFirstWithSymbols = 1u << 30;
        static bool IsLong(std::uint32_t entry) { return entry < kFirstWithSymbols; }
        static std::uint32_t Symbols(std::uint32_t entry) { return entry & 0xFFFFFF; }
        static int Count(std::uint32_t entry) { return static_cast<int>(entry >> 30); }
        static std::uint32_t Shift(std::uint32_t entry) { return entry >> 24; }
        static std::uint32_t SubTable(std::uint32_t entry) { return entry & 0xFFFF; }
        static int SubBits(std::uint32_t entry) { return static_cast<int>((entry >> 16) & 0xF); }
    };
    struct Sub
    {
        static constexpr std::uint32_t kDeeper = 1u << 31;
        static std::uint8_t Symbol(std::uint32_t entry) { return entry & 0xFF; }
        static int Length(std::uint32_t entry) { return static_cast<int>((entry >> 8) & 0xFF); }
    };
    struct FirstCode
    {
        static constexpr std::uint32_t kLong = 1u << 31;
        static int Length(std::uint32_t entry) { return static_cast<int>(entry & 0xFF); }
        static std::uint8_t Symbol(std::uint32_t entry) { return (entry >> 8) & 0xFF; }
        static std::uint32_t Node(std::uint32_t entry) { return (entry >> 8) & 0xFFFF; }
    };

    // The root must be an inner node, as every tree the node heap builds has; `book` holds its
    // codes. Both must outlive the table.
    DecodeTable(const TreeNode* root, const CodeBook& book);

    [[nodiscard]] const std::uint32_t* Runs() const { return m_runs.data(); }
    [[nodiscard]] const std::uint32_t* Subs() const { return m_subs.data(); }

    // One code decoded with every check. `length` is 0 when the code does not end by `endBit`:
    // the stream stops inside it, and it is dropped.
    struct Code
    {
        int length = 0;
        std::uint8_t symbol = 0;
    };
    [[nodiscard]] Code DecodeOne(const BitView& bits, std::int64_t position,
                                 std::int64_t endBit) const;

    // Whether the code at the start of `window` (left-aligned, at least kMaxFastBits bits) is
    // too long for the two table levels, so that only the careful step decodes it.
    [[nodiscard]] bool NeedsCarefulStep(std::uint64_t window) const
    {
        const std::uint32_t entry = m_runs[window >> (64 - kRunBits)];
        if (!Run::IsLong(entry))
            return false;
        const std::uint64_t rest = window << kRunBits;
        return m_subs[Run::SubTable(entry) + (rest >> (64 - Run::SubBits(entry)))] & Sub::kDeeper;
    }

    // The code lengths of the leaves. Every code starts at a multiple of LengthGcd() bits, so a
    // decoder started at any such multiple can fall in step with the true code boundaries.
    [[nodiscard]] int ShortestCode() const { return m_book.shortest; }
    [[nodiscard]] int LongestCode() const { return m_book.longest; }
    [[nodiscard]] int LengthGcd() const { return m_book.lengthGcd; }
    // Whether every code is 8 bits long, as in the file of an already compressed source: each
    // byte of the stream is then one code, and ByteMap gives its symbol.
    [[nodiscard]] bool EveryCodeIsAByte() const { return m_book.EveryCodeIsAByte(); }
    [[nodiscard]] const std::array<std::uint8_t, 256>& ByteMap() const { return m_byteMap; }

private:
    void FillFirstCodes(const TreeNode* node, int depth, std::uint32_t prefix);
    void FillRuns();
    void FillSubTable(std::uint32_t prefix, const TreeNode* node);
    void FillSubEntries(const TreeNode* node, int depth, int subBits, std::uint32_t prefix,
                        std::uint32_t base);

    std::array<std::uint32_t, 1u << kRunBits> m_runs {};
    std::array<std::uint32_t, 1u << kRunBits> m_firstCodes {};
    std::vector<std::uint32_t> m_subs;
    // The nodes that codes longer than kRunBits reach after kRunBits bits.
    std::vector<const TreeNode*> m_longCodeNodes;
    const CodeBook& m_book;
    std::array<std::uint8_t, 256> m_byteMap {};
};

} // namespace hufpack
