// Decoding keys from the keyboard's byte stream.
#include "console/keys.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string Describe(const Key& key) {
    switch (key.kind) {
        case KeyKind::Character:
            return std::string(1, static_cast<char>(key.code));
        case KeyKind::Enter:
            return "<Enter>";
        case KeyKind::Backspace:
            return "<BS>";
        case KeyKind::Escape:
            return "<Esc>";
        case KeyKind::Control:
            return "<^" + std::to_string(key.code) + ">";
        case KeyKind::NoCharacter:
            return "<none>";
    }
    return "?";
}

// Feeds the chunks one by one, taking whole keys after each as a reader
// would while more bytes may follow; an empty chunk is a pause (the short
// wait after a lone ESC). The input ends after the last chunk.
std::vector<std::string> Decode(const std::vector<std::string>& chunks, bool fromTerminal = true) {
    KeyDecoder decoder;
    decoder.escapeSequences = fromTerminal;
    std::vector<std::string> keys;
    Key key;
    for (const std::string& chunk : chunks) {
        decoder.pending += chunk;
        bool pause = chunk.empty();
        while (TakeKey(decoder, pause, key)) keys.push_back(Describe(key));
    }
    while (TakeKey(decoder, true, key)) keys.push_back(Describe(key));
    return keys;
}

struct DecodeCase {
    const char* name;
    std::vector<std::string> chunks;
    std::vector<std::string> keys;
};

TEST(TakeKeyTest, DecodesTheKeyboardByteStream) {
    const DecodeCase cases[] = {
        {"printable", {"ab 9"}, {"a", "b", " ", "9"}},
        {"high bytes are characters", {"\xc3\xa9\xff"}, {"\xc3", "\xa9", "\xff"}},
        {"CR", {"\r"}, {"<Enter>"}},
        {"LF", {"\n"}, {"<Enter>"}},
        {"CR LF is one Enter", {"a\r\nb"}, {"a", "<Enter>", "b"}},
        {"CR LF split across reads", {"\r", "\n"}, {"<Enter>"}},
        {"CR CR is two", {"\r\r"}, {"<Enter>", "<Enter>"}},
        {"LF LF is two", {"\n\n"}, {"<Enter>", "<Enter>"}},
        {"LF CR is two", {"\n\r"}, {"<Enter>", "<Enter>"}},
        {"DEL and BS", {"\x7f\x08"}, {"<BS>", "<BS>"}},
        {"Tab and Ctrl+C", {"\t\x03"}, {"<^9>", "<^3>"}},
        {"arrow", {"\x1b[A"}, {"<none>"}},
        {"arrow split byte by byte", {"\x1b", "[", "A", "x"}, {"<none>", "x"}},
        {"Ctrl+arrow", {"\x1b[1;5C"}, {"<none>"}},
        {"function key F5", {"\x1b[15~z"}, {"<none>", "z"}},
        {"F1 as SS3, split", {"\x1bO", "P"}, {"<none>"}},
        {"Alt+letter", {"\x1bx", "y"}, {"<none>", "y"}},
        {"Alt+letter split", {"\x1b", "x"}, {"<none>"}},
        {"lone Esc at the end of input", {"a\x1b"}, {"a", "<Esc>"}},
        {"Esc then a pause then letters", {"\x1b", "", "[A"}, {"<Esc>", "[", "A"}},
        {"Esc Esc", {"\x1b\x1b"}, {"<Esc>", "<Esc>"}},
        {"Esc then arrow", {"\x1b\x1b[B"}, {"<Esc>", "<none>"}},
        {"cut-off sequence at the end of input", {"\x1b[12"}, {"<none>"}},
        {"malformed sequence stops before the bad byte", {"\x1b[1\rq"}, {"<none>", "<Enter>", "q"}},
    };
    for (const DecodeCase& c : cases) {
        EXPECT_EQ(Decode(c.chunks), c.keys) << c.name;
    }
}

// Without a terminal there are no escape sequences: a script's ESC is the
// Esc key, whatever follows it.
TEST(TakeKeyTest, EveryEscFromAPipeIsTheEscKey) {
    EXPECT_EQ(Decode({"\x1b\x1b\x1b\x1b\r"}, false),
              (std::vector<std::string>{"<Esc>", "<Esc>", "<Esc>", "<Esc>", "<Enter>"}));
    EXPECT_EQ(Decode({"\x1b[A", "\x1bx"}, false),
              (std::vector<std::string>{"<Esc>", "[", "A", "<Esc>", "x"}));
}

TEST(TakeKeyTest, WaitsForTheRestOfASequenceWhileInputMayFollow) {
    KeyDecoder decoder;
    Key key;
    decoder.pending = "\x1b[";
    EXPECT_FALSE(TakeKey(decoder, false, key));
    EXPECT_EQ(decoder.pending, "\x1b[");
    decoder.pending += "D";
    ASSERT_TRUE(TakeKey(decoder, false, key));
    EXPECT_EQ(key.kind, KeyKind::NoCharacter);
    EXPECT_TRUE(decoder.pending.empty());
}

TEST(TakeKeyTest, DropsAnEndlessSequenceWhole) {
    // Junk that never ends a CSI sequence must not hold the input forever.
    std::string junk = "\x1b[" + std::string(40, '1');
    EXPECT_EQ(Decode({junk, "a"}), (std::vector<std::string>{"<none>", "a"}));
}

}  // namespace
