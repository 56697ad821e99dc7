#pragma once
// Rooms, halls, stages and plates: a pre-delay, early reflections, a few all-passes that
// smear the attack, and eight delay lines feeding each other through an energy-keeping
// matrix, each line losing what the reverberation time asks for on every pass and its
// highs as the damping asks. And the gate reverb: a burst of dense echoes over the gate
// time, cut off (or swelling, reversed) instead of dying away.

#include "platform/midi/output/effects/Dsp.h"

#include <array>

namespace sequora::midi::effects {

struct ReverbSettings {
    float size = 1; ///< scales every delay: 0.3 a small room .. 2 a large hall
    float timeS = 2; ///< reverberation time (60 dB)
    float preDelayMs = 10;
    float dampHz = 6000; ///< highs lost per pass above this; 0: none
    float diffusion = 0.7f; ///< 0..1: how soon the echoes blur
    float early = 0.3f; ///< level of the early reflections against the tail
    float lowCutHz = 0; ///< band the reverb takes in; 0: whole band
    float highCutHz = 0;
};

class Reverb {
public:
    static constexpr int kLines = 8;
    static constexpr float kMaxPreDelayMs = 220;
    static constexpr float kMaxSize = 2.2f;

    void prepare(float rate);
    void set(const ReverbSettings& s);
    /// Replaces @p left and @p right with the reverberation alone.
    void process(float* left, float* right, int frames);
    void reset();

private:
    float m_rate = 44100;
    ReverbSettings m_s;
    DelayLine m_pre;
    std::array<DelayLine, 4> m_diffuser;
    std::array<float, 4> m_diffuserLength {};
    std::array<DelayLine, kLines> m_lines;
    std::array<float, kLines> m_length {};
    std::array<float, kLines> m_gain {};
    std::array<OnePole, kLines> m_damp;
    std::array<float, kLines> m_state {};
    OnePole m_lowCut, m_highCut;
    Lfo m_wobble; ///< moves two lines a little, so the tail does not ring
    float m_diffusionGain = 0.6f;
    float m_preDelay = 0;
};

struct GateReverbSettings {
    enum class Shape { Normal, Reverse, SweepRight, SweepLeft };
    Shape shape = Shape::Normal;
    float preDelayMs = 0.5f;
    float gateMs = 70;
};

class GateReverb {
public:
    static constexpr int kTaps = 24;
    static constexpr float kMaxMs = 420;

    void prepare(float rate);
    void set(const GateReverbSettings& s);
    void process(float* left, float* right, int frames);
    void reset();

private:
    float m_rate = 44100;
    DelayLine m_line;
    std::array<float, kTaps> m_at {}, m_toLeft {}, m_toRight {};
    std::array<DelayLine, 2> m_smear;
};

} // namespace sequora::midi::effects
