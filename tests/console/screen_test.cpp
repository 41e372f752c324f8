// The screen model: wrapping, scrolling, colours and cursor rules.
#include "console/screen.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace {

std::string Repeat(char character, int count) {
    return std::string(static_cast<size_t>(count), character);
}

// ---- PrintText wrapping ---------------------------------------------------------

struct WrapCase {
    const char* name;
    int startRow, startColumn, length;
    int endRow, endColumn;  // cursor after the text
    int scrolls;            // rows the screen moved up
};

TEST(PrintTextTest, WrapsAtColumn80AndScrollsBelowTheLastRow) {
    const WrapCase cases[] = {
        {"ends before the edge", 1, 1, 79, 1, 80, 0},
        {"ends at the edge", 1, 1, 80, 2, 1, 0},
        {"one past the edge", 1, 1, 81, 2, 2, 0},
        {"from column 75", 3, 75, 10, 4, 5, 0},
        {"two full rows", 1, 1, 160, 3, 1, 0},
        {"full last row scrolls at once", 55, 1, 80, 55, 1, 1},
        {"past the last row", 55, 70, 20, 55, 10, 1},
        {"three rows from the last", 55, 1, 200, 55, 41, 2},
    };
    for (const WrapCase& c : cases) {
        SCOPED_TRACE(c.name);
        ResetScreen();
        SetColours(0, 15);
        ClearScreen();
        MoveCursor(c.startRow, c.startColumn);
        std::string text;
        for (int i = 0; i < c.length; ++i) text += static_cast<char>('A' + i % 26);
        PrintText(text);
        EXPECT_EQ(CursorRow(), c.endRow);
        EXPECT_EQ(Screen().cursorColumn, c.endColumn);
        // The first character sits where the text began, moved up by the scrolls.
        int firstRow = c.startRow - c.scrolls;
        EXPECT_EQ(CellAt(firstRow, c.startColumn).character, 'A');
        // The last character is the cell before the cursor.
        int lastRow = c.endColumn == 1 ? c.endRow - 1 : c.endRow;
        int lastColumn = c.endColumn == 1 ? 80 : c.endColumn - 1;
        if (c.endColumn == 1 && c.endRow == 55 && c.scrolls > 0) lastRow = 54;
        EXPECT_EQ(CellAt(lastRow, lastColumn).character, text.back());
    }
}

TEST(PrintTextTest, DrawsControlBytesAsCharacters) {
    ResetScreen();
    PrintText(std::string("a\nb\x1b\r", 5));
    EXPECT_EQ(CellAt(1, 2).character, '\n');
    EXPECT_EQ(CellAt(1, 4).character, 27);
    EXPECT_EQ(CellAt(1, 5).character, '\r');
    EXPECT_EQ(CursorRow(), 1);
    EXPECT_EQ(Screen().cursorColumn, 6);
}

TEST(PrintTextTest, TakesTheCurrentColoursCellByCell) {
    ResetScreen();
    SetColours(8, 15);
    PrintText("ab");
    SetColours(0, 15);
    PrintText("c");
    EXPECT_EQ(CellAt(1, 1).attribute, 0xF8);
    EXPECT_EQ(CellAt(1, 2).attribute, 0xF8);
    EXPECT_EQ(CellAt(1, 3).attribute, 0xF0);
}

// In a UTF-8 locale each character takes the cells of its width; the row's
// text keeps every byte, and bytes that make no character stay as they are.
TEST(PrintTextTest, Utf8CharactersTakeTheirDisplayWidth) {
    struct Case {
        const char* name;
        std::string text;
        int endColumn;
        CellShape firstShape;
    };
    const Case cases[] = {
        {"ASCII", "abc", 4, CellShape::Byte},
        {"two-byte characters", "\xc3\xa9t\xc3\xa9", 4, CellShape::Character},
        {"wide characters", "\xe6\x97\xa5\xe6\x9c\xac", 5, CellShape::WideLeft},
        {"four-byte wide character", "\xf0\x9f\x98\x80", 3, CellShape::WideLeft},
        {"invalid bytes", "\xff\xfe", 3, CellShape::Unshown},
        {"overlong form", "\xc0\xaf", 3, CellShape::Unshown},
        {"a C1 control (CSI)", "\xc2\x9b", 2, CellShape::Unshown},
        {"a combining mark alone", "\xcc\x81", 2, CellShape::Unshown},
        {"a mark after a blank", " \xcc\x81", 3, CellShape::Byte},
        {"decomposed accents join their letters", "e\xcc\x81te\xcc\x81", 4, CellShape::Character},
        {"two marks on one letter",
         "a\xcc\x81\xcc\xa3"
         "b",
         3, CellShape::Character},
        {"a mark on a wide character", "\xe6\x97\xa5\xe2\x83\x9d", 3, CellShape::WideLeft},
        {"more marks than a cell holds",
         "a\xcc\x81\xcc\x82\xcc\x83\xcc\x84\xcc\x85\xcc\x86\xcc\x87\xcc\x88", 3,
         CellShape::Character},
        {"surrogate", "\xed\xa0\x80", 4, CellShape::Unshown},
    };
    std::setlocale(LC_CTYPE, "C.UTF-8");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetScreen();
        Screen().utf8 = true;
        PrintText(c.text);
        EXPECT_EQ(Screen().cursorColumn, c.endColumn);
        EXPECT_EQ(CellAt(1, 1).shape, c.firstShape);
        EXPECT_EQ(RowText(1), c.text);
        EXPECT_EQ(TextWidth(c.text), c.endColumn - 1);
    }
    // Outside a UTF-8 locale every byte is one character, as ever.
    ResetScreen();
    PrintText("\xe6\x97\xa5");
    EXPECT_EQ(Screen().cursorColumn, 4);
    EXPECT_EQ(RowText(1), "\xe6\x97\xa5");
    std::setlocale(LC_CTYPE, "C");
}

