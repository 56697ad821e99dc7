#include "platform/midi/module/Tone.h"

#include <cmath>

namespace sequora::midi {

namespace {

template <typename Pred>
const ToneRow* findRow(Pred pred)
{
    for (const ToneRow& row : kToneTable) {
        if (pred(row))
            return &row;
    }
    return nullptr;
}

struct GlidePoint {
    uint8_t cc5;
    uint32_t ms;
};

// A GS/XG module's portamento time, as measured on hardware and published with
// FluidSynth 2.5's "xg-gs" curve.
constexpr std::array<GlidePoint, 15> kGlideCurve {{
    {0, 0}, {1, 6}, {2, 23}, {4, 50}, {8, 110}, {16, 250}, {32, 500}, {64, 2060},
    {80, 4200}, {96, 8400}, {112, 19500}, {116, 26700}, {120, 40000}, {124, 80000}, {127, 480000},
}};

} // namespace

const ToneRow* toneRowForNrpn(uint8_t nrpnLsb)
{
    return findRow([=](const ToneRow& r) { return r.nrpnLsb == nrpnLsb; });
}

const ToneRow* toneRowForCc(uint8_t cc)
{
    return findRow([=](const ToneRow& r) { return r.cc && *r.cc == cc; });
}

const ToneRow* toneRowForGsAddress(uint8_t address)
{
    return findRow([=](const ToneRow& r) { return r.gsToneAddress == address; });
}

const ToneRow* toneRowForXgAddress(uint8_t address)
{
    return findRow([=](const ToneRow& r) { return r.xgPartAddress == address; });
}

uint32_t portamentoMilliseconds(uint8_t cc5)
{
    cc5 &= 0x7F;
    for (std::size_t i = 1; i < kGlideCurve.size(); ++i) {
        const GlidePoint lo = kGlideCurve[i - 1];
        const GlidePoint hi = kGlideCurve[i];
        if (cc5 > hi.cc5)
            continue;
        if (lo.ms == 0)
            return static_cast<uint32_t>(hi.ms * double(cc5 - lo.cc5) / (hi.cc5 - lo.cc5));
        // Geometric between the measured points: the curve is close to exponential.
        const double t = double(cc5 - lo.cc5) / (hi.cc5 - lo.cc5);
        return static_cast<uint32_t>(std::lround(lo.ms * std::pow(double(hi.ms) / lo.ms, t)));
    }
    return kGlideCurve.back().ms;
}

} // namespace sequora::midi
