// The plain transcript: which rows go out, when, and that a scroll loses none.
#include "console/transcript.h"

#include <gtest/gtest.h>

#include <string>

#include "console/screen.h"

namespace {

TEST(TranscriptTest, LogsARowOnceTheProgramHasMovedOnBelowIt) {
    ResetScreen();
    StartTranscript(true);
    PrintText("   Input file?");
    EndLine();
    EXPECT_EQ(TakeTranscriptText(), "");  // the prompt row is still to be typed on
    MoveCursor(1, 17);
    PrintText("take1.wav");
    EndLine();
    PrintText("Done");
    EXPECT_EQ(TakeTranscriptText(), "   Input file?  take1.wav\n");
    EndLine();
    LogFinishedRows(true);
    EXPECT_EQ(TakeTranscriptText(), "Done\n");
}

// Rows scrolled off the top go out first, also when one text scrolls the
// whole screen away before the transcript is next asked.
TEST(TranscriptTest, EveryRowGoesOutOnceThoughItScrollsAway) {
    const struct {
        const char* name;
        bool oneText;
    } cases[] = {{"a line at a time", false}, {"all in one text", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ResetScreen();
        StartTranscript(true);
        std::string expected, all;
        for (int i = 1; i <= 130; ++i) {
            std::string row = "row " + std::to_string(i);
            expected += row + "\n";
            all += row + std::string(80 - row.size(), ' ');
            if (!c.oneText) {
                PrintText(row);
                EndLine();
            }
        }
        if (c.oneText) PrintText(all);
        LogFinishedRows(true);
        // Trailing blanks are not part of a row's text.
        EXPECT_EQ(TakeTranscriptText(), expected);
    }
}

}  // namespace
