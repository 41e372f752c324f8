// The frame differ byte for byte, and through the test's terminal emulator:
// what each frame sends, and that the terminal then shows the model.
#include "console/frame.h"

#include <gtest/gtest.h>

#include <clocale>
#include <memory>
#include <string>
#include <vector>

#include "console/console.h"
#include "console/message_box.h"
#include "console/screen_script.h"
#include "support/vt_screen.h"
#include "system/console_sequences.h"

namespace {

const std::string Kan = "\xe6\xbc\xa2";   // a wide character
constexpr int GreyOnWhite = 8 + 16 * 15;  // palettes agree on 0, 7, 8 and 15
constexpr int BlackOnWhite = 0 + 16 * 15;

// A blank model in a UTF-8 locale, cursor hidden at row 1, column 1.
void StartModel() {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    ResetScreen();
    Screen().utf8 = true;
    Screen().cursorVisible = false;
}

// Every row of the terminal shows its model row's text, in its colours.
void ExpectShowsModel(const VtScreen& vt, int viewTop) {
    for (int row = 1; row <= vt.rows; ++row) {
        int modelRow = viewTop + row - 1;
        ASSERT_EQ(VtRowText(vt, row), RowText(modelRow)) << row << "\n" << VtDump(vt);
        for (int column = 1; column <= vt.columns; ++column) {
            int attribute = CellAt(modelRow, column).attribute;
            ASSERT_EQ(VtCellAt(vt, row, column).foreground, attribute % 16) << row << "," << column;
            ASSERT_EQ(VtCellAt(vt, row, column).background, attribute / 16) << row << "," << column;
        }
    }
}

struct ChangeCase {
    const char* name;
    void (*before)();
    void (*change)();
    std::string bytes;  // the frame after the change
};

void Nothing() {}
void ShowCursor() { Screen().cursorVisible = true; }
void PutKan() { PutCharacterAt(4, 1, Kan, 7); }

TEST(FrameTest, EachFrameSendsOnlyWhatChanged) {
    const ChangeCase cases[] = {
        {"unchanged screen", Nothing, Nothing, ""},
        {"one cell", Nothing, [] { PutCharacterAt(5, 10, "x", 7); }, "\x1b[5;10Hx"},
        {"new colours once for a run", Nothing,
         [] { PutCharacterAt(3, 1, "a", BlackOnWhite), PutCharacterAt(3, 2, "b", BlackOnWhite); },
         "\x1b[3;1H\x1b[30;107mab"},
        {"colours back for the next cell", Nothing,
         [] { PutCharacterAt(2, 1, "x", BlackOnWhite), PutCharacterAt(2, 2, "y", 7); },
         "\x1b[2;1H\x1b[30;107mx\x1b[37;40my"},
        {"a short gap is rewritten", Nothing,
         [] { PutCharacterAt(2, 1, "x", 7), PutCharacterAt(2, 5, "y", 7); }, "\x1b[2;1Hx   y"},
        {"a long gap is jumped", Nothing,
         [] { PutCharacterAt(2, 1, "x", 7), PutCharacterAt(2, 20, "y", 7); },
         "\x1b[2;1Hx\x1b[2;20Hy"},
        {"a mark redraws the cell it joins", [] { PutCharacterAt(6, 1, "e", 7); },
         [] { PutCharacterAt(6, 2, "\xcc\x81", 7); }, "\x1b[6;1He\xcc\x81"},
        {"a row with a wide character is drawn whole", PutKan, [] { PutCharacterAt(4, 5, "x", 7); },
         "\x1b[4;1H" + Kan + "  x" + std::string(75, ' ')},
        {"cursor shown at its cell", Nothing, [] { ShowCursor(), MoveCursor(10, 5); },
         "\x1b[10;5H\x1b[?25h"},
        {"cursor hidden", ShowCursor, [] { Screen().cursorVisible = false; }, "\x1b[?25l"},
        {"cursor hidden while drawing, then back", ShowCursor,
         [] { PutCharacterAt(5, 10, "x", 7); }, "\x1b[?25l\x1b[5;10Hx\x1b[1;1H\x1b[?25h"},
    };
    for (const ChangeCase& c : cases) {
        SCOPED_TRACE(c.name);
        StartModel();
        c.before();
        auto shown = std::make_unique<ShownState>();
        VtScreen vt = MakeVtScreen(ScreenRows, ScreenColumns);
        FeedVt(vt, MakeFrame(Screen(), *shown));
        c.change();
        std::string frame = MakeFrame(Screen(), *shown);
        EXPECT_EQ(frame, c.bytes);
        FeedVt(vt, frame);
        ExpectShowsModel(vt, 1);
        EXPECT_EQ(MakeFrame(Screen(), *shown), "");  // nothing more to send
    }
}

// Whatever the terminal showed, a first frame (or one after a resize or a
// stop) clears it and draws every cell; then frames of random changes keep
// it equal to the model, wide characters and colours included.
TEST(FrameTest, FirstFrameDrawsEverythingAndLaterFramesKeepTheTerminalEqual) {
    StartModel();
    VtScreen vt = MakeVtScreen(ScreenRows, ScreenColumns);
    FeedVt(vt, "old text\r\nfrom the shell");
    auto shown = std::make_unique<ShownState>();
    std::string first = MakeFrame(Screen(), *shown);
    EXPECT_TRUE(first.starts_with("\x1b[?25l\x1b[0m\x1b[H\x1b[2J")) << first.substr(0, 20);
    FeedVt(vt, first);
    ExpectShowsModel(vt, 1);
    unsigned seed = 12345;
    for (int step = 0; step < 300; ++step) {
        seed = seed * 1103515245u + 12345u;
        int row = 1 + static_cast<int>(seed >> 8) % 6;
        int column = 1 + 2 * (static_cast<int>(seed >> 12) % 40);  // wide ones never cut in half
        int attribute = (seed >> 20) % 2 ? GreyOnWhite : 7;
        PutCharacterAt(row, column, (seed >> 21) % 3 ? std::string(1, 'a' + step % 26) : Kan,
                       attribute);
        if (step % 3 != 2) continue;  // a frame after several changes
        FeedVt(vt, MakeFrame(Screen(), *shown));
        ExpectShowsModel(vt, 1);
    }
}

// A terminal of 24 rows shows the 24 model rows around the cursor; moving
// the view draws over the rows, never clears or scrolls (which would push
// copies of the screen into the scrollback).
TEST(FrameTest, SmallTerminalFollowsTheCursorWithoutClearing) {
    StartModel();
    for (int row = 1; row <= ScreenRows; ++row) {
        MoveCursor(row, 1);
        PrintText("row " + std::to_string(row));
    }
    auto shown = std::make_unique<ShownState>();
    shown->rows = 24;
    VtScreen vt = MakeVtScreen(24, ScreenColumns);
    const int cursorRows[] = {40, 41, 55, 1};
    const int viewTops[] = {17, 18, 32, 1};
    for (int i = 0; i < 4; ++i) {
        MoveCursor(cursorRows[i], 1);
        std::string frame = MakeFrame(Screen(), *shown);
        if (i > 0) {
            EXPECT_EQ(frame.find("\x1b[2J"), std::string::npos);
        }
        EXPECT_EQ(frame.find('\n'), std::string::npos);
        FeedVt(vt, frame);
        EXPECT_EQ(shown->viewTop, viewTops[i]);
        ExpectShowsModel(vt, viewTops[i]);
    }
}

// The restore leaves the cursor on a clean line below the last text in view,
// scrolling one row only when that text reaches the bottom row.
TEST(FrameTest, RestoreGoesBelowTheLastTextInView) {
    struct Case {
        int textRows, terminalRows;
        bool drawn;
        std::string bytes;
    };
    const Case cases[] = {
        {3, 55, true, "\x1b[4;1H\x1b[0m\x1b[K\x1b[?25h"},
        {0, 55, true, "\x1b[1;1H\x1b[0m\x1b[K\x1b[?25h"},
        {55, 55, true, "\x1b[55;1H\x1b[0m\r\n\x1b[K\x1b[?25h"},
        {30, 24, true, "\x1b[24;1H\x1b[0m\r\n\x1b[K\x1b[?25h"},
        {3, 55, false, "\x1b[0m\x1b[?25h"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.textRows);
        StartModel();
        for (int row = 1; row <= c.textRows; ++row) PutCharacterAt(row, 1, "x", 7);
        auto shown = std::make_unique<ShownState>();
        shown->rows = c.terminalRows;
        if (c.drawn) MakeFrame(Screen(), *shown);
        EXPECT_EQ(MakeRestoreBytes(Screen(), *shown), c.bytes);
    }
}

// ---- The frames read back as console operations -------------------------------------

// A text console as the Windows device drives it: cells of text and colour,
// a cursor that stays on the last column once text reaches it (no wrap, so
// no scroll), and no escape sequences of its own.
struct TestConsole {
    int rows;
    int columns;
    std::vector<std::string> glyphs;  // "" for the right half of a wide character
    std::vector<int> attributes;
    int row = 1;
    int column = 1;
    int attribute = 7;
    bool cursorShown = true;

