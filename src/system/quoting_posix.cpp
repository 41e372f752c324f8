// Commands for a POSIX shell.
#include "system/quoting.h"

// Single quotes keep every byte; a quote inside is closed, escaped and
// reopened.
std::string CommandArgument(std::string_view text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return PrintableText(quoted + "'");
}

std::string ToolCommand(std::string_view name) { return std::string(name); }
