// The sequence reader: each sequence the console draws with as its console
// operation, the colours in the console's palette, and sequences or
// characters cut between two writes.
#include "system/console_sequences.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

ConsoleOperation Op(ConsoleStep step, int row = 0, int column = 0, int attribute = 0,
                    bool shown = false, std::string text = {}) {
    ConsoleOperation operation;
    operation.step = step;
    operation.row = row;
    operation.column = column;
    operation.attribute = attribute;
    operation.shown = shown;
    operation.text = std::move(text);
    return operation;
}
ConsoleOperation Text(std::string text) { return Op(ConsoleStep::Text, 0, 0, 0, false, text); }
ConsoleOperation Colours(int attribute) { return Op(ConsoleStep::Attributes, 0, 0, attribute); }

std::vector<ConsoleOperation> Read(std::string_view bytes, int ownAttribute = 0x07) {
    SequenceReader reader;
    reader.ownAttribute = reader.attribute = ownAttribute;
    std::vector<ConsoleOperation> operations;
    ReadConsoleSequences(reader, bytes, operations);
    return operations;
}

std::string Describe(const std::vector<ConsoleOperation>& operations) {
    std::string text;
    for (const ConsoleOperation& o : operations) {
        text += std::to_string(int(o.step)) + "(" + std::to_string(o.row) + "," +
                std::to_string(o.column) + ",0x" + std::to_string(o.attribute) + "," +
                (o.shown ? "shown" : "-") + ",'" + o.text + "') ";
    }
    return text;
}

TEST(ConsoleSequencesTest, EachSequenceIsItsOperation) {
    struct Case {
        const char* name;
        std::string bytes;
        std::vector<ConsoleOperation> operations;
    };
    const Case cases[] = {
        {"plain text, one operation", "   Input file?", {Text("   Input file?")}},
        {"cursor place", "\x1b[8;17H", {Op(ConsoleStep::Move, 8, 17)}},
        {"home without parameters", "\x1b[H", {Op(ConsoleStep::Move, 1, 1)}},
        // The palette's grey on white: 90 is bright black (8), 107 bright white (15).
        {"grey on bright white", "\x1b[90;107m", {Colours(8 + 16 * 15)}},
        // Red is 1 on a terminal, 4 on the console; blue the other way round.
        {"red on blue", "\x1b[31;44m", {Colours(4 + 16 * 1)}},
        {"light cyan on brown", "\x1b[96;43m", {Colours(11 + 16 * 6)}},
        {"reset to the console's own", "\x1b[30;47m\x1b[0m", {Colours(0x70), Colours(0x1E)}},
        {"empty reset", "\x1b[m", {Colours(0x1E)}},
        {"clear in the current colours",
         "\x1b[30;107m\x1b[2J",
         {Colours(0xF0), Op(ConsoleStep::FillWindow, 0, 0, 0xF0)}},
        {"the restore's line",
         "\x1b[4;1H\x1b[0m\x1b[K\x1b[?25h",
         {Op(ConsoleStep::Move, 4, 1), Colours(0x1E), Op(ConsoleStep::FillRowEnd, 0, 0, 0x1E),
          Op(ConsoleStep::Cursor, 0, 0, 0, true)}},
        {"the restore's scroll",
         "\x1b[0m\r\n\x1b[K",
         {Colours(0x1E), Text("\r\n"), Op(ConsoleStep::FillRowEnd, 0, 0, 0x1E)}},
        {"cursor hidden", "\x1b[?25l", {Op(ConsoleStep::Cursor, 0, 0, 0, false)}},
        {"window size", "\x1b[8;55;80t", {Op(ConsoleStep::Size, 55, 80)}},
        {"title", "\x1b]2;Phonoskew\a", {Op(ConsoleStep::Title, 0, 0, 0, false, "Phonoskew")}},
        {"beep between text", "a\ab", {Text("a"), Op(ConsoleStep::Beep), Text("b")}},
        {"UTF-8 text as it is", "M\xc3\xb6no \xe6\xbc\xa2", {Text("M\xc3\xb6no \xe6\xbc\xa2")}},
        {"other sequences passed over",
         "a\x1b[5n\x1b[1;2;3tb\x1b"
         "7c\x1b]0;x\a",
         {Text("abc")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<ConsoleOperation> operations = Read(c.bytes, 0x1E);
        EXPECT_EQ(operations, c.operations) << Describe(operations);
    }
}

// Whatever the cut between two writes, the operations are those of one
// write: a sequence or a UTF-8 character cut at the end waits for the rest.
TEST(ConsoleSequencesTest, ASequenceCutBetweenWritesWaitsForTheRest) {
    const std::string bytes =
        "\x1b[?25l\x1b[0m\x1b[H\x1b[2J\x1b]2;Ph\xc3\xb6noskew\a\x1b[8;55;80t"
        "\x1b[90;107m   Input file?  \x1b[30;107mM\xc3\xb6no \xe6\xbc\xa2\xf0\x9f\x8e\xb5\a"
        "\x1b[8;17H\x1b[?25h";
    const std::vector<ConsoleOperation> whole = Read(bytes);
    ASSERT_EQ(whole.size(), 13u) << Describe(whole);
    for (size_t cut = 0; cut <= bytes.size(); ++cut) {
        SequenceReader reader;
        std::vector<ConsoleOperation> operations;
        ReadConsoleSequences(reader, std::string_view(bytes).substr(0, cut), operations);
        ReadConsoleSequences(reader, std::string_view(bytes).substr(cut), operations);
        // Text cut in two comes as two pieces: join them again.
        std::vector<ConsoleOperation> joined;
        for (const ConsoleOperation& o : operations) {
            if (!joined.empty() && o.step == ConsoleStep::Text &&
                joined.back().step == ConsoleStep::Text) {
                joined.back().text += o.text;
            } else {
                joined.push_back(o);
            }
        }
        ASSERT_EQ(joined, whole) << "cut at " << cut << ": " << Describe(operations);
        // No piece of text starts inside a character.
        for (const ConsoleOperation& o : operations) {
            ASSERT_FALSE(o.step == ConsoleStep::Text && (o.text[0] & 0xC0) == 0x80) << cut;
        }
    }
}

}  // namespace
