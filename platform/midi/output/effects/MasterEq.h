#pragma once
// The modules' master equalisers: the GS two-band EQ (a low shelf at 200 or 400 Hz and a
// high shelf at 3 or 6 kHz, +-12 dB) and the XG multi EQ (five bands: a low shelf or
// peak, three peaks, a high shelf or peak; its types Flat, Jazz, Pops, Rock and Concert
// are band settings). Flat settings cost nothing.

#include "platform/midi/module/EffectParams.h"
#include "platform/midi/output/effects/EqBank.h"

#include <array>
#include <cstdint>

namespace sequora::midi::effects {

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
