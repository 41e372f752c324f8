// Folding more than two channels to stereo with the ITU-R BS.775
// coefficients.
#include <sndfile.h>

#include <cmath>

#include "prepare/prepare.h"

namespace {

// -3 dB: the centre and each surround, on their side.
const double Minus3dB = std::sqrt(0.5);

struct Position {
    const char* Label;
    double Left, Right;
};

// Where a channel at a libsndfile position goes; Label nullptr for one
// that has no place in a stereo fold (height, ambisonic).
Position PlacePosition(int position) {
    switch (position) {
        case SF_CHANNEL_MAP_LEFT:
        case SF_CHANNEL_MAP_FRONT_LEFT:
            return {"L", 1.0, 0.0};
        case SF_CHANNEL_MAP_RIGHT:
        case SF_CHANNEL_MAP_FRONT_RIGHT:
            return {"R", 0.0, 1.0};
        case SF_CHANNEL_MAP_CENTER:
        case SF_CHANNEL_MAP_FRONT_CENTER:
        case SF_CHANNEL_MAP_MONO:
            return {"C", Minus3dB, Minus3dB};
        case SF_CHANNEL_MAP_LFE:
            return {"LFE", 0.0, 0.0};
        case SF_CHANNEL_MAP_FRONT_LEFT_OF_CENTER:
            return {"FLC", 1.0, 0.0};
        case SF_CHANNEL_MAP_FRONT_RIGHT_OF_CENTER:
            return {"FRC", 0.0, 1.0};
        case SF_CHANNEL_MAP_REAR_LEFT:
            return {"BL", Minus3dB, 0.0};
        case SF_CHANNEL_MAP_REAR_RIGHT:
            return {"BR", 0.0, Minus3dB};
        case SF_CHANNEL_MAP_SIDE_LEFT:
            return {"SL", Minus3dB, 0.0};
        case SF_CHANNEL_MAP_SIDE_RIGHT:
            return {"SR", 0.0, Minus3dB};
        case SF_CHANNEL_MAP_REAR_CENTER:
            return {"BC", 0.5, 0.5};
        default:
            return {nullptr, 0.0, 0.0};
    }
}

// The usual order of WAVE (its default channel mask) and FLAC, by count.
std::vector<int> UsualPositions(size_t count) {
    const int l = SF_CHANNEL_MAP_LEFT, r = SF_CHANNEL_MAP_RIGHT, c = SF_CHANNEL_MAP_CENTER,
              lfe = SF_CHANNEL_MAP_LFE, bl = SF_CHANNEL_MAP_REAR_LEFT,
              br = SF_CHANNEL_MAP_REAR_RIGHT, bc = SF_CHANNEL_MAP_REAR_CENTER,
              sl = SF_CHANNEL_MAP_SIDE_LEFT, sr = SF_CHANNEL_MAP_SIDE_RIGHT;
    switch (count) {
        case 3:
            return {l, r, c};
        case 4:
            return {l, r, bl, br};
        case 5:
            return {l, r, c, bl, br};
        case 6:
            return {l, r, c, lfe, bl, br};
        case 7:
            return {l, r, c, lfe, bc, sl, sr};
        case 8:
            return {l, r, c, lfe, bl, br, sl, sr};
        default:
            return {};
    }
}

}  // namespace

DownmixPlan PlanDownmix(const std::vector<int>& given) {
    DownmixPlan plan;
    const size_t count = given.size();
    bool stated = false;
    for (int position : given) stated |= position != SF_CHANNEL_MAP_INVALID;
    const std::vector<int> positions = stated ? given : UsualPositions(count);
    if (positions.empty()) {
        plan.Problem = "it has " + std::to_string(count) +
                       " channels and says nothing of their places; --downmix knows the usual "
                       "order of 3 to 8";
        return plan;
    }
    std::string labels;
    for (size_t n = 0; n < count; ++n) {
        const Position place = PlacePosition(positions[n]);
        if (!place.Label) {
            plan.Problem = "channel " + std::to_string(n + 1) +
                           " has a place (height or ambisonic) that a stereo fold-down has not";
            return plan;
        }
        plan.Weights[0].push_back(place.Left);
        plan.Weights[1].push_back(place.Right);
        if (n > 0) labels += ' ';
        labels += place.Label;
    }
    plan.Description = std::to_string(count) + " channels, " + labels +
                       ", to stereo with the ITU-R BS.775 coefficients (centre and surrounds "
                       "at -3 dB, LFE left out)";
    return plan;
}
