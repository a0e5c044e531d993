#include "TreeCoder.h"

#include "ByteCounter.h"
#include "ChunkDecoder.h"
#include "DecodeTable.h"
#include "Format.h"
#include "NodeHeap.h"
#include "PartEncoder.h"

#include <cstdio>
#include <limits>

namespace hufpack {

namespace {

constexpr std::int64_t kMaxField = std::numeric_limits<std::int32_t>::max();

} // namespace

TreeCoder::TreeCoder(FileStream& in, FileStream& out)
    : m_in(in), m_out(out), m_writer(std::make_unique<BitWriter>(out))
{
}

TreeCoder::~TreeCoder() = default;

TreeNode* TreeCoder::NewNode(std::uint8_t symbol, std::int32_t weight)
{
    return &m_nodes.emplace_back(symbol, weight);
}

TreeNode* TreeCoder::NewNode(TreeNode* left, TreeNode* right)
{
    return &m_nodes.emplace_back(left, right);
}

TreeNode* TreeCoder::BuildTree()
{
    NodeHeap& heap = TheNodeHeap();
    int leaves = 0;
    for (int value = 0; value < 256; ++value) {
        if (m_freq[value] > 0) {
            heap.Push(NewNode(static_cast<std::uint8_t>(value), m_freq[value]));
            ++leaves;
        }
    }
    if (leaves == 1) {
        // A lone byte value gets code 0; the dummy leaf beside it (symbol 32, weight 0) takes 1.
        TreeNode* const dummy = NewNode(TreeNode::kInnerSymbol, 0);
        TreeNode* const only = heap.Pop();
        return NewNode(only, dummy);
    }
    for (;;) {
        if (heap.IsEmpty())
            return nullptr;
        // The lighter node, popped first, becomes the left child: the 0 side.
        TreeNode* const first = heap.Pop();
        if (heap.IsEmpty())
            return first;
        TreeNode* const second = heap.Pop();
        heap.Push(NewNode(first, second));
    }
}

void TreeCoder::AssignCodes(const TreeNode* node, std::string code)
{
    if (!node->IsLeaf()) {
        AssignCodes(node->left, code + '0');
        AssignCodes(node->right, code + '1');
        return;
    }
    const auto length = static_cast<std::uint32_t>(code.size());
    m_totalBits = static_cast<std::int32_t>(static_cast<std::uint32_t>(m_totalBits)
                                            + static_cast<std::uint32_t>(node->weight) * length);
    m_exactBits += std::int64_t { node->weight } * length;
    // Only a source of byte 32 alone has two leaves with one symbol: the dummy leaf comes last,
    // so such a source is written as 1 bits.
    m_codes[node->symbol] = std::make_unique<CodeWord>(code);
}

std::uint16_t TreeCoder::WriteTable()
{
    m_out.Seek(kHeaderSize);
    std::uint16_t size = 0;
    for (int value = 0; value < 256; ++value) {
        if (m_freq[value] > 0) {
            m_out.Put(static_cast<std::uint8_t>(value));
            PutLittleEndian(m_out, static_cast<std::uint32_t>(m_freq[value]), 4);
            size += kEntrySize;
        }
    }
    return size;
}

JobResult TreeCoder::Encode()
{
    if (m_reference)
        return EncodeStepByStep();
    // Every byte takes at least one bit, so a longer source cannot be held; no need to read it.
    const std::int64_t size = m_in.Size();
    if (size > kMaxField)
        return JobResult::TooLarge;
    PartEncoder parts(m_in.Descriptor(), size, m_maxParts, m_minPartBytes);
    if (!parts.Scan())
        return JobResult::CannotOpen;
    std::int64_t streamOffset = 0;
    if (const JobResult result = PrepareCode(parts.Counts(), streamOffset);
        result != JobResult::Done)
        return result;
    if (!m_out.Flush())
        return JobResult::CannotOpen;
    std::array<const CodeWord*, 256> codes {};
    for (int value = 0; value < 256; ++value)
        codes[value] = m_codes[value].get();
    return parts.Encode(codes, m_out.Descriptor(), streamOffset);
}

JobResult TreeCoder::EncodeStepByStep()
{
    m_in.Seek(0);
    ByteCounter counter(m_in);
    if (!counter.CountAll())
        return JobResult::CannotOpen;
    std::int64_t streamOffset = 0;
    if (const JobResult result = PrepareCode(counter.Counts(), streamOffset);
        result != JobResult::Done)
        return result;
    const JobResult result = EncodeBits(counter.Counts());
    m_writer->Finish();
    if (result == JobResult::Done && (m_in.Failed() || m_out.Failed()))
        return JobResult::CannotOpen;
    return result;
}

// From the counts to the code: builds the tree and the code words, writes the table and the
// header, and leaves the destination where the bit stream starts, at `streamOffset`.
JobResult TreeCoder::PrepareCode(const std::array<std::uint64_t, 256>& counts,
                                 std::int64_t& streamOffset)
{
    if (!ByteCounter::NarrowCounts(counts, m_freq))
        return JobResult::TooLarge;
    m_root = BuildTree();
    if (!m_root)
        return JobResult::CannotOpen; // the source was empty after all
    AssignCodes(m_root, std::string());
    if (m_exactBits > kMaxField)
        return JobResult::TooLarge;

    const std::uint16_t tableSize = WriteTable();
    m_out.Seek(0);
    m_out.Put(ChecksumFor(static_cast<std::int16_t>(tableSize), m_totalBits));
    PutLittleEndian(m_out, static_cast<std::uint32_t>(m_totalBits), 4);
    PutLittleEndian(m_out, tableSize, 2);
    streamOffset = kHeaderSize + tableSize;
    m_out.Seek(streamOffset);
    return JobResult::Done;
}

// The coding pass. It counts again as it goes: a source that changed since the counting pass
// would otherwise yield a file that does not decode, so any difference ends the job.
JobResult TreeCoder::EncodeBits(const std::array<std::uint64_t, 256>& firstCounts)
{
    m_in.Seek(0);
    std::array<std::uint64_t, 256> seen {};
    for (auto chunk = m_in.ReadChunk(); !chunk.empty(); chunk = m_in.ReadChunk()) {
        ByteCounter::CountBlock(chunk, seen);
        for (const std::uint8_t byte : chunk)
            m_writer->PutCode(CodeFor(byte));
    }
    if (seen != firstCounts)
        return JobResult::CannotOpen;
    return JobResult::Done;
}

JobResult TreeCoder::Decode()
{
    m_in.Seek(0);
    const std::int64_t fileSize = m_in.Size();
    std::array<std::uint8_t, kHeaderSize> header {};
    const std::size_t got = m_in.Read(header.data(), header.size());
    if (got == 0 && !m_in.Failed())
        return JobResult::Done; // what an empty source compresses to
    if (got < header.size())
        return m_in.Failed() ? JobResult::CannotOpen : JobResult::NotOurFormat;

    const std::uint8_t checksum = header[0];
    const auto totalBits
        = static_cast<std::int32_t>(LittleEndianAt(std::span(header).subspan(1, 4)));
    const auto tableSize
        = static_cast<std::int16_t>(LittleEndianAt(std::span(header).subspan(5, 2)));
    if (!ChecksumMatches(checksum, tableSize, totalBits)) {
        std::fputs("Bad checksum.  Invalid format........", stdout);
        std::fflush(stdout);
        return JobResult::NotOurFormat;
    }

    // Entries are read while their offset is below the table size, so the last one may reach
    // past it into the bit stream; the file must hold every byte of every entry.
    const std::int64_t entries = tableSize > 0 ? (tableSize + kEntrySize - 1) / kEntrySize : 0;
    if (kHeaderSize + entries * kEntrySize > fileSize)
        return JobResult::NotOurFormat;
    for (std::int64_t i = 0; i < entries; ++i) {
        std::array<std::uint8_t, kEntrySize> entry {};
        if (!ReadExact(m_in, entry))
            return JobResult::NotOurFormat;
        m_freq[entry[0]] = static_cast<std::int32_t>(LittleEndianAt(std::span(entry).subspan(1)));
    }

    m_root = BuildTree();
    std::array<std::uint64_t, 256> written {};
    if (totalBits > 0) {
        if (!m_root)
            return JobResult::NotOurFormat;
        const std::int64_t streamBytes = (std::int64_t { totalBits } + 7) / 8;
        if (kHeaderSize + tableSize + streamBytes > fileSize)
            return JobResult::NotOurFormat;
        if (m_reference) {
            m_in.Seek(kHeaderSize + tableSize);
            WalkTree(totalBits, written);
        } else {
            const DecodeTable table(m_root);
            ChunkDecoder decoder(table, m_in.Descriptor(), kHeaderSize + tableSize, totalBits,
                                 m_out, m_decodeOptions);
            const JobResult result = decoder.Run(written);
            m_decodeStats = decoder.Stats();
            if (result != JobResult::Done)
                return result;
        }
    }
    if (m_in.Failed() || m_out.Failed())
        return JobResult::CannotOpen;
    // Every byte value must come out exactly as often as the table says: anything else is a
    // damaged file, whatever its checksum.
    for (int value = 0; value < 256; ++value) {
        const std::uint64_t expected
            = m_freq[value] > 0 ? static_cast<std::uint64_t>(m_freq[value]) : 0;
        if (written[value] != expected)
            return JobResult::NotOurFormat;
    }
    return JobResult::Done;
}

void TreeCoder::WalkTree(std::int64_t totalBits, std::array<std::uint64_t, 256>& written)
{
    m_reader = std::make_unique<BitReader>(m_in);
    const TreeNode* node = m_root;
    for (std::int64_t i = 0; i < totalBits; ++i) {
        node = m_reader->GetBit() == 1 ? node->right : node->left;
        if (node->IsLeaf()) {
            m_out.Put(node->symbol);
            ++written[node->symbol];
            node = m_root;
        }
    }
}

} // namespace hufpack
