#include "platform/midi/output/effects/MasterEq.h"

#include "platform/midi/output/effects/EffectTables.h"

#include <algorithm>

namespace sequora::midi::effects {

namespace {

float gain12(uint8_t v)
{
    return float(std::clamp(int(v) - 64, -12, 12));
}

// The XG EQ types' bands as the spec gives them: gain, frequency, Q for each of five.
struct XgPreset {
    std::array<uint8_t, 5> gain, freq, q;
};
constexpr std::array<XgPreset, 5> kXgPresets { {
    { { 64, 64, 64, 64, 64 }, { 12, 28, 34, 46, 52 }, { 7, 7, 7, 7, 7 } }, // flat
    { { 58, 66, 68, 60, 58 }, { 8, 16, 33, 44, 50 }, { 7, 3, 3, 5, 7 } }, // jazz
    { { 68, 60, 67, 60, 70 }, { 16, 24, 34, 40, 48 }, { 7, 20, 7, 20, 7 } }, // pops
    { { 71, 68, 60, 68, 66 }, { 16, 20, 36, 41, 50 }, { 7, 7, 5, 10, 7 } }, // rock
    { { 67, 68, 64, 66, 61 }, { 12, 24, 34, 50, 52 }, { 7, 7, 5, 7, 7 } }, // concert
} };

} // namespace

bool XgEqParams::flat() const
{
    return std::all_of(gain.begin(), gain.end(), [](uint8_t g) { return g == 64; });
}

bool XgEqParams::preset(uint8_t type, XgEqParams& out)
{
    if (type >= kXgPresets.size())
        return false;
    out.gain = kXgPresets[type].gain;
    out.freq = kXgPresets[type].freq;
    out.q = kXgPresets[type].q;
    out.lowShape = out.highShape = 0;
    return true;
}

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
