// Opening a job's source, and removing it for --rm.

#include "jobs/JobSource.h"

#include "sys/Paths.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace hufpack {

namespace {

Status SourceFailure(int error, Reason reason = Reason::None)
{
    return Status::Fail(JobResult::CannotOpen, JobFile::Source, error, reason);
}

} // namespace

Status OpenSource(const JobSource& source, OpenedSource& opened, bool streamAllowed)
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
    if (fd < 0)
        return SourceFailure(errno);
    const bool stream = streamAllowed && source.fd >= 0 && ::fstat(fd, &info) == 0
        && (S_ISFIFO(info.st_mode) || S_ISCHR(info.st_mode) || S_ISSOCK(info.st_mode));
    if (!stream && (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))) {
        const int error = errno;
        ::close(fd);
        if (info.st_mode == 0)
            return SourceFailure(error);
        if (S_ISDIR(info.st_mode))
            return SourceFailure(EISDIR);
        return SourceFailure(0, Reason::NotRegularFile);
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (stream)
        opened.stream.AttachForReadingExactly(fd);
    else
        opened.stream.AttachForReading(fd);
    return {};
}

Status MayRemoveSource(const std::string& path, const struct stat& read, const JobOptions& options)
{
    struct stat name
    {
    };
    if (options.removeLinkedSource || ::lstat(path.c_str(), &name) != 0)
        return {};
    if (S_ISLNK(name.st_mode))
        return SourceFailure(0, Reason::SymbolicLinkSource);
    if (read.st_nlink > 1)
        return SourceFailure(0, Reason::HardLinkedSource);
    return {};
}

Status RemoveSource(const std::string& path, const struct stat& read)
{
    const SplitPath split = Split(path);
    const int folder = ::open(split.folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        return SourceFailure(errno, Reason::NotRemoved);
    struct stat now
    {
    };
    Status status;
    if (::fstatat(folder, split.name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0)
        status = SourceFailure(errno, Reason::NotRemoved);
    else if (S_ISLNK(now.st_mode)
             && (::fstatat(folder, split.name.c_str(), &now, 0) != 0 || !SameInode(now, read)))
        status = SourceFailure(0, Reason::NotRemovedChanged);
    else if (!SameInode(now, read))
        status = SourceFailure(0, Reason::NotRemovedChanged);
    else if (::unlinkat(folder, split.name.c_str(), 0) != 0)
        status = SourceFailure(errno, Reason::NotRemoved);
    ::close(folder);
    return status;
}

} // namespace hufpack
