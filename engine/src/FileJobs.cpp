#include "hufpack/FileJobs.h"

#include "Destination.h"
#include "FileStream.h"
#include "JobSignals.h"
#include "TreeCoder.h"

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
    if (outcome.error != 0)
        return std::strerror(outcome.error);
    if (outcome.reason)
        return outcome.reason;
    return ResultMessage(outcome.result);
}

namespace {

JobOutcome Failed(JobResult result, JobFile file, int error, const char* reason = nullptr)
{
    return { result, file, error, reason };
}

// Opens a source for reading: a regular file only. A FIFO would block the open and could not be
// read twice; a directory or a device is not a file to compress. Links are followed by the
// kernel, by its own rules for this user.
int OpenSource(const std::string& path, struct stat& info, JobOutcome& outcome)
{
    if (path.empty()) {
        outcome = Failed(JobResult::CannotOpen, JobFile::Source, ENOENT);
        return -1;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        outcome = Failed(JobResult::CannotOpen, JobFile::Source, errno);
        return -1;
    }
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int error = errno;
        outcome = Failed(JobResult::CannotOpen, JobFile::Source, error);
        if (info.st_mode != 0)
            outcome.error = S_ISDIR(info.st_mode) ? EISDIR : 0;
        if (outcome.error == 0)
            outcome.reason = "not a regular file";
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

JobOutcome DestinationFailure(const Destination& destination)
{
    return Failed(JobResult::CannotOpen, JobFile::Destination, destination.Error(),
                  destination.Reason());
}

// One job from its first open to the new file in place. `opened` tells whether it got as far as
// opening both files.
JobOutcome RunJob(JobKind kind, const std::string& sourcePath, const std::string& destinationPath,
                  const JobOptions& options, bool& opened)
{
    JobOutcome outcome;
    struct stat sourceInfo
    {
    };
    FileStream source;
    source.AttachForReading(OpenSource(sourcePath, sourceInfo, outcome));
    if (!source.IsOpen())
        return outcome;
    // Writing the destination would destroy the source before it is read.
    constexpr const char* kSameFile = "the source and the destination are the same file";
    if (sourcePath == destinationPath)
        return Failed(JobResult::SameFile, JobFile::Destination, 0, kSameFile);
    Destination destination(options.replace, options.sync);
    if (!destination.Resolve(destinationPath))
        return DestinationFailure(destination);
    if (destination.IsFile(sourceInfo))
        return Failed(JobResult::SameFile, JobFile::Destination, 0, kSameFile);
    if (!destination.MayWrite())
        return DestinationFailure(destination);
    const int fd = destination.Create();
    if (fd < 0)
        return DestinationFailure(destination);
    FileStream output;
    output.AttachForWriting(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
    if (!output.IsOpen())
        return Failed(JobResult::CannotOpen, JobFile::Destination, errno);
    opened = true;

    JobResult result = JobResult::Done;
    if (kind == JobKind::Decode || source.Size() > 0 || source.Peek() != FileStream::kEof) {
        TreeCoder coder(source, output);
        coder.SetReporting(options.report, &options.progress);
        result = kind == JobKind::Decode ? coder.Decode() : coder.Encode();
        if (result != JobResult::Done)
            outcome = coder.Failure();
    } else if (source.Failed()) {
        outcome = Failed(JobResult::CannotOpen, JobFile::Source, source.Error());
    }
    if (outcome.result != JobResult::Done)
        return outcome;
    source.Close();
    if (!output.Close())
        return Failed(JobResult::CannotOpen, JobFile::Destination, output.Error());
    if (!destination.Commit(sourceInfo))
        return DestinationFailure(destination);
    return outcome;
}

} // namespace

JobOutcome RunFileJob(JobKind kind, const std::string& source, const std::string& destination,
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

JobResult EncodeFile(const std::string& source, const std::string& destination)
{
    return RunFileJob(JobKind::Encode, source, destination, JobOptions {}).result;
}

JobResult DecodeFile(const std::string& source, const std::string& destination)
{
    return RunFileJob(JobKind::Decode, source, destination, JobOptions {}).result;
}

} // namespace hufpack
