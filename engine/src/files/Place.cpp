// Resolving a path once, and following only the links nobody else could have made or moved.

#include "files/Place.h"

#include <climits>
#include <fcntl.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace hufpack {

namespace {

constexpr int kMaxLinks = 40;

Status Failed(JobFile file, int error)
{
    return Status::Fail(JobResult::CannotOpen, file, error);
}

// Whether the folder open as `fd` is one only this user and root can change.
bool IsTrustedFolderFd(int fd)
{
    struct stat info
    {
    };
    return ::fstat(fd, &info) == 0 && IsTrustedFolder(info);
}

enum class Entered { Trusted, Untrusted, Failed };

// Moves `folder` into its folder `name`, never through a link: whether the folder entered is
// one only this user and root can change (Failed with errno saying why).
Entered Enter(Place& folder, const char* name)
{
    const int next = ::openat(folder.Folder(), name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0)
        return Entered::Failed;
    folder.Reset(next, {});
    return IsTrustedFolderFd(next) ? Entered::Trusted : Entered::Untrusted;
}

} // namespace

Place::~Place()
{
    if (m_folder >= 0)
        ::close(m_folder);
}

Place::Place(Place&& other) noexcept
    : m_folder(std::exchange(other.m_folder, -1)), m_name(std::move(other.m_name))
{
}

Place& Place::operator=(Place&& other) noexcept
{
    if (this != &other)
        Reset(std::exchange(other.m_folder, -1), std::move(other.m_name));
    return *this;
}

void Place::Reset(int folder, std::string name)
{
    if (m_folder >= 0)
        ::close(m_folder);
    m_folder = folder;
    m_name = std::move(name);
}

Status Place::CopyTo(Place& copy, JobFile file) const
{
    return PlaceIn(m_folder, m_name, file, copy);
}

Status OpenPlace(const std::string& path, JobFile file, Place& place)
{
    if (path.empty())
        return Failed(file, ENOENT);
    SplitPath split = Split(path);
    if (!NamesAFile(split.name)) {
        // Nothing to make or read there; the kernel says why, as it would for the whole path.
        struct stat info
        {
        };
        if (::stat(path.c_str(), &info) != 0)
            return Failed(file, errno);
        return Failed(file, S_ISDIR(info.st_mode) ? EISDIR : ENOTDIR);
    }
    const int folder = ::open(split.folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        return Failed(file, errno);
    place.Reset(folder, std::move(split.name));
    return {};
}

Status PlaceIn(int folder, const std::string& name, JobFile file, Place& place)
{
    const int copy = ::fcntl(folder, F_DUPFD_CLOEXEC, 0);
    if (copy < 0)
        return Failed(file, errno);
    place.Reset(copy, name);
    return {};
}

bool IsTrustedOwner(const struct stat& info)
{
    return info.st_uid == ::geteuid() || info.st_uid == 0;
}

bool IsTrustedFolder(const struct stat& folder)
{
    return S_ISDIR(folder.st_mode) && IsTrustedOwner(folder)
        && (folder.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// The chain is walked a name at a time through descriptors, as the kernel would walk it, but
// with the rule checked at every folder and every link. `pending` holds the names still to
// walk, the next one last. A link met on the way puts its target's names in front of the rest.
Status FollowTrustedLinks(Place& place, JobFile file, LinkAt& link, Place* lastLink)
{
    link = LinkAt::None;
    struct stat info
    {
    };
    if (::fstatat(place.Folder(), place.NameText(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? Status() : Failed(file, errno);
    if (!S_ISLNK(info.st_mode))
        return {};
    link = LinkAt::NotFollowed;
    Place at;
    if (Status status = place.CopyTo(at, file); !status.Ok())
        return status;
    std::vector<std::string> pending;
    for (int hops = 0;; ++hops) {
        // `at` names a link, and `info` describes it.
        if (!IsTrustedOwner(info) || !IsTrustedFolderFd(at.Folder()))
            return {};
        if (hops == kMaxLinks)
            return Failed(file, ELOOP);
        char target[PATH_MAX];
        const ssize_t length = ::readlinkat(at.Folder(), at.NameText(), target, sizeof target - 1);
        if (length < 0 && hops == 0 && (errno == ENOENT || errno == EINVAL)) {
            // The name is no longer a link: whatever stands there now is taken as it is.
            link = LinkAt::None;
            return {};
        }
        if (length <= 0)
            return Failed(file, length == 0 ? ENOENT : errno);
        target[length] = '\0';
        const std::string text(target, static_cast<std::size_t>(length));
        std::vector<std::string> names;
        for (std::size_t start = 0;;) {
            const std::size_t slash = text.find('/', start);
            names.push_back(text.substr(start, slash - start));
            if (slash == std::string::npos)
                break;
            start = slash + 1;
        }
        pending.insert(pending.end(), names.rbegin(), names.rend());
        Place folder;
        if (text.front() == '/') {
            const int root = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
            if (root < 0)
                return Failed(file, errno);
            folder.Reset(root, {});
            if (!IsTrustedFolderFd(root))
                return {};
        } else if (Status status = at.CopyTo(folder, file); !status.Ok()) {
            return status;
        }
        // Down the target's names to the last one, or to the next link.
        for (;;) {
            std::string name = std::move(pending.back());
            pending.pop_back();
            const bool last = pending.empty();
            if (name.empty() || name == "." || name == "..") {
                if (last)
                    return Failed(file, EISDIR); // a link to a folder names no file
                const Entered up = name == ".." ? Enter(folder, "..") : Entered::Trusted;
                if (up != Entered::Trusted)
                    return up == Entered::Failed ? Failed(file, errno) : Status();
                continue;
            }
            if (::fstatat(folder.Folder(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
                if (errno != ENOENT || !last)
                    return Failed(file, errno);
            } else if (S_ISLNK(info.st_mode)) {
                folder.SetName(std::move(name));
                at = std::move(folder);
                break;
            } else if (!last) {
                if (!S_ISDIR(info.st_mode))
                    return Failed(file, ENOTDIR);
                const Entered next = Enter(folder, name.c_str());
                if (next != Entered::Trusted)
                    return next == Entered::Failed ? Failed(file, errno) : Status();
                continue;
            }
            // The end of the chain: whatever stands at this name, or nothing yet.
            if (lastLink)
                *lastLink = std::move(at);
            folder.SetName(std::move(name));
            place = std::move(folder);
            link = LinkAt::Followed;
            return {};
        }
    }
}

} // namespace hufpack
