#pragma once

// A job's destination, and the rules for replacing what stands there. The path is resolved once
// (files/Place.h): its folder is opened by the kernel, and a link at the final name is followed
// only where nobody but this user and root could have put it there or changed where it leads;
// any other link is replaced itself, never followed. From then on everything works through the
// folder's descriptor.
//
// The new file is made in that folder unnamed (O_TMPFILE) where the file system can, otherwise
// under a hidden name `.NAME.hufpack-XXXXXX`, always with mode 0600 and owned by whoever runs
// the job. It takes the destination's name only in Commit, after every byte is written, so a
// failed or killed job leaves the destination as it was, and nobody else can read or change it
// while it is being written.

#include "files/Place.h"
#include "hufpack/JobResult.h"

#include <string>
#include <sys/stat.h>

namespace hufpack {

class Destination
{
public:
    struct Options
    {
        // Replace what stands at the destination; without it the new file takes the name only
        // where no name stands, at the last step.
        bool replace = true;
        // Sync the new file and its folder even when it replaces nothing (one that replaces a
        // file is always synced); a folder that cannot be synced then fails the job.
        bool sync = false;
        // Give the new file the source's access and modification times.
        bool copyTimes = false;
        // Give the new file the source's owner and group, where this user may.
        bool copyOwner = false;
    };

    explicit Destination(const Options& options)
        : m_replace(options.replace), m_sync(options.sync), m_copyTimes(options.copyTimes),
          m_copyOwner(options.copyOwner)
    {
    }
    // Removes a new file that was not committed.
    ~Destination();
    Destination(const Destination&) = delete;
    Destination& operator=(const Destination&) = delete;

    // Resolves `path`. Fails when it leads nowhere a file can be made: a missing folder, a loop
    // of links.
    [[nodiscard]] Status Resolve(const std::string& path);
    // The same for the name `name` in the folder open as `folder`, which the caller keeps.
    [[nodiscard]] Status Resolve(int folder, const std::string& name);
    // Whether a symbolic link stands at the destination that was not followed: with replace, the
    // new file takes the link's place.
    [[nodiscard]] bool LinkNotFollowed() const { return m_linkNotFollowed; }
    // Whether the destination, links of this user's and root's followed, is the file `source`
    // describes.
    [[nodiscard]] bool IsFile(const struct stat& source) const;
    // Whether the job may go on to write a new file. Without replace: no name stands at the
    // destination. With replace: what stands there, if anything, is a regular file that the
    // kernel would let this user write (asked without opening it), or another user's link.
    [[nodiscard]] Status MayWrite() { return Checked(MayReplace()); }
    // Makes the new file and gives its descriptor, which this object owns, in `fd`.
    [[nodiscard]] Status Create(int& fd);
    // Gives the complete new file its permissions (and times, if asked) and the user attributes
    // of the source open as `sourceFd` (none when -1: file managers' tags, a download's origin,
    // carried as a courtesy, a file system without them failing nothing), syncs it where that
    // is needed, and puts it in place under the destination's name. `source` is the job's
    // source.
    [[nodiscard]] Status Commit(const struct stat& source, int sourceFd)
    {
        return Checked(PutInPlace(source, sourceFd));
    }

private:
    // Each step below says false, with the reason in m_failure, when it fails.
    bool Fail(int error, Reason reason = Reason::None);
    [[nodiscard]] Status Checked(bool ok) const { return ok ? Status() : m_failure; }
    Status Settle(Place named);
    bool MayReplace();
    bool PutInPlace(const struct stat& source, int sourceFd);
    void CopyUserAttributes(int sourceFd);
    bool CreateNamed();
    template<typename Make> bool MakeTemporaryName(Make make);
    void ApplyPermissions(const struct stat& source);
    bool CopyAccessAndAttributes();
    bool LinkAs(const char* name);
    bool GiveName();
    bool SyncData();
    bool NameExists() const;
    void RemoveTemporaryName();

    const bool m_replace;
    const bool m_sync;
    const bool m_copyTimes;
    const bool m_copyOwner;
    // The folder that receives the new file, and the new file's name in it.
    Place m_place;
    // Whether the destination, trusted links followed, is a file or a folder (in m_existing):
    // not a link that was not followed, and not missing.
    bool m_found = false;
    bool m_linkNotFollowed = false;
    // Replace only: what stands at m_name and is to be replaced.
    bool m_exists = false;
    struct stat m_existing
    {
    };
    int m_fd = -1;
    bool m_unnamed = false;
    bool m_synced = false;
    std::string m_temporaryName; // while a named temporary file exists
    Status m_failure;
};

} // namespace hufpack
