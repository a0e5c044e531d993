// A write that fails after the files are open (here: the file size limit, which fails write()
// with EFBIG the way a full disk fails it with ENOSPC) must be reported, and must not cost the
// old destination its bytes. The limit's signal, SIGXFSZ, is left at its default, which would end
// the process: the job itself ignores it while it runs.

#include "TestSupport.h"
#include "hufpack/FileJobs.h"

#include <cerrno>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>

namespace hufpack {
namespace {

// Lowers the file size limit for the scope; the kernel then fails writes past it.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        rlimit lowered = m_saved;
        lowered.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &m_saved); }

private:
    rlimit m_saved {};
};

TEST(WriteFailure, IsReportedAndTheDestinationKeepsItsBytes)
{
    test::ScratchDir dir;
    const test::Bytes source = test::RandomBytes(3 << 20, 5);
    test::WriteFile(dir / "source", source);
    test::WriteFile(dir / "packed", test::BytesOf("old packed"));
    test::WriteFile(dir / "restored", test::BytesOf("old restored"));
    testing::internal::CaptureStdout();
    ASSERT_EQ(EncodeFile(dir / "source", dir / "good"), JobResult::Done);
    const auto before = dir.List();

    ASSERT_EQ(std::signal(SIGXFSZ, SIG_DFL), SIG_DFL);
    JobOutcome encoded;
    JobOutcome decoded;
    {
        const FileSizeLimit limit(1 << 20);
        encoded = RunFileJob(JobKind::Encode, dir / "source", dir / "packed", JobOptions {});
        decoded = RunFileJob(JobKind::Decode, dir / "good", dir / "restored", JobOptions {});
    }
    testing::internal::GetCapturedStdout();
    for (const JobOutcome& outcome : { encoded, decoded }) {
        EXPECT_EQ(outcome.result, JobResult::CannotOpen) << "a failed write is not success";
        EXPECT_EQ(outcome.file, JobFile::Destination) << "it is the destination's failure";
        EXPECT_EQ(outcome.error, EFBIG) << "with the system's reason";
    }
    EXPECT_EQ(std::signal(SIGXFSZ, SIG_DFL), SIG_DFL) << "the job puts the signal back";
    EXPECT_EQ(test::ReadFile(dir / "packed"), test::BytesOf("old packed"));
    EXPECT_EQ(test::ReadFile(dir / "restored"), test::BytesOf("old restored"));
    EXPECT_EQ(dir.List(), before) << "no temporary file is left behind";
}

} // namespace
} // namespace hufpack
