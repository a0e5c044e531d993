#pragma once

// A job's source: opened for reading through one resolution of its path, checked for what --rm
// may remove, and removed once its new form is safe, in the folder where it was found.

#include "files/Place.h"
#include "hufpack/FileJobs.h"
#include "hufpack/JobResult.h"
#include "sys/Descriptor.h"

#include <sys/stat.h>

namespace hufpack {

// A job's source, open for reading, what the system said of the file when it was opened, and
// where its name stands (not open for a source given as a descriptor).
struct OpenedSource
{
    Descriptor fd;
    struct stat info
    {
    };
    Place place;
    // Read in order from where it stands: a pipe, a terminal, or a file the source says so of.
    bool inOrder = false;
};

// Opens a source for reading: a regular file only. A FIFO would block the open and could not be
// read twice; a directory or a device is not a file to compress. A link at the name is followed
// by the kernel's own rules when the source says so. A source given as a descriptor is read
// through a duplicate, from the start; the duplicate shares the file's offset, which the job
// moves. With `streamAllowed`, a descriptor may be a pipe, read in order, and so is one the source
// calls a stream.
[[nodiscard]] Status OpenSource(const JobSource& source, OpenedSource& opened,
                                bool streamAllowed = false);

// What a new file made from bytes in memory takes from its "source": the mode any new file of
// this process gets, 0666 less the umask (read without changing it, so that other threads never
// see it changed).
[[nodiscard]] struct stat NewFileInfo();

// Whether the source may be removed when the job is done: a source with other names, or one
// named by a symbolic link, would lose a name but not its data, which is rarely what was
// meant, so it takes removeLinkedSource. Refused before any work.
[[nodiscard]] Status MayRemoveSource(const OpenedSource& source, const JobOptions& options);

// Removes the source's name once its new form is safe on the disk: only if the file, still open,
// has neither grown nor changed since it was opened (a line appended meanwhile would be lost),
// and only while the name still leads to it (a name that became another file is kept). A
// symbolic link (allowed by removeLinkedSource) is removed itself, its file kept.
[[nodiscard]] Status RemoveSource(const OpenedSource& source);

} // namespace hufpack
