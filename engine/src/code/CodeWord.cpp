// A code word from its string.

#include "code/CodeWord.h"

namespace hufpack {

CodeWord::CodeWord(const std::string& code)
{
    m_data.reserve(code.size() + 1);
    m_data.push_back(static_cast<std::int32_t>(code.size()));
    for (const char c : code)
        m_data.push_back(c == '0' ? 0 : 1);
}

} // namespace hufpack
