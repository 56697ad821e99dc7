#include "platform/midi/output/Limiter.h"

#include <algorithm>
#include <cmath>

namespace sequora::midi {

namespace {
// The release creeps towards 1 for ever; this close, it is 1 (-0.00001 dB).
constexpr double kUnityMargin = 1e-6;
constexpr float kRoundingMargin = 0.99999f;

// i modulo n for 0 <= i < 2n, without a division per sample.
int wrap(int i, int n)
{
    return i >= n ? i - n : i;
}
} // namespace

Limiter::Limiter(int sampleRate)
{
    const double rate = std::max(sampleRate, 1);
    m_lookahead
        = std::clamp(static_cast<int>(std::lround(rate * kLookaheadSeconds)), 1, kMaxLookahead);
    m_releaseCoeff = 1.0 - std::exp(-1.0 / (kReleaseSeconds * rate));
    reset();
}

void Limiter::reset()
{
    m_index = 0;
    m_pos = 0;
    m_delayLeft.fill(0);
    m_delayRight.fill(0);
    m_minHead = 0;
    m_minCount = 0;
    m_envelope = 1;
    m_ramp.fill(1);
    m_rampSum = m_lookahead;
    m_rampBelowOne = 0;
    m_lastGain = 1;
}

// The gain for the sample leaving now, given the peak of the sample arriving now.
// Leaving now is the sample that arrived m_lookahead steps ago. Every ramp entry
// averaged here is at most the gain that sample needs, because each is the minimum of
// a window that contains it, so their average is too: the ceiling holds exactly.
float Limiter::nextGain(float peak)
{
    // Aimed a hair under the ceiling, so that rounding in the products cannot cross it.
    const float need = peak > kCeiling ? kCeiling * kRoundingMargin / peak : 1.0f;
    const int window = m_lookahead + 1;
    // The oldest goes first, so that the queue never holds more than the window.
    if (m_minCount > 0 && m_minIndex[m_minHead] <= m_index - window) {
        m_minHead = wrap(m_minHead + 1, window);
        --m_minCount;
    }
    while (m_minCount > 0) {
        const int back = wrap(m_minHead + m_minCount - 1, window);
        if (m_minGain[back] < need)
            break;
        --m_minCount;
    }
    const int slot = wrap(m_minHead + m_minCount, window);
    m_minGain[slot] = need;
    m_minIndex[slot] = m_index;
    ++m_minCount;
    const float held = m_minGain[m_minHead];

    double released = m_envelope + (1.0 - m_envelope) * m_releaseCoeff;
    if (released > 1.0 - kUnityMargin)
        released = 1.0;
    m_envelope = std::min(released, static_cast<double>(held));
    const auto envelope = static_cast<float>(m_envelope);

    const float old = m_ramp[m_pos];
    m_ramp[m_pos] = envelope;
    m_rampBelowOne += (envelope < 1.0f ? 1 : 0) - (old < 1.0f ? 1 : 0);
    if (m_rampBelowOne == 0) {
        m_rampSum = m_lookahead; // exact again: no rounding carried on
        return 1.0f;
    }
    m_rampSum += static_cast<double>(envelope) - static_cast<double>(old);
    return std::min(1.0f, static_cast<float>(m_rampSum / m_lookahead));
}

void Limiter::process(float* left, float* right, int frames)
{
    for (int i = 0; i < frames; ++i) {
        const float l = left[i];
        const float r = right[i];
        const float gain = nextGain(std::max(std::fabs(l), std::fabs(r)));
        left[i] = m_delayLeft[m_pos] * gain;
        right[i] = m_delayRight[m_pos] * gain;
        m_delayLeft[m_pos] = l;
        m_delayRight[m_pos] = r;
        m_lastGain = gain;
        ++m_index;
        if (++m_pos == m_lookahead)
            m_pos = 0;
    }
}

} // namespace sequora::midi
