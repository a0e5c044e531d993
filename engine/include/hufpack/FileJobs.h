#pragma once

// The engine's jobs for its programs: compressing and restoring one file into another, and
// reading what a compressed file holds.

#include "hufpack/JobResult.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <utility>
#include <vector>

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
    // bytes written when decoding). It must return quickly, and true to go on: false stops the
    // job within a block or a chunk, as a failure with Reason::Cancelled, and a new file is
    // then left out as on any failure.
    std::function<bool(std::int64_t done, std::int64_t total)> progress;
    // At most this many threads in all, the calling thread's included; 0 for the thread limit,
    // one per processor.
    int threads = 0;
    // Give a new file the source's access and modification times.
    bool copyTimes = false;
    // Give a new file the source's owner and group, where this user may give them: for a new
    // file beside its source, as gzip gives it. Otherwise the new file is this user's.
    bool copyOwner = false;
    // Once the new file is in place and synced, remove the source's name, if it still names the
    // file that was read and the file has not changed since: the only copy is never lost.
    bool removeSource = false;
    // With removeSource, go on with a source that has other hard links (only this name goes) or
    // is a symbolic link (the link goes, its file stays). Without it such a source is refused
    // before any work.
    bool removeLinkedSource = false;
    // The files form's compressed files, as gzip's: several members one after another, each a
    // whole compressed file. Compressing, a source one member cannot hold is written as the
    // fewest members that hold it (outcome.members); decoding, every member is restored in turn,
    // zero bytes after the last are padding, and any other bytes after it are not ours
    // (NotOurFormat, Reason::TrailingData, outcome.trailingBytes) once every member is out.
    // Without it, the first form's rule: one member, and the bytes after it never read.
    bool members = false;
    // Where a source that is a stream (a pipe) is copied, one member at a time, since the format
    // needs every count before the first code; empty for none, and then a stream is refused.
    std::string spoolFolder;
    // While the job runs, let a signal that ends the process remove a new file that has a name
    // (sys/JobSignals.h): the programs' way. A library leaves the process's signals alone, and
    // its jobs may run on several threads at once.
    bool handleSignals = true;
};

// One of a job's two files: named by a path; an open descriptor (fd >= 0, path empty); or a
// name in an open folder (folder >= 0, path the name, without '/'), which the caller keeps open
// for the job's length. The last is how a program that found a file reaches it, the new file
// beside it and, with removeSource, its name again, all through one resolution of its path.
template<typename Self> struct FileReference
{
    FileReference(std::string filePath) : path(std::move(filePath)) { }
    static Self Descriptor(int descriptor)
    {
        Self file { std::string() };
        file.fd = descriptor;
        return file;
    }
    static Self InFolder(int folderDescriptor, std::string name)
    {
        Self file { std::move(name) };
        file.folder = folderDescriptor;
        return file;
    }
    std::string path;
    int fd = -1;
    int folder = -1;
};

// Where a job reads: a file named by a path or in a folder, a descriptor open on a regular
// file, which the job reads from its start and leaves open, or bytes in memory.
struct JobSource : FileReference<JobSource>
{
    using FileReference::FileReference;
    // Bytes that must outlive the job. A new file made from them has the mode a new file gets
    // by this process's umask, and this user's times.
    static JobSource Memory(std::span<const std::uint8_t> bytes)
    {
        JobSource source { std::string() };
        source.bytes = bytes;
        source.inMemory = true;
        return source;
    }
    std::span<const std::uint8_t> bytes;
    bool inMemory = false;
    // A descriptor read from where it stands, in order, as a pipe is, even when it is a file.
    bool stream = false;
    // Whether a symbolic link at the source's name is followed, as it is for a file a user
    // names. A walk's file is read only where it was found: a name swapped for a link since is
    // refused (ELOOP), never followed.
    bool followLink = true;
};

// Where a job writes: a file named by a path or in a folder, written completely or not at all;
// or a descriptor such as standard output, written in order as the data is made, and left
// open. A stream cannot be taken back: a job that fails part-way has written part of its output.
//
// Or memory: a buffer of a fixed size, from its start (a job that needs more fails with
// ENOBUFS, and the buffer's bytes are then not to be used); a vector that grows as needed; or a
// function that takes the bytes in order, a block at a time, and returns false to stop the job
// (Reason::Cancelled).
struct JobDestination : FileReference<JobDestination>
{
    using FileReference::FileReference;
    using Take = std::function<bool(std::span<const std::uint8_t> bytes)>;
    static JobDestination Buffer(std::span<std::uint8_t> buffer)
    {
        JobDestination destination { std::string() };
        destination.buffer = buffer;
        destination.memory = Memory::Buffer;
        return destination;
    }
    static JobDestination Vector(std::vector<std::uint8_t>& bytes)
    {
        JobDestination destination { std::string() };
        destination.vector = &bytes;
        destination.memory = Memory::Vector;
        return destination;
    }
    static JobDestination Callback(Take take)
    {
        JobDestination destination { std::string() };
        destination.take = std::move(take);
        destination.memory = Memory::Callback;
        return destination;
    }
    enum class Memory { None, Buffer, Vector, Callback };
    Memory memory = Memory::None;
    std::span<std::uint8_t> buffer;
    std::vector<std::uint8_t>* vector = nullptr;
    Take take;
};

