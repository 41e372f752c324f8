// What the test terminal adds to libvterm, on hand-written byte streams:
// palette numbers, cells as UTF-8, the history a clear pushes, and the
// fields read back after each feed, with sequences split across reads.
#include "support/vt_screen.h"

#include <gtest/gtest.h>

namespace {

TEST(VtScreenTest, ColoursCellsAndStateReadBack) {
    VtScreen s = MakeVtScreen(3, 5);
    FeedVt(s, "a\x1b[97;100mb\x1b[30;47mc\x1b[0m\x1b[?25l\x1b]2;Title\a\a");
    EXPECT_EQ(VtCellAt(s, 1, 1).foreground, 7);  // the terminal's own colours
    EXPECT_EQ(VtCellAt(s, 1, 1).background, 0);
    EXPECT_EQ(VtCellAt(s, 1, 2).foreground, 15);
    EXPECT_EQ(VtCellAt(s, 1, 2).background, 8);
    EXPECT_EQ(VtCellAt(s, 1, 3).foreground, 0);
    EXPECT_EQ(VtCellAt(s, 1, 3).background, 7);
    EXPECT_FALSE(s.cursorVisible);
    EXPECT_EQ(s.title, "Title");
    EXPECT_EQ(s.bells, 1);
    EXPECT_EQ(s.cursorColumn, 4);
    FeedVt(s, "\x1b[91;");
    FeedVt(s, "102m\x1b[2;2H\xc3");  // a colour, a move and a character split across reads
    FeedVt(s,
           "\xa9\xe6\x97\xa5"
           "e\xcc\x81\xff");
    EXPECT_EQ(s.foreground, 9);
    EXPECT_EQ(s.background, 10);
    EXPECT_EQ(VtRowText(s, 2),
              " \xc3\xa9\xe6\x97\xa5"
              "e\xcc\x81");
    EXPECT_EQ(VtCellAt(s, 2, 4).ch, "");         // the right half of the wide character
    EXPECT_EQ(VtRowText(s, 3), "\xef\xbf\xbd");  // the invalid byte, wrapped to the next row
    EXPECT_EQ(s.cursorRow, 3);
}

TEST(VtScreenTest, HistoryKeepsRowsPushedOffByLineFeedsAndClears) {
    VtScreen s = MakeVtScreen(3, 5);
    FeedVt(s, "\x1b[2J");
    EXPECT_TRUE(s.history.empty());  // a blank screen pushes nothing
    FeedVt(s, "a\r\nb\r\nc\r\nd");
    EXPECT_EQ(s.history, std::vector<std::string>{"a"});
    FeedVt(s, "\x1b[2;1H\x1b[K\x1b[H\x1b[2");  // the clear split across reads
    EXPECT_EQ(s.history.size(), 1u);
    FeedVt(s, "J");
    EXPECT_EQ(s.history, (std::vector<std::string>{"a", "b", "", "d"}));
    EXPECT_EQ(VtDump(s), " 1|\n 2|\n 3|\n");
}

}  // namespace
