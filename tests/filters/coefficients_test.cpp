// Cutting coefficient text into fields, and opening and loading the files.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "filters/filters.h"
#include "support/scratch.h"

namespace {

std::string Lines(int first, int last) {
    std::string text;
    for (int i = first; i <= last; ++i) text += std::to_string(i) + "\r\n";
    return text;
}

// Taps first to last of a filter that passes DC as it is, one a CR LF line:
// 1, then i x 10^-5 for tap i; each after `before`, and `scale` times that.
std::string Taps(int first, int last, const std::string& before = "", int scale = 1) {
    std::string text;
    for (int i = first; i <= last; ++i)
        text +=
            before + (i == 0 ? std::to_string(scale) : std::to_string(i * scale) + "e-5") + "\r\n";
    return text;
}

// The text as UTF-16 with its byte-order mark, in either byte order.
std::string Utf16(std::string_view ascii, bool littleEndian) {
    std::string text = littleEndian ? "\xFF\xFE" : "\xFE\xFF";
    for (char c : ascii) text += littleEndian ? std::string{c, '\0'} : std::string{'\0', c};
    return text;
}

TEST(CoefficientFields, FieldRules) {
    struct Case {
        const char* Name;
        std::string Text;
        std::vector<std::string> Leading;  // fields 0, 1, ...; all later ones empty
    };
    const std::string z(1, '\x1A');
    const std::vector<Case> cases = {
        {"empty file", "", {}},
        {"CR LF lines", "1\r\n2\r\n3\r\n", {"1", "2", "3"}},
        {"last line without an end", "1\r\n2", {"1", "2"}},
        {"commas on one line", "0.5,0.25\r\n7\r\n", {"0.5", "0.25", "7"}},
        {"blank line is a field", "1\r\n\r\n2\r\n", {"1", "", "2"}},
        {"LF only: lines joined", "1\n2\n3\n", {"123"}},
        {"LF only up to a comma", "1\n2,3\n4", {"12", "34"}},
        {"CR alone ends a field", "1\r2\r", {"1", "2"}},
        {"CR takes one LF only", "1\r\n\n2\r\n", {"1", "2"}},
        {"CR CR LF", "1\r\r\n2", {"1", "", "2"}},
        {"TAB dropped", "1\t2,\t3", {"12", "3"}},
        {"leading blanks skipped, inner kept", "   1 2 ,  3", {"1 2 ", "3"}},
        {"Ctrl-Z ends the data", "1\r\n2\r\n" + z + "3\r\n4\r\n", {"1", "2"}},
        {"Ctrl-Z inside a field", "12" + z + "34,5", {"12"}},
        {"Ctrl-Z after blanks", "1,   " + z + ",5", {"1"}},
        {"quote char inside a plain field", "1\"2,3", {"1\"2", "3"}},
        {"quoted field", "\"1.5\"\r\n2\r\n", {"1.5", "2"}},
        {"quoted field keeps separators", "\"1,\r\n\t" + z + "\",2", {"1,\r\n\t" + z, "2"}},
        {"after a quote: blanks, TAB, LF, then comma", "\"7\" \t\n ,8", {"7", "8"}},
        {"after a quote: CR LF", "\"7\"\r\n8", {"7", "8"}},
        {"after a quote: other text starts the next field", "\"7\"x,8", {"7", "x", "8"}},
        {"after a quote: a quote", "\"7\"\"8\"", {"7", "8"}},
        {"unclosed quote runs to the end", "\"abc,d", {"abc,d"}},
        {"blanks before a quote", "  \"5\",6", {"5", "6"}},
        {"empty quoted field", "\"\",4", {"", "4"}},
        {"trailing comma", "1,", {"1"}},
        {"lone commas", ",,3", {"", "", "3"}},
    };
    for (const Case& c : cases) {
        auto fields = ReadCoefficientFields(c.Text);
        for (int i = 0; i < TapCount; ++i) {
            std::string expected = i < int(c.Leading.size()) ? c.Leading[i] : "";
            EXPECT_EQ(fields[i], expected) << c.Name << ", field " << i;
        }
    }
}

// Lines joined at a line feed without CR change the numbers silently, so
// the load says so; the CR LF forms a file may have must never be named.
TEST(CoefficientFields, LinesJoinedWithoutCr) {
    const std::string z(1, '\x1A');
    const std::pair<const char*, std::string> joined[] = {
        {"LF line ends", "1\n0\n0\n"},
        {"LF after CR LF lines", "1\r\n2\r\n3\n4\r\n"},
        {"blanks and TABs around the LF", "1 \t\n \t2"},
        {"blank LF lines between", "1\n\n\n2"},
        {"text that is not a number", "x\ny"},
        {"after a quoted field", "\"1\"\n2\n3"},
        {"in the 64th field", Lines(0, 62) + "5\n6"},
    };
    const std::pair<const char*, std::string> notJoined[] = {
        {"empty file", ""},
        {"CR LF lines", Lines(0, 63)},
        {"one line with an LF end", "1\n"},
        {"blank LF line after a CR LF", "1\r\n\n2\r\n"},
        {"LF before the text", "\n\n1,2"},
        {"blanks after the LF", "1\n  \t\r\n2"},
        {"LF just before a comma", "1\n,2"},
        {"LF just before Ctrl-Z", "1\n" + z + "2"},
        {"LF inside quotes is kept", "\"1\n2\""},
        {"LF between quoted fields", "\"1\"\n\"2\""},
        {"beyond the 64th field", Lines(0, 63) + "5\n6"},
        {"CR alone", "1\r2\r"},
    };
    for (const auto& [name, text] : joined)
        EXPECT_TRUE(SurveyCoefficientText(text).JoinedLines) << name;
    for (const auto& [name, text] : notJoined)
        EXPECT_FALSE(SurveyCoefficientText(text).JoinedLines) << name;
}

// What the user is told about a file whose taps may not be the ones its
// author meant (the taps stay as read); a file of 64 numbers, one a CR LF
// line, is told nothing.
TEST(CoefficientNotes, EachOddityOfAFileIsNamed) {
    const std::string bom = "\xEF\xBB\xBF", z(1, '\x1A');
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {Taps(0, 63), {}},
        {Taps(0, 63) + "\r\n\r\n" + z + "1\r\n", {}},
        {"0.5,0.25\r\n1e-5,2e-5,3e-5\r\n\"4e-5\",5e-5\r\n" + Taps(7, 63), {}},
        {Taps(0, 63) + "end\r\n", {}},
        {bom + Taps(0, 63),
         {"UTF-8 byte-order mark: field 1 reads as 0", "taps sum to 0.02016: -33.9 dB at DC"}},
        {"1\n0\n0\n", {"line feeds without CR joined its lines into one field"}},
        {Taps(0, 99), {"holds 100 numbers: only the first 64 fields are taps"}},
        {Taps(0, 9), {"holds only 10 numbers: the other taps are 0"}},
        {"1\r\n", {"holds only 1 number: the other taps are 0"}},
        {"", {"holds no number: every tap is 0"}},
        {Taps(0, 1) + "x\r\n" + Taps(3, 63), {"field 3 is not a number: read as 0"}},
        {"a\r\n\r\n\r\n" + Taps(3, 4) + "b\r\n" + Taps(6, 63),
         {"fields 1, 2 and 2 more are not numbers: read as 0",
          "taps sum to 0.02008: -33.9 dB at DC"}},
        {Taps(0, 9) + "\r\n" + Taps(10, 63),
         {"field 11 is not a number: read as 0, which moves every later tap by one, and 0.00063 "
          "is dropped as field 65"}},
        {"0,5\r\n-0,25\r\n1,5E-3\r\n" + Taps(3, 63),
         {"decimal commas end fields 1, 3 and 5",
          "holds 67 numbers: only the first 64 fields are taps",
          "taps sum to 31.02327: +29.8 dB at DC"}},
        {bom + "0,5\r\n" + Taps(2, 20),
         {"UTF-8 byte-order mark: field 1 reads as 0",
          "holds only 20 numbers: the other taps are 0", "taps sum to 5.00209: +14.0 dB at DC"}},
    };
    for (const auto& [text, notes] : cases) {
        EXPECT_EQ(CoefficientNotes(SurveyCoefficientText(text)), notes) << text.substr(0, 40);
    }
}

