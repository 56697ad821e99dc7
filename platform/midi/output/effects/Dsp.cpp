#include "platform/midi/output/effects/Dsp.h"

namespace sequora::midi::effects {

void Biquad::set(Kind kind, float hz, float q, float gainDb, float rate)
{
    const float f = sane(hz, 10.0f, rate * 0.45f);
    const float w = kTwoPi * f / rate;
    const float cw = std::cos(w);
    const float sw = std::sin(w);
    const float alpha = sw / (2 * sane(q, 0.05f, 40.0f));
    const float a = std::pow(10.0f, sane(gainDb, -48.0f, 48.0f) / 40.0f);
    float b0 = 1, b1 = 0, b2 = 0, a0 = 1, a1 = 0, a2 = 0;
    switch (kind) {
    case Kind::LowPass:
        b0 = (1 - cw) / 2, b1 = 1 - cw, b2 = (1 - cw) / 2;
        a0 = 1 + alpha, a1 = -2 * cw, a2 = 1 - alpha;
        break;
    case Kind::HighPass:
        b0 = (1 + cw) / 2, b1 = -(1 + cw), b2 = (1 + cw) / 2;
        a0 = 1 + alpha, a1 = -2 * cw, a2 = 1 - alpha;
        break;
    case Kind::BandPass: // peak gain 1
        b0 = alpha, b1 = 0, b2 = -alpha;
        a0 = 1 + alpha, a1 = -2 * cw, a2 = 1 - alpha;
        break;
    case Kind::Peak:
        b0 = 1 + alpha * a, b1 = -2 * cw, b2 = 1 - alpha * a;
        a0 = 1 + alpha / a, a1 = -2 * cw, a2 = 1 - alpha / a;
        break;
    case Kind::AllPass:
        b0 = 1 - alpha, b1 = -2 * cw, b2 = 1 + alpha;
        a0 = 1 + alpha, a1 = -2 * cw, a2 = 1 - alpha;
        break;
    case Kind::LowShelf:
    case Kind::HighShelf: {
        // Shelf slope 1: the gentlest without a bump.
        const float s = std::sin(w) / 2 * std::sqrt(2.0f);
        const float root = 2 * std::sqrt(a) * s;
        if (kind == Kind::LowShelf) {
            b0 = a * ((a + 1) - (a - 1) * cw + root);
            b1 = 2 * a * ((a - 1) - (a + 1) * cw);
            b2 = a * ((a + 1) - (a - 1) * cw - root);
            a0 = (a + 1) + (a - 1) * cw + root;
            a1 = -2 * ((a - 1) + (a + 1) * cw);
            a2 = (a + 1) + (a - 1) * cw - root;
        } else {
            b0 = a * ((a + 1) + (a - 1) * cw + root);
            b1 = -2 * a * ((a - 1) + (a + 1) * cw);
            b2 = a * ((a + 1) + (a - 1) * cw - root);
            a0 = (a + 1) - (a - 1) * cw + root;
            a1 = 2 * ((a - 1) - (a + 1) * cw);
            a2 = (a + 1) - (a - 1) * cw - root;
        }
        break;
    }
    }
    m_b0 = b0 / a0, m_b1 = b1 / a0, m_b2 = b2 / a0, m_a1 = a1 / a0, m_a2 = a2 / a0;
}

} // namespace sequora::midi::effects
