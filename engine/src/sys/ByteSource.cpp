// Reading a range of a file or of memory.

#include "sys/ByteSource.h"

#include "sys/SystemIo.h"

#include <algorithm>
#include <cstring>
#include <sys/stat.h>

namespace hufpack {

ByteSource ByteSource::OfFile(int fd)
{
    ByteSource source;
    source.m_fd = fd;
    return source;
}

ByteSource ByteSource::OfMemory(std::span<const std::uint8_t> bytes)
{
    ByteSource source;
    source.m_bytes = bytes;
    return source;
}

ByteSource ByteSource::OfMappableFile(int fd)
{
    ByteSource source = OfFile(fd);
    source.m_mappable = true;
    return source;
}

std::int64_t ByteSource::ReadAt(std::uint8_t* destination, std::size_t count,
                                std::int64_t offset) const
{
    if (m_fd >= 0)
        return hufpack::ReadAt(m_fd, destination, count, offset);
    const std::span<const std::uint8_t> bytes = View(offset, count);
    if (!bytes.empty())
        std::memcpy(destination, bytes.data(), bytes.size());
    return static_cast<std::int64_t>(bytes.size());
}

std::span<const std::uint8_t> ByteSource::View(std::int64_t offset, std::size_t count) const
{
    const auto size = static_cast<std::int64_t>(m_bytes.size());
    if (m_fd >= 0 || offset < 0 || offset >= size)
        return {};
    return m_bytes.subspan(static_cast<std::size_t>(offset),
                           static_cast<std::size_t>(std::min<std::int64_t>(
                               static_cast<std::int64_t>(count), size - offset)));
}

bool ByteSource::Mappable() const
{
    return m_mappable && MappedReadsAllowed();
}

Mapping ByteSource::MapRange(std::int64_t offset, std::size_t count) const
{
    return Mappable() ? Mapping(m_fd, offset, count) : Mapping();
}

std::int64_t ByteSource::Size() const
{
    if (m_fd < 0)
        return static_cast<std::int64_t>(m_bytes.size());
    struct stat info
    {
    };
    return ::fstat(m_fd, &info) == 0 ? info.st_size : -1;
}

} // namespace hufpack
