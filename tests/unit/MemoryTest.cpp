// The buffer arena: pieces that are aligned, apart from each other and inside the room, from
// mappings with small pages and with huge ones.

#include "sys/Memory.h"

#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace hufpack {
namespace {

TEST(BufferArena, HandsOutAlignedPiecesApartInsideTheRoomUntilItIsUsedUp)
{
    struct Case
    {
        std::size_t room;
        std::size_t piece;
    };
    // Below and above the size that asks for huge pages, with pieces that leave a remainder.
    for (const Case c : { Case { 1, 1 }, Case { 100'000, 4'097 }, Case { 1 << 20, 131'072 },
                          Case { (3 << 20) + 5, 917'520 } }) {
        SCOPED_TRACE(testing::Message() << c.room << " bytes in pieces of " << c.piece);
        BufferArena arena;
        ASSERT_TRUE(arena.Reserve(c.room));
        const std::size_t expected = c.room / BufferArena::RoomFor(c.piece)
            + (c.room % BufferArena::RoomFor(c.piece) >= c.piece ? 1 : 0);
        std::vector<std::uint8_t*> pieces;
        while (std::uint8_t* const piece = arena.Take(c.piece))
            pieces.push_back(piece);
        ASSERT_EQ(pieces.size(), std::max<std::size_t>(expected, 1));
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(pieces[i]) % BufferArena::kAlignment, 0u);
            EXPECT_EQ(pieces[i][0], 0);
            EXPECT_EQ(pieces[i][c.piece - 1], 0);
            std::memset(pieces[i], static_cast<int>(i + 1), c.piece);
        }
        // Each piece still holds its own bytes: none overlaps another.
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            EXPECT_EQ(pieces[i][0], static_cast<std::uint8_t>(i + 1));
            EXPECT_EQ(pieces[i][c.piece - 1], static_cast<std::uint8_t>(i + 1));
        }
        arena.Release();
        EXPECT_EQ(arena.Take(1), nullptr);
    }
}

} // namespace
} // namespace hufpack
