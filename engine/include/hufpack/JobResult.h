#pragma once

// What a job's outcome is: a result code with the values the dialog maps, the file a failure
// concerns, the reason, and the texts a person is shown.

#include <cstdint>
#include <string>

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

// Which of a job's two files a failure is about.
enum class JobFile { None, Source, Destination };

// The outcome of a job: what a person needs to know about a failure, or how much was written.
struct JobOutcome
{
    JobResult result = JobResult::Done;
    JobFile file = JobFile::None;
    // The system's error number when a system call refused something; 0 otherwise.
    int error = 0;
    // When no system call failed: what was wrong, in a few words. Static text.
    const char* reason = nullptr;
    // Bytes written to the destination by a job that was done.
    std::int64_t written = 0;
};

// The reason of a failed outcome in a few words: the system's text for its error number, or its
// own reason, or the result's message.
[[nodiscard]] std::string DescribeFailure(const JobOutcome& outcome);

} // namespace hufpack
