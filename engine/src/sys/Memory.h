#pragma once

// Memory that a job may do without: an allocation that gives null instead of throwing, for the
// places where a smaller plan is the way on when memory is short. Everywhere else a failed
// allocation throws, and the job's edge turns it into ENOMEM.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

namespace hufpack {

// `count` default-initialised elements, or null.
template<typename T> [[nodiscard]] std::unique_ptr<T[]> TryNew(std::size_t count)
{
    return std::unique_ptr<T[]>(new (std::nothrow) T[count]);
}

// One mapping for a job's large buffers, handed out in pieces. A buffer the size of a job's
// slots is touched once, page by page: in 4 KiB pages that is a fault every 4 KiB, which on a
// virtual machine can cost more than reading the file. So a mapping of half a huge page or more
// asks for huge pages, where the system gives them on request (it falls back to small pages by
// itself).
class BufferArena
{
public:
    // Pieces start on this boundary, a cache line.
    static constexpr std::size_t kAlignment = 64;

    BufferArena() = default;
    ~BufferArena();
    BufferArena(const BufferArena&) = delete;
    BufferArena& operator=(const BufferArena&) = delete;

    // Maps room for `bytes`, dropping any earlier mapping; false, with nothing mapped, when
    // memory is short.
    [[nodiscard]] bool Reserve(std::size_t bytes);
    // The next `bytes` of the room, zeroed, aligned to kAlignment; null when the room is used up.
    [[nodiscard]] std::uint8_t* Take(std::size_t bytes);
    // Room for these pieces, each rounded up to kAlignment.
    [[nodiscard]] static constexpr std::size_t RoomFor(std::size_t bytes)
    {
        return (bytes + kAlignment - 1) / kAlignment * kAlignment;
    }

    // Unmaps the room; every piece taken from it is gone.
    void Release();

private:
    std::uint8_t* m_base = nullptr;
    std::size_t m_mapped = 0;
    std::uint8_t* m_room = nullptr;
    std::size_t m_size = 0;
    std::size_t m_used = 0;
};

} // namespace hufpack
