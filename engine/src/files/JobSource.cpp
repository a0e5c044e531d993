// Opening a job's source, and removing it for --rm.

#include "files/JobSource.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace hufpack {

namespace {

Status SourceFailure(int error, Reason reason = Reason::None)
{
    return Status::Fail(JobResult::CannotOpen, JobFile::Source, error, reason);
}

bool SameTime(const struct timespec& a, const struct timespec& b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

} // namespace

Status OpenSource(const JobSource& source, OpenedSource& opened, bool streamAllowed)
{
    struct stat& info = opened.info;
    int fd = -1;
    if (source.fd >= 0) {
        fd = ::fcntl(source.fd, F_DUPFD_CLOEXEC, 0);
    } else {
        Status status = source.folder >= 0
            ? PlaceIn(source.folder, source.path, JobFile::Source, opened.place)
            : OpenPlace(source.path, JobFile::Source, opened.place);
        if (!status.Ok())
            return status;
        fd = ::openat(opened.place.Folder(), opened.place.NameText(),
                      O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY
                          | (source.followLink ? 0 : O_NOFOLLOW));
    }
    if (fd < 0)
        return SourceFailure(errno);
    const bool stream = streamAllowed && source.fd >= 0 && ::fstat(fd, &info) == 0
        && (S_ISFIFO(info.st_mode) || S_ISCHR(info.st_mode) || S_ISSOCK(info.st_mode)
            || (source.stream && S_ISREG(info.st_mode)));
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
    opened.inOrder = stream;
    opened.fd.Reset(fd);
    return {};
}

Status MayRemoveSource(const OpenedSource& source, const JobOptions& options)
{
    struct stat name
    {
    };
    if (options.removeLinkedSource
        || ::fstatat(source.place.Folder(), source.place.NameText(), &name, AT_SYMLINK_NOFOLLOW)
            != 0)
        return {};
    if (S_ISLNK(name.st_mode))
        return SourceFailure(0, Reason::SymbolicLinkSource);
    if (source.info.st_nlink > 1)
        return SourceFailure(0, Reason::HardLinkedSource);
    return {};
}

Status RemoveSource(const OpenedSource& source)
{
    const struct stat& read = source.info;
    struct stat held
    {
    };
    if (::fstat(source.fd.Get(), &held) != 0)
        return SourceFailure(errno, Reason::NotRemoved);
    if (held.st_size != read.st_size || !SameTime(held.st_mtim, read.st_mtim)
        || !SameTime(held.st_ctim, read.st_ctim))
        return SourceFailure(0, Reason::NotRemovedGrew);
    const int folder = source.place.Folder();
    const char* const name = source.place.NameText();
    struct stat now
    {
    };
    if (::fstatat(folder, name, &now, AT_SYMLINK_NOFOLLOW) != 0)
        return SourceFailure(errno, Reason::NotRemoved);
    if (S_ISLNK(now.st_mode) && (::fstatat(folder, name, &now, 0) != 0 || !SameInode(now, read)))
        return SourceFailure(0, Reason::NotRemovedChanged);
    if (!SameInode(now, read))
        return SourceFailure(0, Reason::NotRemovedChanged);
    if (::unlinkat(folder, name, 0) != 0)
        return SourceFailure(errno, Reason::NotRemoved);
    return {};
}

struct stat NewFileInfo()
{
    mode_t mask = 022; // what nearly every system sets, should the kernel not say
    char status[4096];
    const int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        const ssize_t got = ::read(fd, status, sizeof status - 1);
        ::close(fd);
        if (got > 0) {
            status[got] = '\0';
            if (const char* line = std::strstr(status, "\nUmask:"))
                mask = static_cast<mode_t>(std::strtoul(line + 7, nullptr, 8)) & 0777;
        }
    }
    struct stat info
    {
    };
    info.st_mode = S_IFREG | (0666 & ~mask);
    info.st_uid = ::geteuid();
    info.st_gid = ::getegid();
    return info;
}

} // namespace hufpack
