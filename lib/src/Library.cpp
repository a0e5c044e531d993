// The C face of the engine: each function checks its arguments, turns them into one job of
// the engine's (hufpack/FileJobs.h), and turns the job's outcome into a result and a failure
// record. Nothing here codes a byte or touches a file itself. No exception leaves: a job's own
// allocation failures are its failures already, and the few allocations here are caught at
// each function's edge.

#include "hufpack.h"
#include "hufpack/FileJobs.h"
#include "hufpack/JobResult.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <span>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

static_assert(HUFPACK_VERSION_NUMBER == HUFPACK_PROJECT_VERSION_NUMBER,
              "hufpack.h's version is the project's");

namespace hufpack {

namespace {

// The options every version of the struct a caller may know holds; this is the first.
constexpr std::size_t kFirstOptionsSize = sizeof(hufpack_options);

// Why a call failed before any job: its result, as a failure.
struct Refusal
{
    int result = HUFPACK_OK;
    int error = 0;
};

int RecordAndReturn(const hufpack_options* options, const hufpack_failure& failure)
{
    if (options && options->failure)
        *options->failure = failure;
    return failure.result;
}

int Refuse(const hufpack_options* options, int result, int error = 0)
{
    hufpack_failure failure {};
    failure.result = result;
    failure.error = error;
    // A caller whose options cannot be read has nowhere to be told.
    const bool readable = options && options->struct_size >= kFirstOptionsSize;
    return RecordAndReturn(readable ? options : nullptr, failure);
}

// The caller's options, as far as this library knows them: a newer caller's struct is taken
// only when every field this library does not know is left at its default, so that a setting
// it cannot honour is never dropped in silence.
bool ReadOptions(const hufpack_options* given, hufpack_options& options)
{
    hufpack_options_init(&options);
    if (!given)
        return true;
    if (given->struct_size < kFirstOptionsSize)
        return false;
    const auto* const bytes = reinterpret_cast<const unsigned char*>(given);
    if (std::any_of(bytes + sizeof options, bytes + given->struct_size,
                    [](unsigned char byte) { return byte != 0; }))
        return false;
    std::memcpy(&options, given, sizeof options);
    return options.threads >= 0;
}

int ReasonCode(Reason reason)
{
    switch (reason) {
    case Reason::None:
    case Reason::LinkNotWalked:
        return HUFPACK_REASON_NONE;
    case Reason::NotRegularFile:
        return HUFPACK_REASON_NOT_REGULAR_FILE;
    case Reason::ChangedWhileRead:
        return HUFPACK_REASON_CHANGED_WHILE_READ;
    case Reason::TooLarge:
        return HUFPACK_REASON_TOO_LARGE;
    case Reason::NotOurs:
        return HUFPACK_REASON_NOT_OURS;
    case Reason::BadChecksum:
        return HUFPACK_REASON_BAD_CHECKSUM;
    case Reason::CutShort:
        return HUFPACK_REASON_CUT_SHORT;
    case Reason::Damaged:
        return HUFPACK_REASON_DAMAGED;
    case Reason::SameFile:
        return HUFPACK_REASON_SAME_FILE;
    case Reason::SymbolicLinkSource:
        return HUFPACK_REASON_SYMBOLIC_LINK_SOURCE;
    case Reason::HardLinkedSource:
        return HUFPACK_REASON_HARD_LINKED_SOURCE;
    case Reason::NotRemoved:
        return HUFPACK_REASON_NOT_REMOVED;
    case Reason::NotRemovedChanged:
        return HUFPACK_REASON_NOT_REMOVED_CHANGED;
    case Reason::NotRemovedGrew:
        return HUFPACK_REASON_NOT_REMOVED_GREW;
    case Reason::TrailingData:
        return HUFPACK_REASON_TRAILING_DATA;
    case Reason::Cancelled:
        return HUFPACK_REASON_CANCELLED;
    }
    return HUFPACK_REASON_NONE;
}

Reason ReasonOf(int code)
{
    static constexpr Reason kReasons[] = {
        Reason::None,
        Reason::NotRegularFile,
        Reason::ChangedWhileRead,
        Reason::TooLarge,
        Reason::NotOurs,
        Reason::BadChecksum,
        Reason::CutShort,
        Reason::Damaged,
        Reason::SameFile,
        Reason::SymbolicLinkSource,
        Reason::HardLinkedSource,
        Reason::NotRemoved,
        Reason::NotRemovedChanged,
        Reason::NotRemovedGrew,
        Reason::TrailingData,
        Reason::Cancelled,
    };
    return code >= 0 && code < static_cast<int>(std::size(kReasons)) ? kReasons[code]
                                                                     : Reason::None;
}

// A job's outcome as the caller is told it. A buffer too small is the engine's ENOBUFS for its
// destination; a stop asked for, its reason.
int Report(const JobOutcome& outcome, bool buffer, const hufpack_options& options)
{
    hufpack_failure failure {};
    failure.result = static_cast<int>(outcome.result);
    failure.file = static_cast<int>(outcome.file);
    failure.error = outcome.error;
    failure.reason = ReasonCode(outcome.reason);
    failure.trailing_bytes = outcome.trailingBytes;
    if (outcome.reason == Reason::Cancelled)
        failure.result = HUFPACK_CANCELLED;
    else if (buffer && outcome.file == JobFile::Destination && outcome.error == ENOBUFS)
        failure.result = HUFPACK_DESTINATION_TOO_SMALL;
    return RecordAndReturn(&options, failure);
}

std::string SpoolFolder(const hufpack_options& options)
{
    if (options.spool_folder && *options.spool_folder)
        return options.spool_folder;
    const char* const folder = std::getenv("TMPDIR");
    return folder && *folder ? folder : "/tmp";
}

JobOptions JobOptionsFor(const hufpack_options& options)
{
    JobOptions job;
    job.handleSignals = false;
    job.threads = options.threads;
    job.members = options.single_file == 0;
    job.replace = options.replace != 0;
    job.sync = options.sync != 0;
    job.copyTimes = options.copy_times != 0;
    job.copyOwner = options.copy_owner != 0;
    job.removeSource = options.remove_source != 0;
    job.removeLinkedSource = options.remove_linked_source != 0;
    job.spoolFolder = SpoolFolder(options);
    if (const hufpack_progress_fn progress = options.progress) {
        void* const user = options.progress_user;
        job.progress = [progress, user](std::int64_t done, std::int64_t total) {
            return progress(user, done, total) == 0;
        };
    }
    return job;
}

// A name in a folder is one name: no '/', and not the folder itself or its parent.
bool IsPlainName(const char* name)
{
    return *name && !std::strchr(name, '/') && std::strcmp(name, ".") != 0
        && std::strcmp(name, "..") != 0;
}

template<typename Reference> bool Resolve(const hufpack_file& file, Reference& reference)
{
    if (file.fd >= 0) {
        reference = Reference::Descriptor(file.fd);
        return true;
    }
    if (!file.path)
        return false;
    if (file.folder >= 0 || file.folder == AT_FDCWD) {
        if (!IsPlainName(file.path))
            return false;
        reference = file.folder == AT_FDCWD ? Reference(std::string(file.path))
                                            : Reference::InFolder(file.folder, file.path);
        return true;
    }
    if (!*file.path)
        return false;
    reference = Reference(std::string(file.path));
    return true;
}

// A descriptor source is read whole when it is a regular file at its start, and in order from
// where it stands otherwise, as the tool reads its standard input.
bool SourceOf(const hufpack_file& file, JobSource& source)
{
    if (!Resolve(file, source))
        return false;
    if (file.fd >= 0) {
        struct stat info
        {
        };
        source.stream = !(::fstat(file.fd, &info) == 0 && S_ISREG(info.st_mode)
                          && ::lseek(file.fd, 0, SEEK_CUR) == 0);
    }
    return true;
}

std::span<const std::uint8_t> Bytes(const void* data, std::size_t size)
{
    return { static_cast<const std::uint8_t*>(data), size };
}

// Runs `call(options)` with the caller's options read, and every exception kept inside.
template<typename Call> int Guarded(const hufpack_options* given, Call call)
{
    hufpack_options options;
    if (!ReadOptions(given, options))
        return Refuse(given, HUFPACK_BAD_ARGUMENT);
    try {
        return call(options);
    } catch (const std::bad_alloc&) {
        return Refuse(&options, HUFPACK_CANNOT_OPEN, ENOMEM);
    } catch (...) {
        return Refuse(&options, HUFPACK_CANNOT_OPEN, EIO);
    }
}

int BufferJob(JobKind kind, void* dst, std::size_t capacity, const void* src, std::size_t size,
              std::size_t* written, const hufpack_options* given)
{
    if (written)
        *written = 0;
    if ((!src && size > 0) || (!dst && capacity > 0))
        return Refuse(given, HUFPACK_BAD_ARGUMENT);
    return Guarded(given, [&](const hufpack_options& options) {
        const JobOutcome outcome
            = RunFileJob(kind, JobSource::Memory(Bytes(src, size)),
                         JobDestination::Buffer({ static_cast<std::uint8_t*>(dst), capacity }),
                         JobOptionsFor(options));
        if (written)
            *written = static_cast<std::size_t>(outcome.written);
        return Report(outcome, true, options);
    });
}

JobDestination::Take Taker(hufpack_write_fn write, void* user)
{
    return [write, user](std::span<const std::uint8_t> bytes) {
        return write(user, bytes.data(), bytes.size()) == 0;
    };
}

int InfoOf(const JobSource& source, hufpack_info* info, const hufpack_options& options)
{
    std::vector<FileSummary> members;
    const JobOptions job = JobOptionsFor(options);
    const JobOutcome outcome = SummarizeFile(source, job, members);
    hufpack_info figures {};
    if (outcome.result == JobResult::Done) {
        figures.members = static_cast<int>(members.size());
        for (const FileSummary& member : members) {
            figures.compressed_bytes += member.compressedBytes;
            figures.original_bytes += member.originalBytes;
            figures.entries = std::max(figures.entries, member.entries);
            figures.longest_code = std::max(figures.longest_code, member.longestCode);
        }
    }
    *info = figures;
    return Report(outcome, false, options);
}

int FilesJob(JobKind kind, hufpack_file source, hufpack_file destination,
             const hufpack_options* options)
{
    return Guarded(options, [&](const hufpack_options& read) {
        JobSource from { std::string() };
        JobDestination to { std::string() };
        if (!SourceOf(source, from) || !Resolve(destination, to))
            return Refuse(&read, HUFPACK_BAD_ARGUMENT);
        return Report(RunFileJob(kind, from, to, JobOptionsFor(read)), false, read);
    });
}

} // namespace

} // namespace hufpack

