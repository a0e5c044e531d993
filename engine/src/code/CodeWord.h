#pragma once

// The code of one byte value, as code assignment makes it: element 0 is the number of bits N,
// elements 1 to N the bits in the order they are written (element 1 is the bit taken at the
// root).

#include <cstdint>
#include <string>
#include <vector>

namespace hufpack {

class CodeWord
{
public:
    // From a code string of '0' and '1' characters; any character but '0' counts as a 1.
    explicit CodeWord(const std::string& code);

    [[nodiscard]] int Length() const { return m_data[0]; }
    // i = 0 gives the length, 1..Length() the bits.
    [[nodiscard]] std::int32_t operator[](int i) const { return m_data[i]; }

private:
    std::vector<std::int32_t> m_data;
};

} // namespace hufpack
