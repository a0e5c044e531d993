#pragma once

// Where a pass reads: a range at any offset, of a file (read with pread, so that several threads
// may read one source at once) or of memory (read where it stands, without a copy). One class
// and no virtual call: the passes read a block at a time.

#include <cstddef>
#include <cstdint>
#include <span>

namespace hufpack {

class ByteSource
{
public:
    // The file open as `fd`, which stays the caller's.
    [[nodiscard]] static ByteSource OfFile(int fd);
    // Bytes in memory, which must outlive the source.
    [[nodiscard]] static ByteSource OfMemory(std::span<const std::uint8_t> bytes);

    // Reads up to `count` bytes at `offset` into `destination`: how many came, fewer only at
    // the end, or -1 on an error (errno says which).
    [[nodiscard]] std::int64_t ReadAt(std::uint8_t* destination, std::size_t count,
                                      std::int64_t offset) const;
    // The bytes at [offset, offset + count), fewer at the end, where they stand in memory: for
    // a source in memory, read without a copy. Empty for a file, which ReadAt reads.
    [[nodiscard]] std::span<const std::uint8_t> View(std::int64_t offset, std::size_t count) const;
    [[nodiscard]] bool InMemory() const { return m_fd < 0; }
    // Its size as the system says it now; -1 when it cannot tell.
    [[nodiscard]] std::int64_t Size() const;

private:
    int m_fd = -1;
    std::span<const std::uint8_t> m_bytes;
};

} // namespace hufpack
