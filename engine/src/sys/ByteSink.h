#pragma once

// Where a pass writes: a file, at any offset or in order only (a pipe, a terminal, a device);
// memory, a vector that grows or a buffer of a fixed size; or a callback that takes the bytes
// in order, as they come. One class and no virtual call.
//
// Bytes go in order (Write, after the last in-order byte; Seek moves where that is), or at an
// offset (WriteAt, where the sink allows it), from several threads at once for ranges that do
// not overlap, within the room Reserve made. Errors are sticky, as a stream's: once a write
// fails, Failed() stays true, and the job asks once at the end. A buffer too small for what is
// written fails with ENOBUFS; a callback that says stop, with ECANCELED.

#include "hufpack/JobResult.h"
#include "sys/FileStream.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

namespace hufpack {

class ByteSink
{
public:
    // Returns false to stop the job.
    using Take = std::function<bool(std::span<const std::uint8_t> bytes)>;

    // Takes over `fd`, written from where it stands; `inOrder`: nothing is written at an offset.
    [[nodiscard]] static ByteSink ToFile(int fd, bool inOrder);
    // Takes over `fd`, a new and empty file, and leaves holes where whole blocks of zeros fall
    // (WriteLeavingHoles), as cp --sparse=auto does: a disk image restored takes the room it
    // took. Close sets the file's length where it ends in a hole.
    [[nodiscard]] static ByteSink ToNewFileWithHoles(int fd);
    // Fills `bytes` from its start, growing it as needed.
    [[nodiscard]] static ByteSink ToVector(std::vector<std::uint8_t>& bytes);
    // Fills `buffer` from its start, and no further.
    [[nodiscard]] static ByteSink ToBuffer(std::span<std::uint8_t> buffer);
    // Hands the bytes to `take` in order, a block at a time.
    [[nodiscard]] static ByteSink ToCallback(Take take);

    ByteSink(const ByteSink&) = delete;
    ByteSink& operator=(const ByteSink&) = delete;
    ~ByteSink();

    // Whether bytes may be written at any offset, and by several threads at once.
    [[nodiscard]] bool Positional() const { return m_kind != Kind::Callback && !m_inOrder; }
    // Room for `size` bytes from the start before writes at offsets: a vector grows to it now,
    // a buffer must hold it. False, with the sink failed, when it cannot.
    [[nodiscard]] bool Reserve(std::int64_t size);

    void Write(const std::uint8_t* bytes, std::size_t count);
    void WriteAt(const std::uint8_t* bytes, std::size_t count, std::int64_t offset);
    // Where in-order writes go next.
    [[nodiscard]] std::int64_t Position() const { return m_position; }
    // Moves it; a sink that is not positional stays where it is, and fails if asked elsewhere.
    bool Seek(std::int64_t offset);
    // Writes out what is held back, and says whether everything so far went well.
    bool Flush();
    // Flushes, and closes a file, whose failing close fails the sink.
    bool Close();

    [[nodiscard]] bool Failed() const { return m_failed.load(std::memory_order_relaxed); }
    [[nodiscard]] int Error() const { return m_error; }
    // Done, or the failure of the job's `file` that this sink is.
    [[nodiscard]] Status Outcome(JobFile file) const
    {
        return Failed() ? Status::Fail(JobResult::CannotOpen, file, m_error) : Status();
    }

private:
    enum class Kind { File, Vector, Buffer, Callback };

    ByteSink(Kind kind, int fd, bool inOrder, std::vector<std::uint8_t>* vector,
             std::span<std::uint8_t> buffer, Take take, bool holes = false);
    void Fail(int error);
    // With holes: writes what is held, from m_heldAt.
    void WriteHeld();
    void WriteWithHoles(const std::uint8_t* bytes, std::size_t count, std::int64_t offset);
    // Whether [offset, offset + count) is within the memory the sink may write, which for a
    // vector grows when `grow` allows; fails the sink otherwise.
    bool Room(std::int64_t offset, std::size_t count, bool grow);
    void HandOn();

    Kind m_kind = Kind::File;
    bool m_inOrder = false;
    FileStream m_stream; // a file's in-order writes
    int m_fd = -1;
    std::vector<std::uint8_t>* m_vector = nullptr;
    std::span<std::uint8_t> m_buffer;
    Take m_take;
    std::vector<std::uint8_t> m_held; // a callback's bytes not yet handed on, or a file's
    bool m_holes = false;
    std::int64_t m_heldAt = 0; // with holes: where the held bytes go
    std::int64_t m_end = 0; // with holes: the end of the furthest write
    std::int64_t m_position = 0;
    std::atomic<bool> m_failed { false };
    int m_error = 0;
    std::mutex m_writing; // a file's writes at an offset, one at a time
};

} // namespace hufpack
