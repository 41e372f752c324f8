// Laying out and drawing the modal message box. Internal to the console
// folder (and its tests).
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Where a box stands on the screen (1-based, frame included).
struct BoxPlace {
    int top;
    int left;
    int rows;
    int columns;
};

// The message's lines: the two characters backslash and n break the line
// (a real line feed does too).
std::vector<std::string> SplitBoxMessage(std::string_view message);

// The message as one line for standard error: "phonoskew: " and the
// message's lines, each without its outer blanks, joined by one blank.
std::string ReasonLine(std::string_view message);

// The box for these lines and title, centred on the given part of the
// screen (the part the terminal shows). Lines too long for that part are
// cut into pieces that fit (a box is never narrower than its hint line);
// `lines` is changed to the lines as shown. Where the shown rows leave
// room, the box keeps clear of `clearRow` (the typed path's row; 0: none).
BoxPlace PlaceMessageBox(std::vector<std::string>& lines, std::string_view title, int firstRow,
                         int rowCount, int firstColumn, int columnCount, int clearRow = 0);

// Draws the framed box into the screen model.
void DrawMessageBox(const BoxPlace& place, const std::vector<std::string>& lines,
                    std::string_view title);
