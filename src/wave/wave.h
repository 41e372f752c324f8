// WAVE files: reading and checking the input header, loading the samples and
// splitting the channels, and dithering, packing and writing the four output
// files. This folder also owns the job's working arrays (`JobArrays`), all
// created once when the samples are loaded.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Number of taps of every error filter, and the tail it adds to each output.
constexpr int TapCount = 64;
constexpr int FilterTail = TapCount - 1;

// The values kept from an accepted input header.
struct WaveInfo {
    int16_t Channels = 0;
    int32_t SampleRate = 0;
    int32_t ByteRate = 0;
    int16_t BlockAlign = 0;
    int16_t BitsPerSample = 0;
    int32_t DataSize = 0;
    int32_t FrameCount = 0;
    double Duration = 0.0;
};

// Output name n belongs to stage n (1 FO, 2 SO, 3 FOP, 4 SOP); index n - 1.
using OutputNames = std::array<std::string, 4>;

// Every array of one job. Created by LoadSamples, sized from FrameCount.
struct JobArrays {
    std::vector<int32_t> LeftSamples;     // FrameCount, read-only after the split
    std::vector<int32_t> RightSamples;    // FrameCount
    std::vector<double> FilteredLeft;     // FrameCount + 63 accumulators
    std::vector<double> FilteredRight;    // FrameCount + 63
    std::array<double, TapCount> Coefficients{};
    std::vector<uint8_t> PackedSamples;   // 3 bytes a sample, two samples a frame
};

// Reads and checks the input header. On acceptance fills `info` and `names`
// and returns true; on refusal has sounded the beep and shown the box, and
// returns false so the caller goes back to the prompt.
bool CheckInputHeader(const std::string& inputPath, WaveInfo& info, OutputNames& names);

// Creates the job's arrays and loads and splits the samples, printing its
// progress lines. Returns false, after a beep and a box, when the arrays
// cannot be allocated or the input cannot be read; the caller then goes back
// to the prompt and no output is made.
bool LoadSamples(const std::string& inputPath, int32_t frameCount, JobArrays& arrays);

// Dithers, packs and writes the output file of stage `stageNumber` (1 to 4),
// printing its lines; after stages 1 to 3 it resets the filtered channels.
// Returns false when the user gave up a file that could not be written.
bool WriteStageOutput(int stageNumber, const std::string& outputName, JobArrays& arrays,
                      const WaveInfo& info, uint32_t outputDataSize);
