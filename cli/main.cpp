// hufpack: compresses and restores files from the command line, the way gzip, xz and zstd do, and
// keeps the two commands of its first form for the scripts that use them.

#include "CommandLine.h"
#include "FileRunner.h"
#include "Reporting.h"
#include "ShownName.h"
#include "hufpack/FileJobs.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

namespace {

constexpr const char* kHelp
    = "Compresses files with static Huffman coding over byte values, or restores them.\n"
      "Each FILE becomes FILE.huf; with -d, each FILE.huf becomes FILE. The source is kept.\n"
      "With no FILE, or when FILE is -, standard input goes to standard output.\n"
      "\n"
      "  -d, --decompress     restore instead of compressing\n"
      "  -z, --compress       compress (the default)\n"
      "  -c, --stdout         write to standard output and keep every file as it is\n"
      "  -o, --output=FILE    write the output of the one FILE to FILE\n"
      "  -f, --force          replace existing output files; write compressed data to a\n"
      "                       terminal; compress a file that already has the suffix\n"
      "  -k, --keep           keep the source files (the default)\n"
      "      --rm             remove each source once its output is complete and synced\n"
      "  -S, --suffix=SUF     use the suffix SUF instead of .huf\n"
      "  -r, --recursive      compress every file in the folders named and in theirs (with\n"
      "                       -d, -t or -l: every file with the suffix); links not followed\n"
      "  -t, --test           check each compressed FILE fully, writing nothing\n"
      "  -l, --list           show the sizes and code of each compressed FILE\n"
      "  -v, --verbose        say what was done with each file\n"
      "  -q, --quiet          show no progress\n"
      "      --progress       show progress even for short jobs and off a terminal\n"
      "      --no-progress    show no progress; of it and --progress, the last one wins\n"
      "  -T, --threads=N      use at most N threads in all; 0, the default, is one per\n"
      "                       processor (HUFPACK_THREADS says it too; the option wins)\n"
      "  -1 ... -9, --fast, --best\n"
      "                       taken, as gzip takes them, and changing nothing: the format has\n"
      "                       one code, so the output is the same\n"
      "      --sync           sync each output to the disk before going on\n"
      "  -h, --help           show this help and exit\n"
      "  -V, --version        show the version and exit\n"
      "\n"
      "The first form's commands write one DEST each and print \"Done.\":\n"
      "  encode SOURCE DEST   compress SOURCE into DEST\n"
      "  decode SOURCE DEST   restore the file that SOURCE was compressed from, into DEST\n"
      "\n"
      "A compressed file may hold several members, one after another, as gzip's may: -d, -t\n"
      "and -l read them all, and a source one member cannot hold is written as several.\n"
      "\n"
      "An output file is written completely or not at all: on any failure an existing one\n"
      "keeps its bytes. Output to standard output cannot be taken back: a damaged file is\n"
      "found only at its end, and then exits 3.\n"
      "\n"
      "Exit status: 0 done; 1 a file cannot be opened or written, an output already exists,\n"
      "or a file is refused; 2 wrong usage; 3 a file is not one this program wrote, or it is\n"
      "damaged, or bytes after its last member are not; 4 in the first form, a source is too\n"
      "large for one compressed file (the files form writes several members); 5 a source and\n"
      "its output are the same file. With several files, the status of the first failure.\n";

// HUFPACK_THREADS, as zstd reads ZSTD_NBTHREADS: 0 (one per processor) when unset, or when it is
// not a number of threads, which is said.
int ThreadsFromEnvironment()
{
    const char* const text = std::getenv("HUFPACK_THREADS");
    int threads = 0;
    if (text && *text && !ParseThreads(text, threads)) {
        std::fprintf(stderr, "hufpack: HUFPACK_THREADS='%s' is not a number of threads; ignored\n",
                     ShownName(text, stderr).c_str());
        threads = 0;
    }
    return threads;
}

// One FILE named on the command line, resolved once by the engine: with -r, a folder is walked,
// and of its files the action takes, to compress, those without the suffix (one that has it is
// passed over, with a note, unless -f says to compress it again); to restore, test or list,
// those with it. A folder that cannot be read is a failure, and the walk goes on.
void VisitNamed(const CommandLine& line, const std::string& path,
                const std::function<void(const hufpack::FoundFile&)>& run)
{
    hufpack::VisitFiles(path, line.recursive, [&](const hufpack::FoundFile& file) {
        if (!file.walked || file.error != 0) {
            run(file);
            return;
        }
        const std::string& name = file.name;
        const bool suffixed = name.size() > line.suffix.size()
            && name.compare(name.size() - line.suffix.size(), line.suffix.size(), line.suffix) == 0;
        if (line.action != CommandLine::Action::Compress) {
            if (suffixed)
                run(file);
        } else if (suffixed && !line.force) {
            if (!line.quiet)
                std::fprintf(stderr, "hufpack: %s: already has the %s suffix; unchanged\n",
                             ShownName(file.path, stderr).c_str(),
                             ShownName(line.suffix, stderr).c_str());
        } else {
            run(file);
        }
    });
}

// The first form: `hufpack encode|decode SOURCE DEST`, exactly as scripts know it, with its
// report on standard output.
int RunVerb(const CommandLine& line)
{
    const std::string& source = line.files[0];
    const std::string& destination = line.files[1];
    hufpack::JobOptions options;
    options.replace = line.force;
    options.sync = line.sync;
    const hufpack::JobOutcome outcome = hufpack::RunFileJob(
        line.action == CommandLine::Action::Compress ? hufpack::JobKind::Encode
                                                     : hufpack::JobKind::Decode,
        source, destination, options);
    hufpack::PrintFirstFormReport(outcome);
    if (outcome.result != hufpack::JobResult::Done)
        return ReportFailure(outcome, source, destination);
    return kExitDone;
}

} // namespace

int main(int argc, char** argv)
{
    HoldClosedStandardDescriptors();
    // A closed standard output must not turn a finished job of the first form into a failure:
    // "Done." is written last, and a write that fails is simply lost. Data written to a closed
    // pipe fails the job, which then ends as a program in a pipeline ends, by SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    CommandLine line;
    std::string problem;
    if (!ParseCommandLine(argc, argv, line, problem))
        return UsageError(problem);
    if (line.help) {
        std::printf("%s\n%s", kUsage, kHelp);
        return FinishTextOutput(kExitDone);
    }
    if (line.version) {
        std::printf("hufpack %s\n", HUFPACK_VERSION);
        return FinishTextOutput(kExitDone);
    }
    if (line.verbForm)
        return RunVerb(line);

    if (!line.threads)
        line.threads = ThreadsFromEnvironment();
    if (line.files.empty())
        line.files.emplace_back("-");
    FileRunner runner(line);
    int status = kExitDone;
    const auto run = [&](const hufpack::FoundFile& file) {
        const int fileStatus = runner.Run(file);
        if (status == kExitDone)
            status = fileStatus;
    };
    for (const std::string& file : line.files) {
        if (file == "-") {
            hufpack::FoundFile standardInput;
            standardInput.path = file;
            run(standardInput);
        } else {
            VisitNamed(line, file, run);
        }
    }
    if (line.action == CommandLine::Action::List) {
        runner.FinishList();
        return FinishTextOutput(status);
    }
    return status;
}