// The files users bring: each differs from a good one (the taps alone, one
// a CR LF line) in one way, and each gets its note and --check's verdict.
// UTF-16 is read as the text it holds: the very taps of the UTF-8 file.
TEST(CoefficientFiles, UsersOwnFiles) {
    struct Case {
        const char* Name;
        std::string Text;
        std::vector<std::string> Notes;
        std::string Verdict;
    };
    const std::string good = Taps(0, 63);
    const Case cases[] = {
        {"as meant", good, {}, "as expected"},
        {"two columns, TAB",
         Taps(0, 63, "7\t"),
         {"fields 1, 2 and 62 more hold two numbers each: field 1 read as 71",
          "taps sum to 71.40446: +37.1 dB at DC"},
         "look at fields 1, 2 and 62 more: two numbers in one field (two columns?); keep the "
         "taps alone, one a line"},
        {"two columns, blanks",
         Taps(0, 63, "7  "),
         {"fields 1, 2 and 62 more hold two numbers each: field 1 read as 7",
          "taps sum to 448: +53.0 dB at DC"},
         "look at fields 1, 2 and 62 more: two numbers in one field (two columns?); keep the "
         "taps alone, one a line"},
        {"one field of two numbers",
         Taps(0, 4) + "5e-5 0.5\r\n" + Taps(6, 63),
         {"field 6 holds two numbers: read as 5e-05"},
         "look at field 6: two numbers in one field (two columns?); keep the taps alone, one a "
         "line"},
        {"x100",
         Taps(0, 63, "", 100),
         {"taps sum to 102.016: +40.2 dB at DC"},
         "look at the taps' scale: they sum to 102.016 where the error filters sum to 1"},
        {"UTF-16 LE",
         Utf16(good, true),
         {"UTF-16 LE text: read as the text it holds"},
         "as expected"},
        {"UTF-16 BE",
         Utf16(good, false),
         {"UTF-16 BE text: read as the text it holds"},
         "as expected"},
        {"a blank line",
         Taps(0, 9) + "\r\n" + Taps(10, 63),
         {"field 11 is not a number: read as 0, which moves every later tap by one, and 0.00063 "
          "is dropped as field 65"},
         "look at field 11: remove lines that hold no number, so that each tap stands at its "
         "place"},
        {"a header line",
         "taps\r\n" + good,
         {"field 1 is not a number: read as 0, which moves every later tap by one, and 0.00063 "
          "is dropped as field 65"},
         "look at field 1: remove lines that hold no number, so that each tap stands at its place"},
    };
    const CoefficientSet meant = ParseCoefficientText(good);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const CoefficientSurvey survey = SurveyCoefficientText(c.Text);
        EXPECT_EQ(CoefficientNotes(survey), c.Notes);
        EXPECT_EQ(CoefficientVerdict(survey), c.Verdict);
        if (c.Text.starts_with("\xFF") || c.Text.starts_with("\xFE")) {
            EXPECT_EQ(ParseCoefficientText(c.Text), meant);
        }
    }
}

