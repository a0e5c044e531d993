#pragma once

// A compressed file of several members, as the files form reads and writes it: whole compressed
// files one after another, as gzip's members are, perhaps followed by zero bytes of padding
// (tape blocks, some transfers). A source that one member cannot hold is written as the fewest
// members that hold it, each as long as it may be. Anything after the last member but zeros is
// not a compressed file, and is never called one. A member after the first holds one byte at
// least: the empty file's header is a whole file only, so zeros never read as endless members.
//
// Without `several` a job keeps to one member, as the first form and the dialog do: a source
// one member cannot hold is too large, and the bytes after a member are never read.

#include "hufpack/FileJobs.h"
#include "hufpack/JobResult.h"
#include "jobs/TreeCoder.h"
#include "sys/ByteSink.h"
#include "sys/ByteSource.h"

#include <cstdint>
#include <string>
#include <vector>

namespace hufpack {

// How a job's coders run, and how far it reads.
struct MemberSettings
{
    TreeCoder::Options coder;
    bool several = false;
    // Where a stream is spooled, one member at a time.
    std::string spoolFolder;
};

// What a job reads: a source that can be read anywhere (a file, memory), or a stream (a pipe),
// read in order from where it stands and spooled a member at a time.
struct MemberInput
{
    const ByteSource* source = nullptr;
    int stream = -1;
};

// What a job of members came to.
struct MemberTally
{
    int members = 0;
    // Bytes the source gave, and bytes written to the destination.
    std::int64_t read = 0;
    std::int64_t written = 0;
    // Bytes after the last member that are neither a member nor zero padding.
    std::int64_t trailing = 0;
};

// Compresses `in` into `out`, from `out`'s start.
[[nodiscard]] Status EncodeMembers(const MemberInput& in, ByteSink& out,
                                   const MemberSettings& settings, MemberTally& tally);
// Restores each member of `in` in turn into `out`.
[[nodiscard]] Status DecodeMembers(const MemberInput& in, ByteSink& out,
                                   const MemberSettings& settings, MemberTally& tally);
// Reads each member's header and table, with every check that needs no decoding.
[[nodiscard]] Status SummarizeMembers(const MemberInput& in, const MemberSettings& settings,
                                      std::vector<FileSummary>& members, MemberTally& tally);

} // namespace hufpack
