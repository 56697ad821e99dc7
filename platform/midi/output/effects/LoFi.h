#pragma once
// Lo-fi: the sound sampled again at a lower rate and fewer bits, filtered before and
// after, with the noises of old media laid over it if asked: hiss (white or pink), the
// crackle of a record, mains hum. The noises come from a fixed-seed generator, so a
// render is the same every time.

#include "platform/midi/output/effects/Dsp.h"

#include <array>
#include <cstdint>

namespace sequora::midi::effects {

struct LoFiSettings {
    enum class Filter { None, LowPass, HighPass, BandPass, LowShelf };
    float rateHz = 11025; ///< the sample-and-hold rate
    float bits = 8; ///< 2 .. 24
    float preLowPassHz = 0; ///< 0: none
    Filter post = Filter::LowPass;
    float postHz = 6000;
    float postQ = 0.7f;
    float outputDb = 0;
    bool mono = false;
    float hiss = 0; ///< 0..1
    bool pinkHiss = true;
    float crackle = 0; ///< 0..1
    float crackleRate = 8; ///< clicks a second
    float hum = 0; ///< 0..1
    float humHz = 50;
};

class LoFi {
public:
    void prepare(float rate) { m_rate = rate; }
    void set(const LoFiSettings& s);
    void process(float* left, float* right, int frames);
    void reset();

private:
    float noise(); ///< white, -1..1

    float m_rate = 44100;
    LoFiSettings m_s;
    std::array<OnePole, 2> m_pre;
    std::array<Biquad, 2> m_post;
    std::array<float, 2> m_held {};
    float m_phase = 1; ///< of the sample-and-hold clock
    float m_step = 0.25f;
    float m_levels = 128;
    float m_out = 1;
    uint32_t m_seed = 0x2545F491u;
    std::array<float, 3> m_pink {}; ///< a three-pole filter on white noise
    float m_humPhase = 0;
    float m_crackleEnv = 0;
};

} // namespace sequora::midi::effects
