#include "platform/midi/module/Effects.h"

#include <algorithm>
#include <array>

namespace sequora::midi {

namespace {

struct ReverbRow {
    ReverbType type;
    ReverbSettings settings;
};

// FluidSynth has one reverb model (Freeverb-like): rooms, halls and plates differ in size,
// damping and width. Hall 2, a GS module's default, is FluidSynth 2.4's default set-up.
// Delay, Panning Delay, Tunnel and Basement are approximations: FluidSynth has no delay
// line, so they become a small, dark, wide room that echoes briefly.
constexpr std::array<ReverbRow, 14> kReverbs {{
    {ReverbType::Room1, {0.20, 0.40, 0.60, 0.60}},
    {ReverbType::Room2, {0.30, 0.35, 0.70, 0.60}},
    {ReverbType::Room3, {0.40, 0.30, 0.80, 0.65}},
    {ReverbType::Hall1, {0.65, 0.35, 0.90, 0.75}},
    {ReverbType::Hall2, {0.50, 0.30, 0.80, 0.70}},
    {ReverbType::Plate, {0.55, 0.05, 1.00, 0.70}},
    {ReverbType::Delay, {0.15, 0.70, 1.00, 0.50}},    // approximation
    {ReverbType::PanDelay, {0.15, 0.70, 1.00, 0.50}}, // approximation
    {ReverbType::Stage1, {0.45, 0.25, 0.90, 0.70}},
    {ReverbType::Stage2, {0.55, 0.25, 0.90, 0.70}},
    {ReverbType::WhiteRoom, {0.35, 0.15, 0.80, 0.65}},
    {ReverbType::Tunnel, {0.85, 0.50, 1.00, 0.70}},   // approximation
    {ReverbType::Basement, {0.30, 0.65, 0.60, 0.65}}, // approximation
    {ReverbType::Off, {0.0, 0.0, 0.0, 0.0}},
}};

struct ChorusRow {
    ChorusType type;
    ChorusSettings settings;
};

// Chorus 3, a GS module's default, is FluidSynth 2.4's default set-up. Flanger and the
// short delays are approximations: FluidSynth's chorus has no feedback.
constexpr std::array<ChorusRow, 10> kChoruses {{
    {ChorusType::Chorus1, {3, 0.50, 0.40, 3.00, false}},
    {ChorusType::Chorus2, {3, 0.55, 0.30, 3.50, false}},
    {ChorusType::Chorus3, {3, 0.60, 0.20, 4.25, false}},
    {ChorusType::Chorus4, {4, 0.60, 0.60, 5.00, false}},
    {ChorusType::Feedback, {3, 0.70, 0.30, 6.00, false}},
    {ChorusType::Flanger, {2, 0.70, 0.15, 1.50, true}},     // approximation
    {ChorusType::ShortDelay, {1, 0.50, 0.10, 8.00, false}},  // approximation
    {ChorusType::ShortDelayFb, {1, 0.60, 0.10, 8.00, true}}, // approximation
    {ChorusType::Celeste, {3, 0.55, 0.50, 2.50, true}},
    {ChorusType::Off, {1, 0.0, 0.10, 0.00, false}},
}};

// A GS reverb macro's own time, 0-127.
constexpr std::array<uint8_t, 8> kGsReverbTimes {80, 56, 72, 72, 64, 88, 32, 64};

} // namespace

void EffectState::setGsReverbMacro(uint8_t macro)
{
    reverb = static_cast<ReverbType>(macro & 7);
    reverbLevel = 64;
    reverbTime = kGsReverbTimes[macro & 7];
}

void EffectState::setGsChorusMacro(uint8_t macro)
{
    chorus = static_cast<ChorusType>(macro & 7);
    chorusLevel = 64;
}

bool EffectState::setXgReverbType(uint8_t msb, uint8_t lsb)
{
    ReverbType t;
    switch (msb) {
    case 0x00: t = ReverbType::Off; break;
    case 0x01: t = lsb == 0 ? ReverbType::Hall1 : ReverbType::Hall2; break;
    case 0x02: t = lsb == 0 ? ReverbType::Room1 : lsb == 1 ? ReverbType::Room2 : ReverbType::Room3; break;
    case 0x03: t = lsb == 0 ? ReverbType::Stage1 : ReverbType::Stage2; break;
    case 0x04: t = ReverbType::Plate; break;
    case 0x10: t = ReverbType::WhiteRoom; break;
    case 0x11: t = ReverbType::Tunnel; break;
    case 0x13: t = ReverbType::Basement; break;
    default: return false;
    }
    reverb = t;
    reverbTime = 64;
    return true;
}

bool EffectState::setXgChorusType(uint8_t msb, uint8_t lsb)
{
    ChorusType t;
    switch (msb) {
    case 0x00: t = ChorusType::Off; break;
    case 0x41: t = lsb == 0 ? ChorusType::Chorus1 : lsb == 1 ? ChorusType::Chorus2 : lsb == 2 ? ChorusType::Chorus3 : ChorusType::Chorus4; break;
    case 0x42: t = ChorusType::Celeste; break;
    case 0x43: t = ChorusType::Flanger; break;
    default: return false;
    }
    chorus = t;
    return true;
}

ReverbSettings EffectState::reverbSettings() const
{
    ReverbSettings s = kReverbs[static_cast<std::size_t>(reverb)].settings;
    // Level 64 is the type's own; 127 twice that, at most full wet. Time lengthens or
    // shortens the room.
    s.level = std::clamp(s.level * reverbLevel / 64.0, 0.0, 1.0);
    if (reverb != ReverbType::Off)
        s.roomSize = std::clamp(s.roomSize + (reverbTime - 64) / 64.0 * 0.35, 0.0, 1.0);
    return s;
}

ChorusSettings EffectState::chorusSettings() const
{
    ChorusSettings s = kChoruses[static_cast<std::size_t>(chorus)].settings;
    s.level = std::clamp(s.level * chorusLevel / 64.0, 0.0, 10.0);
    return s;
}

} // namespace sequora::midi
