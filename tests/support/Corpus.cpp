#include "Corpus.h"

#include "Format.h"

namespace hufpack::test {

Bytes HeaderOf(std::int32_t totalBits, std::int16_t tableSize)
{
    const auto header = Header::For(totalBits, tableSize).Bytes();
    return Bytes(header.begin(), header.end());
}

Bytes Entry(std::uint8_t value, std::int32_t count)
{
    const auto entry = EntryBytes(value, count);
    return Bytes(entry.begin(), entry.end());
}

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes Crafted(std::int32_t totalBits, const Bytes& table, const Bytes& stream)
{
    return Concat({ HeaderOf(totalBits, static_cast<std::int16_t>(table.size())), table, stream });
}

} // namespace hufpack::test
