#pragma once

// A path as a folder and a name in it: "a/b/c" is the name "c" in the folder "a/b", and a bare
// name is in the working folder. The kernel resolves the folder; the name is then used with the
// folder's descriptor, never resolved as a string again. Also the few tests on what the kernel
// says of files that the destination and the jobs share.

#include <cerrno>
#include <string>
#include <sys/stat.h>

namespace hufpack {

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
