#pragma once
// The modules' master equalisers: the GS two-band EQ (a low shelf at 200 or 400 Hz and a
// high shelf at 3 or 6 kHz, +-12 dB) and the XG multi EQ (five bands: a low shelf or
// peak, three peaks, a high shelf or peak; its types Flat, Jazz, Pops, Rock and Concert
// are band settings). Flat settings cost nothing.

#include "platform/midi/output/effects/EqBank.h"

#include <array>
#include <cstdint>

namespace sequora::midi::effects {

/// 40 02 00-03.
struct GsEqParams {
    uint8_t lowFreq = 1; ///< 0: 200 Hz, 1: 400 Hz
    uint8_t lowGain = 64; ///< 0x34-0x4C: -12..+12 dB
    uint8_t highFreq = 1; ///< 0: 3 kHz, 1: 6 kHz
    uint8_t highGain = 64;
    bool operator==(const GsEqParams&) const = default;
    bool flat() const { return lowGain == 64 && highGain == 64; }
};

/// 02 40 01-14: per band gain (0x34-0x4C), frequency (XG EQ table), Q (10-120: 1.0-12.0).
struct XgEqParams {
    std::array<uint8_t, 5> gain { 64, 64, 64, 64, 64 };
    std::array<uint8_t, 5> freq { 12, 28, 34, 46, 52 };
    std::array<uint8_t, 5> q { 7, 7, 7, 7, 7 };
    uint8_t lowShape = 0; ///< 0 shelf, 1 peak
    uint8_t highShape = 0;
    bool operator==(const XgEqParams&) const = default;
    bool flat() const;
    /// The bands of an XG EQ type (0 Flat, 1 Jazz, 2 Pops, 3 Rock, 4 Concert); false for others.
    static bool preset(uint8_t type, XgEqParams& out);
};

class MasterEq {
public:
    void prepare(float rate) { m_bank.prepare(rate); }
    void setGs(const GsEqParams& p);
    void setXg(const XgEqParams& p);
    void setFlat() { m_bank.clear(); }
    bool flat() const { return m_bank.flat(); }
    void process(float* left, float* right, int frames)
    {
        if (!m_bank.flat())
            m_bank.process(left, right, frames);
    }
    void reset() { m_bank.reset(); }

private:
    EqBank m_bank;
};

} // namespace sequora::midi::effects
