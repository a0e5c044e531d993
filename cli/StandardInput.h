#pragma once

// Standard input as a job's source.

#include "hufpack/FileJobs.h"

#include <string>

// A file redirected at its start is read as a file; anything else (a pipe, a terminal, a file
// read from where it stands) as a stream, which the job copies into the spool folder a member
// at a time, never into memory.
[[nodiscard]] hufpack::JobSource StandardInputSource();
// Where: $TMPDIR, or /tmp.
[[nodiscard]] std::string SpoolFolder();
