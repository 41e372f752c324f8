// The sound device through PortAudio, and the resampling of both sides with
// libsoxr for a device that cannot take 96 kHz. Thin: what plays is decided
// by the playback logic; this only opens, writes and paces.
#include <portaudio.h>
#include <soxr.h>

#include <algorithm>
#include <cstdlib>

#include "listen/listen.h"
#include "system/clock.h"
#include "system/standard_error.h"

namespace {

constexpr double PlayRate = 96000.0;
// Writing runs at most this far ahead of the clock: a device that takes
// frames as fast as they come (ALSA's null and file devices) is paced as a
// sound card would pace it, and a switch is heard this soon.
constexpr double AheadSeconds = 0.05;

// PortAudio is started once, with its probing chatter held away from the
// screen, and ended at exit.
std::string StartSoundSystem() {
    static PaError started = [] {
        StandardErrorHeld held;
        const PaError error = Pa_Initialize();
        if (error == paNoError) std::atexit([] { Pa_Terminate(); });
        return error;
    }();
    return started == paNoError ? "" : std::string("the sound system: ") + Pa_GetErrorText(started);
}

PaStreamParameters StereoOutput(int index) {
    PaStreamParameters parameters{};
    parameters.device = index;
    parameters.channelCount = 2;
    parameters.sampleFormat = paInt32;
    parameters.suggestedLatency = std::max(Pa_GetDeviceInfo(index)->defaultLowOutputLatency, 0.02);
    return parameters;
}

bool PlaysStereo(int index) {
    const PaDeviceInfo* info = Pa_GetDeviceInfo(index);
    return info != nullptr && info->maxOutputChannels >= 2;
}

// The device a choice names: a number as listed, else a name, whole or a
// part that only one device's name holds.
int FindDevice(const std::string& choice) {
    if (choice.empty()) return Pa_GetDefaultOutputDevice();
    const int count = Pa_GetDeviceCount();
    if (choice.find_first_not_of("0123456789") == std::string::npos && choice.size() < 6) {
        const int index = std::atoi(choice.c_str());
        return index < count && PlaysStereo(index) ? index : paNoDevice;
    }
    int found = paNoDevice, matches = 0;
    for (int index = 0; index < count; ++index) {
        if (!PlaysStereo(index)) continue;
        const std::string name = Pa_GetDeviceInfo(index)->name;
        if (name == choice) return index;
        if (name.find(choice) != std::string::npos) {
            found = index;
            ++matches;
        }
    }
    return matches == 1 ? found : paNoDevice;
}

}  // namespace

std::string ListSoundDevices(std::string& listing) {
    const std::string failure = StartSoundSystem();
    if (!failure.empty()) return failure;
    StandardErrorHeld held;
    const int defaultIndex = Pa_GetDefaultOutputDevice();
    for (int index = 0; index < Pa_GetDeviceCount(); ++index) {
        if (!PlaysStereo(index)) continue;
        listing += "  " + std::to_string(index) + "  " + Pa_GetDeviceInfo(index)->name +
                   (index == defaultIndex ? "  (default)" : "") + "\n";
    }
    return "";
}

std::string OpenSoundDevice(const std::string& choice, double rate, SoundDevice& device) {
    const std::string failure = StartSoundSystem();
    if (!failure.empty()) return failure;
    StandardErrorHeld held;
    device.Index = FindDevice(choice);
    if (device.Index == paNoDevice)
        return choice.empty() ? "no sound device"
                              : "no sound device '" + choice + "' (see --list-devices)";
    const PaDeviceInfo* info = Pa_GetDeviceInfo(device.Index);
    device.Name = info->name;
    const PaStreamParameters output = StereoOutput(device.Index);
    const bool takes96 = Pa_IsFormatSupported(nullptr, &output, PlayRate) == paFormatIsSupported;
    device.Rate = rate > 0.0 ? rate : takes96 ? PlayRate : info->defaultSampleRate;
    if (rate > 0.0 && Pa_IsFormatSupported(nullptr, &output, rate) != paFormatIsSupported)
        return "the sound device '" + device.Name + "' does not play at " +
               std::to_string(int64_t(rate)) + " Hz";
    PaStream* stream = nullptr;
    PaError error = Pa_OpenStream(&stream, nullptr, &output, device.Rate,
                                  paFramesPerBufferUnspecified, paClipOff, nullptr, nullptr);
    if (error == paNoError) error = Pa_StartStream(stream);
    if (error != paNoError) {
        if (stream != nullptr) Pa_CloseStream(stream);
        return "the sound device '" + device.Name + "': " + Pa_GetErrorText(error);
    }
    device.Stream = stream;
    device.AheadFrames = int64_t(device.Rate * AheadSeconds);
    device.Written = 0;
    device.ClockStartMs = MonotonicMilliseconds();
    return "";
}

std::string WriteToDevice(SoundDevice& device, const int32_t* frames, int64_t count) {
    const PaError error = Pa_WriteStream(device.Stream, frames, static_cast<unsigned long>(count));
    device.Written += count;
    // An underflow (the device ran dry while the program was held up) is
    // heard as a gap, not an end.
    if (error != paNoError && error != paOutputUnderflowed)
        return "the sound device '" + device.Name + "': " + Pa_GetErrorText(error);
    return "";
}

int MillisecondsUntilWanted(const SoundDevice& device) {
    const int64_t played =
        (MonotonicMilliseconds() - device.ClockStartMs) * int64_t(device.Rate) / 1000;
    const int64_t ahead = device.Written - played;
    if (ahead <= device.AheadFrames) return 0;
    return int((ahead - device.AheadFrames) * 1000 / int64_t(device.Rate)) + 1;
}

void StopDevice(SoundDevice& device) {
    if (device.Stream != nullptr) Pa_StopStream(device.Stream);
}

void RestartDevice(SoundDevice& device) {
    if (device.Stream == nullptr) return;
    StandardErrorHeld held;
    Pa_StartStream(device.Stream);
    device.Written = 0;
    device.ClockStartMs = MonotonicMilliseconds();
}

void CloseSoundDevice(SoundDevice& device) {
    if (device.Stream == nullptr) return;
    StandardErrorHeld held;
    // What was written plays out first.
    Pa_StopStream(device.Stream);
    Pa_CloseStream(device.Stream);
    device.Stream = nullptr;
}

std::vector<float> ResampleSide(const std::vector<float>& side, double from, double to) {
    const size_t frames = side.size() / 2;
    const size_t outFrames = size_t(double(frames) * to / from + 1.0);
    std::vector<float> out(2 * outFrames);
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    size_t done = 0;
    soxr_oneshot(from, to, 2, side.data(), frames, nullptr, out.data(), outFrames, &done, &io,
                 &quality, nullptr);
    out.resize(2 * done);
    return out;
}

std::vector<float> PlayedSide(std::vector<float> side, double gainDb, double rate) {
    const float factor = float(DbToFactor(gainDb));
    for (float& sample : side) sample *= factor;
    if (rate == PlayRate) return side;
    return ResampleSide(side, PlayRate, rate);
}
