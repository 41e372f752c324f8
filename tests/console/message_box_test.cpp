// The modal message box: its layout, its keys, and the screen beneath.
#include "console/message_box.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <string>
#include <vector>

#include "console/key_wait.h"
#include "console/screen.h"
#include "support/harness.h"

namespace {

const char FileNotFound[] = "            File not found.\\n Please enter a valid file path  ";

TEST(SplitBoxMessageTest, BreaksAtBackslashN) {
    struct Case {
        std::string message;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {FileNotFound, {"            File not found.", " Please enter a valid file path  "}},
        {"This is not a Wave file ", {"This is not a Wave file "}},
        {"a\\nb\\n", {"a", "b", ""}},
        {"a\nb", {"a", "b"}},
        {"ends in a backslash\\", {"ends in a backslash\\"}},
        {"\\\\n", {"\\", ""}},
        {"", {""}},
    };
    for (const Case& c : cases) EXPECT_EQ(SplitBoxMessage(c.message), c.lines) << c.message;
}

TEST(ReasonLineTest, JoinsTheLinesWithoutTheirOuterBlanks) {
    struct Case {
        std::string message;
        std::string line;
    };
    const Case cases[] = {
        {FileNotFound, "phonoskew: File not found. Please enter a valid file path"},
        {"This is not a Wave file ", "phonoskew: This is not a Wave file"},
        {" Could not write file 'a  b.wav':\\n No space left on device.\\n Enter tries again  ",
         "phonoskew: Could not write file 'a  b.wav': No space left on device. Enter tries again"},
        {"a\\n   \\n\\nb", "phonoskew: a b"},
        {"", "phonoskew:"},
    };
    for (const Case& c : cases) EXPECT_EQ(ReasonLine(c.message), c.line) << c.message;
}

// Fills the screen with text in several colours, so a wrong restore shows.
void PaintScreen() {
    ResetScreen();
    SetColours(0, 15);
    ClearScreen();
    for (int row = 1; row <= 54; ++row) {
        SetColours(row % 16, (row * 7) % 16);
        PrintText("row " + std::to_string(row) + " " + std::string(static_cast<size_t>(row), '*'));
        EndLine();
    }
    MoveCursor(8, 17);
}

TEST(MessageBoxTest, DrawsTheFrameTitleAndLinesCentred) {
    PaintScreen();
    std::vector<std::string> lines = SplitBoxMessage(FileNotFound);
    BoxPlace place = PlaceMessageBox(lines, " ERROR", 1, 55, 1, 80);
    // Widest line 33 + 2 x 2 margin + 2 frame = 39 columns; 2 lines + 5 rows.
    EXPECT_EQ(place.columns, 39);
    EXPECT_EQ(place.rows, 7);
    EXPECT_EQ(place.top, 1 + (55 - 7) / 2);
    EXPECT_EQ(place.left, 1 + (80 - 39) / 2);
    DrawMessageBox(place, lines, " ERROR");
    EXPECT_EQ(RowText(25).substr(20, 39), "+- ERROR -----------------------------+");
    EXPECT_EQ(RowText(26).substr(20, 39), "|                                     |");
    EXPECT_EQ(RowText(27).substr(20, 39), "|              File not found.        |");
    EXPECT_EQ(RowText(28).substr(20, 39), "|   Please enter a valid file path    |");
    EXPECT_EQ(RowText(30).substr(20, 39), "|   Enter, Space or Esc to continue   |");
    EXPECT_EQ(RowText(31).substr(20, 39), "+-------------------------------------+");
    EXPECT_EQ(RowText(24), "row 24 " + std::string(24, '*'));  // above the box: untouched
    EXPECT_EQ(RowText(32), "row 32 " + std::string(32, '*'));  // below it
}

TEST(MessageBoxTest, CutsLinesLongerThanTheScreen) {
    std::vector<std::string> lines = {std::string(100, 'x')};
    BoxPlace place = PlaceMessageBox(lines, " ERROR", 1, 55, 1, 80);
    EXPECT_EQ(place.columns, 80);
    EXPECT_EQ(place.left, 1);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].size(), 74u);
    EXPECT_EQ(lines[1].size(), 26u);

    // In a UTF-8 locale widths count cells, and a cut falls between characters.
    std::setlocale(LC_CTYPE, "C.UTF-8");
    ResetScreen();
    Screen().utf8 = true;
    std::string wide;
    for (int i = 0; i < 40; ++i) wide += "\xe6\x97\xa5";  // 80 cells
    lines = {"\xc3\xa9t\xc3\xa9", wide};
    place = PlaceMessageBox(lines, " ERROR", 1, 55, 1, 80);
    EXPECT_EQ(place.columns, 80);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], wide.substr(0, 37 * 3));  // 74 cells
    EXPECT_EQ(lines[2], wide.substr(37 * 3));
    DrawMessageBox(place, lines, " ERROR");
    EXPECT_EQ(CellAt(place.top + 2, 4).shape, CellShape::Character);
    EXPECT_EQ(CellAt(place.top + 3, 4).shape, CellShape::WideLeft);
    EXPECT_EQ(CellAt(place.top + 3, 5).shape, CellShape::WideRight);
    std::setlocale(LC_CTYPE, "C");
}

