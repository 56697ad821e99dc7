#pragma once
// Saturation: overdrive (a soft, slightly asymmetric curve that keeps the tone's body)
// and distortion (harder clipping), each followed by the filters of a small, built-in,
// two-stack or three-stack guitar amp and cabinet and given out at the part's own level,
// and the enhancer, which adds the harmonics of a signal's upper range back to it.

#include "platform/midi/output/effects/Dsp.h"

#include <array>

namespace sequora::midi::effects {

struct DriveSettings {
    enum class Amp { Off, Small, BuiltIn, TwoStack, ThreeStack };
    float drive = 0.4f; ///< 0..1: 0 to 46 dB of gain into the curve
    bool hard = false; ///< distortion rather than overdrive
    Amp amp = Amp::BuiltIn;
    float toneHz = 0; ///< a low-pass after the curve; 0: the amp's own
    float pan = 0; ///< -1 left .. 1 right; the effect is mono
};

class Drive {
public:
    void prepare(float rate) { m_rate = rate; }
    void set(const DriveSettings& s);
    /// The driven sound alone, from the middle of the input, panned.
    void process(float* left, float* right, int frames);
    void reset();

private:
    float shape(float x) const;

    float m_rate = 44100;
    DriveSettings m_s;
    float m_gain = 1;
    float m_panL = 1, m_panR = 1;
    OnePole m_inputHighPass;
    OnePole m_dcBlock;
    OnePole m_inPower, m_outPower; ///< the part's level and the effect's, followed
    float m_level = 1; ///< their ratio as an amplitude, last taken
    OnePole m_smooth; ///< takes the edge off the curve's top harmonics
    std::array<Biquad, 3> m_cabinet;
    OnePole m_tone;
};

struct EnhancerSettings {
    float sens = 0.5f; ///< 0..1: how low the enhanced range reaches and how hard it is driven
    float mix = 1; ///< 0..1: how much of the generated harmonics is added
};

class Enhancer {
public:
    void prepare(float rate) { m_rate = rate; }
    void set(const EnhancerSettings& s);
    /// The direct sound with the harmonics added, in place.
    void process(float* left, float* right, int frames);
    void reset();

private:
    float m_rate = 44100;
    float m_mix = 1;
    float m_drive = 1;
    std::array<OnePole, 2> m_band;
};

} // namespace sequora::midi::effects
