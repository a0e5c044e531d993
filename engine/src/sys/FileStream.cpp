// The buffered file stream's reads, writes, seeks and close.

#include "sys/FileStream.h"

#include "sys/SystemIo.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace hufpack {

FileStream::~FileStream()
{
    Close();
}

void FileStream::AttachForReading(int fd)
{
    Attach(fd, false);
}

void FileStream::AttachForReadingExactly(int fd)
{
    Attach(fd, false);
    m_exactly = true;
}

void FileStream::AttachForWriting(int fd)
{
    Attach(fd, true);
}

void FileStream::AttachForReading(std::span<const std::uint8_t> bytes)
{
    Attach(-1, false);
    m_failed = false;
    m_memory = bytes;
    // The buffer is the memory itself: it never needs a refill.
    m_pos = const_cast<std::uint8_t*>(bytes.data());
    m_end = m_pos + bytes.size();
}

void FileStream::AttachForWriting(std::vector<std::uint8_t>& bytes)
{
    Attach(-1, true);
    m_failed = false;
    m_vector = &bytes;
}

void FileStream::Attach(int fd, bool writing)
{
    Close();
    m_memory = {};
    m_vector = nullptr;
    m_fd = fd;
    m_writing = writing;
    m_exactly = false;
    m_failed = fd < 0;
    m_error = 0;
    m_bufferOffset = 0;
    if (!m_buffer)
        m_buffer = std::make_unique_for_overwrite<std::uint8_t[]>(kBufferSize);
    m_pos = m_buffer.get();
    m_end = writing ? m_buffer.get() + kBufferSize : m_buffer.get();
}

void FileStream::Fail(int error)
{
    if (!m_failed)
        m_error = error;
    m_failed = true;
}

bool FileStream::Refill()
{
    if (m_writing || m_fd < 0 || m_failed)
        return false;
    const std::int64_t got = ReadSome(m_fd, m_buffer.get(), kBufferSize);
    if (got > 0) {
        m_pos = m_buffer.get();
        m_end = m_pos + got;
        return true;
    }
    if (got < 0)
        Fail(errno);
    return false;
}

std::span<const std::uint8_t> FileStream::ReadChunk()
{
    if (m_pos == m_end && !Refill())
        return {};
    std::span<const std::uint8_t> chunk(m_pos, m_end);
    m_pos = m_end;
    return chunk;
}

std::size_t FileStream::Read(std::uint8_t* destination, std::size_t count)
{
    std::size_t done = 0;
    while (done < count) {
        if (m_pos == m_end && (m_exactly || count - done >= kBufferSize / 2))
            return done + ReadDirect(destination + done, count - done);
        if (m_pos == m_end && !Refill())
            break;
        const std::size_t take = std::min<std::size_t>(count - done, m_end - m_pos);
        std::copy_n(m_pos, take, destination + done);
        m_pos += take;
        done += take;
    }
    return done;
}

std::size_t FileStream::ReadDirect(std::uint8_t* destination, std::size_t count)
{
    if (m_writing || m_fd < 0 || m_failed)
        return 0;
    const std::int64_t got = ReadFully(m_fd, destination, count);
    if (got < 0) {
        Fail(errno);
        return 0;
    }
    return static_cast<std::size_t>(got);
}

bool FileStream::WriteAll(const std::uint8_t* data, std::size_t count)
{
    if (m_vector && !m_failed)
        m_vector->insert(m_vector->end(), data, data + count);
    else if (!m_failed && !WriteFully(m_fd, data, count))
        Fail(errno);
    return !m_failed;
}

bool FileStream::Writable() const
{
    return m_writing && (m_fd >= 0 || m_vector);
}

void FileStream::FlushBuffer()
{
    if (!Writable()) {
        // Closed or never opened for writing: the bytes go nowhere, and the stream says so.
        assert(m_fd < 0 && "Put on a reading stream");
        m_failed = true;
        if (!m_buffer)
            m_buffer = std::make_unique_for_overwrite<std::uint8_t[]>(kBufferSize);
        m_pos = m_buffer.get();
        m_end = m_buffer.get() + kBufferSize;
        return;
    }
    WriteAll(m_buffer.get(), m_pos - m_buffer.get());
    m_bufferOffset += m_pos - m_buffer.get();
    m_pos = m_buffer.get();
}

void FileStream::Write(const std::uint8_t* source, std::size_t count)
{
    while (count > 0) {
        // A large write goes out as it stands, after what the buffer holds: copying it through
        // the buffer would cost more than the extra call.
        if (count >= kBufferSize / 2 && Writable()) {
            if (m_pos != m_buffer.get())
                FlushBuffer();
            WriteAll(source, count);
            m_bufferOffset += static_cast<std::int64_t>(count);
            return;
        }
        if (m_pos == m_end)
            FlushBuffer();
        const std::size_t take = std::min<std::size_t>(count, m_end - m_pos);
        std::copy_n(source, take, m_pos);
        m_pos += take;
        source += take;
        count -= take;
    }
}

bool FileStream::Flush()
{
    if (Writable())
        FlushBuffer();
    return !m_failed;
}

bool FileStream::Seek(std::int64_t offset)
{
    // A writer that is already there does not seek, so a stream that cannot seek can be written
    // in order.
    if (m_writing && m_buffer && offset == m_bufferOffset + (m_pos - m_buffer.get()))
        return !m_failed;
    if (!m_writing && !m_memory.empty() && offset >= 0) {
        const auto at = std::min<std::size_t>(static_cast<std::size_t>(offset), m_memory.size());
        m_pos = const_cast<std::uint8_t*>(m_memory.data()) + at;
        return true;
    }
    if (m_fd < 0 || offset < 0)
        return false;
    if (m_writing)
        FlushBuffer();
    else
        m_pos = m_end = m_buffer.get();
    if (::lseek(m_fd, offset, SEEK_SET) < 0) {
        Fail(errno);
        return false;
    }
    m_bufferOffset = offset;
    return true;
}

std::int64_t FileStream::Size() const
{
    if (m_fd < 0 && !m_writing)
        return static_cast<std::int64_t>(m_memory.size());
    struct stat info
    {
    };
    if (m_fd < 0 || ::fstat(m_fd, &info) != 0)
        return -1;
    return info.st_size;
}

bool FileStream::IsRegularFile() const
{
    struct stat info
    {
    };
    return m_fd >= 0 && ::fstat(m_fd, &info) == 0 && S_ISREG(info.st_mode);
}

bool FileStream::Close()
{
    if (m_vector) {
        FlushBuffer();
        m_vector = nullptr;
        m_pos = m_end = nullptr;
        return !m_failed;
    }
    if (m_fd < 0) {
        if (!m_memory.empty() || !m_writing)
            m_pos = m_end = nullptr;
        m_memory = {};
        return !m_failed;
    }
    if (m_writing)
        FlushBuffer();
    if (::close(m_fd) != 0 && m_writing)
        Fail(errno);
    m_fd = -1;
    m_pos = m_end = nullptr;
    return !m_failed;
}

} // namespace hufpack
