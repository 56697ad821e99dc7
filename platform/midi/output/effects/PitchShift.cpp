#include "platform/midi/output/effects/PitchShift.h"

namespace sequora::midi::effects {

void PitchShift::prepare(float rate)
{
    m_rate = rate;
    m_line.prepare(int(kMaxMs * rate / 1000.0f) + 8);
}

void PitchShift::set(const PitchShiftSettings& s)
{
    m_s = s;
    m_s.voiceCount = std::clamp(s.voiceCount, 1, 2);
    m_s.feedback = sane(s.feedback, -0.98f, 0.98f);
    m_window = sane(s.windowMs, 5.0f, 100.0f) * m_rate / 1000.0f;
    for (std::size_t v = 0; v < 2; ++v) {
        PitchShiftSettings::Voice& voice = m_s.voices[v];
        voice.preDelayMs = sane(voice.preDelayMs, 0.0f, kMaxMs - 110.0f);
        const float ratio = std::exp2(sane(voice.semitones, -36.0f, 24.0f) / 12.0f);
        // The head moves back through the window as fast as the pitch rises.
        m_step[v] = (1.0f - ratio) / m_window;
        const float pan = 0.5f + 0.5f * sane(voice.pan, -1.0f, 1.0f);
        m_panL[v] = std::cos(pan * kPi / 2) * voice.level;
        m_panR[v] = std::sin(pan * kPi / 2) * voice.level;
    }
}

void PitchShift::process(float* left, float* right, int frames)
{
    const float perMs = m_rate / 1000.0f;
    for (int n = 0; n < frames; ++n) {
        m_line.push(0.5f * (left[n] + right[n]) + m_s.feedback * m_last);
        float l = 0, r = 0;
        for (int v = 0; v < m_s.voiceCount; ++v) {
            float& saw = m_saw[std::size_t(v)];
            saw += m_step[std::size_t(v)];
            saw -= std::floor(saw);
            const float pre = m_s.voices[std::size_t(v)].preDelayMs * perMs;
            float y = 0;
            for (float head : { saw, saw + 0.5f }) {
                const float p = head - std::floor(head);
                // sin^2 and cos^2 of the two heads add up to one.
                const float fade = std::sin(kPi * p);
                y += m_line.read(pre + p * m_window) * fade * fade;
            }
            if (v == 0)
                m_last = flush(y);
            l += y * m_panL[std::size_t(v)];
            r += y * m_panR[std::size_t(v)];
        }
        left[n] = l * std::sqrt(2.0f);
        right[n] = r * std::sqrt(2.0f);
    }
}

void PitchShift::reset()
{
    m_line.reset();
    m_last = 0;
}

} // namespace sequora::midi::effects
