#pragma once

// Reading and writing a descriptor fully: every loop over read, write, pread and pwrite is here.
// A call that the kernel interrupts (EINTR) is made again, and a short transfer goes on from
// where it stopped. Positional calls leave the descriptor's offset alone, so several threads
// may use one descriptor this way at once.

#include <cstddef>
#include <cstdint>

namespace hufpack {

// The block every pass reads and writes in: large enough that a system call costs little per
// byte, small enough to stay in the cache.
inline constexpr std::size_t kBlockBytes = std::size_t { 256 } << 10;

// One read of up to `count` bytes at the descriptor's position: how many came (0 at the end of
// the file), or -1 on an error (errno says which).
std::int64_t ReadSome(int fd, std::uint8_t* destination, std::size_t count);
// Reads until `count` bytes are in or the file ends: how many came, or -1 on an error.
std::int64_t ReadFully(int fd, std::uint8_t* destination, std::size_t count);
// The same at `offset`.
std::int64_t ReadAt(int fd, std::uint8_t* destination, std::size_t count, std::int64_t offset);
// Writes all `count` bytes at the descriptor's position, for one that cannot seek (a pipe) too;
// false on an error (errno says which).
bool WriteFully(int fd, const std::uint8_t* source, std::size_t count);
// The same at `offset`.
bool WriteAt(int fd, const std::uint8_t* source, std::size_t count, std::int64_t offset);

// The blocks a file's holes are made of: the smallest any file system allocates.
inline constexpr std::size_t kHoleBytes = 4096;
// Writes `count` bytes at `offset` of a file where nothing was written in that range before,
// leaving out each piece of zeros between two multiples of kHoleBytes: a file system makes a
// hole of every whole block so left out, and the range reads back as written. The file's
// length is the caller's to set (ftruncate) where it ends in a hole.
bool WriteLeavingHoles(int fd, const std::uint8_t* source, std::size_t count, std::int64_t offset);

} // namespace hufpack
