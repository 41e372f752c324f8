// The verdict's arithmetic against a table worked by hand, the draws of X
// against the random source's own recurrence, the log's line, and the
// command line.
#include <gtest/gtest.h>

#include "listen/listen.h"

namespace {

TEST(BinomialPValue, MatchesTheTableWorkedByHand) {
    // sum_{k>=right} C(n, k) / 2^n: 12/16 = 2517/65536, 9/10 = 11/1024,
    // 8/16 = 39203/65536.
    const struct {
        int right, trials;
        double p;
    } table[] = {{12, 16, 0.0384063720703125},  {9, 10, 0.0107421875}, {8, 16, 0.5981903076171875},
                 {16, 16, 1.0 / 65536},         {0, 16, 1.0},          {1, 1, 0.5},
                 {15, 20, 0.020694732666015625}};
    for (const auto& row : table)
        EXPECT_NEAR(BinomialPValue(row.right, row.trials), row.p, row.p * 1e-9)
            << row.right << "/" << row.trials;
    EXPECT_LT(BinomialPValue(1000, 1000), 1e-300);
}

TEST(VerdictSentence, SaysScoreChanceAndWhatItMeans) {
    EXPECT_EQ(VerdictSentence(12, 16), "12 of 16 right: p = 0.038, unlikely to be chance");
    EXPECT_EQ(VerdictSentence(8, 16), "8 of 16 right: p = 0.598, could well be chance");
    EXPECT_EQ(VerdictSentence(9, 10), "9 of 10 right: p = 0.011, unlikely to be chance");
}

TEST(DrawTrials, FollowsTheSeededSourcesTopBit) {
    uint32_t state = 12345;
    const std::vector<Side> draws = DrawTrials(12345, 64);
    int bs = 0;
    for (Side draw : draws) {
        state = state * 134775813u + 1u;
        EXPECT_EQ(draw, state >= 0x80000000u ? Side::B : Side::A);
        bs += draw == Side::B;
    }
    EXPECT_GT(bs, 16);
    EXPECT_LT(bs, 48);
}

TEST(LogLine, HoldsOutputGainsXAnswerPlaysAndTime) {
    TrialRecord record;
    record.Output = 2;
    record.Gains.ADb = -0.085;
    record.Trial = 3;
    record.X = Side::B;
    record.Answer = Side::A;
    record.Plays = {2, 1, 4};
    record.Seconds = 12.34;
    EXPECT_EQ(LogLine("2026-01-02T03:04:05Z", record),
              "2026-01-02T03:04:05Z output 2 gains A -0.085 dB B +0.000 dB trial 3 X B answer A "
              "wrong plays A 2 B 1 X 4 time 12.3 s");
}

TEST(MatchGains, LowersTheLouderSide) {
    SideLevels a, b;
    a.LoudnessLufs = -20.0, b.LoudnessLufs = -20.085;
    a.RmsDb = -18.0, b.RmsDb = -17.9;
    MatchedGains loud = MatchGains(a, b, LevelMatch::Loudness);
    EXPECT_NEAR(loud.ADb, -0.085, 1e-12);
    EXPECT_EQ(loud.BDb, 0.0);
    EXPECT_EQ(DescribeMatch(loud, LevelMatch::Loudness),
              "B is 0.085 dB quieter (integrated loudness); matched: A lowered 0.085 dB");
    MatchedGains rms = MatchGains(a, b, LevelMatch::Rms);
    EXPECT_EQ(rms.ADb, 0.0);
    EXPECT_NEAR(rms.BDb, -0.1, 1e-12);
    MatchedGains none = MatchGains(a, b, LevelMatch::None);
    EXPECT_EQ(none.ADb, 0.0);
    EXPECT_EQ(none.BDb, 0.0);
    b.LoudnessLufs = -HUGE_VAL;  // silence: nothing to match
    EXPECT_EQ(MatchGains(a, b, LevelMatch::Loudness).ADb, 0.0);
}

ListenCommand Parse(std::vector<const char*> words) {
    words.insert(words.begin(), "phonoskew-listen");
    return ParseListenCommand(int(words.size()), words.data());
}

TEST(ParseListenCommand, TableOfCommandLines) {
    const struct {
        std::vector<const char*> words;
        ListenAction action;
        const char* problem;  // part of the refusal
    } table[] = {
        {{"r.wav"}, ListenAction::Session, ""},
        {{"r.wav", "1", "3"}, ListenAction::Session, ""},
        {{"--export", "out", "r.wav"}, ListenAction::Work, ""},
        {{"r.wav", "--report"}, ListenAction::Work, ""},
        {{"--write-reference", "r.wav"}, ListenAction::Work, ""},
        {{"--list-devices"}, ListenAction::ListDevices, ""},
        {{"r.wav", "--help", "--bad"}, ListenAction::Help, ""},
        {{"--version"}, ListenAction::Version, ""},
        {{}, ListenAction::Refuse, "no recording given"},
        {{"r.wav", "5"}, ListenAction::Refuse, "an output is a number from 1 to 4, got '5'"},
        {{"r.wav", "2", "2"}, ListenAction::Refuse, "output 2 named twice"},
        {{"--trials", "0", "r.wav"}, ListenAction::Refuse, "--trials wants a number from 1"},
        {{"--trials"}, ListenAction::Refuse, "option '--trials' needs a number of trials"},
        {{"--match=loud", "r.wav"}, ListenAction::Refuse, "--match wants loudness, rms or none"},
        {{"--seed", "-1", "r.wav"}, ListenAction::Refuse, "--seed wants a number"},
        {{"--from", "1:2:3", "r.wav"}, ListenAction::Refuse, "--from wants a time"},
        {{"--from", "2", "--to", "1.5", "r.wav"}, ListenAction::Refuse, "--to must come after"},
        {{"--loud", "r.wav"}, ListenAction::Refuse, "unrecognized option '--loud'"},
        {{"--rate", "1000", "r.wav"}, ListenAction::Refuse, "--rate wants a rate from 8000"},
    };
    for (const auto& row : table) {
        const ListenCommand command = Parse(row.words);
        EXPECT_EQ(command.Action, row.action) << command.Problem;
        EXPECT_NE(command.Problem.find(row.problem), std::string::npos) << command.Problem;
    }
    const ListenCommand full =
        Parse({"--match", "rms", "--trials=20", "--seed", "4294967295", "--from", "1:02.5",
               "--to=70", "--device", "2", "--rate=44100", "--", "-odd.wav", "4"});
    EXPECT_EQ(full.Match, LevelMatch::Rms);
    EXPECT_EQ(full.Trials, 20);
    EXPECT_EQ(full.Seed, 4294967295u);
    EXPECT_DOUBLE_EQ(full.FromSeconds, 62.5);
    EXPECT_DOUBLE_EQ(full.ToSeconds, 70.0);
    EXPECT_EQ(full.Device, "2");
    EXPECT_EQ(full.Rate, 44100.0);
    EXPECT_EQ(full.Recording, "-odd.wav");
    EXPECT_EQ(full.Outputs, std::vector<int>{4});
}

}  // namespace
