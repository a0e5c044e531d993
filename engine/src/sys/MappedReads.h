#pragma once

// Reading a file through a mapping rather than copies of it: the passes read the page cache
// where it stands. But a file that shrinks while it is mapped makes the next touch of a page
// past its new end a SIGBUS, which would end the process. So the reads of a mapping run inside
// GuardedRead, on whichever thread: a SIGBUS there becomes a read that failed, and the job fails
// as for any source that changed while it was read. Any other SIGBUS ends the process as ever.
//
// The handler is the process's own business, so the engine installs it only for a program that
// asks (AllowMappedReads, hufpack/FileJobs.h); without it, files are read with pread.

#include <cstddef>
#include <cstdint>
#include <span>

namespace hufpack {

// Installs the process's SIGBUS handler, once; from then on sources may be mapped.
void AllowMappedReadsOfSources();
[[nodiscard]] bool MappedReadsAllowed();

// Runs `work` (a callable that only reads memory, holds no lock and owns nothing that needs
// destroying, since a fault leaves it where it was): false when a read of a mapping faulted.
template<typename Work> [[nodiscard]] bool GuardedRead(Work&& work)
{
    return GuardedCall([](void* context) { (*static_cast<Work*>(context))(); }, &work);
}
[[nodiscard]] bool GuardedCall(void (*call)(void* context), void* context);

// A range of a file mapped for reading, its pages read in at once; unmapped with the object,
// so that what a pass has read leaves the process's memory as it goes. Empty when it cannot be
// mapped (mapped reads not allowed, a file system that maps nothing).
class Mapping
{
public:
    Mapping() = default;
    // The `length` bytes of `fd` from `offset` on.
    Mapping(int fd, std::int64_t offset, std::size_t length);
    ~Mapping();
    Mapping(Mapping&& other) noexcept;
    Mapping& operator=(Mapping&& other) noexcept;
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;

    // The range's bytes, from `offset`; read them inside GuardedRead.
    [[nodiscard]] std::span<const std::uint8_t> Bytes() const { return m_bytes; }

private:
    void Unmap();

    void* m_mapped = nullptr;
    std::size_t m_mappedSize = 0;
    std::span<const std::uint8_t> m_bytes;
};

} // namespace hufpack
