// The sequence reader: CSI sequences (cursor place, colours, clears, the
// cursor shown or hidden, the window's size), OSC 2 (the title), BEL (the
// beep) and the text between them.
#include "system/console_sequences.h"

#include <algorithm>
#include <charconv>

namespace {

constexpr char Escape = '\x1b';
constexpr char Bell = '\a';
constexpr int MostParameters = 8;

// The terminal palette (ANSI order: red 1, blue 4) to the console's (blue
// 1, red 4): the two orders swap bits 0 and 2.
int ConsoleColour(int ansi) { return (ansi & 0xA) | (ansi & 1) << 2 | (ansi & 4) >> 2; }

// The CSI parameters: numbers split by ';', an empty one 0.
struct Parameters {
    bool privateMode = false;  // a leading '?'
    int values[MostParameters] = {};
    int count = 0;
};

Parameters ReadParameters(std::string_view body) {
    Parameters parameters;
    if (!body.empty() && body[0] == '?') {
        parameters.privateMode = true;
        body.remove_prefix(1);
    }
    if (body.empty()) return parameters;
    for (;;) {
        size_t end = std::min(body.find(';'), body.size());
        int value = 0;
        std::from_chars(body.data(), body.data() + end, value);
        if (parameters.count < MostParameters) parameters.values[parameters.count++] = value;
        if (end == body.size()) break;
        body.remove_prefix(end + 1);
    }
    return parameters;
}

// ESC [ ... m: each value changes the foreground or the background; 0 (or
// none) puts back the console's own colours.
int ColoursAfter(const SequenceReader& reader, const Parameters& parameters) {
    int attribute = reader.attribute;
    for (int i = 0; i < std::max(parameters.count, 1); ++i) {
        const int value = parameters.count == 0 ? 0 : parameters.values[i];
        const int foreground = attribute & 0x0F;
        const int background = attribute & 0xF0;
        if (value == 0) attribute = reader.ownAttribute;
        if (value >= 30 && value <= 37) attribute = background | ConsoleColour(value - 30);
        if (value >= 90 && value <= 97) attribute = background | ConsoleColour(value - 90 + 8);
        if (value == 39) attribute = background | (reader.ownAttribute & 0x0F);
        if (value >= 40 && value <= 47) attribute = foreground | ConsoleColour(value - 40) << 4;
        if (value >= 100 && value <= 107)
            attribute = foreground | ConsoleColour(value - 100 + 8) << 4;
        if (value == 49) attribute = foreground | (reader.ownAttribute & 0xF0);
    }
    return attribute;
}

ConsoleOperation Operation(ConsoleStep step, int attribute = 0) {
    ConsoleOperation operation;
    operation.step = step;
    operation.attribute = attribute;
    return operation;
}

void ControlSequence(SequenceReader& reader, std::string_view body, char final,
                     std::vector<ConsoleOperation>& operations) {
    const Parameters p = ReadParameters(body);
    auto value = [&p](int i) { return i < p.count && p.values[i] > 0 ? p.values[i] : 1; };
    ConsoleOperation operation;
    switch (final) {
        case 'H':
            operation = Operation(ConsoleStep::Move);
            operation.row = value(0);
            operation.column = value(1);
            break;
        case 'J':
            operation = Operation(ConsoleStep::FillWindow, reader.attribute);
            break;
        case 'K':
            operation = Operation(ConsoleStep::FillRowEnd, reader.attribute);
            break;
        case 'm':
            reader.attribute = ColoursAfter(reader, p);
            operation = Operation(ConsoleStep::Attributes, reader.attribute);
            break;
        case 'h':
        case 'l':
            if (!p.privateMode || p.count != 1 || p.values[0] != 25) return;
            operation = Operation(ConsoleStep::Cursor);
            operation.shown = final == 'h';
            break;
        case 't':
            if (p.count != 3 || p.values[0] != 8) return;
            operation = Operation(ConsoleStep::Size);
            operation.row = p.values[1];
            operation.column = p.values[2];
            break;
        default:
            return;
    }
    operations.push_back(operation);
}

void AddText(std::string_view text, std::vector<ConsoleOperation>& operations) {
    if (text.empty()) return;
    if (!operations.empty() && operations.back().step == ConsoleStep::Text) {
        operations.back().text += text;
    } else {
        operations.push_back(Operation(ConsoleStep::Text));
        operations.back().text = text;
    }
}

// The length of a UTF-8 character cut off at the end of `text`, 0 if none.
size_t CutCharacterLength(std::string_view text) {
    for (size_t back = 1; back <= std::min<size_t>(3, text.size()); ++back) {
        const auto byte = static_cast<unsigned char>(text[text.size() - back]);
        if ((byte & 0xC0) == 0x80) continue;  // a continuation byte: look further back
        const size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
        return length > back ? back : 0;
    }
    return 0;
}

// The length of the sequence at the start of `rest` (an ESC), 0 when it is
// cut off at the end.
size_t SequenceLength(std::string_view rest) {
    if (rest.size() < 2) return 0;
    if (rest[1] == '[') {
        for (size_t end = 2; end < rest.size(); ++end) {
            if (rest[end] >= 0x40 && rest[end] <= 0x7E) return end + 1;
        }
        return 0;
    }
    if (rest[1] == ']') {
        const size_t end = rest.find(Bell);
        return end == std::string_view::npos ? 0 : end + 1;
    }
    return 2;  // no other sequence is sent: passed over
}

void Sequence(SequenceReader& reader, std::string_view sequence,
              std::vector<ConsoleOperation>& operations) {
    if (sequence[1] == '[') {
        ControlSequence(reader, sequence.substr(2, sequence.size() - 3), sequence.back(),
                        operations);
    } else if (sequence[1] == ']' && sequence.substr(2).starts_with("2;")) {
        operations.push_back(Operation(ConsoleStep::Title));
        operations.back().text = sequence.substr(4, sequence.size() - 5);
    }
}

}  // namespace

void ReadConsoleSequences(SequenceReader& reader, std::string_view bytes,
                          std::vector<ConsoleOperation>& operations) {
    const std::string all = reader.pending + std::string(bytes);
    reader.pending.clear();
    std::string_view rest = all;
    while (!rest.empty()) {
        const size_t special = rest.find_first_of("\x1b\a");
        std::string_view text = rest.substr(0, std::min(special, rest.size()));
        if (special == std::string_view::npos) {
            const size_t cut = CutCharacterLength(text);
            reader.pending = std::string(text.substr(text.size() - cut));
            AddText(text.substr(0, text.size() - cut), operations);
            return;
        }
        AddText(text, operations);
        rest.remove_prefix(special);
        if (rest[0] == Bell) {
            operations.push_back(Operation(ConsoleStep::Beep));
            rest.remove_prefix(1);
            continue;
        }
        const size_t length = SequenceLength(rest);
        if (length == 0) {
            reader.pending = std::string(rest);
            return;
        }
        Sequence(reader, rest.substr(0, length), operations);
        rest.remove_prefix(length);
    }
}
