#pragma once

// Data that arrives once, from a pipe or a terminal, made into a file a job can read: the format
// needs every count before the first code, so a source is read twice.

#include "hufpack/JobResult.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace hufpack {

// How much of a stream a job needs.
enum class SpoolFor {
    // A source to compress: all of it, up to the largest source the format can hold; a longer
    // one is refused as soon as it is longer (TooLarge), without reading the rest.
    Compressing,
    // A compressed file: as far as its header says its table and bits reach, and no further, so
    // that what follows the file in the stream is left unread, as it is in a file.
    Decoding,
    // A compressed file's header and table, all a listing reads.
    Listing,
};

// Copies what a job needs of `input` into a new file in `folder` that has no name (O_TMPFILE;
// where the file system has no unnamed files, one made under a unique name and unlinked at
// once), so that it goes away with its last descriptor, and puts its descriptor, at the file's
// start, in `fd`. The data goes to the file system, never into memory. On failure `fd` is -1
// and the status says why: the input (JobFile::Source, with the system's error number, or
// TooLarge), or the new file in `folder` (JobFile::None, with the system's error number).
[[nodiscard]] Status SpoolToUnnamedFile(int input, const std::string& folder, SpoolFor what,
                                        int& fd);

// How many of the bytes offered a member still takes (code/MemberCutter.h).
using TakeBytes = std::function<std::size_t(std::span<const std::uint8_t>)>;
// One member of a source too long for one compressed file, spooled the same way: `carried`
// (bytes read before that the last member did not take), then `input`, for as long as `take`
// takes all it is offered. What it does not take of the last read is left in `carried` for the
// next member, so the spool never holds more than one member. `ended` says whether `input` is
// at its end.
[[nodiscard]] Status SpoolMember(int input, const std::string& folder,
                                 std::vector<std::uint8_t>& carried, const TakeBytes& take, int& fd,
                                 bool& ended);

} // namespace hufpack
