#pragma once

// Where a pass reads: a range at any offset, of a file (read with pread, so that several threads
// may read one source at once, or through a mapping of the range where the program allows
// mapped reads) or of memory (read where it stands). One class and no virtual call: the passes
// read a block at a time. A mapping's bytes are read inside GuardedRead (sys/MappedReads.h),
// since the file may shrink under them.

#include "sys/MappedReads.h"

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
    // The same, whose ranges a pass may read through mappings (MapRange) where the program
    // allows mapped reads.
    [[nodiscard]] static ByteSource OfMappableFile(int fd);

    // Reads up to `count` bytes at `offset` into `destination`: how many came, fewer only at
    // the end, or -1 on an error (errno says which).
    [[nodiscard]] std::int64_t ReadAt(std::uint8_t* destination, std::size_t count,
                                      std::int64_t offset) const;
    // The bytes at [offset, offset + count), fewer at the end, where they stand in memory, read
    // without a copy. Empty for a file.
    [[nodiscard]] std::span<const std::uint8_t> View(std::int64_t offset, std::size_t count) const;
    [[nodiscard]] bool InMemory() const { return m_fd < 0; }
    // Whether MapRange may map its ranges.
    [[nodiscard]] bool Mappable() const;
    // The range [offset, offset + count) mapped, to be read inside GuardedRead; empty when it
    // cannot be mapped, and then ReadAt reads it.
    [[nodiscard]] Mapping MapRange(std::int64_t offset, std::size_t count) const;
    // Its size as the system says it now; -1 when it cannot tell.
    [[nodiscard]] std::int64_t Size() const;

private:
    int m_fd = -1;
    bool m_mappable = false;
    std::span<const std::uint8_t> m_bytes;
};

} // namespace hufpack
