#pragma once
// A row of second-order filters on both channels: the equalisers of the effect types
// (stereo EQ, spectrum, the low and high gain every GS type ends with, the XG three- and
// two-band EQs) and the modules' master EQs.

#include "platform/midi/output/effects/Dsp.h"

#include <array>

namespace sequora::midi::effects {

struct EqBand {
    Biquad::Kind kind = Biquad::Kind::Peak;
    float hz = 1000;
    float q = 0.7f;
    float gainDb = 0;
};

class EqBank {
public:
    static constexpr int kMaxBands = 8;

    void prepare(float rate) { m_rate = rate; }
    /// Bands whose gain is 0 dB (for shelves and peaks) are left out.
    void set(const EqBand* bands, int count);
    void clear() { m_count = 0; }
    bool flat() const { return m_count == 0; }
    void process(float* left, float* right, int frames);
    void reset();

private:
    float m_rate = 44100;
    int m_count = 0;
    std::array<std::array<Biquad, kMaxBands>, 2> m_filters;
};

} // namespace sequora::midi::effects
