#pragma once

// The fast way through both passes of a compression. The source is cut into a few large parts
// that threads count and then code side by side: once the code is known, the bit where each
// part starts follows from the counts of the parts before it, so every part can be coded and
// written at its own place in the destination. The bytes are the same as from one pass over
// the whole source.
//
// Both passes read the source in the same fixed blocks and hash them; a part whose hash or
// length differs on the second pass means that the source changed in between, and the job
// fails rather than write a file that would not decode.
//
// This class schedules the parts on threads, reads and writes them; the loops that count and
// code the bytes are in EncodeKernel.

#include "code/CodeBook.h"
#include "encode/EncodeKernel.h"
#include "format/Counts.h"
#include "hufpack/JobResult.h"
#include "sys/ByteSink.h"
#include "sys/ByteSource.h"
#include "sys/Memory.h"
#include "sys/Processor.h"
#include "sys/Progress.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace hufpack {

class PartEncoder
{
public:
    // No part is smaller, so a small source is done on the calling thread alone.
    static constexpr std::int64_t kMinPartBytes = std::int64_t { 1 } << 20;
    // From this size on, the source is coded two bytes a lookup (encode::PairCodes).
    static constexpr std::int64_t kPairsFromBytes = std::int64_t { 1 } << 20;

    // `maxParts` 0 means a few parts per processor. The counters are 32-bit: `sourceSize` is at
    // most INT32_MAX, which is all the format can hold anyway. `threads` is how many threads in
    // all, the calling thread's included. The source must outlive the encoder.
    PartEncoder(const ByteSource& source, std::int64_t sourceSize, int threads, int maxParts = 0,
                std::int64_t minPartBytes = kMinPartBytes);
    ~PartEncoder();
    PartEncoder(const PartEncoder&) = delete;
    PartEncoder& operator=(const PartEncoder&) = delete;

    // Adds the bytes each pass reads to `progress`.
    void ReportTo(Progress& progress) { m_progress = &progress; }
    // The build of the coding loops; the processor's best unless asked.
    void UseBuild(ProcessorBuild build) { m_build = build; }
    // Takes the source's `sourceSize` bytes from `begin` on instead of from its start: a member
    // of a source too long for one compressed file. With `endsThere` the source must end where
    // they do, as a whole source must; a member before the last is followed by the next.
    void StartAt(std::int64_t begin, bool endsThere);

    // The counting pass. Fails when a read failed or the source is no longer `sourceSize` bytes
    // long.
    [[nodiscard]] Status Scan();
    [[nodiscard]] WideCounts Counts() const;

    // The coding pass: writes the bit stream for `codes` (every counted byte value must have one)
    // to `sink`, which must be positional, from byte `streamOffset` on, the last byte padded
    // with 0 bits. CannotOpen when a read failed or the source changed since Scan, or the
    // sink's failure; TooLarge when a code is too long to pack.
    [[nodiscard]] Status Encode(const CodeBook& codes, ByteSink& sink, std::int64_t streamOffset);
    // The same pass for a sink that takes bytes in order only: writes the bit stream where the
    // sink stands, front to back, on the calling thread.
    [[nodiscard]] Status EncodeInOrder(const CodeBook& codes, ByteSink& sink);

private:
    // The tests' way to see how the source was cut.
    friend struct PartEncoderTesting;

    struct Part
    {
        std::int64_t begin = 0;
        std::int64_t end = 0;
        WideCounts counts {};
        // The hashes of the blocks as counted and as coded.
        std::uint64_t hash = 0;
        std::uint64_t codedHash = 0;
        std::int64_t firstBit = 0;
        std::int64_t bits = 0;
        Status status;
        // A byte that this part shares with its neighbour: its bits are ORed with theirs.
        struct SharedByte
        {
            std::int64_t offset = -1;
            std::uint8_t bits = 0;
        };
        std::array<SharedByte, 2> sharedBytes;
    };

    [[nodiscard]] Status CheckCodes(const CodeBook& codes) const;
    template<typename Read, typename Use>
    bool ReadPart(Part& part, std::uint8_t* buffer, Read read, Use use) const;
    static void FailPart(Part& part, JobFile file, int error, Reason reason = Reason::None);
    void ScanPart(Part& part, std::uint8_t* buffer) const;
    [[nodiscard]] std::unique_ptr<encode::PairCodes> PairsFor(const CodeBook& codes);
    [[nodiscard]] std::uint8_t* TakeBlock(std::size_t bytes);
    void EncodePart(Part& part, std::uint8_t* in, std::uint8_t* out, const CodeBook& codes,
                    const encode::PairCodes* pairs, ByteSink& sink,
                    std::int64_t streamOffset) const;
    [[nodiscard]] int Workers() const;
    void MakeBlocks(std::size_t outBytes);
    template<typename Work> [[nodiscard]] Status RunParts(Work work);
    [[nodiscard]] bool SourceEndsAtSize() const;

    const ByteSource& m_source;
    std::int64_t m_begin = 0;
    std::int64_t m_size;
    bool m_endsThere = true;
    int m_threads;
    ProcessorBuild m_build = ChosenBuild();
    std::vector<Part> m_parts;
    // One input block per thread, reused by the second pass, one output block per thread for
    // the coding pass, and the pair table, in one arena; blocks that do not fit there, in
    // memory of their own.
    BufferArena m_arena;
    std::vector<std::uint8_t*> m_blocks;
    std::vector<std::uint8_t*> m_outBlocks;
    std::size_t m_outBlockBytes = 0;
    std::vector<std::unique_ptr<std::uint8_t[]>> m_ownBlocks;
    Progress* m_progress = nullptr;
};

} // namespace hufpack
