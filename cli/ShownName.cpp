// Escaping a name for a terminal.

#include "ShownName.h"

#include <cstdint>
#include <unistd.h>

namespace {

// The length of the UTF-8 sequence at `at` when it is a whole, well-formed one for a character a
// terminal shows as itself; 0 otherwise. C1 controls (U+0080 to U+009F, which some terminals
// obey as escapes) and the bidirectional overrides (which reorder what follows on the line) are
// not shown as themselves.
std::size_t PrintableSequence(const std::string& text, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[at + i]); };
    const std::uint8_t lead = byte(0);
    std::size_t length = 0;
    std::uint32_t code = 0;
    if (lead >= 0x20 && lead < 0x7F)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
    } else {
        return 0;
    }
    if (at + length > text.size())
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (byte(i) & 0x3F);
    }
    constexpr std::uint32_t kSmallest[] = { 0, 0, 0x80, 0x800, 0x10000 };
    const bool overlong = code < kSmallest[length];
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    const bool control = code <= 0x9F || (code >= 0x202A && code <= 0x202E)
        || (code >= 0x2066 && code <= 0x2069) || code == 0x2028 || code == 0x2029;
    if (overlong || surrogate || control || code > 0x10FFFF)
        return 0;
    return length;
}

} // namespace

std::string ShownName(const std::string& name, std::FILE* stream)
{
    if (!::isatty(::fileno(stream)))
        return name;
    std::string shown;
    for (std::size_t at = 0; at < name.size();) {
        const char c = name[at];
        if (c == '\\') {
            shown += "\\\\";
            ++at;
            continue;
        }
        if (const std::size_t length = PrintableSequence(name, at); length > 0) {
            shown.append(name, at, length);
            at += length;
            continue;
        }
        static constexpr const char* kNamed = "\a\b\t\n\v\f\r";
        static constexpr const char* kLetters = "abtnvfr";
        bool named = false;
        for (int i = 0; kNamed[i]; ++i) {
            if (c == kNamed[i]) {
                shown += '\\';
                shown += kLetters[i];
                named = true;
            }
        }
        if (!named) {
            const auto value = static_cast<std::uint8_t>(c);
            shown += '\\';
            shown += static_cast<char>('0' + (value >> 6));
            shown += static_cast<char>('0' + ((value >> 3) & 7));
            shown += static_cast<char>('0' + (value & 7));
        }
        ++at;
    }
    return shown;
}
