// Reading standard input: as it is, or through a spool.

#include "StandardInput.h"

#include "Reporting.h"
#include "hufpack/Spool.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

int StandardInputAsFile(CommandLine::Action action, int& status)
{
    status = kExitDone;
    struct stat info
    {
    };
    const bool file = ::fstat(0, &info) == 0 && S_ISREG(info.st_mode);
    if (file && ::lseek(0, 0, SEEK_CUR) == 0)
        return ::fcntl(0, F_DUPFD_CLOEXEC, 0);
    if (!file && action == CommandLine::Action::List)
        return ::fcntl(0, F_DUPFD_CLOEXEC, 0);
    const char* tmpdir = std::getenv("TMPDIR");
    const std::string folder = tmpdir && *tmpdir ? tmpdir : "/tmp";
    const hufpack::SpoolFor what = action == CommandLine::Action::Compress
        ? hufpack::SpoolFor::Compressing
        : action == CommandLine::Action::List ? hufpack::SpoolFor::Listing
                                              : hufpack::SpoolFor::Decoding;
    int fd = -1;
    const hufpack::JobOutcome outcome = hufpack::SpoolToUnnamedFile(0, folder, what, fd);
    if (outcome.result == hufpack::JobResult::TooLarge)
        status = Complain(kStandardInput, "too large for this format", kExitTooLarge);
    else if (outcome.file == hufpack::JobFile::Source)
        status = Complain(kStandardInput, std::strerror(outcome.error));
    else if (outcome.result != hufpack::JobResult::Done)
        status = Complain("spooling standard input into " + folder, std::strerror(outcome.error));
    return fd;
}
