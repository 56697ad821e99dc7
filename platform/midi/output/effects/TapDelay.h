#pragma once
// Echoes: two delay lines (left and right, or one signal twice), up to four taps read
// from them into the left and right outputs, and a feedback path on each line, crossed
// or not, darkened by a damping filter. Every delay of the GS and XG effect tables is
// one set-up of it: the GS delay (centre, left and right taps, feedback from the
// centre), stereo, modulated, three- and four-tap delays, XG Delay L,C,R and L,R, echo
// and cross delay. Tap times glide to new values instead of jumping.

#include "platform/midi/output/effects/Dsp.h"

#include <array>

namespace sequora::midi::effects {

struct TapDelaySettings {
    struct Tap {
        int line = 0; ///< 0 left, 1 right
        float ms = 0;
        float toLeft = 0; ///< gain into the left output (negative: inverted)
        float toRight = 0;
    };
    static constexpr int kMaxTaps = 4;

    bool stereoIn = true; ///< false: both lines take the middle of the input
    std::array<Tap, kMaxTaps> taps {};
    int tapCount = 0;
    std::array<float, 2> feedbackMs { 0, 0 };
    std::array<float, 2> feedback { 0, 0 }; ///< -0.98 .. 0.98
    bool cross = false; ///< each line is fed back from the other's feedback tap
    float dampHz = 0; ///< low-pass in the feedback path; 0: none
    float preLpfHz = 0; ///< low-pass on the input; 0: none
    float modRateHz = 0; ///< modulation of every read (modulated delay)
    float modDepthMs = 0;
    float modPhase = 0.25f; ///< cycles between the two lines' modulation
    float glideMs = 40; ///< how fast a changed time is reached
};

class TapDelay {
public:
    /// Largest delay any tap may ask for.
    static constexpr float kMaxMs = 1500;

    void prepare(float rate);
    void set(const TapDelaySettings& s);
    /// Replaces @p left and @p right with the echoes alone.
    void process(float* left, float* right, int frames);
    void reset();

private:
    float samples(float ms) const { return std::clamp(ms, 0.0f, kMaxMs) * m_rate / 1000.0f; }
    /// Whether every time in use has reached its target (and now holds still).
    bool settled();
    /// With @p Still, every read is from a fixed place worked out once for the block.
    template <bool Still> void run(float* left, float* right, int frames, float depth);

    float m_rate = 44100;
    TapDelaySettings m_s;
    std::array<DelayLine, 2> m_lines;
    std::array<OnePole, 2> m_damp;
    std::array<OnePole, 2> m_pre;
    std::array<Glide, TapDelaySettings::kMaxTaps> m_tapTime;
    std::array<Glide, 2> m_fbTime;
    Lfo m_lfo;
    bool m_fresh = true; ///< the next set() jumps to its times
};

} // namespace sequora::midi::effects