using namespace hufpack;

extern "C" {

unsigned hufpack_version_number(void)
{
    return HUFPACK_VERSION_NUMBER;
}

const char* hufpack_version_string(void)
{
    return HUFPACK_VERSION_STRING;
}

const char* hufpack_result_name(int result)
{
    switch (result) {
    case HUFPACK_OK:
        return "HUFPACK_OK";
    case HUFPACK_CANNOT_OPEN:
        return "HUFPACK_CANNOT_OPEN";
    case HUFPACK_NOT_OUR_FORMAT:
        return "HUFPACK_NOT_OUR_FORMAT";
    case HUFPACK_TOO_LARGE:
        return "HUFPACK_TOO_LARGE";
    case HUFPACK_SAME_FILE:
        return "HUFPACK_SAME_FILE";
    case HUFPACK_DESTINATION_TOO_SMALL:
        return "HUFPACK_DESTINATION_TOO_SMALL";
    case HUFPACK_BAD_ARGUMENT:
        return "HUFPACK_BAD_ARGUMENT";
    case HUFPACK_CANCELLED:
        return "HUFPACK_CANCELLED";
    default:
        return "HUFPACK_UNKNOWN";
    }
}

size_t hufpack_describe_failure(const hufpack_failure* failure, char* text, size_t size)
{
    std::string words;
    try {
        if (!failure)
            words = "no failure given";
        else if (failure->result == HUFPACK_DESTINATION_TOO_SMALL)
            words = "the destination buffer is too small";
        else if (failure->result == HUFPACK_BAD_ARGUMENT)
            words = "bad argument";
        else if (failure->result == HUFPACK_CANCELLED)
            words = "cancelled";
        else
            words = DescribeFailure({ static_cast<JobResult>(failure->result),
                                      static_cast<JobFile>(std::clamp(failure->file, 0, 2)),
                                      failure->error, ReasonOf(failure->reason) });
    } catch (const std::bad_alloc&) {
        words.clear();
    }
    if (size > 0 && text) {
        const std::size_t copied = std::min(words.size(), size - 1);
        std::memcpy(text, words.data(), copied);
        text[copied] = '\0';
    }
    return words.size();
}

void hufpack_options_init(hufpack_options* options)
{
    if (!options)
        return;
    std::memset(options, 0, sizeof *options);
    options->struct_size = sizeof *options;
}

size_t hufpack_compress_bound(size_t src_size)
{
    const std::uint64_t bound = CompressedBound(src_size);
    return bound > SIZE_MAX ? SIZE_MAX : static_cast<size_t>(bound);
}

int hufpack_compress(void* dst, size_t dst_capacity, const void* src, size_t src_size,
                     size_t* written, const hufpack_options* options)
{
    return BufferJob(JobKind::Encode, dst, dst_capacity, src, src_size, written, options);
}

int hufpack_decompress(void* dst, size_t dst_capacity, const void* src, size_t src_size,
                       size_t* written, const hufpack_options* options)
{
    return BufferJob(JobKind::Decode, dst, dst_capacity, src, src_size, written, options);
}

int hufpack_decompress_to(const void* src, size_t src_size, hufpack_write_fn write, void* user,
                          const hufpack_options* options)
{
    if ((!src && src_size > 0) || !write)
        return Refuse(options, HUFPACK_BAD_ARGUMENT);
    return Guarded(options, [&](const hufpack_options& read) {
        return Report(RunFileJob(JobKind::Decode, JobSource::Memory(Bytes(src, src_size)),
                                 JobDestination::Callback(Taker(write, user)), JobOptionsFor(read)),
                      false, read);
    });
}

int hufpack_get_info(const void* src, size_t src_size, hufpack_info* info,
                     const hufpack_options* options)
{
    if ((!src && src_size > 0) || !info)
        return Refuse(options, HUFPACK_BAD_ARGUMENT);
    return Guarded(options, [&](const hufpack_options& read) {
        return InfoOf(JobSource::Memory(Bytes(src, src_size)), info, read);
    });
}

hufpack_file hufpack_path(const char* path)
{
    return { path, -1, -1 };
}

hufpack_file hufpack_path_at(int folder, const char* name)
{
    return { name, folder, -1 };
}

hufpack_file hufpack_descriptor(int fd)
{
    return { nullptr, -1, fd };
}

int hufpack_compress_file(hufpack_file source, hufpack_file destination,
                          const hufpack_options* options)
{
    return FilesJob(JobKind::Encode, source, destination, options);
}

int hufpack_decompress_file(hufpack_file source, hufpack_file destination,
                            const hufpack_options* options)
{
    return FilesJob(JobKind::Decode, source, destination, options);
}

int hufpack_decompress_file_to(hufpack_file source, hufpack_write_fn write, void* user,
                               const hufpack_options* options)
{
    if (!write)
        return Refuse(options, HUFPACK_BAD_ARGUMENT);
    return Guarded(options, [&](const hufpack_options& read) {
        JobSource from { std::string() };
        if (!SourceOf(source, from))
            return Refuse(&read, HUFPACK_BAD_ARGUMENT);
        return Report(RunFileJob(JobKind::Decode, from,
                                 JobDestination::Callback(Taker(write, user)), JobOptionsFor(read)),
                      false, read);
    });
}

int hufpack_get_file_info(hufpack_file source, hufpack_info* info, const hufpack_options* options)
{
    if (!info)
        return Refuse(options, HUFPACK_BAD_ARGUMENT);
    return Guarded(options, [&](const hufpack_options& read) {
        JobSource from { std::string() };
        if (!SourceOf(source, from))
            return Refuse(&read, HUFPACK_BAD_ARGUMENT);
        return InfoOf(from, info, read);
    });
}

} // extern "C"
