// Texts from outside the program as one-line messages show them.
#include "system/quoting.h"

#include <cstdio>

namespace {

// The length of the valid UTF-8 sequence at `at`, or 0 when the byte there
// starts none (a stray continuation byte, an overlong form, a surrogate, a
// code point beyond U+10FFFF, or a sequence cut short).
size_t Utf8Length(std::string_view text, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[at + i]); };
    const unsigned char lead = byte(0);
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the second byte's range
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4;
    else
        return 0;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
    if (at + length > text.size() || byte(1) < low || byte(1) > high) return 0;
    for (size_t i = 2; i < length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
    return length;
}

void AppendEscaped(std::string& out, unsigned char byte) {
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
    out += escaped;
}

}  // namespace

std::string PrintableText(std::string_view text) {
    std::string shown;
    for (size_t at = 0; at < text.size();) {
        const auto lead = static_cast<unsigned char>(text[at]);
        const size_t length = Utf8Length(text, at);
        // U+0080 to U+009F, the C1 controls, are C2 80 to C2 9F.
        const bool c1 =
            length == 2 && lead == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0;
        if (length == 0 || lead < 32 || lead == 127 || c1) {
            const size_t count = c1 ? 2 : 1;
            for (size_t i = 0; i < count; ++i)
                AppendEscaped(shown, static_cast<unsigned char>(text[at + i]));
            at += count;
        } else {
            shown.append(text.substr(at, length));
            at += length;
        }
    }
    return shown;
}

std::string QuotedArgument(std::string_view text) {
    std::string quoted(1, '\'');
    quoted += PrintableText(text);
    quoted += '\'';
    return quoted;
}
