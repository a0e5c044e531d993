#pragma once

// A job's source: opened for reading, checked for what --rm may remove, and removed once its
// new form is safe.

#include "hufpack/FileJobs.h"
#include "hufpack/JobResult.h"
#include "sys/FileStream.h"

#include <string>
#include <sys/stat.h>

namespace hufpack {

// A job's source, open for reading, and what the system says of the file.
struct OpenedSource
{
    FileStream stream;
    struct stat info
    {
    };
};

// Opens a source for reading: a regular file only. A FIFO would block the open and could not be
// read twice; a directory or a device is not a file to compress. Links are followed by the
// kernel, by its own rules for this user. A source given as a descriptor is read through a
// duplicate, from the start; the duplicate shares the file's offset, which the job moves. With
// `streamAllowed`, a descriptor may be a pipe, read exactly as far as the reader asks.
[[nodiscard]] Status OpenSource(const JobSource& source, OpenedSource& opened,
                                bool streamAllowed = false);

// Whether the source may be removed when the job is done: a source with other names, or one
// named by a symbolic link, would lose a name but not its data, which is rarely what was
// meant, so it takes removeLinkedSource. Refused before any work.
[[nodiscard]] Status MayRemoveSource(const std::string& path, const struct stat& read,
                                     const JobOptions& options);

// Removes the source's name once its new form is safe on the disk, if the name still leads to
// the file that was read: a name that became another file is kept. A symbolic link (allowed by
// removeLinkedSource) is removed itself, its file kept.
[[nodiscard]] Status RemoveSource(const std::string& path, const struct stat& read);

} // namespace hufpack