// UTF-16 beyond ASCII: each character as its UTF-8 bytes, a pair of
// surrogates as one, a lone one as U+FFFD; an odd last byte ends the text;
// a first byte that begins no mark is an ordinary byte.
TEST(CoefficientFields, Utf16TextAsItsUtf8Bytes) {
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {std::string("\xFF\xFE"
                     "1\0,\0\xE9\0,\0\xAC\x20,\0",
                     14),
         {"1", "\xC3\xA9", "\xE2\x82\xAC"}},
        {std::string("\xFE\xFF\xD8\x3D\xDE\x00\0,\0\x32", 10), {"\xF0\x9F\x98\x80", "2"}},
        {std::string("\xFF\xFE\x00\xD8,\0"
                     "3\0\x00\xDC,\0",
                     12),
         {"\xEF\xBF\xBD", "3\xEF\xBF\xBD"}},
        {std::string("\xFF\xFE"
                     "4\0"
                     "5",
                     5),
         {"4"}},
        {"\xFF"
         "1,2",
         {"\xFF"
          "1",
          "2"}},
        {"\xFE\xFE", {"\xFE\xFE"}},
    };
    for (const auto& [text, leading] : cases) {
        auto fields = ReadCoefficientFields(text);
        for (size_t i = 0; i < leading.size(); ++i) EXPECT_EQ(fields[i], leading[i]) << i;
        EXPECT_EQ(fields[leading.size()], "");
    }
}

TEST(CoefficientFields, OnlyTheFirstSixtyFourFields) {
    auto fields = ReadCoefficientFields(Lines(0, 69));
    for (int i = 0; i < TapCount; ++i) EXPECT_EQ(fields[i], std::to_string(i));

    fields = ReadCoefficientFields(Lines(0, 9));  // ten lines: 54 empty fields
    EXPECT_EQ(fields[9], "9");
    for (int i = 10; i < TapCount; ++i) EXPECT_EQ(fields[i], "") << i;
}

TEST(CoefficientText, FieldsBecomeDoubles) {
    std::string text =
        "0.5,0.25\r\n\r\n\"1.5\"\r\n-2\r\nnot a number\r\n" + std::string(1, '\x1A') + "9";
    auto values = ParseCoefficientText(text);
    const double expected[] = {0.5, 0.25, 0.0, 1.5, -2.0, 0.0};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(values[i], expected[i]) << i;
    for (int i = 6; i < TapCount; ++i) EXPECT_EQ(values[i], 0.0) << i;

    std::string impulse = "1\r\n";
    for (int i = 1; i < TapCount; ++i) impulse += "0\r\n";
    values = ParseCoefficientText(impulse);
    EXPECT_EQ(values[0], 1.0);
    for (int i = 1; i < TapCount; ++i) EXPECT_EQ(values[i], 0.0) << i;
}

TEST(CoefficientFiles, LoadOverwritesEverything) {
    ScratchDir dir;
    std::string name = dir.File("FO.dat");
    std::ofstream(name, std::ios::binary) << "1\r\n0.5,0.25\r\n";
    CoefficientLoad load = LoadCoefficients(name);
    ASSERT_TRUE(load.Opened);
    EXPECT_FALSE(load.Survey.JoinedLines);
    const CoefficientSet& coefficients = load.Values;
    EXPECT_EQ(coefficients[0], 1.0);
    EXPECT_EQ(coefficients[1], 0.5);
    EXPECT_EQ(coefficients[2], 0.25);
    for (int i = 3; i < TapCount; ++i) EXPECT_EQ(coefficients[i], 0.0) << i;
}

}  // namespace
