#include "platform/midi/output/effects/EqBank.h"

namespace sequora::midi::effects {

void EqBank::set(const EqBand* bands, int count)
{
    m_count = 0;
    for (int i = 0; i < count && m_count < kMaxBands; ++i) {
        const EqBand& b = bands[i];
        const bool gained = b.kind == Biquad::Kind::Peak || b.kind == Biquad::Kind::LowShelf
            || b.kind == Biquad::Kind::HighShelf;
        if (gained && std::abs(b.gainDb) < 0.01f)
            continue;
        for (auto& channel : m_filters)
            channel[std::size_t(m_count)].set(b.kind, b.hz, b.q, b.gainDb, m_rate);
        ++m_count;
    }
}

void EqBank::process(float* left, float* right, int frames)
{
    float* io[2] = { left, right };
    for (int c = 0; c < 2; ++c) {
        for (int k = 0; k < m_count; ++k) {
            Biquad& f = m_filters[std::size_t(c)][std::size_t(k)];
            float* x = io[c];
            for (int n = 0; n < frames; ++n)
                x[n] = f.process(x[n]);
        }
    }
}

void EqBank::reset()
{
    for (auto& channel : m_filters) {
        for (Biquad& f : channel)
            f.reset();
    }
}

} // namespace sequora::midi::effects
