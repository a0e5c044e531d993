// The job's buffer arena: one anonymous mapping, aligned to a huge page when it holds one.

#include "sys/Memory.h"

#include <sys/mman.h>

namespace hufpack {

namespace {

constexpr std::size_t kHugePage = std::size_t { 2 } << 20;

} // namespace

BufferArena::~BufferArena()
{
    Release();
}

void BufferArena::Release()
{
    if (m_base)
        ::munmap(m_base, m_mapped);
    m_base = m_room = nullptr;
    m_mapped = m_size = m_used = 0;
}

bool BufferArena::Reserve(std::size_t bytes)
{
    Release();
    const std::size_t size = RoomFor(bytes == 0 ? 1 : bytes);
    // Half a huge page or more is worth one: a fault and one page to clear instead of hundreds.
    const bool huge = size >= kHugePage / 2;
    // A huge page must start on its own boundary: map whole huge pages and one more, and start
    // the room on the first boundary.
    const std::size_t hugeSize = (size + kHugePage - 1) / kHugePage * kHugePage;
    const std::size_t mapped = huge ? hugeSize + kHugePage : size;
    void* const base
        = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED)
        return false;
    m_base = static_cast<std::uint8_t*>(base);
    m_mapped = mapped;
    m_room = m_base;
    if (huge) {
        const auto address = reinterpret_cast<std::uintptr_t>(m_base);
        m_room = m_base + ((kHugePage - address % kHugePage) % kHugePage);
#ifdef MADV_HUGEPAGE
        // Only advice: where the system has no huge page to give, the room has small pages.
        ::madvise(m_room, hugeSize, MADV_HUGEPAGE);
#endif
    }
    m_size = size;
    return true;
}

std::uint8_t* BufferArena::Take(std::size_t bytes)
{
    const std::size_t room = RoomFor(bytes);
    if (!m_room || room > m_size - m_used)
        return nullptr;
    std::uint8_t* const piece = m_room + m_used;
    m_used += room;
    return piece;
}

} // namespace hufpack
