// The files a program names, and the walk of -r: each file handed on as a name in a folder that
// is held open, so that its job, the new file beside it and its removal all happen in the folder
// where it was found, whatever is renamed or swapped for a link meanwhile.

#include "files/Place.h"
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

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

void VisitFailure(const FileVisitor& visit, const std::string& path, int error,
                  Reason reason = Reason::None)
{
    FoundFile failed;
    failed.path = path;
    failed.error = error;
    failed.reason = reason;
    visit(failed);
}

void VisitFile(const FileVisitor& visit, int folder, const std::string& name,
               const std::string& path, bool walked)
{
    FoundFile file;
    file.folder = folder;
    file.name = name;
    file.path = path;
    file.walked = walked;
    visit(file);
}

// The folder open as `fd` (which this takes over), shown as `path`.
void WalkOpenFolder(int fd, const std::string& path, const FileVisitor& visit)
{
    DIR* const folder = ::fdopendir(fd);
    if (!folder) {
        VisitFailure(visit, path, errno);
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
    const std::string prefix = path.back() == '/' ? path : path + "/";
    for (const std::string& name : names) {
        struct stat info
        {
        };
        if (::fstatat(::dirfd(folder), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            VisitFailure(visit, prefix + name, errno);
            continue;
        }
        if (S_ISREG(info.st_mode)) {
            VisitFile(visit, ::dirfd(folder), name, prefix + name, true);
        } else if (S_ISDIR(info.st_mode)) {
            // Entered through this folder, never through a link: a folder swapped for a link
            // since it was looked at is not entered.
            const int inner = ::openat(::dirfd(folder), name.c_str(), kFolderFlags);
            if (inner < 0)
                VisitFailure(visit, prefix + name, errno);
            else
                WalkOpenFolder(inner, prefix + name, visit);
        }
        // Links, FIFOs, devices and sockets are not files to compress or restore.
    }
    if (readError != 0)
        VisitFailure(visit, path, readError);
    ::closedir(folder);
}

// A folder named to be walked: ".", ".." and "/" are folders whatever their path; any other
// name is opened without following a link at it.
void WalkNamed(std::string path, const FileVisitor& visit)
{
    const bool slashed = path.size() > 1 && path.back() == '/';
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    const SplitPath split = Split(path);
    if (!NamesAFile(split.name) || path == "/") {
        const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            VisitFailure(visit, path, errno);
        else
            WalkOpenFolder(fd, path, visit);
        return;
    }
    Place place;
    if (Status status = OpenPlace(path, JobFile::Source, place); !status.Ok()) {
        VisitFailure(visit, path, status.Why().error);
        return;
    }
    struct stat info
    {
    };
    if (::fstatat(place.Folder(), place.NameText(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        VisitFailure(visit, path, errno);
        return;
    }
    if (S_ISDIR(info.st_mode)) {
        const int fd = ::openat(place.Folder(), place.NameText(), kFolderFlags);
        if (fd < 0)
            VisitFailure(visit, path, errno);
        else
            WalkOpenFolder(fd, path, visit);
        return;
    }
    struct stat target
    {
    };
    if (S_ISLNK(info.st_mode) && ::fstatat(place.Folder(), place.NameText(), &target, 0) == 0
        && S_ISDIR(target.st_mode)) {
        VisitFailure(visit, path, 0, Reason::LinkNotWalked);
        return;
    }
    if (slashed) {
        VisitFailure(visit, path + "/", ENOTDIR);
        return;
    }
    VisitFile(visit, place.Folder(), place.Name(), path, false);
}

} // namespace

void VisitFiles(const std::string& path, bool recursive, const FileVisitor& visit)
{
    if (recursive) {
        if (path.empty())
            VisitFailure(visit, path, ENOENT);
        else
            WalkNamed(path, visit);
        return;
    }
    Place place;
    if (Status status = OpenPlace(path, JobFile::Source, place); !status.Ok()) {
        VisitFailure(visit, path, status.Why().error);
        return;
    }
    VisitFile(visit, place.Folder(), place.Name(), path, false);
}

} // namespace hufpack
