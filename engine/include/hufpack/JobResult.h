#pragma once

namespace hufpack {

// The outcome of one file job. The integer values are what callers map to their messages,
// so they never change.
enum class [[nodiscard]] JobResult : int {
    Done = 0,
    // The source cannot be opened or read, the destination cannot be written, or the source
    // changed while it was being compressed.
    CannotOpen = -1,
    // The source is not a file this program wrote: bad checksum, truncated, or inconsistent.
    NotOurFormat = -2,
    // The source needs more code bits, or holds a byte value more often, than the header can hold.
    TooLarge = -3,
    // The source and the destination are the same file.
    SameFile = -4,
};

// The text a user is shown for a result ("Done!" for success).
[[nodiscard]] const char* ResultMessage(JobResult result);

} // namespace hufpack
