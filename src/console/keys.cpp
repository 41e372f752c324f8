// Decoding keys from the keyboard's bytes: plain bytes are characters, ESC
// starts either the Esc key, an Alt+key pair, or a CSI (ESC [) or SS3 (ESC O)
// sequence sent by arrows, function keys and the like.
#include "console/keys.h"

#include <cstddef>

namespace {

constexpr unsigned char Esc = 27;
constexpr size_t LongestSequence = 32;  // longer CSI runs are junk: dropped whole

// Length of the escape sequence at the start of `bytes` (which begins with
// ESC), or 0 if it is not complete yet.
size_t EscapeSequenceLength(const std::string& bytes) {
    if (bytes.size() < 2) return 0;
    unsigned char second = static_cast<unsigned char>(bytes[1]);
    if (second == '[') {
        // CSI: parameter and intermediate bytes, ended by a byte 0x40..0x7E.
        for (size_t i = 2; i < bytes.size(); ++i) {
            unsigned char byte = static_cast<unsigned char>(bytes[i]);
            if (byte >= 0x40 && byte <= 0x7E) return i + 1;
            if (byte < 0x20 || byte > 0x3F) return i;  // malformed: end before it
        }
        return bytes.size() >= LongestSequence ? bytes.size() : 0;
    }
    if (second == 'O') return bytes.size() >= 3 ? 3 : 0;  // SS3: one more byte
    return 2;                                             // Alt+key
}

Key Plain(KeyKind kind, unsigned char code = 0) { return Key{kind, code}; }

}  // namespace

bool TakeKey(KeyDecoder& decoder, bool inputIdle, Key& key) {
    std::string& bytes = decoder.pending;
    while (!bytes.empty()) {
        unsigned char first = static_cast<unsigned char>(bytes[0]);
        bool afterCarriageReturn = decoder.afterCarriageReturn;
        decoder.afterCarriageReturn = false;
        if (first == Esc && !decoder.escapeSequences) {
            bytes.erase(0, 1);
            key = Plain(KeyKind::Escape);
            return true;
        }
        if (first == Esc) {
            if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[1]) == Esc) {
                bytes.erase(0, 1);  // Esc pressed twice: the first is a key of its own
                key = Plain(KeyKind::Escape);
                return true;
            }
            size_t length = EscapeSequenceLength(bytes);
            if (length == 0) {
                if (!inputIdle) return false;
                key = Plain(bytes.size() == 1 ? KeyKind::Escape : KeyKind::NoCharacter);
                bytes.clear();
                return true;
            }
            bytes.erase(0, length);
            key = Plain(KeyKind::NoCharacter);
            return true;
        }
        bytes.erase(0, 1);
        if (first == '\n' && afterCarriageReturn) continue;
        if (first == '\r' || first == '\n') {
            decoder.afterCarriageReturn = first == '\r';
            key = Plain(KeyKind::Enter);
        } else if (first == 127 || first == 8) {
            key = Plain(KeyKind::Backspace);
        } else if (first < 32) {
            key = Plain(KeyKind::Control, first);
        } else {
            key = Plain(KeyKind::Character, first);
        }
        return true;
    }
    return false;
}
