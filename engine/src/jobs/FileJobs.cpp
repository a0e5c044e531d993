// The file jobs: opening the source, choosing the destination, running the coder, and putting
// the new file in place; and the first form's report at the edge, where the programs ask for it.

#include "hufpack/FileJobs.h"

#include "files/Destination.h"
#include "files/JobSource.h"
#include "files/Place.h"
#include "jobs/Members.h"
#include "jobs/Texts.h"
#include "jobs/TreeCoder.h"
#include "sys/ByteSink.h"
#include "sys/ByteSource.h"
#include "sys/JobEdge.h"
#include "sys/JobSignals.h"
#include "sys/Threads.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hufpack {

namespace {

Status SameFile()
{
    return Status::Fail(JobResult::SameFile, JobFile::Destination, 0, Reason::SameFile);
}

// One job from its first open to the new file in place.
class FileJob
{
public:
    FileJob(JobKind kind, const JobOptions& options) : m_kind(kind), m_options(options) { }

    [[nodiscard]] Status Run(const JobSource& sourceFile, const JobDestination& destinationFile);
    [[nodiscard]] std::int64_t Written() const { return m_written; }
    // Whether the job got as far as having both files open.
    [[nodiscard]] bool Opened() const { return m_opened; }
    // Whether the new file replaced a link at the destination rather than following it.
    [[nodiscard]] bool LinkReplaced() const { return m_linkReplaced; }
    [[nodiscard]] const MemberTally& Tally() const { return m_tally; }

private:
    [[nodiscard]] Status IntoStream(int destinationFd);
    [[nodiscard]] Status IntoFile(const JobDestination& destinationFile);
    [[nodiscard]] Status IntoMemory(const JobDestination& destination);
    [[nodiscard]] Status CodeInto(int destinationFd, bool inOrder, bool holes = false);
    [[nodiscard]] Status Code(ByteSink& output);

    const JobKind m_kind;
    const JobOptions& m_options;
    OpenedSource m_source;
    // A source in memory, when m_inMemory: then m_source has no file.
    std::span<const std::uint8_t> m_bytes;
    bool m_inMemory = false;
    std::int64_t m_written = 0;
    bool m_opened = false;
    bool m_linkReplaced = false;
    MemberTally m_tally;
};

// Bytes after the last member that are not ours: every member is out by now.
Status TrailingFailure()
{
    return Status::Fail(JobResult::NotOurFormat, JobFile::Source, 0, Reason::TrailingData);
}

// How a job's coders run: the threads it asked for resolved here, once, as the job starts.
MemberSettings SettingsFor(const JobOptions& options)
{
    MemberSettings settings;
    settings.coder.threads = ThreadsFor(options.threads);
    settings.coder.progress = &options.progress;
    settings.several = options.members;
    settings.spoolFolder = options.spoolFolder;
    return settings;
}

Status FileJob::Run(const JobSource& sourceFile, const JobDestination& destinationFile)
{
    m_inMemory = sourceFile.inMemory;
    if (m_inMemory)
        m_bytes = sourceFile.bytes;
    else if (Status status = OpenSource(sourceFile, m_source, !m_options.spoolFolder.empty());
             !status.Ok())
        return status;
    if (destinationFile.memory != JobDestination::Memory::None)
        return IntoMemory(destinationFile);
    if (destinationFile.fd >= 0)
        return IntoStream(destinationFile.fd);
    return IntoFile(destinationFile);
}

// A job whose destination is a stream: written in order, no file to make or replace.
Status FileJob::IntoStream(int destinationFd)
{
    struct stat destination
    {
    };
    if (::fstat(destinationFd, &destination) != 0)
        return Status::Fail(JobResult::CannotOpen, JobFile::Destination, errno);
    if (!m_inMemory && SameInode(destination, m_source.info))
        return SameFile();
    if (Status status = CodeInto(destinationFd, true); !status.Ok())
        return status;
    return m_tally.trailing > 0 ? TrailingFailure() : Status();
}

Status FileJob::IntoFile(const JobDestination& destinationFile)
{
    const bool removing = m_options.removeSource && m_source.place.IsOpen();
    if (removing) {
        if (Status status = MayRemoveSource(m_source, m_options); !status.Ok())
            return status;
    }
    // Nothing is removed before every sync on the way has succeeded. Bytes in memory have no
    // times or owner to give, and their new file the mode any new file of this process gets.
    Destination destination({ m_options.replace, m_options.sync || removing,
                              m_options.copyTimes && !m_inMemory,
                              m_options.copyOwner && !m_inMemory });
    if (m_inMemory)
        m_source.info = NewFileInfo();
    if (Status status = destinationFile.folder >= 0
            ? destination.Resolve(destinationFile.folder, destinationFile.path)
            : destination.Resolve(destinationFile.path);
        !status.Ok())
        return status;
    if (!m_inMemory && destination.IsFile(m_source.info))
        return SameFile();
    if (Status status = destination.MayWrite(); !status.Ok())
        return status;
    int fd = -1;
    if (Status status = destination.Create(fd); !status.Ok())
        return status;
    // A restored file keeps the holes its zeros were, a new file being empty.
    if (Status status = CodeInto(fd, false, m_kind == JobKind::Decode); !status.Ok())
        return status;
    if (Status status = destination.Commit(m_source.info, m_inMemory ? -1 : m_source.fd.Get());
        !status.Ok())
        return status;
    m_linkReplaced = destination.LinkNotFollowed() && m_options.replace;
    // What was decoded is kept, but the source is not called ours, nor removed.
    if (m_tally.trailing > 0)
        return TrailingFailure();
    if (removing)
        return RemoveSource(m_source);
    return {};
}

// A job into memory, or into a function that takes the bytes in order. A function that says stop
// cancels the job.
Status FileJob::IntoMemory(const JobDestination& destination)
{
    using Memory = JobDestination::Memory;
    ByteSink output = destination.memory == Memory::Buffer ? ByteSink::ToBuffer(destination.buffer)
        : destination.memory == Memory::Vector             ? ByteSink::ToVector(*destination.vector)
                                                           : ByteSink::ToCallback(destination.take);
    m_opened = true;
    Status status = Code(output);
    if (status.Ok() && !output.Close())
        status = output.Outcome(JobFile::Destination);
    if (!status.Ok()) {
        if (output.Failed() && output.Error() == ECANCELED
            && destination.memory == Memory::Callback)
            return Status::Fail(JobResult::CannotOpen, JobFile::None, 0, Reason::Cancelled);
        return status;
    }
    return m_tally.trailing > 0 ? TrailingFailure() : Status();
}

// Codes the source into a descriptor of its own for `destinationFd`, and closes it once the
// coding is done; a close that fails fails the job. The source stays open to the job's end, so
// that --rm can tell whether it changed after it was read.
Status FileJob::CodeInto(int destinationFd, bool inOrder, bool holes)
{
    const int fd = ::fcntl(destinationFd, F_DUPFD_CLOEXEC, 0);
    ByteSink output = holes ? ByteSink::ToNewFileWithHoles(fd) : ByteSink::ToFile(fd, inOrder);
    if (output.Failed())
        return Status::Fail(JobResult::CannotOpen, JobFile::Destination, errno);
    m_opened = true;
    if (Status status = Code(output); !status.Ok())
        return status;
    if (!output.Close())
        return output.Outcome(JobFile::Destination);
    return {};
}

// Runs the coders from the source into the sink, a member at a time: nothing to code for an
// empty file.
Status FileJob::Code(ByteSink& output)
{
    // Read through mappings of its ranges where the program allows them.
    const ByteSource source = m_inMemory ? ByteSource::OfMemory(m_bytes)
                                         : ByteSource::OfMappableFile(m_source.fd.Get());
    if (m_kind == JobKind::Encode && m_inMemory && m_bytes.empty())
        return {};
    std::uint8_t first = 0;
    if (m_kind == JobKind::Encode && !m_inMemory && !m_source.inOrder
        && m_source.info.st_size == 0) {
        const std::int64_t got = source.ReadAt(&first, 1, 0);
        if (got < 0)
            return Status::Fail(JobResult::CannotOpen, JobFile::Source, errno);
        if (got == 0)
            return {};
    }
    MemberInput input;
    if (m_source.inOrder)
        input.stream = m_source.fd.Get();
    else
        input.source = &source;
    const MemberSettings settings = SettingsFor(m_options);
    const Status status = m_kind == JobKind::Decode
        ? DecodeMembers(input, output, settings, m_tally)
        : EncodeMembers(input, output, settings, m_tally);
    m_written = m_tally.written;
    return status;
}

JobOutcome OutcomeOf(const Status& status)
{
    JobOutcome outcome;
    static_cast<Failure&>(outcome) = status.Why();
    return outcome;
}

} // namespace

