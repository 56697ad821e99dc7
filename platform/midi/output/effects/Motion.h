#pragma once
// Effects that move: the rotary speaker (a horn and a drum turning at their own speeds,
// each changing speed with its own inertia), tremolo and auto pan (an LFO on the level or
// on the balance), and the auto-wah (a resonant filter swept by an LFO and by the
// signal's own level).

#include "platform/midi/output/effects/Dsp.h"

#include <array>

namespace sequora::midi::effects {

struct RotarySettings {
    float lowSlowHz = 0.35f, lowFastHz = 6.4f; ///< the drum's turns a second
    float highSlowHz = 0.9f, highFastHz = 7.5f; ///< the horn's
    float lowAccelS = 1.5f, highAccelS = 0.6f; ///< seconds to change speed
    float lowLevel = 1, highLevel = 1;
    float separation = 0.75f; ///< 0..1: how far the turning moves the sound across
    bool fast = false;
};

class Rotary {
public:
    void prepare(float rate);
    void set(const RotarySettings& s);
    /// The speaker's sound alone, from the middle of the input.
    void process(float* left, float* right, int frames);
    void reset();

private:
    float m_rate = 44100;
    RotarySettings m_s;
    Biquad m_lowPass, m_highPass;
    DelayLine m_hornLine, m_drumLine;
    float m_hornPhase = 0, m_drumPhase = 0.3f;
    float m_hornSpeed = 0, m_drumSpeed = 0;
    float m_hornK = 0, m_drumK = 0;
};

struct TremoloSettings {
    Lfo::Wave wave = Lfo::Wave::Sine;
    float rateHz = 3;
    float depth = 0.75f; ///< 0..1
    bool pan = false; ///< auto pan: the balance moves instead of the level
    float stereoPhase = 0; ///< tremolo: LFO cycles between left and right
};

class Tremolo {
public:
    void prepare(float rate) { m_rate = rate; }
    void set(const TremoloSettings& s);
    void process(float* left, float* right, int frames);
    void reset() { }

private:
    float m_rate = 44100;
    TremoloSettings m_s;
    Lfo m_lfo;
    OnePole m_smoothL, m_smoothR; ///< rounds a square wave's edges so they do not click
};

struct AutoWahSettings {
    bool bandPass = true; ///< false: low-pass
    float manualHz = 800; ///< the filter's resting point
    float q = 4;
    float sens = 0; ///< 0..1: octaves the signal's level moves it (up to four)
    bool up = true; ///< the level moves it up (or down)
    float rateHz = 2;
    float depth = 0.5f; ///< 0..1: octaves the LFO moves it either way (up to two)
};

class AutoWah {
public:
    void prepare(float rate);
    void set(const AutoWahSettings& s);
    void process(float* left, float* right, int frames);
    void reset();

private:
    static constexpr int kControlEvery = 16;

    float m_rate = 44100;
    AutoWahSettings m_s;
    Lfo m_lfo;
    EnvelopeFollower m_env;
    std::array<float, 2> m_ic1 {}, m_ic2 {};
    float m_a1 = 0, m_a2 = 0, m_a3 = 0, m_k = 1;
    int m_countdown = 0;
};

} // namespace sequora::midi::effects
