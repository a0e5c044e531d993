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
#include "sys/FileStream.h"
#include "sys/Progress.h"

#include <cstdint>
#include <string>
#include <vector>

namespace hufpack {

// How a job's coders run, and how far it reads.
struct MemberSettings
{
    const Progress::Callback* progress = nullptr;
    int threads = 0;
    // The destination takes its bytes in order only.
    bool inOrder = false;
    bool several = false;
    // The source is read in order from where it stands, and spooled into `spoolFolder`, one
    // member at a time.
    bool streamSource = false;
    std::string spoolFolder;
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
[[nodiscard]] Status EncodeMembers(FileStream& in, FileStream& out, const MemberSettings& settings,
                                   MemberTally& tally);
// Restores each member of `in` in turn into `out`.
[[nodiscard]] Status DecodeMembers(FileStream& in, FileStream& out, const MemberSettings& settings,
                                   MemberTally& tally);
// Reads each member's header and table, with every check that needs no decoding.
[[nodiscard]] Status SummarizeMembers(FileStream& in, const MemberSettings& settings,
                                      std::vector<FileSummary>& members, MemberTally& tally);

} // namespace hufpack
