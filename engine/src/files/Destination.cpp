// The destination's rules in system calls: resolving the path, making the new file, and putting
// it in place.

#include "files/Destination.h"

#include "sys/JobSignals.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/xattr.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace hufpack {

namespace {

// A hidden name beside the destination, `.NAME.hufpack-XXXXXX`, short enough for any file system.
std::string TemporaryNameFor(const std::string& name)
{
    static constexpr char kLetters[]
        = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937_64 random { std::random_device {}() };
    constexpr std::size_t kMaxBaseName = 200;
    // Appended piece by piece: GCC 12 at -O3 takes "." + std::string for an overlapping copy.
    std::string temporary = ".";
    temporary.append(name, 0, kMaxBaseName);
    temporary += ".hufpack-";
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
    for (int i = 0; i < 6; ++i)
        temporary += kLetters[pick(random)];
    return temporary;
}

// Whether this user belongs to `group` by membership, not merely by privilege.
bool IsMemberOf(gid_t group)
{
    if (group == ::getegid())
        return true;
    const int count = ::getgroups(0, nullptr);
    if (count <= 0)
        return false;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    const int got = ::getgroups(count, groups.data());
    for (int i = 0; i < got; ++i) {
        if (groups[static_cast<std::size_t>(i)] == group)
            return true;
    }
    return false;
}

// The extended attributes that a replacement keeps: the user's own and the access ACL. Others
// (security labels, trusted attributes) belong to the system and are not copied.
constexpr const char* kAccessList = "system.posix_acl_access";

bool IsUserAttribute(const char* name)
{
    return std::strncmp(name, "user.", 5) == 0;
}

bool IsCopiedAttribute(const char* name)
{
    return IsUserAttribute(name) || std::strcmp(name, kAccessList) == 0;
}

// The attribute names `list` gives (listxattr or flistxattr, asked for `size` bytes into
// `names`), one after another with a null after each; the room grows as they need. Empty where
// the file system has none; false when they cannot be read.
template<typename List> bool AttributeNames(List list, std::vector<char>& names)
{
    names.resize(4096);
    ssize_t length = list(names.data(), names.size());
    if (length < 0 && errno == ERANGE) {
        length = list(nullptr, 0);
        if (length > 0) {
            names.resize(static_cast<std::size_t>(length));
            length = list(names.data(), names.size());
        }
    }
    if (length < 0 && (errno == ENOTSUP || errno == ENODATA))
        length = 0; // no attributes at all here: nothing to carry over
    names.resize(length < 0 ? 0 : static_cast<std::size_t>(length));
    return length >= 0;
}

// Calls `use(name)` for each name of `names`.
template<typename Use> void EachName(const std::vector<char>& names, Use use)
{
    for (std::size_t at = 0; at < names.size(); at += std::strlen(&names[at]) + 1)
        use(&names[at]);
}

} // namespace

Destination::~Destination()
{
    RemoveTemporaryName();
    if (m_fd >= 0)
        ::close(m_fd);
}

bool Destination::Fail(int error, Reason reason)
{
    m_failure = Status::Fail(JobResult::CannotOpen, JobFile::Destination, error, reason);
    return false;
}

Status Destination::Resolve(const std::string& path)
{
    Place named;
    if (Status status = OpenPlace(path, JobFile::Destination, named); !status.Ok())
        return status;
    return Settle(std::move(named));
}

Status Destination::Resolve(int folder, const std::string& name)
{
    Place named;
    if (!NamesAFile(name) || name.find('/') != std::string::npos)
        return Status::Fail(JobResult::CannotOpen, JobFile::Destination, EISDIR);
    if (Status status = PlaceIn(folder, name, JobFile::Destination, named); !status.Ok())
        return status;
    return Settle(std::move(named));
}

