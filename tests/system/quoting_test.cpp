// Texts from outside in one-line messages: nothing that could steer the
// terminal gets through, and everything else stays readable.
#include "system/quoting.h"

#include <gtest/gtest.h>

#include <string>

#include "system/files.h"

namespace {

TEST(PrintableText, EscapesControlsAndBytesThatAreNotUtf8) {
    struct Case {
        std::string Text;
        std::string Shown;
    };
    const Case cases[] = {
        {"take 1.wav", "take 1.wav"},
        {"caf\xc3\xa9 \xe4\xb8\xad \xf0\x9f\x8e\xb5.wav",
         "caf\xc3\xa9 \xe4\xb8\xad \xf0\x9f\x8e\xb5.wav"},
        {"it's \"a\" \\b", "it's \"a\" \\b"},              // quotes and backslashes as they are
        {"\x1b[2J\x07\t\x7f", "\\x1B[2J\\x07\\x09\\x7F"},  // C0 and DEL
        {std::string("a\0b", 3), "a\\x00b"},
        {"\xc2\x9b"
         "2J\xc2\x85",
         "\\xC2\\x9B2J\\xC2\\x85"},            // C1 controls: CSI, NEL
        {"\xc2\xa0", "\xc2\xa0"},              // U+00A0 is no control
        {"\xff\xfe", "\\xFF\\xFE"},            // never in UTF-8
        {"\xe9t\xe9.wav", "\\xE9t\\xE9.wav"},  // Latin-1
        {"\xc3", "\\xC3"},                     // cut short
        {"\xe4\xb8", "\\xE4\\xB8"},
        {"\x80", "\\x80"},           // a stray continuation byte
        {"\xc0\xaf", "\\xC0\\xAF"},  // overlong '/'
        {"\xe0\x80\xaf", "\\xE0\\x80\\xAF"},
        {"\xed\xa0\x80", "\\xED\\xA0\\x80"},           // a surrogate
        {"\xf4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"},  // beyond U+10FFFF
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PrintableText(c.Text), c.Shown) << c.Shown;
        EXPECT_EQ(QuotedArgument(c.Text), "'" + c.Shown + "'") << c.Shown;
    }
}

// Whatever the system's shell, a suggested command never carries a control
// byte, and a plain name is the tool's name.
TEST(CommandArgument, NeverCarriesAControlByte) {
    const std::string quoted = CommandArgument("a\x1b[2Jb\xc2\x9b.wav");
    EXPECT_EQ(quoted.find('\x1b'), std::string::npos) << quoted;
    EXPECT_EQ(quoted.find("\xc2\x9b"), std::string::npos) << quoted;
    EXPECT_NE(quoted.find("\\x1B[2Jb\\xC2\\x9B.wav"), std::string::npos) << quoted;
}

// The one rule for paths in every program: the last part's extension
// starts at its last dot, a leading dot starts none.
TEST(SplitPath, FolderStemAndExtension) {
    struct Case {
        const char* Path;
        const char* Folder;
        const char* Stem;
        const char* Extension;
    };
    const Case cases[] = {
        {"take.wav", "", "take", ".wav"},
        {"music/take 1.flac", "music/", "take 1", ".flac"},
        {"a.b/take", "a.b/", "take", ""},
        {".hidden", "", ".hidden", ""},
        {"a/.hidden.wav", "a/", ".hidden", ".wav"},
        {"take.", "", "take", "."},
        {"x.tar.gz", "", "x.tar", ".gz"},
    };
    for (const Case& c : cases) {
        const PathParts parts = SplitPath(c.Path);
        EXPECT_EQ(parts.Folder, c.Folder) << c.Path;
        EXPECT_EQ(parts.Stem, c.Stem) << c.Path;
        EXPECT_EQ(parts.Extension, c.Extension) << c.Path;
    }
}

}  // namespace
