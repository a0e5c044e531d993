#pragma once

// Which build of the coding and decoding loops this processor runs: every x86-64 runs the
// portable one; one with BMI2 runs the build whose shifts take their count in any register and
// leave the flags alone, since most of both loops is variable shifts. Chosen once per process,
// for both directions; a pass may be asked for another (a test, the portable build).

namespace hufpack {

enum class ProcessorBuild { Portable, Bmi2 };

[[nodiscard]] ProcessorBuild ChosenBuild();

} // namespace hufpack
