#pragma once

// What the tool says: its exit statuses, one line per failure naming the file and the reason,
// and the text it prints on standard output, which must arrive.

#include "hufpack/JobResult.h"

#include <cstdint>
#include <string>

// Exit statuses, one per outcome a script may want to tell apart. With several files, the first
// failure's status.
enum ExitStatus : int {
    kExitDone = 0,
    kExitCannotOpen = 1,
    kExitUsage = 2,
    kExitNotOurFormat = 3,
    kExitTooLarge = 4,
    kExitSameFile = 5,
};

inline constexpr const char* kStandardInput = "(stdin)";
inline constexpr const char* kStandardOutput = "(stdout)";

[[nodiscard]] int ExitStatusFor(hufpack::JobResult result);
// "hufpack: PROBLEM", the usage and a pointer to --help, on standard error: exit status 2.
int UsageError(const std::string& problem);
// "hufpack: PATH: REASON" on standard error; returns `status`.
int Complain(const std::string& path, const std::string& reason, int status = kExitCannotOpen);
// Why a job failed, as the tool says it: the engine's words, and what to type to go on.
[[nodiscard]] std::string ReasonFor(const hufpack::Failure& failure);
// A job's failure, naming its source or its destination: returns its exit status.
int ReportFailure(const hufpack::JobOutcome& outcome, const std::string& source,
                  const std::string& destination);

// Which of the standard descriptors were closed when the tool started. Each is held by
// /dev/null from then on, so that no file a job opens can take its number (a spool taking
// descriptor 0 was once read as the input); a job that needs a closed one fails instead.
struct ClosedStandardDescriptors
{
    bool input = false;
    bool output = false;
    bool errors = false;
};
// Holds them; called first thing.
void HoldClosedStandardDescriptors();
[[nodiscard]] const ClosedStandardDescriptors& ClosedAtStart();

// What the tool printed on standard output as text, not data, must have arrived: a failed write
// is "hufpack: write error: REASON", and the exit status 1 unless it was a failure already.
[[nodiscard]] int FinishTextOutput(int status);

// gzip's ratio: how much of the original the compressed file saves, as "61.6%".
[[nodiscard]] std::string SavedPercent(std::int64_t compressed, std::int64_t original);
