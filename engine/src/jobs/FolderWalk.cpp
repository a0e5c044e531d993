// Walking a folder for -r: every regular file below it, in order of name, links never followed.

#include "hufpack/FileJobs.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace hufpack {

namespace {

// The folder open as `fd` (which this takes over), named `path`.
void WalkOpenFolder(int fd, const std::string& path, const FolderVisitor& visit)
{
    DIR* const folder = ::fdopendir(fd);
    if (!folder) {
        visit(path, errno);
        ::close(fd);
        return;
    }
    std::vector<std::string> names;
    errno = 0;
    while (const dirent* const entry = ::readdir(folder)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    const int readError = errno;
    std::sort(names.begin(), names.end());
    const std::string prefix = path.empty() || path.back() == '/' ? path : path + "/";
    for (const std::string& name : names) {
        struct stat info
        {
        };
        if (::fstatat(::dirfd(folder), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            visit(prefix + name, errno);
            continue;
        }
        if (S_ISREG(info.st_mode)) {
            visit(prefix + name, 0);
        } else if (S_ISDIR(info.st_mode)) {
            // Opened through the folder, never through a link: a folder swapped for a link to
            // another since it was looked at is not entered.
            const int inner = ::openat(::dirfd(folder), name.c_str(),
                                       O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (inner < 0)
                visit(prefix + name, errno);
            else
                WalkOpenFolder(inner, prefix + name, visit);
        }
        // Links, FIFOs, devices and sockets are not files to compress or restore.
    }
    if (readError != 0)
        visit(path, readError);
    ::closedir(folder);
}

} // namespace

void WalkFolder(const std::string& path, const FolderVisitor& visit)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        visit(path, errno);
        return;
    }
    WalkOpenFolder(fd, path, visit);
}

} // namespace hufpack
