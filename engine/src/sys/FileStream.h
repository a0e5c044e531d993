#pragma once

// A buffered binary stream over one file descriptor, or over memory, either for reading or for
// writing.
// Single-byte Get and Put are inline and touch the descriptor only once per buffer, so the
// coder can work a byte at a time without paying a system call, a virtual call or a sentry.
// Large reads and writes bypass the buffer. The buffer is small on purpose: it stays in the
// cache, and each page a job touches for the first time costs a page fault.
// Errors are sticky: once a read or write fails, Failed() stays true and writes are dropped,
// so a job checks once at the end instead of after every byte.

#include "hufpack/JobResult.h"
#include "sys/SystemIo.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace hufpack {

class FileStream
{
public:
    static constexpr int kEof = -1;
    static constexpr std::size_t kBufferSize = kBlockBytes;

    FileStream() = default;
    ~FileStream();
    FileStream(const FileStream&) = delete;
    FileStream& operator=(const FileStream&) = delete;

    // Takes ownership of an open descriptor.
    void AttachForReading(int fd);
    // The same for a stream that goes on past what the reader needs, such as a pipe: every read
    // takes exactly the bytes asked for, none ahead, so the rest stays for whoever reads next.
    void AttachForReadingExactly(int fd);
    void AttachForWriting(int fd);
    // Reads `bytes`, which must outlive the stream, as if they were a file.
    void AttachForReading(std::span<const std::uint8_t> bytes);
    // Writes in order to the end of `bytes`, as to a file that can only be written in order.
    void AttachForWriting(std::vector<std::uint8_t>& bytes);
    [[nodiscard]] bool IsOpen() const { return m_fd >= 0; }
    // The descriptor, for positional reads and writes that bypass the buffer; -1 when closed.
    [[nodiscard]] int Descriptor() const { return m_fd; }

    // Reading.
    int Get()
    {
        if (m_pos == m_end && !Refill())
            return kEof;
        return *m_pos++;
    }
    int Peek()
    {
        if (m_pos == m_end && !Refill())
            return kEof;
        return *m_pos;
    }
    // Hands out every buffered byte (refilling first when none is), and consumes them.
    // Empty at the end of the file.
    std::span<const std::uint8_t> ReadChunk();
    // Reads up to `count` bytes; fewer only at the end of the file or on an error. Buffered
    // bytes come first; a large remainder is read straight into `destination`.
    std::size_t Read(std::uint8_t* destination, std::size_t count);

    // Writing.
    void Put(std::uint8_t byte)
    {
        if (m_pos == m_end)
            FlushBuffer();
        *m_pos++ = byte;
    }
    void Write(const std::uint8_t* source, std::size_t count);
    bool Flush();

    // Both directions. A writer asked to seek where it already is stays put.
    bool Seek(std::int64_t offset);
    // Size of the file as the system reports it now; -1 when it cannot tell.
    [[nodiscard]] std::int64_t Size() const;
    // Whether the descriptor is a regular file, which can be sized and read anywhere; a pipe or
    // a terminal can only be read in order.
    [[nodiscard]] bool IsRegularFile() const;
    // Flushes a writing stream and closes the descriptor; false when anything failed.
    bool Close();
    [[nodiscard]] bool Failed() const { return m_failed; }
    // The system's error number of the first failed call; 0 when none failed, or when the stream
    // failed because it was never attached.
    [[nodiscard]] int Error() const { return m_error; }
    // Done, or the failure of the job's `file` that this stream is.
    [[nodiscard]] Status Outcome(JobFile file) const
    {
        return m_failed ? Status::Fail(JobResult::CannotOpen, file, m_error) : Status();
    }

private:
    void Attach(int fd, bool writing);
    void Fail(int error);
    bool Refill();
    void FlushBuffer();
    [[nodiscard]] bool Writable() const;
    bool WriteAll(const std::uint8_t* data, std::size_t count);
    std::size_t ReadDirect(std::uint8_t* destination, std::size_t count);

    int m_fd = -1;
    // Memory instead of a descriptor: the bytes read, or the vector written to.
    std::span<const std::uint8_t> m_memory;
    std::vector<std::uint8_t>* m_vector = nullptr;
    bool m_writing = false;
    bool m_exactly = false;
    bool m_failed = false;
    int m_error = 0;
    std::unique_ptr<std::uint8_t[]> m_buffer;
    // Reading: [m_pos, m_end) is unread buffered data. Writing: [buffer, m_pos) is pending
    // output and m_end is the buffer's end. Both null until attached, so every access refills
    // or flushes first, and an unattached stream reads as empty and fails on write.
    std::uint8_t* m_pos = nullptr;
    std::uint8_t* m_end = nullptr;
    // Writing: the offset in the file of the buffer's first byte, counted from the attach.
    std::int64_t m_bufferOffset = 0;
};

} // namespace hufpack
