// A code word from its string, and its packed form.

#include "code/CodeWord.h"

#include <algorithm>

namespace hufpack {

CodeWord::CodeWord(const std::string& code)
{
    m_data.reserve(code.size() + 1);
    m_data.push_back(static_cast<std::int32_t>(code.size()));
    for (const char c : code)
        m_data.push_back(c == '0' ? 0 : 1);
}

void PackedCodes::Add(std::uint8_t value, const CodeWord& code)
{
    const int length = code.Length();
    std::uint64_t word = 0;
    if (length > 0 && length <= kMaxBits) {
        for (int i = 1; i <= length; ++i)
            word = (word << 1) | static_cast<std::uint64_t>(code[i] != 0);
        word <<= 64 - length;
    }
    bits[value] = word;
    lengths[value] = static_cast<std::uint8_t>(length);
    shortest = shortest == 0 ? length : std::min(shortest, length);
    longest = std::max(longest, length);
}

} // namespace hufpack
