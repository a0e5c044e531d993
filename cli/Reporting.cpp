// The tool's messages, exit statuses and standard descriptors.

#include "Reporting.h"

#include "CommandLine.h"
#include "ShownName.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

ClosedStandardDescriptors g_closed;

} // namespace

int UsageError(const std::string& problem)
{
    // The problem quotes what was typed, which is shown as a name is.
    std::fprintf(stderr, "hufpack: %s\n%sTry 'hufpack --help' for more information.\n",
                 ShownName(problem, stderr).c_str(), kUsage);
    return kExitUsage;
}

int ExitStatusFor(hufpack::JobResult result)
{
    switch (result) {
    case hufpack::JobResult::Done:
        return kExitDone;
    case hufpack::JobResult::CannotOpen:
        return kExitCannotOpen;
    case hufpack::JobResult::NotOurFormat:
        return kExitNotOurFormat;
    case hufpack::JobResult::TooLarge:
        return kExitTooLarge;
    case hufpack::JobResult::SameFile:
        return kExitSameFile;
    }
    return kExitCannotOpen;
}

int Complain(const std::string& path, const std::string& reason, int status)
{
    // A reason may quote what the user typed (a suffix), so it is shown as a name is.
    std::fprintf(stderr, "hufpack: %s: %s\n", ShownName(path, stderr).c_str(),
                 ShownName(reason, stderr).c_str());
    return status;
}

void HoldClosedStandardDescriptors()
{
    ClosedStandardDescriptors& closed = g_closed;
    bool* const flags[] = { &closed.input, &closed.output, &closed.errors };
    for (int fd = 0; fd < 3; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        *flags[fd] = true;
        // The lowest free number is this one.
        const int held = ::open("/dev/null", O_RDWR);
        if (held >= 0 && held != fd)
            ::close(held);
    }
}

const ClosedStandardDescriptors& ClosedAtStart()
{
    return g_closed;
}

// What the tool printed on standard output, as text rather than data, must have arrived: a
// failed write is an error, as it is for gzip and coreutils.
int FinishTextOutput(int status)
{
    errno = 0;
    if (g_closed.output)
        errno = EBADF;
    else if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return status;
    if (errno == 0)
        std::fputs("hufpack: write error\n", stderr);
    else
        std::fprintf(stderr, "hufpack: write error: %s\n", std::strerror(errno));
    return status == kExitDone ? kExitCannotOpen : status;
}

std::string ReasonFor(const hufpack::Failure& failure)
{
    std::string reason = hufpack::DescribeFailure(failure);
    switch (failure.reason) {
    case hufpack::Reason::SymbolicLinkSource:
        return reason + " (-f goes on and removes the link)";
    case hufpack::Reason::HardLinkedSource:
        return reason + " (-f goes on and removes this name)";
    case hufpack::Reason::LinkNotWalked:
        return reason + " (name the folder itself)";
    default:
        return reason;
    }
}

int ReportFailure(const hufpack::JobOutcome& outcome, const std::string& source,
                  const std::string& destination)
{
    const bool aboutDestination = outcome.file == hufpack::JobFile::Destination;
    std::string reason = aboutDestination && outcome.error == EEXIST
        ? "already exists; use -f to replace it"
        : ReasonFor(outcome);
    if (outcome.reason == hufpack::Reason::TrailingData) {
        const bool one = outcome.trailingBytes == 1;
        char text[96];
        std::snprintf(text, sizeof text, "%lld byte%s after member %d %s not a compressed file",
                      static_cast<long long>(outcome.trailingBytes), one ? "" : "s",
                      outcome.members, one ? "is" : "are");
        reason = text;
    }
    if (outcome.file == hufpack::JobFile::None)
        std::fprintf(stderr, "hufpack: %s\n", reason.c_str());
    else
        Complain(aboutDestination ? destination : source, reason);
    return ExitStatusFor(outcome.result);
}

std::string SavedPercent(std::int64_t compressed, std::int64_t original)
{
    char text[16];
    std::snprintf(text, sizeof text, "%.1f%%",
                  original > 0 ? 100.0 * (1.0 - static_cast<double>(compressed) / original) : 0.0);
    return text;
}
