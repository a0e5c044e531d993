// The file jobs: opening the source, choosing the destination, running the coder, and reporting
// the outcome.

#include "hufpack/FileJobs.h"

#include "sys/Destination.h"
#include "sys/FileStream.h"
#include "sys/JobSignals.h"
#include "sys/Paths.h"
#include "jobs/TreeCoder.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace hufpack {

const char* ResultMessage(JobResult result)
{
    switch (result) {
    case JobResult::Done:
        return "Done!";
    case JobResult::CannotOpen:
        return "The source file cannot be opened / destination file cannot be written";
    case JobResult::NotOurFormat:
        return "You must only decode a file encoded by this program.";
    case JobResult::TooLarge:
        return "The source file is too large for this format.";
    case JobResult::SameFile:
        return "Please select a different destination file.";
    }
    return "Done!";
}

std::string DescribeFailure(const JobOutcome& outcome)
{
    if (outcome.error != 0 && outcome.reason)
        return std::string(outcome.reason) + ": " + std::strerror(outcome.error);
    if (outcome.error != 0)
        return std::strerror(outcome.error);
    if (outcome.reason)
        return outcome.reason;
    return ResultMessage(outcome.result);
}

namespace {

constexpr const char* kSameFile = "the source and the destination are the same file";

JobOutcome Failed(JobResult result, JobFile file, int error, const char* reason = nullptr)
{
    return { result, file, error, reason };
}

// A job's source, open for reading, and what the system says of the file.
struct Source
{
    FileStream stream;
    struct stat info
    {
    };
};

// Opens a source for reading: a regular file only. A FIFO would block the open and could not be
// read twice; a directory or a device is not a file to compress. Links are followed by the
// kernel, by its own rules for this user. A source given as a descriptor is read through a
// duplicate, from the start; the duplicate shares the file's offset, which the job moves. False,
// with the reason in `outcome`, when it cannot.
bool OpenSource(const JobSource& source, Source& opened, JobOutcome& outcome,
                bool streamAllowed = false)
{
    struct stat& info = opened.info;
    int fd = -1;
    if (source.fd >= 0) {
        fd = ::fcntl(source.fd, F_DUPFD_CLOEXEC, 0);
    } else if (source.path.empty()) {
        errno = ENOENT;
    } else {
        fd = ::open(source.path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    }
    if (fd < 0) {
        outcome = Failed(JobResult::CannotOpen, JobFile::Source, errno);
        return false;
    }
    const bool stream = streamAllowed && source.fd >= 0 && ::fstat(fd, &info) == 0
        && (S_ISFIFO(info.st_mode) || S_ISCHR(info.st_mode) || S_ISSOCK(info.st_mode));
    if (!stream && (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))) {
        const int error = errno;
        outcome = Failed(JobResult::CannotOpen, JobFile::Source, error);
        if (info.st_mode != 0)
            outcome.error = S_ISDIR(info.st_mode) ? EISDIR : 0;
        if (outcome.error == 0)
            outcome.reason = "not a regular file";
        ::close(fd);
        return false;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (stream)
        opened.stream.AttachForReadingExactly(fd);
    else
        opened.stream.AttachForReading(fd);
    return true;
}

// Whether the source may be removed when the job is done: a source with other names, or one
// named by a symbolic link, would lose a name but not its data, which is rarely what was
// meant, so it takes removeLinkedSource. Refused before any work.
JobOutcome MayRemoveSource(const std::string& path, const struct stat& read,
                           const JobOptions& options)
{
    struct stat name
    {
    };
    if (options.removeLinkedSource || ::lstat(path.c_str(), &name) != 0)
        return {};
    if (S_ISLNK(name.st_mode))
        return Failed(JobResult::CannotOpen, JobFile::Source, 0,
                      "is a symbolic link; unchanged (-f goes on and removes the link)");
    if (read.st_nlink > 1)
        return Failed(JobResult::CannotOpen, JobFile::Source, 0,
                      "has other hard links; unchanged (-f goes on and removes this name)");
    return {};
}

// Removes the source's name once its new form is safe on the disk, if the name still leads to
// the file that was read: a name that became another file is kept. A symbolic link (allowed by
// removeLinkedSource) is removed itself, its file kept.
JobOutcome RemoveSource(const std::string& path, const struct stat& read)
{
    const SplitPath split = Split(path);
    const int folder = ::open(split.folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        return Failed(JobResult::CannotOpen, JobFile::Source, errno, "not removed");
    struct stat now
    {
    };
    JobOutcome outcome;
    if (::fstatat(folder, split.name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0)
        outcome = Failed(JobResult::CannotOpen, JobFile::Source, errno, "not removed");
    else if (S_ISLNK(now.st_mode)
             && (::fstatat(folder, split.name.c_str(), &now, 0) != 0 || !SameInode(now, read)))
        outcome = Failed(JobResult::CannotOpen, JobFile::Source, 0,
                         "not removed: it is no longer the file that was read");
    else if (!SameInode(now, read))
        outcome = Failed(JobResult::CannotOpen, JobFile::Source, 0,
                         "not removed: it is no longer the file that was read");
    else if (::unlinkat(folder, split.name.c_str(), 0) != 0)
        outcome = Failed(JobResult::CannotOpen, JobFile::Source, errno, "not removed");
    ::close(folder);
    return outcome;
}

// Runs the coder over two open streams: nothing to code for an empty source.
JobOutcome Code(JobKind kind, FileStream& source, FileStream& output, bool inOrder,
                const JobOptions& options)
{
    if (kind == JobKind::Encode && source.Size() == 0 && source.Peek() == FileStream::kEof) {
        if (source.Failed())
            return Failed(JobResult::CannotOpen, JobFile::Source, source.Error());
        return {};
    }
    TreeCoder coder(source, output);
    coder.SetReporting(options.report, &options.progress);
    coder.SetOutputInOrder(inOrder);
    const JobResult result = kind == JobKind::Decode ? coder.Decode() : coder.Encode();
    if (result != JobResult::Done)
        return coder.Failure();
    JobOutcome done;
    done.written = coder.Written();
    return done;
}

// Codes the source into a descriptor of its own for `destinationFd`, and closes both streams
// once the coding is done; a close that fails fails the job. `opened` tells whether the job got
// as far as having both files open.
JobOutcome CodeInto(int destinationFd, JobKind kind, FileStream& source, bool inOrder,
                    const JobOptions& options, bool& opened)
{
    FileStream output;
    output.AttachForWriting(::fcntl(destinationFd, F_DUPFD_CLOEXEC, 0));
    if (!output.IsOpen())
        return Failed(JobResult::CannotOpen, JobFile::Destination, errno);
    opened = true;
    const JobOutcome outcome = Code(kind, source, output, inOrder, options);
    if (outcome.result != JobResult::Done)
        return outcome;
    source.Close();
    if (!output.Close())
        return Failed(JobResult::CannotOpen, JobFile::Destination, output.Error());
    return outcome;
}

// A job whose destination is a stream: written in order, no file to make or replace.
JobOutcome RunIntoStream(JobKind kind, FileStream& source, const struct stat& sourceInfo,
                         int destinationFd, const JobOptions& options, bool& opened)
{
    struct stat destinationInfo
    {
    };
    if (::fstat(destinationFd, &destinationInfo) != 0)
        return Failed(JobResult::CannotOpen, JobFile::Destination, errno);
    if (SameInode(destinationInfo, sourceInfo))
        return Failed(JobResult::SameFile, JobFile::Destination, 0, kSameFile);
    return CodeInto(destinationFd, kind, source, true, options, opened);
}

JobOutcome DestinationFailure(const Destination& destination)
{
    return Failed(JobResult::CannotOpen, JobFile::Destination, destination.Error(),
                  destination.Reason());
}

// One job from its first open to the new file in place. `opened` tells whether it got as far as
// opening both files.
JobOutcome RunJob(JobKind kind, const JobSource& sourceFile, const JobDestination& destinationFile,
                  const JobOptions& options, bool& opened)
{
    JobOutcome outcome;
    Source source;
    if (!OpenSource(sourceFile, source, outcome))
        return outcome;
    const struct stat& sourceInfo = source.info;
    if (destinationFile.fd >= 0)
        return RunIntoStream(kind, source.stream, sourceInfo, destinationFile.fd, options, opened);

    if (options.removeSource && !sourceFile.path.empty()) {
        if (JobOutcome refused = MayRemoveSource(sourceFile.path, sourceInfo, options);
            refused.result != JobResult::Done)
            return refused;
    }
    Destination destination(options);
    if (!destination.Resolve(destinationFile.path))
        return DestinationFailure(destination);
    if (destination.IsFile(sourceInfo))
        return Failed(JobResult::SameFile, JobFile::Destination, 0, kSameFile);
    if (!destination.MayWrite())
        return DestinationFailure(destination);
    const int fd = destination.Create();
    if (fd < 0)
        return DestinationFailure(destination);
    outcome = CodeInto(fd, kind, source.stream, false, options, opened);
    if (outcome.result != JobResult::Done)
        return outcome;
    if (!destination.Commit(sourceInfo))
        return DestinationFailure(destination);
    if (options.removeSource && !sourceFile.path.empty()) {
        JobOutcome removed = RemoveSource(sourceFile.path, sourceInfo);
        removed.written = outcome.written;
        return removed;
    }
    return outcome;
}

} // namespace

JobOutcome RunFileJob(JobKind kind, const JobSource& source, const JobDestination& destination,
                      const JobOptions& options)
{
    bool opened = false;
    JobOutcome outcome;
    {
        const JobSignals signals;
        try {
            outcome = RunJob(kind, source, destination, options, opened);
        } catch (const std::bad_alloc&) {
            outcome = Failed(JobResult::CannotOpen, JobFile::None, ENOMEM);
        }
    }
    if (options.report && opened) {
        std::fputs("Done.\n", stdout);
        std::fflush(stdout);
    }
    return outcome;
}

JobOutcome SummarizeFile(const JobSource& source, FileSummary& summary)
{
    JobOutcome outcome;
    Source input;
    if (!OpenSource(source, input, outcome, true))
        return outcome;
    FileStream nowhere;
    try {
        TreeCoder coder(input.stream, nowhere);
        coder.SetReporting(false, nullptr);
        if (coder.Summarize(summary) != JobResult::Done)
            return coder.Failure();
    } catch (const std::bad_alloc&) {
        return Failed(JobResult::CannotOpen, JobFile::None, ENOMEM);
    }
    return outcome;
}

JobResult EncodeFile(const std::string& source, const std::string& destination)
{
    return RunFileJob(JobKind::Encode, source, destination, JobOptions {}).result;
}

JobResult DecodeFile(const std::string& source, const std::string& destination)
{
    return RunFileJob(JobKind::Decode, source, destination, JobOptions {}).result;
}

} // namespace hufpack
