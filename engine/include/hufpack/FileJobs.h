#pragma once

#include "hufpack/JobResult.h"

#include <string>

namespace hufpack {

// Compresses the file at `source` into `destination`. The destination is written through a
// temporary file beside it and replaced only when the whole job succeeds; on any failure it is
// left exactly as it was. Jobs share one process-wide node heap: run one at a time.
[[nodiscard]] JobResult EncodeFile(const std::string& source, const std::string& destination);

// Restores a file that EncodeFile wrote, with the same all-or-nothing rule for the destination.
[[nodiscard]] JobResult DecodeFile(const std::string& source, const std::string& destination);

} // namespace hufpack
