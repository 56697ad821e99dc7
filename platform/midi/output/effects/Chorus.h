#pragma once
// The chorus family: voices read from a short delay line at times an LFO sweeps, panned
// across the stereo field. Two voices make a stereo chorus; six with spread delays,
// depths and pans a hexa chorus; two in opposite phase, each also heard inverted on the
// other side, a Space D; one or two with feedback and a short delay a flanger, whose LFO
// may move in steps (step flanger). XG chorus, celeste, flanger and symphonic are set-ups
// of the same. The phaser is here too: all-pass stages swept by an LFO.

#include "platform/midi/output/effects/Dsp.h"

#include <array>

namespace sequora::midi::effects {

struct ChorusSettings {
    enum class Filter { None, LowPass, HighPass };
    static constexpr int kMaxVoices = 6;

    int voices = 2;
    float delayMs = 2; ///< the sweep's centre less its depth: the shortest delay
    float depthMs = 1; ///< the sweep's width
    float rateHz = 0.5f;
    Lfo::Wave wave = Lfo::Wave::Sine;
    float feedback = 0; ///< -0.98 .. 0.98
    float phaseSpread = 0.5f; ///< LFO cycles between successive voices
    float delaySpreadMs = 0; ///< extra delay per voice
    float depthSpread = 0; ///< share of depth each voice differs by
    float panSpread = 1; ///< 0: every voice in the middle; 1: alternating hard left and right
    bool stereoIn = false; ///< voices read the line of their own side
    bool crossInverted = false; ///< each voice is heard inverted on the other side (Space D)
    Filter filter = Filter::None;
    float filterHz = 8000;
    float stepHz = 0; ///< the LFO moves in steps this often; 0: smoothly
};

class Chorus {
public:
    static constexpr float kMaxMs = 120;

    void prepare(float rate);
    void set(const ChorusSettings& s);
    /// Replaces @p left and @p right with the voices alone.
    void process(float* left, float* right, int frames);
    void reset();

private:
    float m_rate = 44100;
    ChorusSettings m_s;
    std::array<DelayLine, 2> m_lines;
    std::array<OnePole, 2> m_filter;
    std::array<float, 2> m_last {}; ///< the last voice read from each line, fed back
    std::array<float, ChorusSettings::kMaxVoices> m_panL {}, m_panR {};
    std::array<float, ChorusSettings::kMaxVoices> m_base {}, m_depth {};
    Lfo m_lfo;
    Glide m_step; ///< the stepped LFO's value, lightly smoothed
    int m_stepLeft = 0;
    float m_norm = 1;
};

struct PhaserSettings {
    static constexpr int kMaxStages = 12;
    int stages = 8;
    float manualHz = 620; ///< the centre of the sweep
    float depth = 0.5f; ///< 0..1: the sweep spans up to four octaves around the centre
    float rateHz = 0.85f;
    float resonance = 0.1f; ///< feedback around the stages, 0 .. 0.95
    float mix = 1; ///< level of the shifted sound against the direct one
    float stereoPhase = 0.25f; ///< LFO cycles between left and right
};

class Phaser {
public:
    void prepare(float rate) { m_rate = rate; }
    void set(const PhaserSettings& s);
    /// Direct and shifted sound together, in place.
    void process(float* left, float* right, int frames);
    void reset();

private:
    static constexpr int kControlEvery = 16; ///< samples between coefficient updates

    float m_rate = 44100;
    PhaserSettings m_s;
    std::array<std::array<float, PhaserSettings::kMaxStages>, 2> m_z {};
    std::array<float, 2> m_fb {};
    std::array<float, 2> m_coef {};
    Lfo m_lfo;
    int m_countdown = 0;
};

} // namespace sequora::midi::effects
