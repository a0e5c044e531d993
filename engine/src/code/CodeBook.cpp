// A code word entered in the book.

#include "code/CodeBook.h"

#include <algorithm>
#include <numeric>

namespace hufpack {

void CodeBook::Add(std::uint8_t value, const CodeWord& code)
{
    const int length = code.Length();
    std::uint64_t word = 0;
    const int kept = std::min(length, 64);
    for (int i = 1; i <= kept; ++i)
        word = (word << 1) | static_cast<std::uint64_t>(code[i] != 0);
    if (kept > 0 && kept < 64)
        word <<= 64 - kept;
    bits[value] = word;
    lengths[value] = static_cast<std::uint8_t>(length);
    shortest = shortest == 0 ? length : std::min(shortest, length);
    longest = std::max(longest, length);
    lengthGcd = std::gcd(lengthGcd, length);
}

} // namespace hufpack
