#pragma once

// The first form's two diagnostic texts, beside every other text of the engine (Texts.cpp).

#include "hufpack/JobResult.h"

namespace hufpack {

// "Done." and its line end, after every job of the first form that opened both files.
extern const char* const kDoneLine;
// Before it, with no line end of its own, for a file whose checksum fails.
extern const char* const kBadChecksumText;

} // namespace hufpack
