// Texts from outside the program (paths, arguments, settings) as messages
// show them, and as the commands the programs suggest quote them for this
// system's shell.
#pragma once

#include <string>
#include <string_view>

// `text` as a one-line message may show it: control bytes (C0, DEL and the
// C1 range), and bytes that are not part of valid UTF-8, written as \xHH,
// so that a message can never steer the terminal. All else stays as it is,
// quotes and backslashes included.
std::string PrintableText(std::string_view text);

// The same in single quotes: 'take 1.wav'.
std::string QuotedArgument(std::string_view text);

// `text` as one argument of a command to copy into this system's shell,
// printable as above: in POSIX single quotes ('it'\''s.wav'); on Windows
// in double quotes for cmd.exe.
std::string CommandArgument(std::string_view text);

// How the user starts the project's program `name` (such as
// "phonoskew-prepare") from this system's shell: the name itself; on
// Windows the full path of the program beside this one, quoted, when this
// program's folder is not on PATH.
std::string ToolCommand(std::string_view name);
