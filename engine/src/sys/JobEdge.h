#pragma once

// The edge of a job, where an allocation that failed anywhere below becomes its failure: the
// one place, besides each worker thread's edge (sys/Threads.h), that catches it.

#include "hufpack/JobResult.h"

#include <cerrno>
#include <new>

namespace hufpack {

template<typename Work> [[nodiscard]] Status AtJobEdge(Work work)
{
    try {
        return work();
    } catch (const std::bad_alloc&) {
        return Status::Fail(JobResult::CannotOpen, JobFile::None, ENOMEM);
    }
}

} // namespace hufpack
