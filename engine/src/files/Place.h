#pragma once

// How a job reaches a file, in one place: a path is resolved once, into an open folder and a
// name in it, and from then on everything is done through the folder's descriptor, never through
// the path again; a folder swapped for a link, or a name moved, after that moment leads nowhere
// else. And the one rule for a symbolic link: it is followed only where nobody but this user and
// root could have put it there or changed where it leads.

#include "hufpack/JobResult.h"

#include <cerrno>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <utility>

namespace hufpack {

// A name in an open folder. The folder's descriptor is this object's own.
class Place
{
public:
    Place() = default;
    ~Place();
    Place(Place&& other) noexcept;
    Place& operator=(Place&& other) noexcept;
    Place(const Place&) = delete;
    Place& operator=(const Place&) = delete;

    // Takes over `folder`, an open descriptor, with `name` in it.
    void Reset(int folder, std::string name);
    // Another name in the same folder.
    void SetName(std::string name) { m_name = std::move(name); }
    // A duplicate: a descriptor of its own on the same folder.
    [[nodiscard]] Status CopyTo(Place& copy, JobFile file) const;

    [[nodiscard]] bool IsOpen() const { return m_folder >= 0; }
    [[nodiscard]] int Folder() const { return m_folder; }
    [[nodiscard]] const std::string& Name() const { return m_name; }
    [[nodiscard]] const char* NameText() const { return m_name.c_str(); }

private:
    int m_folder = -1;
    std::string m_name;
};

// Opens the folder of `path` (the kernel follows links on the way to it by its own rules, as for
// any path a user types) and keeps the path's last part as the name, which is never resolved
// as a string again. A path whose last part can name no file ("", "." or ".." after the last
// '/') fails with what the kernel says of it: EISDIR for a folder, ENOTDIR or ENOENT otherwise.
[[nodiscard]] Status OpenPlace(const std::string& path, JobFile file, Place& place);
// `name` in the folder open as `folder`, through a descriptor of its own; the caller keeps
// `folder`. `name` holds no '/'.
[[nodiscard]] Status PlaceIn(int folder, const std::string& name, JobFile file, Place& place);

// Whether only this user and root can change what the folder described holds: it is theirs and
// no group and nobody else may write in it. The group bits of a folder with an access list are
// its mask, so a folder with writers beyond its owner is never taken for one.
[[nodiscard]] bool IsTrustedFolder(const struct stat& folder);
// Whether this user or root owns what is described.
[[nodiscard]] bool IsTrustedOwner(const struct stat& info);

// What stood at a place when its links were followed.
enum class LinkAt {
    None, // no link: a file, a folder, something else, or nothing
    Followed, // links of this user's or root's, in their own folders, all the way
    NotFollowed, // a link that someone else could have put there, or changed where it leads
};

// Follows the symbolic links at `place`, where they can be trusted: the folder that holds each
// link, and every folder on the way to where it leads, is this user's or root's and writable by
// nobody else, and each link is this user's or root's. Then `place` becomes the name the last
// link leads to, which may not exist yet. When any part of the chain fails that rule, `place`
// stays as it was and names the first link, which a job then replaces and never follows. Fails
// (with the system's error number) for a loop, a missing folder on the way, or a link that
// leads to a folder; `lastLink`, when given, receives the last link followed.
[[nodiscard]] Status FollowTrustedLinks(Place& place, JobFile file, LinkAt& link,
                                        Place* lastLink = nullptr);

// A path as a folder and a name in it: "a/b/c" is the name "c" in the folder "a/b", and a bare
// name is in the working folder.
struct SplitPath
{
    std::string folder;
    std::string name;
};

inline SplitPath Split(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return { ".", path };
    return { slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1) };
}

// Whether a path's last part can name a file: not empty (a trailing slash), "." or "..".
inline bool NamesAFile(const std::string& name)
{
    return !name.empty() && name != "." && name != "..";
}

// Whether two stats are of one file.
inline bool SameInode(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether an O_TMPFILE open failed only because the file system makes no unnamed files, so a
// named file is the way left; any other error is a reason to stop.
inline bool NoUnnamedFiles(int error)
{
    return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

} // namespace hufpack
