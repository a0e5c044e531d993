// Every text the engine has: the dialog's messages for each result, the reasons a job gives, and
// the first form's two diagnostic lines.

#include "jobs/Texts.h"

#include <cstring>

namespace hufpack {

const char* ResultMessage(JobResult result)
{
    switch (result) {
    case JobResult::Done:
        return "Done!";
    case JobResult::CannotOpen:
        return "The source file cannot be opened / destination file cannot be written";
    case JobResult::NotOurFormat:
        return "You must only decode a file encoded by this program.";
    case JobResult::TooLarge:
        return "The source file is too large for this format.";
    case JobResult::SameFile:
        return "Please select a different destination file.";
    }
    return "Done!";
}

const char* ReasonText(Reason reason)
{
    switch (reason) {
    case Reason::None:
        return "";
    case Reason::NotRegularFile:
        return "not a regular file";
    case Reason::ChangedWhileRead:
        return "changed while it was being read";
    case Reason::TooLarge:
        return "too large for this format";
    case Reason::NotOurs:
    case Reason::BadChecksum:
        return "not a file this program wrote";
    case Reason::CutShort:
        return "unexpected end of file";
    case Reason::Damaged:
        return "damaged: its bytes do not match its table";
    case Reason::SameFile:
        return "the source and the destination are the same file";
    case Reason::SymbolicLinkSource:
        return "is a symbolic link; unchanged (-f goes on and removes the link)";
    case Reason::HardLinkedSource:
        return "has other hard links; unchanged (-f goes on and removes this name)";
    case Reason::NotRemoved:
        return "not removed";
    case Reason::NotRemovedChanged:
        return "not removed: it is no longer the file that was read";
    }
    return "";
}

std::string DescribeFailure(const Failure& failure)
{
    if (failure.error != 0 && failure.reason != Reason::None)
        return std::string(ReasonText(failure.reason)) + ": " + std::strerror(failure.error);
    if (failure.error != 0)
        return std::strerror(failure.error);
    if (failure.reason != Reason::None)
        return ReasonText(failure.reason);
    return ResultMessage(failure.result);
}

const char* const kDoneLine = "Done.\n";
const char* const kBadChecksumText = "Bad checksum.  Invalid format........";

} // namespace hufpack
