#pragma once

// Where the output of one FILE goes, from the command line alone: standard output, the file -o
// names, nowhere (-t), or FILE's name with the suffix added or taken off; or why FILE is refused.

#include "CommandLine.h"

#include <string>

struct OutputChoice
{
    enum class Kind { File, StandardOutput, Nowhere, Refused };
    Kind kind = Kind::File;
    // The output file's name; for a refusal, why FILE is refused.
    std::string name;
};

// FILE "-" is standard input.
[[nodiscard]] OutputChoice ChooseOutput(const CommandLine& line, const std::string& file);
