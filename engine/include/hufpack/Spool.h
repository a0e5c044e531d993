#pragma once

// Data that arrives once, from a pipe or a terminal, made into a file a job can read: the format
// needs every count before the first code, so a source is read twice.

#include <string>

namespace hufpack {

// Copies everything `input` gives, to its end, into a new file in `folder` that has no name
// (O_TMPFILE; where the file system has no unnamed files, one made under a unique name and
// unlinked at once), so that it goes away with its last descriptor, and returns that file's
// descriptor. The data goes to the file system, never into memory. -1 when it cannot be done:
// errno says why, and `inputFailed` whether reading `input` failed rather than making or writing
// the file.
[[nodiscard]] int SpoolToUnnamedFile(int input, const std::string& folder, bool& inputFailed);

} // namespace hufpack
