#pragma once

// What a job comes to: a result with the values the dialog maps, and for a failure which file
// it concerns, the system's error number and a reason, so that a program can say
// "hufpack: PATH: reason". Every step of a job returns a Status built from these.

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

// Which of a job's two files a failure is about.
enum class JobFile { None, Source, Destination };

// What was wrong when no system call said it (or what the system call was for). Each has its
// text in one table (ReasonText).
enum class Reason {
    None,
    NotRegularFile,
    ChangedWhileRead,
    TooLarge,
    NotOurs,
    BadChecksum, // not ours, and the first form's checksum message is printed for it
    CutShort,
    Damaged,
    SameFile,
    SymbolicLinkSource,
    HardLinkedSource,
    NotRemoved,
    NotRemovedChanged,
    NotRemovedGrew,
    LinkNotWalked,
    TrailingData, // not ours: bytes after the last member
    Cancelled, // the job's progress callback, or the function taking its output, asked to stop
};

// Why a job failed.
struct Failure
{
    JobResult result = JobResult::Done;
    JobFile file = JobFile::None;
    // The system's error number when a system call refused something; 0 otherwise.
    int error = 0;
    Reason reason = Reason::None;
};

// What every step of a job returns: done, or the one failure that ends the job.
class [[nodiscard]] Status
{
public:
    Status() = default;
    Status(const Failure& failure) : m_failure(failure) { }
    [[nodiscard]] static Status Fail(JobResult result, JobFile file, int error,
                                     Reason reason = Reason::None)
    {
        return Failure { result, file, error, reason };
    }
    [[nodiscard]] bool Ok() const { return m_failure.result == JobResult::Done; }
    [[nodiscard]] JobResult Result() const { return m_failure.result; }
    [[nodiscard]] const Failure& Why() const { return m_failure; }

private:
    Failure m_failure;
};

// The outcome of a job as the programs see it: a failure, or how much was written.
struct JobOutcome : Failure
{
    // Bytes written to the destination by a job that was done, or that restored every member
    // before bytes that are not ours (Reason::TrailingData).
    std::int64_t written = 0;
    // Whether the job got as far as having both files open: the first form's "Done." follows.
    bool opened = false;
    // A job that was done replaced a symbolic link at the destination instead of following it.
    bool linkReplaced = false;
    // Bytes the source gave.
    std::int64_t read = 0;
    // Members written or read.
    int members = 0;
    // For Reason::TrailingData: how many bytes after the last member are not a compressed
    // file. Every member before them was restored.
    std::int64_t trailingBytes = 0;
};

// The few words a reason stands for, as any program may say them; empty for Reason::None. A
// program adds its own: how to go on, what to type.
[[nodiscard]] const char* ReasonText(Reason reason);
// The reason of a failure in a few words: its reason's text, the system's text for its error
// number, or both; or, with neither, what the result means.
[[nodiscard]] std::string DescribeFailure(const Failure& failure);

} // namespace hufpack
