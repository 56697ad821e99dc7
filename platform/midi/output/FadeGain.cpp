#include "platform/midi/output/FadeGain.h"

#include <algorithm>

namespace sequora::midi {

float FadeGain::level() const
{
    if (!m_active)
        return 1.0f;
    if (m_at >= m_length)
        return 0.0f;
    const double left = 1.0 - double(m_at) / double(m_length);
    return static_cast<float>(left * left);
}

void FadeGain::apply(float* left, float* right, int frames)
{
    if (!m_active)
        return;
    const double step = m_length > 0 ? 1.0 / double(m_length) : 1.0;
    double remaining = m_at < m_length ? 1.0 - double(m_at) * step : 0.0;
    for (int i = 0; i < frames; ++i) {
        const auto gain = static_cast<float>(remaining * remaining);
        left[i] *= gain;
        right[i] *= gain;
        remaining = std::max(0.0, remaining - step);
    }
    m_at += static_cast<uint64_t>(frames);
}

} // namespace sequora::midi
