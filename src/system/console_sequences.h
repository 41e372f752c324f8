// The sequence reader: the bytes the console draws with (the frame's escape
// sequences, the title, the size request, the beep; console/console.h lists
// them) read back as the operations of a text console that takes no escape
// sequences itself, such as the Windows console. No I/O: the Windows device
// carries the operations out as console calls, and the tests run it on the
// frames the terminal side draws.
#pragma once

#include <string>
#include <string_view>
#include <vector>

enum class ConsoleStep {
    Move,        // the cursor to `row`, `column` of the window (1-based)
    Attributes,  // the colours of the text that follows become `attribute`
    FillWindow,  // every cell of the window blank in `attribute`
    FillRowEnd,  // from the cursor to the end of its row blank in `attribute`
    Text,        // `text` (UTF-8; CR and LF among it move as on a terminal)
    Cursor,      // the cursor shown or hidden (`shown`)
    Title,       // the window's title becomes `text`
    Size,        // a window of `row` rows and `column` columns asked for
    Beep,
};

// One operation. `attribute` is a console cell attribute: foreground + 16 x
// background in the console's palette (1 blue, 4 red), as the screen model
// holds it.
struct ConsoleOperation {
    ConsoleStep step = ConsoleStep::Text;
    int row = 0;
    int column = 0;
    int attribute = 0;
    bool shown = false;
    std::string text;

    bool operator==(const ConsoleOperation&) const = default;
};

// What the reader keeps from one write to the next.
struct SequenceReader {
    int ownAttribute = 0x07;  // the console's colours as found, for ESC [ 0 m
    int attribute = 0x07;     // the colours now
    std::string pending;      // a sequence or character cut at the end of a write
};

// Reads `bytes` on from where the last call left off and appends their
// operations; consecutive text becomes one Text. A sequence or a UTF-8
// character cut at the end waits in `reader` for the next write. Sequences
// the console does not draw with are passed over.
void ReadConsoleSequences(SequenceReader& reader, std::string_view bytes,
                          std::vector<ConsoleOperation>& operations);
