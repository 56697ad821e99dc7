#include "platform/midi/output/effects/MasterEq.h"

#include "platform/midi/output/effects/EffectTables.h"

#include <algorithm>

namespace sequora::midi::effects {

namespace {

float gain12(uint8_t v)
{
    return float(std::clamp(int(v) - 64, -12, 12));
}

} // namespace

void MasterEq::setGs(const GsEqParams& p)
{
    const std::array<EqBand, 2> bands { {
        { Biquad::Kind::LowShelf, p.lowFreq ? 400.0f : 200.0f, 0.7f, gain12(p.lowGain) },
        { Biquad::Kind::HighShelf, p.highFreq ? 6000.0f : 3000.0f, 0.7f, gain12(p.highGain) },
    } };
    m_bank.set(bands.data(), int(bands.size()));
}

void MasterEq::setXg(const XgEqParams& p)
{
    std::array<EqBand, 5> bands;
    for (std::size_t i = 0; i < bands.size(); ++i) {
        Biquad::Kind kind = Biquad::Kind::Peak;
        if (i == 0 && p.lowShape == 0)
            kind = Biquad::Kind::LowShelf;
        if (i == 4 && p.highShape == 0)
            kind = Biquad::Kind::HighShelf;
        const float q
            = kind == Biquad::Kind::Peak ? std::clamp(float(p.q[i]) / 10.0f, 0.1f, 12.0f) : 0.7f;
        bands[i] = { kind, xgEqFreqHz(p.freq[i]), q, gain12(p.gain[i]) };
    }
    m_bank.set(bands.data(), int(bands.size()));
}

} // namespace sequora::midi::effects