JobOutcome RunFileJob(JobKind kind, const JobSource& source, const JobDestination& destination,
                      const JobOptions& options)
{
    const JobSignals signals(options.handleSignals);
    FileJob job(kind, options);
    JobOutcome outcome = OutcomeOf(AtJobEdge([&] { return job.Run(source, destination); }));
    outcome.opened = job.Opened();
    outcome.read = job.Tally().read;
    outcome.members = job.Tally().members;
    outcome.trailingBytes = job.Tally().trailing;
    // Bytes after the last member fail the job once every member is out.
    if (outcome.result == JobResult::Done || outcome.reason == Reason::TrailingData)
        outcome.written = job.Written();
    if (outcome.result == JobResult::Done) {
        outcome.linkReplaced = job.LinkReplaced();
    }
    return outcome;
}

JobOutcome SummarizeFile(const JobSource& source, const JobOptions& options,
                         std::vector<FileSummary>& members)
{
    MemberTally tally;
    JobOutcome outcome = OutcomeOf(AtJobEdge([&] {
        OpenedSource opened;
        if (!source.inMemory) {
            if (Status status = OpenSource(source, opened, true); !status.Ok())
                return status;
        }
        const ByteSource bytes = source.inMemory ? ByteSource::OfMemory(source.bytes)
                                                 : ByteSource::OfFile(opened.fd.Get());
        MemberInput input;
        if (opened.inOrder)
            input.stream = opened.fd.Get();
        else
            input.source = &bytes;
        const Status status = SummarizeMembers(input, SettingsFor(options), members, tally);
        if (status.Ok() && tally.trailing > 0)
            return TrailingFailure();
        return status;
    }));
    outcome.read = tally.read;
    outcome.members = tally.members;
    outcome.trailingBytes = tally.trailing;
    return outcome;
}

void AllowMappedReads()
{
    AllowMappedReadsOfSources();
}

void PrintFirstFormReport(const JobOutcome& outcome)
{
    if (outcome.reason == Reason::BadChecksum)
        std::fputs(kBadChecksumText, stdout);
    if (outcome.opened)
        std::fputs(kDoneLine, stdout);
    std::fflush(stdout);
}

JobResult EncodeFile(const std::string& source, const std::string& destination)
{
    const JobOutcome outcome = RunFileJob(JobKind::Encode, source, destination, JobOptions {});
    PrintFirstFormReport(outcome);
    return outcome.result;
}

JobResult DecodeFile(const std::string& source, const std::string& destination)
{
    const JobOutcome outcome = RunFileJob(JobKind::Decode, source, destination, JobOptions {});
    PrintFirstFormReport(outcome);
    return outcome.result;
}

} // namespace hufpack
