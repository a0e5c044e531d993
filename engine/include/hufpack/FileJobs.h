#pragma once

// The engine's jobs for its programs: compressing and restoring one file into another, and
// reading what a compressed file holds.

#include "hufpack/JobResult.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>

namespace hufpack {

// Compresses the file at `source` into `destination`, replacing a destination that exists. The
// destination is written completely or not at all: on any failure it is left exactly as it was.
// Then prints the first form's report (PrintFirstFormReport). Jobs share one process-wide node
// heap: run one at a time.
[[nodiscard]] JobResult EncodeFile(const std::string& source, const std::string& destination);

// Restores a file that EncodeFile wrote, with the same all-or-nothing rule for the destination,
// and the same report.
[[nodiscard]] JobResult DecodeFile(const std::string& source, const std::string& destination);

enum class JobKind { Encode, Decode };

struct JobOptions
{
    // Replace a file that stands at the destination. Without it the job fails (CannotOpen,
    // EEXIST) when any name stands there, a dangling symbolic link included, at the moment the
    // new file would take its place; it is checked once more before the work starts.
    bool replace = true;
    // Sync the new file and its folder even when it replaces nothing. A file that replaces
    // another is always synced first, so that a power cut cannot leave neither.
    bool sync = false;
    // Called now and then from the job's threads, one call at a time, with how much of the job
    // is done: `done` of `total` units (bytes of the source read by either pass when encoding,
    // bytes written when decoding). It must return quickly.
    std::function<void(std::int64_t done, std::int64_t total)> progress;
    // At most this many threads in all, the calling thread's included; 0 for the thread limit,
    // one per processor.
    int threads = 0;
    // Give a new file the source's access and modification times.
    bool copyTimes = false;
    // Once the new file is in place and synced, remove the source's name, if it still names the
    // file that was read: the only copy is never lost.
    bool removeSource = false;
    // With removeSource, go on with a source that has other hard links (only this name goes) or
    // is a symbolic link (the link goes, its file stays). Without it such a source is refused
    // before any work.
    bool removeLinkedSource = false;
};

// One of a job's two files: named by a path, or an open descriptor (fd >= 0, path empty).
template<typename Self> struct PathOrDescriptor
{
    PathOrDescriptor(std::string filePath) : path(std::move(filePath)) { }
    static Self Descriptor(int descriptor)
    {
        Self file { std::string() };
        file.fd = descriptor;
        return file;
    }
    std::string path;
    int fd = -1;
};

// Where a job reads: a file named by a path, or a descriptor open on a regular file, which the
// job reads from its start and leaves open.
struct JobSource : PathOrDescriptor<JobSource>
{
    using PathOrDescriptor::PathOrDescriptor;
};

// Where a job writes: a file named by a path, written completely or not at all; or a descriptor
// such as standard output, written in order as the data is made, and left open. A stream cannot
// be taken back: a job that fails part-way has written part of its output.
struct JobDestination : PathOrDescriptor<JobDestination>
{
    using PathOrDescriptor::PathOrDescriptor;
};

// Runs one job, and prints nothing. The destination path is resolved once; a symbolic link at
// it is followed only when this user or root made it. The new file is made unnamed, or under a
// hidden name, with mode 0600 beside the destination and takes its name only once complete. On
// failure `file` and `error` or `reason` say which file and why.
[[nodiscard]] JobOutcome RunFileJob(JobKind kind, const JobSource& source,
                                    const JobDestination& destination, const JobOptions& options);

// The first form's report of a job on standard output, as scripts of that form read it: the
// checksum message (with no line end of its own) for a file whose checksum failed, then "Done."
// and a line end after every job that opened both files.
void PrintFirstFormReport(const JobOutcome& outcome);

// Called for each regular file below a folder, with its path and 0; or with a path that could
// not be read and the system's error number.
using FolderVisitor = std::function<void(const std::string& path, int error)>;
// Calls `visit` for every regular file in the folder at `path` and in its folders, each
// folder's names in order; symbolic links (to folders or files), FIFOs and devices are passed
// over. The folder named may itself be reached through a link.
void WalkFolder(const std::string& path, const FolderVisitor& visit);

// What a compressed file's header and table say, read without decoding its bits.
struct FileSummary
{
    std::int64_t compressedBytes = 0;
    std::int64_t originalBytes = 0; // the sum of the table's counts
    int entries = 0; // byte values with a count
    int longestCode = 0; // in bits
};

// Reads the header and table of a compressed file with every check that can be made without
// its bits: NotOurFormat for a file that is not one, CannotOpen when it cannot be read. A source
// given as a descriptor may be a pipe: it is read from where it stands, as far as the table,
// and its length is taken to be what its header says.
[[nodiscard]] JobOutcome SummarizeFile(const JobSource& source, FileSummary& summary);

} // namespace hufpack
