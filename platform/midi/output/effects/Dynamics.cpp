#include "platform/midi/output/effects/Dynamics.h"

namespace sequora::midi::effects {

void Dynamics::set(const DynamicsSettings& s)
{
    m_s = s;
    m_s.ratio = sane(s.ratio, 1.0f, 100.0f);
    m_threshold = dbToGain(sane(s.thresholdDb, -60.0f, 0.0f));
    m_makeUp = dbToGain(sane(s.makeUpDb, -24.0f, 24.0f));
    m_env.set(sane(s.attackMs, 0.05f, 500.0f), sane(s.releaseMs, 5.0f, 3000.0f), m_rate);
}

void Dynamics::process(float* left, float* right, int frames)
{
    const float slope = 1.0f - 1.0f / m_s.ratio;
    for (int n = 0; n < frames; ++n) {
        const float level = m_env.process(std::max(std::abs(left[n]), std::abs(right[n])));
        float gain = m_makeUp;
        if (level > m_threshold)
            gain *= std::pow(level / m_threshold, -slope);
        left[n] *= gain;
        right[n] *= gain;
    }
}

} // namespace sequora::midi::effects
