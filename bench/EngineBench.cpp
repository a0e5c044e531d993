// Measures EncodeFile and DecodeFile on a generated 64 MiB text-like file and on any files named
// on the command line: MB/s of uncompressed data (median of the runs) and the process's peak
// resident memory.
//
//   hufpack-bench [--runs N] [--size MiB] [FILE ...]

#include "TestSupport.h"
#include "hufpack/FileJobs.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double MedianSeconds(int runs, const auto& job)
{
    std::vector<double> seconds;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        job();
        seconds.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    }
    std::sort(seconds.begin(), seconds.end());
    return seconds[seconds.size() / 2];
}

long PeakResidentKiB()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Generated a mebibyte at a time so that the generator adds little to the peak memory.
void GenerateText(const std::string& path, std::size_t mebibytes)
{
    hufpack::test::TextGenerator generator(2024);
    std::ofstream out(path, std::ios::binary);
    for (std::size_t i = 0; i < mebibytes; ++i) {
        const auto chunk = generator.Next(std::size_t { 1 } << 20);
        out.write(reinterpret_cast<const char*>(chunk.data()),
                  static_cast<std::streamsize>(chunk.size()));
    }
}

// Compares two files a block at a time, so that the check adds nothing to the peak memory.
bool SameContents(const std::string& a, const std::string& b)
{
    std::ifstream first(a, std::ios::binary);
    std::ifstream second(b, std::ios::binary);
    std::vector<char> x(1 << 16);
    std::vector<char> y(1 << 16);
    while (first && second) {
        first.read(x.data(), static_cast<std::streamsize>(x.size()));
        second.read(y.data(), static_cast<std::streamsize>(y.size()));
        if (first.gcount() != second.gcount()
            || !std::equal(x.begin(), x.begin() + first.gcount(), y.begin()))
            return false;
    }
    return !first && !second;
}

bool Measure(const std::string& label, const std::string& input, const std::string& scratch,
             int runs)
{
    const std::string packed = scratch + "/packed";
    const std::string restored = scratch + "/restored";
    const double megabytes = static_cast<double>(std::filesystem::file_size(input)) / 1e6;
    // The jobs print a line each; keep the table readable.
    std::fflush(stdout);
    const int savedOut = dup(STDOUT_FILENO);
    std::freopen("/dev/null", "w", stdout);
    hufpack::JobResult encoded = hufpack::JobResult::Done;
    hufpack::JobResult decoded = hufpack::JobResult::Done;
    const double encodeSeconds
        = MedianSeconds(runs, [&] { encoded = hufpack::EncodeFile(input, packed); });
    const double decodeSeconds
        = MedianSeconds(runs, [&] { decoded = hufpack::DecodeFile(packed, restored); });
    std::fflush(stdout);
    dup2(savedOut, STDOUT_FILENO);
    close(savedOut);

    const bool same = SameContents(input, restored);
    if (encoded != hufpack::JobResult::Done || decoded != hufpack::JobResult::Done || !same) {
        std::fprintf(stderr, "%s: round trip failed (encode %d, decode %d)\n", label.c_str(),
                     static_cast<int>(encoded), static_cast<int>(decoded));
        return false;
    }
    const double ratio = static_cast<double>(std::filesystem::file_size(packed)) / 1e6 / megabytes;
    std::printf("%-28s %9.1f MB %7.3f %10.0f %10.0f\n", label.c_str(), megabytes, ratio,
                megabytes / encodeSeconds, megabytes / decodeSeconds);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    int runs = 5;
    std::size_t mebibytes = 64;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--size" && i + 1 < argc)
            mebibytes = static_cast<std::size_t>(std::max(1, std::atoi(argv[++i])));
        else if (arg == "-h" || arg == "--help") {
            std::puts("Usage: hufpack-bench [--runs N] [--size MiB] [FILE ...]");
            return 0;
        } else
            files.push_back(arg);
    }

    hufpack::test::ScratchDir scratch;
    const std::string text = scratch / "text";
    GenerateText(text, mebibytes);

    std::printf("%-28s %12s %7s %10s %10s   (median of %d runs, files in the page cache)\n",
                "input", "size", "ratio", "enc MB/s", "dec MB/s", runs);
    bool ok = Measure("generated text", text, scratch.Path().string(), runs);
    std::filesystem::remove(text);
    for (const std::string& file : files)
        ok = Measure(std::filesystem::path(file).filename().string(), file, scratch.Path().string(),
                     runs)
            && ok;
    std::printf("peak resident memory of this process: %.1f MiB\n", PeakResidentKiB() / 1024.0);
    return ok ? 0 : 1;
}
