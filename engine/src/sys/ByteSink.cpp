// Writing to a file, to memory, or to a callback.

#include "sys/ByteSink.h"

#include "sys/SystemIo.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace hufpack {

ByteSink::ByteSink(Kind kind, int fd, bool inOrder, std::vector<std::uint8_t>* vector,
                   std::span<std::uint8_t> buffer, Take take, bool holes)
    : m_kind(kind), m_inOrder(inOrder), m_fd(fd), m_vector(vector), m_buffer(buffer),
      m_take(std::move(take)), m_holes(holes)
{
    if (m_kind == Kind::File) {
        m_stream.AttachForWriting(fd);
        if (fd < 0)
            Fail(EBADF);
    }
    if (m_vector)
        m_vector->clear();
}

ByteSink ByteSink::ToFile(int fd, bool inOrder)
{
    return ByteSink(Kind::File, fd, inOrder, nullptr, {}, {});
}

ByteSink ByteSink::ToNewFileWithHoles(int fd)
{
    return ByteSink(Kind::File, fd, false, nullptr, {}, {}, true);
}

ByteSink ByteSink::ToVector(std::vector<std::uint8_t>& bytes)
{
    return ByteSink(Kind::Vector, -1, false, &bytes, {}, {});
}

ByteSink ByteSink::ToBuffer(std::span<std::uint8_t> buffer)
{
    return ByteSink(Kind::Buffer, -1, false, nullptr, buffer, {});
}

ByteSink ByteSink::ToCallback(Take take)
{
    return ByteSink(Kind::Callback, -1, true, nullptr, {}, std::move(take));
}

ByteSink::~ByteSink()
{
    if (m_kind == Kind::File)
        m_stream.Close();
}

void ByteSink::Fail(int error)
{
    // The first failure says why; several threads may fail at once, and one of them wins.
    static std::mutex failing;
    const std::lock_guard lock(failing);
    if (!Failed())
        m_error = error;
    m_failed.store(true, std::memory_order_relaxed);
}

bool ByteSink::Room(std::int64_t offset, std::size_t count, bool grow)
{
    const auto end = static_cast<std::uint64_t>(offset) + count;
    if (m_kind == Kind::Buffer && end > m_buffer.size()) {
        Fail(ENOBUFS);
        return false;
    }
    if (m_kind == Kind::Vector && end > m_vector->size()) {
        if (!grow) {
            Fail(EFBIG);
            return false;
        }
        m_vector->resize(end);
    }
    return true;
}

bool ByteSink::Reserve(std::int64_t size)
{
    return Failed() || m_kind == Kind::File || m_kind == Kind::Callback
        || Room(0, static_cast<std::size_t>(size), true);
}

void ByteSink::Write(const std::uint8_t* bytes, std::size_t count)
{
    if (Failed() || count == 0)
        return;
    switch (m_kind) {
    case Kind::File:
        if (m_holes) {
            // Small writes are gathered into blocks; a piece of a hole's size or more goes out
            // as it comes, after what was gathered before it, so that a decoder's chunks are
            // never copied once more.
            if (count >= kHoleBytes) {
                WriteHeld();
                WriteWithHoles(bytes, count, m_position);
            } else {
                if (m_held.empty())
                    m_heldAt = m_position;
                m_held.insert(m_held.end(), bytes, bytes + count);
                if (m_held.size() >= kBlockBytes)
                    WriteHeld();
            }
            break;
        }
        m_stream.Write(bytes, count);
        if (m_stream.Failed())
            Fail(m_stream.Error());
        break;
    case Kind::Vector:
    case Kind::Buffer:
        if (!Room(m_position, count, true))
            return;
        std::memcpy((m_kind == Kind::Vector ? m_vector->data() : m_buffer.data()) + m_position,
                    bytes, count);
        break;
    case Kind::Callback:
        m_held.insert(m_held.end(), bytes, bytes + count);
        if (m_held.size() >= kBlockBytes)
            HandOn();
        break;
    }
    m_position += static_cast<std::int64_t>(count);
}

void ByteSink::WriteAt(const std::uint8_t* bytes, std::size_t count, std::int64_t offset)
{
    if (Failed() || count == 0)
        return;
    if (!Positional()) {
        if (offset != m_position) {
            Fail(ESPIPE);
            return;
        }
        Write(bytes, count);
        return;
    }
    if (m_kind == Kind::File) {
        // One writer at a time: threads that write one file at once wait on its inode's lock
        // in the kernel, spinning, and take longer than they do one after another.
        const std::lock_guard writing(m_writing);
        if (m_holes)
            WriteWithHoles(bytes, count, offset);
        else if (!hufpack::WriteAt(m_fd, bytes, count, offset))
            Fail(errno);
        return;
    }
    if (Room(offset, count, false))
        std::memcpy((m_kind == Kind::Vector ? m_vector->data() : m_buffer.data()) + offset, bytes,
                    count);
}

bool ByteSink::Seek(std::int64_t offset)
{
    if (Failed())
        return false;
    if (offset == m_position)
        return true;
    if (!Positional()) {
        Fail(ESPIPE);
        return false;
    }
    if (m_holes) {
        WriteHeld();
    } else if (m_kind == Kind::File && !m_stream.Seek(offset)) {
        Fail(m_stream.Error());
        return false;
    }
    m_position = offset;
    return true;
}

void ByteSink::WriteWithHoles(const std::uint8_t* bytes, std::size_t count, std::int64_t offset)
{
    if (!WriteLeavingHoles(m_fd, bytes, count, offset))
        Fail(errno);
    m_end = std::max(m_end, offset + static_cast<std::int64_t>(count));
}

void ByteSink::WriteHeld()
{
    if (!m_held.empty() && !Failed())
        WriteWithHoles(m_held.data(), m_held.size(), m_heldAt);
    m_held.clear();
}

void ByteSink::HandOn()
{
    if (!m_held.empty() && !Failed() && !m_take(m_held))
        Fail(ECANCELED);
    m_held.clear();
}

bool ByteSink::Flush()
{
    if (m_holes)
        WriteHeld();
    if (m_kind == Kind::File && !m_stream.Flush() && !Failed())
        Fail(m_stream.Error());
    if (m_kind == Kind::Callback)
        HandOn();
    return !Failed();
}

bool ByteSink::Close()
{
    Flush();
    if (m_holes && !Failed()) {
        // A file that ends in a hole is as long as what was written.
        struct stat info
        {
        };
        if (::fstat(m_fd, &info) != 0 || (info.st_size < m_end && ::ftruncate(m_fd, m_end) != 0))
            Fail(errno);
    }
    if (m_kind == Kind::File) {
        if (!m_stream.Close() && !Failed())
            Fail(m_stream.Error());
        m_fd = -1;
    }
    return !Failed();
}

} // namespace hufpack
