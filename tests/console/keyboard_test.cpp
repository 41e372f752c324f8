// Line editing at the prompt and the final key wait, fed with key bytes.
#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "console/key_wait.h"
#include "console/screen.h"
#include "console/terminal.h"

namespace {

std::string TypeLine(const std::string& bytes) {
    ClearKeyBytes();
    FeedKeyBytes(bytes);
    return ReadKeyboardLine();
}

struct LineCase {
    const char* name;
    std::string typed;
    std::string line;     // returned
    std::string rowText;  // row 8 afterwards
};

TEST(ReadKeyboardLineTest, EditsTheLineOnThePromptRow) {
    const LineCase cases[] = {
        {"plain path", "take1.wav\r", "take1.wav", "   Input file?  take1.wav"},
        {"empty line", "\r", "", "   Input file?"},
        {"LF ends it too", "a.wav\n", "a.wav", "   Input file?  a.wav"},
        {"backspace DEL and BS",
         "abc\x7f\x08"
         "d\r",
         "ad", "   Input file?  ad"},
        {"backspace with nothing typed", "\x7f\x7fz\r", "z", "   Input file?  z"},
        {"keys without a character", "a\t\x1b[Ab\x1bxc\x03\x1bOPd\r", "abcd",
         "   Input file?  abcd"},
        {"high bytes are kept", "\xc3\xa9.wav\r", "\xc3\xa9.wav", "   Input file?  \xc3\xa9.wav"},
        {"Ctrl+D with text typed is ignored",
         "ab\x04"
         "c\r",
         "abc", "   Input file?  abc"},
    };
    for (const LineCase& c : cases) {
        SCOPED_TRACE(c.name);
        ResetScreen();
        SetColours(0, 15);
        ClearScreen();
        MoveCursor(8, 1);
        PrintText("   Input file?");
        MoveCursor(8, 17);
        EXPECT_EQ(TypeLine(c.typed), c.line);
        EXPECT_EQ(RowText(8), c.rowText);
        EXPECT_EQ(CursorRow(), 9);
        EXPECT_EQ(Screen().cursorColumn, 1);
    }
}

// In a UTF-8 locale a character is a whole UTF-8 sequence: drawn as one
// character of its width, removed whole by Backspace, kept byte for byte.
struct Utf8LineCase {
    const char* name;
    int startColumn;
    std::string typed;
    std::string line;  // returned: the bytes as typed
    std::string row8;  // the rows' bytes afterwards
    std::string row9;
    int lastColumn;  // of the text on row 8
};

TEST(ReadKeyboardLineTest, Utf8CharactersAreTypedAndErasedWhole) {
    const std::string blanks(62, ' ');
    const Utf8LineCase cases[] = {
        {"accents", 17, "\xc3\xa9t\xc3\xa9.wav\r", "\xc3\xa9t\xc3\xa9.wav",
         "   Input file?  \xc3\xa9t\xc3\xa9.wav", "", 23},
        {"backspace removes the whole character", 17, "a\xc3\xa9\x7f\r", "a", "   Input file?  a",
         "", 17},
        {"decomposed accents join their letters", 17, "e\xcc\x81te\xcc\x81\r",
         "e\xcc\x81te\xcc\x81", "   Input file?  e\xcc\x81te\xcc\x81", "", 19},
        {"backspace removes a letter with its marks", 17, "ae\xcc\x81\xcc\xa3\x7f\r", "a",
         "   Input file?  a", "", 17},
        {"a mark at the row's end joins the letter there", 80, "e\xcc\x81\r", "e\xcc\x81",
         "   Input file?" + std::string(65, ' ') + "e\xcc\x81", "", 80},
        {"wide characters take two cells", 17, "\xe6\x97\xa5\xe6\x9c\xac\x7fx\r", "\xe6\x97\xa5x",
         "   Input file?  \xe6\x97\xa5x", "", 19},
        {"bytes that make no character take a cell each", 17, "\xff\xc3(\xe2\x82\x7f\r",
         "\xff\xc3(\xe2", "   Input file?  \xff\xc3(\xe2", "", 20},
        {"a character cut off by Enter", 17, "a\xe2\x82\r", "a\xe2\x82",
         "   Input file?  a\xe2\x82", "", 19},
        {"a wide character that does not fit goes on at the next row", 79, "a\xe6\x97\xa5\r",
         "a\xe6\x97\xa5", "   Input file?" + blanks + "  a", "\xe6\x97\xa5", 79},
        {"and Backspace steps back over the skipped cell", 79,
         "a\xe6\x97\xa5\x7f"
         "b\r",
         "ab", "   Input file?" + blanks + "  ab", "", 80},
    };
    std::setlocale(LC_CTYPE, "C.UTF-8");
    for (const Utf8LineCase& c : cases) {
        SCOPED_TRACE(c.name);
        ResetScreen();
        Screen().utf8 = true;
        SetColours(0, 15);
        ClearScreen();
        MoveCursor(8, 1);
        PrintText("   Input file?");
        MoveCursor(8, c.startColumn);
        EXPECT_EQ(TypeLine(c.typed), c.line);
        EXPECT_EQ(RowText(8), c.row8);
        EXPECT_EQ(RowText(9), c.row9);
        EXPECT_NE(CellAt(8, c.lastColumn).character, ' ');
        if (c.lastColumn < 80) {
            EXPECT_EQ(CellAt(8, c.lastColumn + 1).character, ' ');
        }
    }
    std::setlocale(LC_CTYPE, "C");
}

TEST(ReadKeyboardLineTest, Utf8LimitCountsCharacters) {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    ResetScreen();
    Screen().utf8 = true;
    std::string typed;
    for (int i = 0; i < 10002; ++i) typed += "\xc3\xa9";
    std::string line = TypeLine(typed + "\r");
    EXPECT_EQ(line.size(), 20000u);
    std::setlocale(LC_CTYPE, "C");
}

TEST(ReadKeyboardLineTest, BackspaceMovesBackAcrossTheRowStart) {
    ResetScreen();
    SetColours(0, 15);
    ClearScreen();
    MoveCursor(8, 79);
    // x at 8/79, y at 8/80, z at 9/1; two backspaces blank 9/1 then 8/80,
    // and w is drawn where y was.
    EXPECT_EQ(TypeLine("xyz\x7f\x7fw\r"), "xw");
    EXPECT_EQ(CellAt(8, 79).character, 'x');
    EXPECT_EQ(CellAt(8, 80).character, 'w');
    EXPECT_EQ(CellAt(9, 1).character, ' ');
    EXPECT_EQ(CellAt(9, 1).attribute, 0xF0);
    // w ended at the right edge, so Enter leaves row 9 blank.
    EXPECT_EQ(CursorRow(), 10);
}

TEST(ReadKeyboardLineTest, BackspaceBlanksInTheCurrentColours) {
    ResetScreen();
    SetColours(0, 15);
    ClearScreen();
    MoveCursor(8, 17);
    SetColours(2, 4);
    EXPECT_EQ(TypeLine("a\x7f\r"), "");
    EXPECT_EQ(CellAt(8, 17).character, ' ');
    EXPECT_EQ(CellAt(8, 17).attribute, 2 + 16 * 4);
}

TEST(ReadKeyboardLineTest, KeepsAtMost10000Characters) {
    ResetScreen();
    SetColours(0, 15);
    ClearScreen();
    std::string typed;
    for (int i = 0; i < 10005; ++i) typed += static_cast<char>('a' + i % 26);
    std::string line = TypeLine(typed + "\x7f\r");
    EXPECT_EQ(line, typed.substr(0, 9999));
    // 10000 characters from row 1 fill 125 rows: the screen scrolled and the
    // 10000th stood at 54/80 with the cursor on 55/1. Backspace blanked
    // 54/80, the five extra characters were never drawn.
    EXPECT_EQ(CellAt(54, 80).character, ' ');
    EXPECT_EQ(CellAt(54, 79).character, typed[9998]);
    EXPECT_EQ(CellAt(53, 80).character, typed[9919]);
    EXPECT_EQ(RowText(55), "");
    EXPECT_EQ(CursorRow(), 55);
}

TEST(ReadKeyboardLineTest, ShowsTheCursorOnlyWhileReading) {
    for (bool hidden : {true, false}) {
        ResetScreen();
        if (hidden) HideCursor();
        TypeLine("a\r");
        EXPECT_EQ(Screen().cursorVisible, !hidden);
    }
}

TEST(ReadKeyboardLineTest, EndOfInputEndsTheProgram) {
    // Ctrl+D at an empty prompt ends the input as a terminal's user means it.
    for (const char* typed : {"half a pa", "\x04", "ab\x7f\x7f\x04more\r"}) {
        SCOPED_TRACE(typed);
        ResetScreen();
        EXPECT_EXIT(TypeLine(typed), testing::ExitedWithCode(2),
                    "phonoskew: standard input ended while waiting for a path");
    }
}

// On a Windows console Ctrl-Z is the end of input at an empty prompt, as
// Ctrl+D is; with text typed it is passed over. Elsewhere it is no key of
// the line at all.
TEST(ReadKeyboardLineTest, CtrlZEndsTheInputWhereTheConsoleSaysSo) {
    EndInputOnCtrlZ(true);
    for (const char* typed : {"\x1a", "ab\x7f\x7f\x1amore\r"}) {
        SCOPED_TRACE(typed);
        ResetScreen();
        EXPECT_EXIT(TypeLine(typed), testing::ExitedWithCode(2),
                    "phonoskew: standard input ended while waiting for a path");
    }
    ResetScreen();
    EXPECT_EQ(TypeLine("ab\x1a"
                       "c\r"),
              "abc");
    EndInputOnCtrlZ(false);
    ResetScreen();
    EXPECT_EQ(TypeLine("\x1a"
                       "abc\r"),
              "abc");
}

TEST(WaitForKeyTest, TakesOneKeyOfAnyKind) {
    const char* firstKeys[] = {"\x1b[A", "\x03", "x", "\r", "\x1bq", "\x7f"};
    for (const char* first : firstKeys) {
        ResetScreen();
        ClearKeyBytes();
        FeedKeyBytes(std::string(first) + "next\r");
        WaitForKey();
        EXPECT_EQ(ReadKeyboardLine(), "next") << first;
    }
}

TEST(WaitForKeyTest, EndOfInputCountsAsTheKey) {
    ResetScreen();
    ClearKeyBytes();
    WaitForKey();  // returns
    SUCCEED();
}

}  // namespace
