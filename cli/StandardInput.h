#pragma once

// Standard input as a file a job can read.

#include "CommandLine.h"

// Input redirected from a file at its start is used as it is; anything else is copied first,
// as far as the job needs it, into a file without a name in $TMPDIR. For a listing, a pipe is
// read as it stands. The descriptor, or -1 with the message said and `status` the exit status.
[[nodiscard]] int StandardInputAsFile(CommandLine::Action action, int& status);
