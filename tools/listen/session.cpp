// The ABX session in a plain line interface: keys read raw from the
// terminal device, the player rendered a block at a time as the device
// wants it, each answer logged as it is given.
#include <chrono>
#include <cstdio>
#include <ctime>

#include "listen/listen.h"
#include "system/clock.h"
#include "system/files.h"
#include "system/terminal_device.h"

namespace {

constexpr int64_t BlockFrames = 480;  // 5 ms at 96 kHz
constexpr char InterruptByte = 3;     // Ctrl-C, a byte in raw mode
constexpr char SuspendByte = 26;      // Ctrl-Z

// The state of the trial being answered.
struct TrialState {
    Player player;
    int trial = 0;
    std::array<int, 3> plays{};
    int64_t startMs = 0;
    char lastKey = 'a';  // what space goes back to
    bool paused = true;
    bool answered = false;
    bool ended = false;
};

void Say(const std::string& text) { WriteToStandardOutput(text); }

std::string UtcNow() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&now));
    return text;
}

std::string TimeText(int64_t frame, double rate) {
    const double seconds = double(frame) / rate;
    char text[32];
    std::snprintf(text, sizeof text, "%d:%04.1f", int(seconds / 60.0),
                  seconds - 60.0 * int(seconds / 60.0));
    return text;
}

void AppendToLog(const std::string& path, const std::string& line) {
    // Appended through the system's files: an old log is read, extended and
    // replaced whole, so a log is never left half written.
    const TextResult old = ReadSmallFile(path, size_t(64) << 20);
    const std::string text = old.Text + line + "\n";
    ReplaceFile(path, {std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size())});
}

// Plays what a key names ('a', 'b' or 'x': this trial's X); a play counts
// unless it only goes on after a pause.
void Play(TrialState& state, const SessionOutput& output, char key, bool counted) {
    const Side side = key == 'a' ? Side::A : key == 'b' ? Side::B : output.Xs[size_t(state.trial)];
    if (counted) ++state.plays[key == 'a' ? 0 : key == 'b' ? 1 : 2];
    state.lastKey = key;
    state.paused = false;
    SwitchTo(state.player, side);
    Say(std::string("  ") + char(key - 'a' + 'A') + "\n");
}

void Answer(TrialState& state, const SessionOutput& output, const SessionRequest& request,
            Side answer, SessionOutcome& outcome) {
    TrialRecord record;
    record.Output = output.Output;
    record.Gains = output.Gains;
    record.Trial = state.trial + 1;
    record.X = output.Xs[size_t(state.trial)];
    record.Answer = answer;
    record.Plays = state.plays;
    record.Seconds = double(MonotonicMilliseconds() - state.startMs) / 1000.0;
    outcome.Records.push_back(record);
    AppendToLog(request.LogPath, LogLine(UtcNow(), record));
    Say(std::string("  answered: X is ") + (answer == Side::A ? "A" : "B") + "\n");
    state.answered = true;
}

void SetLoopEnd(TrialState& state, double rate, bool start) {
    Player& player = state.player;
    if (start) {
        SetLoop(player, player.Position, player.LoopTo);
    } else {
        SetLoop(player, player.LoopFrom, player.Position);
    }
    Say("  loop " + TimeText(player.LoopFrom, rate) + " to " + TimeText(player.LoopTo, rate) +
        "\n");
}

// One key.
void TakeKey(char key, TrialState& state, SoundDevice& device, const SessionOutput& output,
             const SessionRequest& request, SessionOutcome& outcome) {
    switch (key) {
        case 'a':
        case 'b':
        case 'x':
        case 'A':
        case 'B':
        case 'X':
            Play(state, output, char(key | 0x20), true);
            break;
        case ' ':
            if (state.paused) {
                Play(state, output, state.lastKey, false);
            } else {
                state.paused = true;
                SwitchTo(state.player, Side::Silent);
                Say("  paused\n");
            }
            break;
        case '[':
        case ']':
            SetLoopEnd(state, device.Rate, key == '[');
            break;
        case '\\':
            SetLoop(state.player, 0, state.player.Frames);
            Say("  loop: the whole recording\n");
            break;
        case '1':
        case '2':
            Answer(state, output, request, key == '1' ? Side::A : Side::B, outcome);
            break;
        case 'q':
        case 'Q':
        case InterruptByte:
            state.ended = true;
            outcome.EndedEarly = true;
            break;
        case SuspendByte:
            if (!request.KeysFromTerminal) break;
            StopDevice(device);
            SuspendProgram();
            RestartDevice(device);
            break;
        default:
            break;
    }
}