// Follows the links at the name given where they can be trusted (files/Place.h) and looks at
// what stands at the end: a link that is not followed is a name to replace, and leads nowhere.
// Without replace, the new file takes the name given or nothing: what stands at the end only
// tells whether it is the source.
Status Destination::Settle(Place named)
{
    Place end;
    if (Status status = named.CopyTo(end, JobFile::Destination); !status.Ok())
        return status;
    LinkAt link = LinkAt::None;
    if (Status status = FollowTrustedLinks(end, JobFile::Destination, link); !status.Ok())
        return status;
    m_linkNotFollowed = link == LinkAt::NotFollowed;
    struct stat info
    {
    };
    if (::fstatat(end.Folder(), end.NameText(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
        m_exists = true;
        m_existing = info;
        m_found = !S_ISLNK(info.st_mode);
    } else if (errno != ENOENT) {
        return Status::Fail(JobResult::CannotOpen, JobFile::Destination, errno);
    }
    if (m_replace) {
        m_place = std::move(end);
    } else {
        m_place = std::move(named);
        m_exists = false;
    }
    return {};
}

bool Destination::IsFile(const struct stat& source) const
{
    return m_found && SameInode(m_existing, source);
}

bool Destination::NameExists() const
{
    struct stat info
    {
    };
    return ::fstatat(m_place.Folder(), m_place.NameText(), &info, AT_SYMLINK_NOFOLLOW) == 0;
}

bool Destination::MayReplace()
{
    if (!m_replace)
        return !NameExists() || Fail(EEXIST);
    if (!m_exists)
        return true;
    // A folder, a device or a FIFO must not turn into a file.
    if (S_ISDIR(m_existing.st_mode))
        return Fail(EISDIR);
    if (!S_ISREG(m_existing.st_mode) && !S_ISLNK(m_existing.st_mode))
        return Fail(0, Reason::NotRegularFile);
    // In a sticky folder only the name's owner, the folder's owner or root may replace a name;
    // the rename at the end would be refused, so the job is refused before its work.
    struct stat folder
    {
    };
    if (::fstat(m_place.Folder(), &folder) == 0 && (folder.st_mode & S_ISVTX) && ::geteuid() != 0
        && m_existing.st_uid != ::geteuid() && folder.st_uid != ::geteuid())
        return Fail(EPERM);
    if (S_ISLNK(m_existing.st_mode))
        return true; // another user's link: the name is replaced, the link never followed
    // A file this user may not write is not theirs to replace. The kernel answers without the
    // file being opened; a running program's file is replaced by a rename, never written, so
    // its "text file busy" does not count.
    int access
        = ::faccessat(m_place.Folder(), m_place.NameText(), W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW);
    if (access != 0 && errno == EINVAL)
        access = ::faccessat(m_place.Folder(), m_place.NameText(), W_OK, AT_EACCESS);
    if (access != 0 && errno != ETXTBSY)
        return Fail(errno);
    return true;
}

Status Destination::Create(int& fd)
{
    fd = -1;
    m_fd = ::openat(m_place.Folder(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (m_fd >= 0) {
        m_unnamed = true;
        fd = m_fd;
        return {};
    }
    if (!NoUnnamedFiles(errno))
        return Checked(Fail(errno));
    if (!CreateNamed())
        return m_failure;
    fd = m_fd;
    return {};
}

// Gives the new file a hidden name beside the destination: `make(name)` makes it, false with
// errno when it cannot. The name is tracked before it exists, so that neither a signal nor a
// failed allocation can come between its making and its removal; a name that turns out to be
// taken is not ours, is forgotten at once, and another is tried.
template<typename Make> bool Destination::MakeTemporaryName(Make make)
{
    constexpr int kAttempts = 100;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        m_temporaryName = TemporaryNameFor(m_place.Name());
        JobSignals::Track(m_place.Folder(), m_temporaryName.c_str());
        if (make(m_temporaryName.c_str()))
            return true;
        const int error = errno;
        JobSignals::Untrack();
        m_temporaryName.clear();
        if (error != EEXIST)
            return Fail(error);
    }
    return Fail(EEXIST);
}

bool Destination::CreateNamed()
{
    return MakeTemporaryName([this](const char* name) {
        m_fd = ::openat(m_place.Folder(), name,
                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600);
        return m_fd >= 0;
    });
}

void Destination::RemoveTemporaryName()
{
    if (m_temporaryName.empty())
        return;
    ::unlinkat(m_place.Folder(), m_temporaryName.c_str(), 0);
    JobSignals::Untrack();
    m_temporaryName.clear();
}

// A replacement of this user's own file keeps that file's permission bits, group (where this
// user may set it), access ACL and user attributes, so replacing never widens or drops access;
// when its access list cannot be carried over, the new file is the owner's alone rather than
// open to more. Any other new file gets the source's permission bits and this user as its
// owner, so that a file planted by someone else never hands them what this user writes. New
// contents never carry set-user-id or set-group-id bits. The group of a replaced file is kept
// where this user belongs to it. A new file beside its source (copyOwner) is the source's
// owner's and group's instead, where this user may give it to them: root's job in a user's
// folder makes the user's files, as gzip's does. The owner is set before the mode, which a
// change of owner could clear.
void Destination::ApplyPermissions(const struct stat& source)
{
    const bool replacesFile = m_exists && S_ISREG(m_existing.st_mode);
    const bool ownFile = replacesFile && m_existing.st_uid == ::geteuid();
    const bool owned = m_copyOwner
        && (::fchown(m_fd, source.st_uid, source.st_gid) == 0
            || ::fchown(m_fd, static_cast<uid_t>(-1), source.st_gid) == 0);
    if (!owned && replacesFile && (ownFile || IsMemberOf(m_existing.st_gid))
        && ::fchown(m_fd, static_cast<uid_t>(-1), m_existing.st_gid) != 0) {
        // Not allowed: the file keeps this user's group.
    }
    // A file whose mode cannot be set stays at 0600: narrower than asked, never wider.
    const mode_t mode = (ownFile ? m_existing.st_mode : source.st_mode) & 0777;
    ::fchmod(m_fd, mode);
    if (ownFile && !CopyAccessAndAttributes())
        ::fchmod(m_fd, mode & 0700);
}

// Copies the old file's access ACL and user attributes to the new file, without opening the
// old one for reading or writing: an O_PATH descriptor pins the very file that was checked,
// and its attributes are read through /proc/self/fd, which needs no permission on the file.
// False when the old file has an access list (or may have one) that could not be carried over.
bool Destination::CopyAccessAndAttributes()
{
    const int old = ::openat(m_place.Folder(), m_place.NameText(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (old < 0)
        return false;
    struct stat info
    {
    };
    bool copied = ::fstat(old, &info) == 0 && S_ISREG(info.st_mode) && SameInode(info, m_existing);
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", old);
    std::vector<char> names;
    copied
        = copied
        && AttributeNames(
              [&](char* list, std::size_t size) { return ::listxattr(path, list, size); }, names);
    std::vector<char> value(65536);
    EachName(names, [&](const char* name) {
        if (!copied || !IsCopiedAttribute(name))
            return;
        const ssize_t size = ::getxattr(path, name, value.data(), value.size());
        const bool set = size >= 0
            && ::fsetxattr(m_fd, name, value.data(), static_cast<std::size_t>(size), 0) == 0;
        // A user attribute is a courtesy; the access list decides who may read the file.
        if (!set && std::strcmp(name, kAccessList) == 0)
            copied = false;
    });
    ::close(old);
    return copied;
}

// Gives the unnamed file `name` in the folder. Linking by descriptor needs a capability that a
// user may lack; the same file through /proc needs none.
bool Destination::LinkAs(const char* name)
{
    if (::linkat(m_fd, "", m_place.Folder(), name, AT_EMPTY_PATH) == 0)
        return true;
    if (errno != ENOENT && errno != EPERM)
        return false;
    char self[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", m_fd);
    return ::linkat(AT_FDCWD, self, m_place.Folder(), name, AT_SYMLINK_FOLLOW) == 0;
}

// The source's user attributes, read and written on descriptors, so that nothing is reached by
// a name; after the replaced file's own, so that where both have one the source's wins.
void Destination::CopyUserAttributes(int sourceFd)
{
    std::vector<char> names;
    if (sourceFd < 0
        || !AttributeNames(
            [&](char* list, std::size_t size) { return ::flistxattr(sourceFd, list, size); },
            names))
        return;
    std::vector<char> value(65536);
    EachName(names, [&](const char* name) {
        if (!IsUserAttribute(name))
            return;
        const ssize_t size = ::fgetxattr(sourceFd, name, value.data(), value.size());
        if (size >= 0)
            (void)::fsetxattr(m_fd, name, value.data(), static_cast<std::size_t>(size), 0);
    });
}

bool Destination::PutInPlace(const struct stat& source, int sourceFd)
{
    ApplyPermissions(source);
    CopyUserAttributes(sourceFd);
    if (m_copyTimes) {
        const struct timespec times[]
        {
            source.st_atim, source.st_mtim
        };
        ::futimens(m_fd, times); // the times are a courtesy: a file without them is still whole
    }
    // The data must be on the disk before the rename that drops the old file reaches it, or a
    // power cut could leave neither; a new file is synced only when asked, as other tools do.
    if ((m_sync || (m_replace && (m_exists || NameExists()))) && !SyncData())
        return false;
    if (!GiveName())
        return false;
    if (m_synced) {
        // The name is on the disk only once its folder is. Asked for (--sync, and always before
        // a source is removed), a folder that cannot be synced fails the job; otherwise the
        // data is safe and the sync is a courtesy.
        const int folder = ::openat(m_place.Folder(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        const bool synced = folder >= 0 && ::fsync(folder) == 0;
        const int error = errno;
        if (folder >= 0)
            ::close(folder);
        if (!synced && m_sync)
            return Fail(error);
    }
    return true;
}

bool Destination::SyncData()
{
    if (!m_synced && ::fdatasync(m_fd) != 0)
        return Fail(errno);
    m_synced = true;
    return true;
}

// The last step decides: without replace, whatever stands at the name by now wins and the job
// fails; with replace, the old file is swapped for the new one in one rename.
bool Destination::GiveName()
{
    if (m_unnamed) {
        if (!m_replace || !NameExists()) {
            if (LinkAs(m_place.NameText()))
                return true;
            if (errno != EEXIST || !m_replace)
                return Fail(errno);
        }
        // Replacing: link under a hidden name, then rename that over the old file, the data
        // synced first (again only if a file came to stand there since the start).
        if (!SyncData() || !MakeTemporaryName([this](const char* name) { return LinkAs(name); }))
            return false;
    }
    if (m_replace) {
        if (::renameat(m_place.Folder(), m_temporaryName.c_str(), m_place.Folder(),
                       m_place.NameText())
            != 0)
            return Fail(errno);
    } else if (::renameat2(m_place.Folder(), m_temporaryName.c_str(), m_place.Folder(),
                           m_place.NameText(), RENAME_NOREPLACE)
               != 0) {
        // A file system without RENAME_NOREPLACE: a hard link fails the same way on a taken name.
        if (errno != EINVAL && errno != ENOSYS)
            return Fail(errno);
        if (::linkat(m_place.Folder(), m_temporaryName.c_str(), m_place.Folder(),
                     m_place.NameText(), 0)
            != 0)
            return Fail(errno);
        RemoveTemporaryName();
    }
    JobSignals::Untrack();
    m_temporaryName.clear();
    return true;
}

} // namespace hufpack
