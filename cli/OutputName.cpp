// Choosing a file's output name.

#include "OutputName.h"

namespace {

bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size()
        && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

OutputChoice Refuse(std::string why)
{
    return { OutputChoice::Kind::Refused, std::move(why) };
}

} // namespace

OutputChoice ChooseOutput(const CommandLine& line, const std::string& file)
{
    using Action = CommandLine::Action;
    using Kind = OutputChoice::Kind;
    const bool fromStdin = file == "-";
    if (line.action == Action::Test || line.action == Action::List)
        return { Kind::Nowhere, {} };
    if (line.toStdout || line.output == "-" || line.output == kDevStdout
        || (fromStdin && line.output.empty()))
        return { Kind::StandardOutput, {} };
    if (!line.output.empty())
        return { Kind::File, line.output };
    if (line.action == Action::Compress) {
        if (EndsWith(file, line.suffix) && !line.force)
            return Refuse("already has the " + line.suffix + " suffix; unchanged");
        return { Kind::File, file + line.suffix };
    }
    // A name that is the suffix alone, or a folder's, has no name left without it.
    if (!EndsWith(file, line.suffix) || file.size() == line.suffix.size()
        || file[file.size() - line.suffix.size() - 1] == '/')
        return Refuse("unknown suffix, not " + line.suffix + "; ignored");
    return { Kind::File, file.substr(0, file.size() - line.suffix.size()) };
}