    TestConsole(int rowCount, int columnCount)
        : rows(rowCount),
          columns(columnCount),
          glyphs(size_t(rowCount * columnCount), "x"),  // old text, to be cleared
          attributes(size_t(rowCount * columnCount), 7) {}
    size_t At(int r, int c) const { return size_t((r - 1) * columns + c - 1); }
};

void Fill(TestConsole& console, int row, int fromColumn, int attribute) {
    for (int column = fromColumn; column <= console.columns; ++column) {
        console.glyphs[console.At(row, column)] = " ";
        console.attributes[console.At(row, column)] = attribute;
    }
}

void WriteConsoleText(TestConsole& console, std::string_view text) {
    while (!text.empty()) {
        if (text[0] == '\r' || text[0] == '\n') {
            if (text[0] == '\r') console.column = 1;
            if (text[0] == '\n') console.row = std::min(console.row + 1, console.rows);
            text.remove_prefix(1);
            continue;
        }
        TextCharacter character = FirstCharacter(text);
        std::string glyph(text.substr(0, character.length));
        text.remove_prefix(character.length);
        if (character.width == 0) {
            console.glyphs[console.At(console.row, std::max(console.column - 1, 1))] += glyph;
            continue;
        }
        for (int half = 0; half < character.width; ++half) {
            console.glyphs[console.At(console.row, console.column)] = half == 0 ? glyph : "";
            console.attributes[console.At(console.row, console.column)] = console.attribute;
            if (console.column < console.columns) ++console.column;
        }
    }
}

void CarryOut(TestConsole& console, const ConsoleOperation& operation) {
    switch (operation.step) {
        case ConsoleStep::Move:
            console.row = operation.row;
            console.column = operation.column;
            break;
        case ConsoleStep::Attributes:
            console.attribute = operation.attribute;
            break;
        case ConsoleStep::FillWindow:
            for (int row = 1; row <= console.rows; ++row)
                Fill(console, row, 1, operation.attribute);
            break;
        case ConsoleStep::FillRowEnd:
            Fill(console, console.row, console.column, operation.attribute);
            break;
        case ConsoleStep::Text:
            WriteConsoleText(console, operation.text);
            break;
        case ConsoleStep::Cursor:
            console.cursorShown = operation.shown;
            break;
        case ConsoleStep::Title:
        case ConsoleStep::Size:
        case ConsoleStep::Beep:
            break;
    }
}

// Draws the model's changes on the console as the Windows device does.
void DrawOnTestConsole(TestConsole& console, SequenceReader& reader, ShownState& shown) {
    std::vector<ConsoleOperation> operations;
    ReadConsoleSequences(reader, MakeFrame(Screen(), shown), operations);
    for (const ConsoleOperation& operation : operations) CarryOut(console, operation);
}

// Every cell in view shows its model cell, and the cursor stands where the
// model has it, shown or hidden as there.
void ExpectConsoleShowsModel(const TestConsole& console, const ShownState& shown) {
    for (int row = 1; row <= console.rows; ++row) {
        const int modelRow = shown.viewTop + row - 1;
        std::string text;
        for (int column = 1; column <= console.columns; ++column) {
            text += console.glyphs[console.At(row, column)];
            ASSERT_EQ(console.attributes[console.At(row, column)],
                      CellAt(modelRow, column).attribute)
                << "row " << row << ", column " << column;
        }
        ASSERT_EQ(text.substr(0, text.find_last_not_of(' ') + 1), RowText(modelRow))
            << "row " << row;
    }
    const ScreenModel& screen = Screen();
    EXPECT_EQ(console.cursorShown, screen.cursorVisible);
    if (screen.cursorVisible) {
        EXPECT_EQ(console.row, screen.cursorRow - shown.viewTop + 1);
        EXPECT_EQ(console.column, screen.cursorColumn);
    }
}

// A run's screens through the sequence reader onto a console of 55 rows and
// one of 24, which shows the rows around the cursor: the start-up screen
// with a path being typed, an error box over it and the screen beneath
// again, then the final screen of a job and the restore at the end.
TEST(FrameTest, ConsoleOperationsFromTheFramesShowTheModel) {
    for (int rows : {ScreenRows, 24}) {
        SCOPED_TRACE(rows);
        StartModel();
        SetColours(Black, BrightWhite);
        auto shown = std::make_unique<ShownState>();
        shown->rows = rows;
        TestConsole console(rows, ScreenColumns);
        SequenceReader reader;
        auto drawAndCompare = [&] {
            DrawOnTestConsole(console, reader, *shown);
            ExpectConsoleShowsModel(console, *shown);
        };

        const int promptRow = ShowPromptScreen();
        MoveCursor(promptRow, 17);
        Screen().cursorVisible = true;
        PrintText("C:\\Music\\B\xc3\xb6sendorfer \xe6\xbc\xa2.wav");
        drawAndCompare();

        const ScreenModel beneath = Screen();
        std::vector<std::string> lines = SplitBoxMessage(" This is not a stero Wave file ");
        DrawMessageBox(PlaceMessageBox(lines, " ERROR", shown->viewTop, ShownRowCount(*shown), 1,
                                       ScreenColumns),
                       lines, " ERROR");
        drawAndCompare();
        Screen() = beneath;
        drawAndCompare();

        EndLine();
        ShowFileData(2, 96000, 24, 4800, 0.05);
        for (const char* stage :
             {"Reading file data...", "Extracting channels...", "Applying first-order filter..."}) {
            ShowStepTitle(stage);
            drawAndCompare();
            ShowDone(2);
        }
        ShowWritingFile("C:\\Music\\take RIAA error 1.wav");
        ShowDone(20);
        ShowQuitPrompt();
        drawAndCompare();

        std::vector<ConsoleOperation> restore;
        ReadConsoleSequences(reader, MakeRestoreBytes(Screen(), *shown), restore);
        for (const ConsoleOperation& operation : restore) CarryOut(console, operation);
        EXPECT_TRUE(console.cursorShown);
        EXPECT_EQ(console.attribute, reader.ownAttribute);
    }
}

}  // namespace
