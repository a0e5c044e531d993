// An allocation that fails anywhere in a job fails the job with ENOMEM: it never ends the process,
// never leaves the shared node heap holding a half-built tree, and loses nothing. Every
// allocation of the process goes through the operator new below, which can be told to fail
// from the n-th allocation on, as a machine out of memory does.

#include "TestSupport.h"
#include "code/NodeHeap.h"
#include "hufpack/FileJobs.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <gtest/gtest.h>
#include <new>

namespace {

std::atomic<bool> g_failing { false };
std::atomic<long> g_allowed { 0 };

} // namespace

// The replacements pair with each other: GCC cannot see that free() matches this new.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t size)
{
    if (g_failing.load(std::memory_order_relaxed)
        && g_allowed.fetch_sub(1, std::memory_order_relaxed) <= 0)
        throw std::bad_alloc();
    if (void* memory = std::malloc(size ? size : 1))
        return memory;
    throw std::bad_alloc();
}

void operator delete(void* memory) noexcept
{
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept
{
    std::free(memory);
}

namespace hufpack {
namespace {

// Allocations fail from the `allowed`-th on, for the scope.
class OutOfMemory
{
public:
    explicit OutOfMemory(long allowed)
    {
        g_allowed = allowed;
        g_failing = true;
    }
    ~OutOfMemory() { g_failing = false; }
};

JobOptions Quiet()
{
    JobOptions options;
    return options;
}

TEST(AllocationFailure, FailsTheJobAndChangesNothing)
{
    const test::Bytes text = test::TextLikeBytes(3 << 20, 12);
    test::ScratchDir data;
    test::WriteFile(data / "text", text);
    ASSERT_EQ(RunFileJob(JobKind::Encode, data / "text", data / "packed", Quiet()).result,
              JobResult::Done);
    const test::Bytes packed = test::ReadFile(data / "packed");
    const test::Bytes old = test::BytesOf("the old destination");

    for (const JobKind kind : { JobKind::Encode, JobKind::Decode }) {
        const JobSource source(data / (kind == JobKind::Encode ? "text" : "packed"));
        const test::Bytes& whole = kind == JobKind::Encode ? packed : text;
        int failures = 0;
        for (long allowed = 0;; ++allowed) {
            SCOPED_TRACE((kind == JobKind::Encode ? "encoding, " : "decoding, ")
                         + std::to_string(allowed) + " allocations allowed");
            test::ScratchDir dir;
            test::WriteFile(dir / "dest", old);
            const JobDestination destination(dir / "dest");
            const JobOptions options = Quiet();
            JobOutcome outcome;
            {
                const OutOfMemory limit(allowed);
                outcome = RunFileJob(kind, source, destination, options);
            }
            EXPECT_TRUE(TheNodeHeap().IsEmpty()) << "the shared node heap is left empty";
            if (outcome.result == JobResult::Done) {
                EXPECT_TRUE(test::ReadFile(dir / "dest") == whole) << "a job that ran is whole";
                break;
            }
            ++failures;
            EXPECT_EQ(outcome.result, JobResult::CannotOpen);
            EXPECT_EQ(outcome.error, ENOMEM) << "the failure says why";
            EXPECT_EQ(dir.List(), std::vector<std::string> { "dest" }) << "nothing is left";
            EXPECT_EQ(test::ReadFile(dir / "dest"), old) << "the destination keeps its bytes";
            ASSERT_LT(allowed, 100000) << "a job needs a bounded number of allocations";
        }
        EXPECT_GT(failures, 10) << "the job allocates as it goes, so failures were met on the way";
    }
}

} // namespace
} // namespace hufpack