// Runs one job, and prints nothing. Each path is resolved once, into an open folder and a name
// in it, and never again. A symbolic link at the destination is followed only where nobody but
// this user and root could have put it there or changed where it leads: the folder holding each
// link on the way, and every folder the links lead through, is this user's or root's and
// writable by nobody else, and each link is this user's or root's. Any other link is replaced
// itself and its target never opened (outcome.linkReplaced). The new file is made unnamed, or
// under a hidden name, with mode 0600 beside the destination and takes its name only once
// complete. On failure `file` and `error` or `reason` say which file and why.
[[nodiscard]] JobOutcome RunFileJob(JobKind kind, const JobSource& source,
                                    const JobDestination& destination, const JobOptions& options);

// Lets the jobs read the files they compress through mappings of a few blocks at a time
// instead of copies, and installs the process's SIGBUS handler that this takes: a file that
// shrinks while it is mapped then fails its job as a source that changed while it was read,
// instead of ending the process. Any other SIGBUS ends the process as it would. Without it,
// jobs read with pread; a program that handles SIGBUS itself must not call it. Once, before the
// first job. (The programs do not: on the machines measured the mapped passes took longer than
// the copies they save, docs/performance.md.)
void AllowMappedReads();

// The first form's report of a job on standard output, as scripts of that form read it: the
// checksum message (with no line end of its own) for a file whose checksum failed, then "Done."
// and a line end after every job that opened both files.
void PrintFirstFormReport(const JobOutcome& outcome);

// A file as a program reaches it: the folder that holds it, open while the visit lasts, and its
// name there; or, when it cannot be reached, why.
struct FoundFile
{
    int folder = -1;
    std::string name;
    // The path it was named by, or found at: for messages.
    std::string path;
    // Found in a folder by a walk, rather than named: read only where it stands.
    bool walked = false;
    // The system's error number, or a reason, when the file cannot be reached; 0 and None
    // otherwise.
    int error = 0;
    Reason reason = Reason::None;
};
using FileVisitor = std::function<void(const FoundFile& file)>;
// Resolves `path` once and calls `visit` for what it names. With `recursive`, a folder there is
// walked: every regular file in it and in its folders, each folder's names in order, each
// folder held open while its files are visited, so that a folder swapped for a link meanwhile
// leads nowhere; symbolic links, FIFOs and devices found on the way are passed over. A symbolic
// link named is not walked (Reason::LinkNotWalked): the folder itself may be named.
void VisitFiles(const std::string& path, bool recursive, const FileVisitor& visit);

// The character device or FIFO that `path` names, opened for writing, when it is this user's or
// root's and reached through links by the rule RunFileJob follows them by: -1 otherwise, with
// `device` false when the path names something else (a file to make or replace), or true with
// errno saying why the device cannot be opened. Another user's FIFO in a shared folder would
// read what is written to it.
[[nodiscard]] int OpenOutputDevice(const std::string& path, bool& device);

// The most bytes a compressed file of a source of `sourceBytes` bytes can take, with members as
// many as it needs; UINT64_MAX when that is more than it can count.
[[nodiscard]] std::uint64_t CompressedBound(std::uint64_t sourceBytes);

// What a compressed file's header and table say, read without decoding its bits.
struct FileSummary
{
    std::int64_t compressedBytes = 0;
    std::int64_t originalBytes = 0; // the sum of the table's counts
    int entries = 0; // byte values with a count
    int longestCode = 0; // in bits
};

// Reads the header and table of each member of a compressed file (the first only, without
// options.members) with every check that can be made without their bits: NotOurFormat for a
// file that is not one, CannotOpen when it cannot be read. A member's compressedBytes are its
// own; with one member and no options.members, the file's. A stream source is spooled into
// options.spoolFolder a member at a time.
[[nodiscard]] JobOutcome SummarizeFile(const JobSource& source, const JobOptions& options,
                                       std::vector<FileSummary>& members);

} // namespace hufpack
