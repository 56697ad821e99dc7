#pragma once
// Pitch shifting by delay: two read heads sweep through a short delay line at the speed
// the interval asks for, each faded in and out so that one takes over as the other jumps
// back. Up to two voices, each with its own interval, pre-delay and pan, and feedback
// from the first voice into the line (the feedback pitch shifter's rising or falling
// arpeggio).

#include "platform/midi/output/effects/Dsp.h"

#include <array>

namespace sequora::midi::effects {

struct PitchShiftSettings {
    struct Voice {
        float semitones = 0; ///< -24 .. +12, fine tuning included
        float preDelayMs = 0;
        float pan = 0; ///< -1 .. 1
        float level = 1;
    };
    std::array<Voice, 2> voices {};
    int voiceCount = 1;
    float windowMs = 40; ///< longer: smoother, slower to follow
    float feedback = 0; ///< -0.98 .. 0.98, first voice back into the line
};

class PitchShift {
public:
    static constexpr float kMaxMs = 260;

    void prepare(float rate);
    void set(const PitchShiftSettings& s);
    /// Replaces @p left and @p right with the shifted voices alone.
    void process(float* left, float* right, int frames);
    void reset();

private:
    float m_rate = 44100;
    PitchShiftSettings m_s;
    DelayLine m_line;
    std::array<float, 2> m_saw {}; ///< each voice's head position, 0..1 of the window
    std::array<float, 2> m_step {};
    std::array<float, 2> m_panL {}, m_panR {};
    float m_window = 1000;
    float m_last = 0;
};

} // namespace sequora::midi::effects
