// A device or FIFO named as an output: written in order, like standard output, when it is this
// user's or root's and reached by links nobody else could have made.

#include "files/Place.h"
#include "hufpack/FileJobs.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hufpack {

int OpenOutputDevice(const std::string& path, bool& device)
{
    device = false;
    Place place;
    LinkAt link = LinkAt::None;
    Place lastLink;
    if (!OpenPlace(path, JobFile::Destination, place).Ok()
        || !FollowTrustedLinks(place, JobFile::Destination, link, &lastLink).Ok()
        || link == LinkAt::NotFollowed)
        return -1;
    // The place to open and whether the kernel follows a link there: only for the last link of a
    // trusted chain whose target is no name in a folder, such as a descriptor's link in /proc
    // ("pipe:[...]"), which only the kernel can follow.
    const Place* at = &place;
    int follow = AT_SYMLINK_NOFOLLOW;
    struct stat info
    {
    };
    if (::fstatat(place.Folder(), place.NameText(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        if (link != LinkAt::Followed || errno != ENOENT
            || ::fstatat(lastLink.Folder(), lastLink.NameText(), &info, 0) != 0)
            return -1;
        at = &lastLink;
        follow = 0;
    }
    if (!(S_ISCHR(info.st_mode) || S_ISFIFO(info.st_mode)) || !IsTrustedOwner(info))
        return -1;
    device = true;
    const int fd = ::openat(at->Folder(), at->NameText(),
                            O_WRONLY | O_NOCTTY | O_CLOEXEC | (follow == 0 ? 0 : O_NOFOLLOW));
    struct stat opened
    {
    };
    if (fd >= 0 && (::fstat(fd, &opened) != 0 || !SameInode(opened, info))) {
        ::close(fd);
        errno = EAGAIN; // it changed since it was looked at: try again
        return -1;
    }
    return fd;
}

} // namespace hufpack
