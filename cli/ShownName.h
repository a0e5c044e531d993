#pragma once

// How the tool shows a file's name in what it prints.

#include <cstdio>
#include <string>

// `name` as it goes to `stream`: on a terminal, every byte that is not a printable character is
// escaped, the way `ls -b` escapes it (\a, \n, \033, ...; a backslash doubled), so that a name
// can neither move the cursor, retitle the window nor clear the screen; to a pipe or a file, the
// name as it is, for the programs that read it.
std::string ShownName(const std::string& name, std::FILE* stream);
