#pragma once

// The files form: the command line's action on one FILE after another, and the listing's
// totals.

#include "CommandLine.h"
#include "hufpack/FileJobs.h"

#include <cstdint>
#include <string>

class FileRunner
{
public:
    explicit FileRunner(const CommandLine& line) : m_line(line) { }

    // Runs the action on one FILE, as the engine found it (a FoundFile without a folder is
    // standard input); its exit status.
    int Run(const hufpack::FoundFile& file);
    // The listing's totals line, when several files were listed.
    void FinishList() const;

private:
    int List(const hufpack::JobSource& source, const std::string& name);
    void ListLine(const hufpack::FileSummary& summary, const std::string& name) const;
    void Verbose(const std::string& name, const std::string& outputName, std::int64_t in,
                 std::int64_t out, double seconds) const;

    const CommandLine& m_line;
    int m_listed = 0;
    std::int64_t m_listedCompressed = 0;
    std::int64_t m_listedOriginal = 0;
};
