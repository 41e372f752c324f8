// Keys decoded from the byte stream of the keyboard (a terminal in raw mode,
// or a pipe when Phonoskew is scripted). Internal to the console folder.
#pragma once

#include <string>

enum class KeyKind {
    Character,    // a byte of 32 or above other than DEL (bytes of 128 and above included)
    Enter,        // CR or LF; CR LF counts as one Enter
    Backspace,    // DEL (127) or BS (8)
    Escape,       // Esc on its own
    Control,      // any other byte below 32, such as Tab or Ctrl+C (3)
    NoCharacter,  // an escape sequence (arrows, function keys) or Alt+key
};

struct Key {
    KeyKind kind;
    unsigned char code;  // the byte, for Character and Control
};

// The bytes read so far and not yet decoded.
struct KeyDecoder {
    std::string pending;
    bool afterCarriageReturn = false;  // a LF right after a CR is the same Enter
    // Keys from a terminal send escape sequences; from a pipe or a file
    // there are none, and every ESC is the Esc key.
    bool escapeSequences = true;
};

// Takes the first whole key from `decoder.pending` into `key`. An escape
// sequence still being received waits for more bytes, unless `inputIdle`
// says none are coming soon (a short pause, or the end of input): then a
// lone ESC is the Esc key and a cut-off sequence is a key without character.
// Returns false when no whole key is pending.
bool TakeKey(KeyDecoder& decoder, bool inputIdle, Key& key);