TEST(MessageBoxTest, OnlyEnterSpaceOrEscDismissAndTheScreenComesBackExactly) {
    struct Case {
        const char* name;
        std::string keys;
        BoxKey expected;
    };
    const Case cases[] = {
        {"Enter", "\r", BoxKey::Enter},
        {"LF", "\n", BoxKey::Enter},
        {"Space", " ", BoxKey::Space},
        {"Esc", "\x1b", BoxKey::Escape},
        {"other keys passed over", "ab\x1bx\x1b[A\x03\x7f\t\x1b", BoxKey::Escape},
        {"letters then Enter", "q\r", BoxKey::Enter},
        {"Alt+space is not Space", "\x1b  ", BoxKey::Space},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PaintScreen();
        HideCursor();
        ScreenModel before = Screen();
        ClearKeyBytes();
        FeedKeyBytes(c.keys);
        EXPECT_EQ(ConsoleMessageBox(FileNotFound, " ERROR"), c.expected);
        const ScreenModel& after = Screen();
        EXPECT_EQ(std::memcmp(before.cells, after.cells, sizeof before.cells), 0);
        EXPECT_EQ(after.cursorRow, before.cursorRow);
        EXPECT_EQ(after.cursorColumn, before.cursorColumn);
        EXPECT_EQ(after.cursorVisible, before.cursorVisible);
        EXPECT_EQ(CurrentAttribute(), before.foreground + 16 * before.background);
    }
}

// A box naming a long path, in a terminal of 60 columns.
void LongBoxInATerminal() {
    ResetScreen();
    ClearKeyBytes();
    InitConsoleTools();
    ConsoleMessageBox(
        " Could not open file '" + std::string(50, 'x') + "':\\n Too many open files  ", " ERROR");
}

// Each row of the box ends with its edge inside the terminal: the box keeps
// to the columns shown, its long line cut in two to fit.
TEST(MessageBoxTest, BoxKeepsWithinANarrowTerminal) {
    Child run = StartInPseudoTerminal(FunctionBody(LongBoxInATerminal), 55, 60);
    ChildGuard guard{run};
    // The whole box, its bottom edge too, may come in more than one read.
    auto rowsWithText = [](const VtScreen& screen) {
        int rows = 0;
        for (int row = 1; row <= 55; ++row) rows += !VtRowText(screen, row).empty();
        return rows;
    };
    ASSERT_TRUE(WaitForScreen(run, [&](const VtScreen& s) { return rowsWithText(s) == 8; }))
        << VtDump(run.screen);
    for (int row = 1; row <= 55; ++row) {
        std::string text = VtRowText(run.screen, row);
        if (text.empty()) continue;
        std::string edges = {text[text.find_first_not_of(' ')], text.back()};
        EXPECT_TRUE(edges == "++" || edges == "||") << "row " << row << "\n" << VtDump(run.screen);
    }
}

TEST(MessageBoxTest, EndOfInputEndsTheProgram) {
    PaintScreen();
    ClearKeyBytes();
    FeedKeyBytes("x");
    EXPECT_EXIT(ConsoleMessageBox("This is not a Wave file ", " ERROR"), testing::ExitedWithCode(2),
                "phonoskew: standard input ended while a message box was waiting for a key");
}

}  // namespace
