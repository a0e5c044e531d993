#pragma once

// Memory that a job may do without: an allocation that gives null instead of throwing, for the
// places where a smaller plan is the way on when memory is short. Everywhere else a failed
// allocation throws, and the job's edge turns it into ENOMEM.

#include <cstddef>
#include <memory>
#include <new>

namespace hufpack {

// `count` default-initialised elements, or null.
template<typename T> [[nodiscard]] std::unique_ptr<T[]> TryNew(std::size_t count)
{
    return std::unique_ptr<T[]>(new (std::nothrow) T[count]);
}

} // namespace hufpack
