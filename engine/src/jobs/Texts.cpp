// Every text the engine has: what a failure's result and reason mean, in words any program may
// use, and the first form's two diagnostic lines.

#include "jobs/Texts.h"

#include <cstring>
#include <iterator>

namespace hufpack {

namespace {

// By result, from Done (0) down to SameFile (-4).
constexpr const char* kResults[] = {
    "done",
    "cannot be opened or written",
    "not a file this program wrote",
    "too large for this format",
    "the source and the destination are the same file",
};

// By reason, in the order Reason lists them.
constexpr const char* kReasons[] = {
    "",
    "not a regular file",
    "changed while it was being read",
    "too large for this format",
    "not a file this program wrote",
    "not a file this program wrote", // its checksum failed
    "unexpected end of file",
    "damaged: its bytes do not match its table",
    "the source and the destination are the same file",
    "is a symbolic link; unchanged",
    "has other hard links; unchanged",
    "not removed",
    "not removed: it is no longer the file that was read",
    "not removed: it changed after it was read",
    "is a symbolic link; not walked",
    "bytes after its end are not a compressed file",
    "cancelled",
};
static_assert(std::size(kReasons) == static_cast<std::size_t>(Reason::Cancelled) + 1);

} // namespace

const char* ReasonText(Reason reason)
{
    return kReasons[static_cast<std::size_t>(reason)];
}

std::string DescribeFailure(const Failure& failure)
{
    if (failure.error != 0 && failure.reason != Reason::None)
        return std::string(ReasonText(failure.reason)) + ": " + std::strerror(failure.error);
    if (failure.error != 0)
        return std::strerror(failure.error);
    if (failure.reason != Reason::None)
        return ReasonText(failure.reason);
    const int index = -static_cast<int>(failure.result);
    return index >= 0 && index < static_cast<int>(std::size(kResults)) ? kResults[index]
                                                                       : kResults[1];
}

const char* const kDoneLine = "Done.\n";
const char* const kBadChecksumText = "Bad checksum.  Invalid format........";

} // namespace hufpack
