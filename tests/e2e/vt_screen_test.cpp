// The test emulator itself, checked on hand-written byte streams so that the
// screen tests do not rest on an unchecked oracle.
#include "support/vt_screen.h"

#include <gtest/gtest.h>

namespace {

TEST(VtScreenTest, PositionsColoursWrapAndScroll) {
    VtScreen s = MakeVtScreen(3, 5);
    FeedVt(s, "\x1b[97;100m\x1b[2J\x1b[2;4Hab");
    EXPECT_EQ(VtRowText(s, 2), "   ab");
    EXPECT_EQ(VtCellAt(s, 2, 4).foreground, 15);
    EXPECT_EQ(VtCellAt(s, 1, 1).background, 8);
    EXPECT_EQ(s.cursorRow, 2);  // wraps only when the next character comes
    FeedVt(s, "c");
    EXPECT_EQ(VtRowText(s, 3), "c");
    FeedVt(s, "\x1b[3;5Hxy");
    EXPECT_EQ(VtRowText(s, 2), "c   x");  // scrolled up one row
    EXPECT_EQ(VtRowText(s, 3), "y");
    FeedVt(s, "\x1b[0m\x1b[?25l\x1b]0;Title\a\x07");
    EXPECT_FALSE(s.cursorVisible);
    EXPECT_EQ(s.title, "Title");
    EXPECT_EQ(s.bells, 1);
    EXPECT_EQ(s.foreground, 7);
}

TEST(VtScreenTest, SequencesSplitAcrossReads) {
    VtScreen s = MakeVtScreen(3, 10);
    FeedVt(s, "\x1b[");
    FeedVt(s, "3;2");
    FeedVt(s, "Hz\x1b[?2");
    FeedVt(s, "5h");
    EXPECT_EQ(VtRowText(s, 3), " z");
    EXPECT_TRUE(s.cursorVisible);
}

TEST(VtScreenTest, Utf8WideCharactersAndInvalidBytes) {
    VtScreen s = MakeVtScreen(3, 5);
    FeedVt(s, "\xc3\xa9\xe6\x97");  // é, then half of 日
    FeedVt(s, "\xa5x\xff");
    EXPECT_EQ(VtRowText(s, 1), "\xc3\xa9\xe6\x97\xa5x\xef\xbf\xbd");
    EXPECT_EQ(VtCellAt(s, 1, 3).ch, "");  // the right half of 日
    EXPECT_EQ(s.cursorRow, 1);
    FeedVt(s, "\x1b[2;5H\xe6\x97\xa5");  // no room at the last column: wraps
    EXPECT_EQ(VtRowText(s, 3), "\xe6\x97\xa5");
    FeedVt(s, "\x1b[3;2Hz");  // writing over half of it blanks the other half
    EXPECT_EQ(VtRowText(s, 3), " z");
}

TEST(VtScreenTest, HistoryKeepsRowsPushedOffByLineFeedsAndClears) {
    VtScreen s = MakeVtScreen(3, 5);
    FeedVt(s, "\x1b[2J");
    EXPECT_TRUE(s.history.empty());  // a blank screen pushes nothing
    FeedVt(s, "a\r\nb\r\nc\r\nd");
    EXPECT_EQ(s.history, std::vector<std::string>{"a"});
    FeedVt(s, "\x1b[2;1H\x1b[K\x1b[H\x1b[2J");
    EXPECT_EQ(s.history, (std::vector<std::string>{"a", "b", "", "d"}));
}

}  // namespace