// A path too long for its row keeps its start and its end, the end (the
// file's own name) the larger part, with "..." between (in UTF-8, "…" and
// whole characters, wide ones counted as two cells).
TEST(ShortenMiddleTest, KeepsStartAndEndWithinTheColumns) {
    const std::tuple<bool, std::string, int, std::string> cases[] = {
        {false, "abcdefghij", 10, "abcdefghij"},
        {false, "abcdefghij", 9, "abc...hij"},
        {false, "abcdefghij", 8, "ab...hij"},
        {false, "abcdefghij", 3, "..."},
        {false, "abcdefghij", 2, "aj"},
        {true, "abcdefghij", 9, "abcd\xe2\x80\xa6ghij"},
        {true, "\xe6\x97\xa5\xe6\x97\xa5\xe6\x97\xa5\xe6\x97\xa5xyz", 8,
         "\xe6\x97\xa5\xe6\x97\xa5\xe2\x80\xa6xyz"},
    };
    std::setlocale(LC_CTYPE, "C.UTF-8");
    for (const auto& [utf8, text, columns, shown] : cases) {
        ResetScreen();
        Screen().utf8 = utf8;
        EXPECT_EQ(ShortenMiddle(text, columns), shown) << text << " in " << columns;
        EXPECT_LE(TextWidth(ShortenMiddle(text, columns)), columns);
    }
    std::setlocale(LC_CTYPE, "C");
}

// ---- EndLine and scrolling --------------------------------------------------------

TEST(EndLineTest, ScrollsOnTheLastRowWithTheNewRowInTheCurrentColours) {
    ResetScreen();
    SetColours(0, 15);
    ClearScreen();
    PrintText("top");
    MoveCursor(2, 1);
    PrintText("second");
    MoveCursor(55, 1);
    PrintText("bottom");
    SetColours(2, 4);
    EndLine();
    EXPECT_EQ(CursorRow(), 55);
    EXPECT_EQ(Screen().cursorColumn, 1);
    EXPECT_EQ(RowText(1), "second");
    EXPECT_EQ(RowText(54), "bottom");
    EXPECT_EQ(RowText(55), "");
    for (int column = 1; column <= 80; ++column)
        EXPECT_EQ(CellAt(55, column).attribute, 2 + 16 * 4);
    EXPECT_EQ(CellAt(54, 80).attribute, 0xF0);  // cells already drawn keep theirs
}

TEST(EndLineTest, AfterATextEndingAtTheRightEdgeLeavesOneBlankRow) {
    ResetScreen();
    MoveCursor(8, 17);
    PrintText(Repeat('p', 64));  // columns 17..80
    EXPECT_EQ(CursorRow(), 9);
    EndLine();
    EXPECT_EQ(CursorRow(), 10);
    EXPECT_EQ(Screen().cursorColumn, 1);
    EXPECT_EQ(RowText(9), "");
}

// ---- Colours, clearing and the cursor ------------------------------------------------

TEST(SetColoursTest, AValueOf16OrMoreLeavesThatColour) {
    struct Case {
        int foreground, background, expectedAttribute;
    };
    const Case cases[] = {
        {8, 15, 0xF8}, {16, 3, 0x30}, {5, 16, 0xF5}, {16, 16, 0xF0}, {255, 1, 0x10}, {0, 0, 0x00},
    };
    for (const Case& c : cases) {
        ResetScreen();
        SetColours(0, 15);
        SetColours(c.foreground, c.background);
        EXPECT_EQ(CurrentAttribute(), c.expectedAttribute) << c.foreground << "," << c.background;
    }
}

TEST(MoveCursorTest, ACoordinateOutsideTheScreenLeavesThatCoordinate) {
    struct Case {
        int row, column, expectedRow, expectedColumn;
    };
    const Case cases[] = {
        {20, 30, 20, 30}, {55, 80, 55, 80}, {1, 1, 1, 1},   {0, 5, 10, 5},
        {56, 5, 10, 5},   {5, 0, 5, 40},    {5, 81, 5, 40}, {-1, 100, 10, 40},
    };
    for (const Case& c : cases) {
        ResetScreen();
        MoveCursor(10, 40);
        MoveCursor(c.row, c.column);
        EXPECT_EQ(CursorRow(), c.expectedRow) << c.row << "," << c.column;
        EXPECT_EQ(Screen().cursorColumn, c.expectedColumn) << c.row << "," << c.column;
    }
}

TEST(ClearScreenTest, BlanksEveryCellInTheCurrentColoursAndHomesTheCursor) {
    ResetScreen();
    PrintText("something");
    MoveCursor(30, 30);
    SetColours(8, 15);
    ClearScreen();
    EXPECT_EQ(CursorRow(), 1);
    EXPECT_EQ(Screen().cursorColumn, 1);
    for (int row = 1; row <= 55; ++row) {
        for (int column = 1; column <= 80; ++column) {
            ScreenCell cell = CellAt(row, column);
            ASSERT_EQ(cell.character, ' ');
            ASSERT_EQ(cell.attribute, 0xF8);
        }
    }
}

}  // namespace
