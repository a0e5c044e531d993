// Where each FILE's output goes, decided from the command line alone: the rules gzip users know,
// checked without starting a process.

#include "OutputName.h"

#include "CommandLine.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using Kind = OutputChoice::Kind;

TEST(OutputName, FollowsTheSuffixTheOptionsAndStandardInput)
{
    const struct
    {
        std::vector<std::string> args;
        const char* file;
        Kind kind;
        const char* name; // the output's name, or why the file is refused
    } cases[] = {
        { {}, "notes.txt", Kind::File, "notes.txt.huf" },
        { { "-d" }, "notes.txt.huf", Kind::File, "notes.txt" },
        { { "-d" }, "dir/a.b.huf", Kind::File, "dir/a.b" },
        { { "-S", ".hp" }, "notes.txt", Kind::File, "notes.txt.hp" },
        { { "-d", "-S", ".hp" }, "notes.txt.hp", Kind::File, "notes.txt" },
        // A name would be lost, or made up.
        { {}, "notes.huf", Kind::Refused, "already has the .huf suffix; unchanged" },
        { { "-f" }, "notes.huf", Kind::File, "notes.huf.huf" },
        { { "-d" }, "notes.txt", Kind::Refused, "unknown suffix, not .huf; ignored" },
        { { "-d" }, ".huf", Kind::Refused, "unknown suffix, not .huf; ignored" },
        { { "-d" }, "dir/.huf", Kind::Refused, "unknown suffix, not .huf; ignored" },
        // Named outputs and standard output.
        { { "-o", "out" }, "notes.txt", Kind::File, "out" },
        { { "-d", "-o", "out" }, "anything", Kind::File, "out" },
        { { "-c" }, "notes.txt", Kind::StandardOutput, "" },
        { { "-o", "-" }, "notes.txt", Kind::StandardOutput, "" },
        { {}, "-", Kind::StandardOutput, "" },
        { { "-o", "out" }, "-", Kind::File, "out" },
        { { "-t" }, "notes.txt.huf", Kind::Nowhere, "" },
        { { "-l" }, "notes.txt", Kind::Nowhere, "" },
    };
    for (const auto& c : cases) {
        std::vector<std::string> words { "hufpack" };
        words.insert(words.end(), c.args.begin(), c.args.end());
        words.emplace_back(c.file);
        std::string trace;
        std::vector<char*> argv;
        for (std::string& word : words) {
            argv.push_back(word.data());
            trace += word + " ";
        }
        SCOPED_TRACE(trace);
        CommandLine line;
        std::string problem;
        ASSERT_TRUE(ParseCommandLine(static_cast<int>(argv.size()), argv.data(), line, problem))
            << problem;
        const OutputChoice choice = ChooseOutput(line, c.file);
        EXPECT_EQ(choice.kind, c.kind);
        EXPECT_EQ(choice.name, c.name);
    }
}

} // namespace
