#include "hufpack/FileJobs.h"

#include "FileStream.h"
#include "TreeCoder.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <optional>
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

namespace {

enum class Direction { Encode, Decode };

std::string DirectoryOf(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file whose bytes the destination names: a symbolic link is followed, so that the file it
// points to is replaced and the link stays. Empty for a loop of links or an unreadable one.
std::optional<std::string> ResolveLinks(std::string path)
{
    constexpr int kMaxHops = 40;
    for (int hop = 0; hop < kMaxHops; ++hop) {
        struct stat info
        {
        };
        if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            return path;
        char target[PATH_MAX];
        const ssize_t length = ::readlink(path.c_str(), target, sizeof target);
        if (length <= 0 || length == static_cast<ssize_t>(sizeof target))
            return std::nullopt;
        std::string next(target, static_cast<std::size_t>(length));
        path = next.front() == '/' ? next : DirectoryOf(path) + "/" + next;
    }
    return std::nullopt;
}

mode_t CurrentUmask()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// The job's output: a hidden temporary file beside the real destination, renamed over it only
// when the whole job has succeeded, and removed otherwise. Until then the destination keeps its
// bytes, or stays absent.
class PendingOutput
{
public:
    PendingOutput() = default;
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;
    ~PendingOutput()
    {
        if (!m_tempPath.empty())
            ::unlink(m_tempPath.c_str());
    }

    // Returns the temporary file's descriptor, or -1 when the destination cannot be written.
    int Create(const std::string& destination)
    {
        if (destination.empty())
            return -1;
        const auto target = ResolveLinks(destination);
        if (!target)
            return -1;
        m_target = *target;

        struct stat existing
        {
        };
        const bool exists = ::stat(m_target.c_str(), &existing) == 0;
        if (exists) {
            // Only a regular file is replaced: a device or a FIFO must not turn into a file, and
            // a file that cannot be opened for writing (read-only) is not ours to replace.
            if (!S_ISREG(existing.st_mode))
                return -1;
            const int probe = ::open(m_target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
            if (probe < 0)
                return -1;
            ::close(probe);
        } else if (errno != ENOENT) {
            return -1;
        }

        // Keep the temporary name within the file system's name length.
        constexpr std::size_t kMaxBaseName = 200;
        std::string pattern = DirectoryOf(m_target) + "/."
            + BaseNameOf(m_target).substr(0, kMaxBaseName) + ".hufpack-XXXXXX";
        const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
        if (fd < 0)
            return -1;
        m_tempPath = pattern;
        if (exists) {
            // The replacement keeps the old file's permissions and, where allowed, its owner.
            // Failing to give it away is not an error: the file is then ours.
            if ((existing.st_uid != ::geteuid() || existing.st_gid != ::getegid())
                && ::fchown(fd, existing.st_uid, existing.st_gid) != 0) { }
            ::fchmod(fd, existing.st_mode & 07777);
        } else {
            ::fchmod(fd, 0666 & ~CurrentUmask());
        }
        return fd;
    }

    bool Commit()
    {
        if (::rename(m_tempPath.c_str(), m_target.c_str()) != 0)
            return false;
        m_tempPath.clear();
        return true;
    }

private:
    std::string m_target;
    std::string m_tempPath;
};

// Opens a source for reading: a regular file only. A FIFO would block the open and could not be
// read twice; a directory or a device is not a file to compress.
int OpenSource(const std::string& path, struct stat& info)
{
    if (path.empty())
        return -1;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return -1;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

bool SameFile(const struct stat& source, const std::string& destination)
{
    struct stat info
    {
    };
    return ::stat(destination.c_str(), &info) == 0 && info.st_dev == source.st_dev
        && info.st_ino == source.st_ino;
}

JobResult RunJob(const std::string& sourcePath, const std::string& destinationPath,
                 Direction direction)
{
    struct stat sourceInfo
    {
    };
    FileStream source;
    source.AttachForReading(OpenSource(sourcePath, sourceInfo));
    if (!source.IsOpen())
        return JobResult::CannotOpen;
    // Writing the destination would destroy the source before it is read.
    if (sourcePath == destinationPath || SameFile(sourceInfo, destinationPath))
        return JobResult::SameFile;

    PendingOutput pending;
    FileStream destination;
    destination.AttachForWriting(pending.Create(destinationPath));
    if (!destination.IsOpen())
        return JobResult::CannotOpen;

    JobResult result = JobResult::Done;
    if (direction == Direction::Decode) {
        TreeCoder coder(source, destination);
        result = coder.Decode();
    } else if (source.Size() > 0 || source.Peek() != FileStream::kEof) {
        TreeCoder coder(source, destination);
        result = coder.Encode();
    } else if (source.Failed()) {
        result = JobResult::CannotOpen;
    }
    source.Close();
    if (!destination.Close() && result == JobResult::Done)
        result = JobResult::CannotOpen;
    if (result == JobResult::Done && !pending.Commit())
        result = JobResult::CannotOpen;

    std::fputs("Done.\n", stdout);
    std::fflush(stdout);
    return result;
}

} // namespace

JobResult EncodeFile(const std::string& source, const std::string& destination)
{
    return RunJob(source, destination, Direction::Encode);
}

JobResult DecodeFile(const std::string& source, const std::string& destination)
{
    return RunJob(source, destination, Direction::Decode);
}

} // namespace hufpack