// Renders and writes blocks until the device has enough, then waits for
// keys until it wants more.
std::string PlayAndWait(TrialState& state, SoundDevice& device, std::string& keys,
                        bool& keysEnded) {
    std::vector<float> block(2 * BlockFrames);
    std::vector<int32_t> samples(2 * BlockFrames);
    while (MillisecondsUntilWanted(device) == 0) {
        RenderFrames(state.player, block.data(), BlockFrames);
        for (size_t i = 0; i < block.size(); ++i) samples[i] = DeviceSample(block[i]);
        const std::string failure = WriteToDevice(device, samples.data(), BlockFrames);
        if (!failure.empty()) return failure;
    }
    if (WaitForKeyBytes(MillisecondsUntilWanted(device), keys) == DeviceWait::Ended)
        keysEnded = true;
    return "";
}

}  // namespace

SessionOutcome RunSession(SoundDevice& device, const SessionOutput& output,
                          const SessionRequest& request) {
    SessionOutcome outcome;
    TrialState state;
    const int64_t frames = int64_t(output.A.size() / 2);
    state.player = StartPlayer(output.A.data(), output.B.data(), frames, FadeFrames(device.Rate));
    SetLoop(state.player, int64_t(request.FromSeconds * device.Rate),
            request.ToSeconds > 0.0 ? int64_t(request.ToSeconds * device.Rate) : frames);
    state.player.Position = state.player.LoopFrom;
    const int trials = int(output.Xs.size());
    bool keysEnded = false;
    std::string keys;
    for (state.trial = 0; state.trial < trials && !state.ended; ++state.trial) {
        Say("Trial " + std::to_string(state.trial + 1) + " of " + std::to_string(trials) +
            " (output " + std::to_string(output.Output) +
            "): a, b, x to listen; 1 if X is A, 2 if X is B\n");
        state.plays = {};
        state.startMs = MonotonicMilliseconds();
        state.answered = false;
        while (!state.answered && !state.ended) {
            if (keys.empty() && keysEnded) {
                state.ended = outcome.EndedEarly = true;
                break;
            }
            while (!keys.empty() && !state.answered && !state.ended) {
                const char key = keys[0];
                keys.erase(0, 1);
                TakeKey(key, state, device, output, request, outcome);
            }
            if (state.answered || state.ended) break;
            outcome.Failure = PlayAndWait(state, device, keys, keysEnded);
            if (!outcome.Failure.empty()) return outcome;
        }
        // The next trial starts silent, where this one was.
        if (!state.paused) SwitchTo(state.player, Side::Silent);
        state.paused = true;
    }
    // What is still fading out plays to its end.
    std::string none;
    bool ignored = false;
    for (int i = 0; i < 4; ++i) PlayAndWait(state, device, none, ignored);
    return outcome;
}

std::string SessionSummary(const SessionOutput& output, const SessionOutcome& outcome) {
    const int answered = int(outcome.Records.size());
    std::string xs, answers;
    int right = 0;
    for (const TrialRecord& record : outcome.Records) {
        xs += record.X == Side::A ? " A" : " B";
        answers += record.Answer == Side::A ? " A" : " B";
        right += record.X == record.Answer;
    }
    std::string text = "Output " + std::to_string(output.Output) + ":";
    if (outcome.EndedEarly)
        text += " ended after " + std::to_string(answered) + " of " +
                std::to_string(output.Xs.size()) + " trials.";
    if (answered == 0) return text + "\n  no trial answered\n";
    text += "\n  X was:      " + xs + "\n  you said:   " + answers + "\n";
    return text + "  " + VerdictSentence(right, answered) + "\n";
}
