#include "platform/midi/output/effects/Chorus.h"

namespace sequora::midi::effects {

void Chorus::prepare(float rate)
{
    m_rate = rate;
    for (DelayLine& line : m_lines)
        line.prepare(int(kMaxMs * rate / 1000.0f) + 8);
    m_step.set(2.0f, rate);
}

void Chorus::set(const ChorusSettings& s)
{
    m_s = s;
    m_s.voices = std::clamp(s.voices, 1, ChorusSettings::kMaxVoices);
    m_s.feedback = sane(s.feedback, -0.98f, 0.98f);
    m_s.panSpread = sane(s.panSpread, 0.0f, 1.0f);
    m_lfo.setRate(s.rateHz, m_rate);
    m_lfo.setWave(s.wave);
    for (int i = 0; i < 2; ++i) {
        switch (s.filter) {
        case ChorusSettings::Filter::None:
            m_filter[i].setBypass();
            break;
        case ChorusSettings::Filter::LowPass:
            m_filter[i].setLowPass(s.filterHz, m_rate);
            break;
        case ChorusSettings::Filter::HighPass:
            m_filter[i].setHighPass(s.filterHz, m_rate);
            break;
        }
    }
    const float perMs = m_rate / 1000.0f;
    const float longest = kMaxMs - 2;
    for (int v = 0; v < m_s.voices; ++v) {
        // Voices alternate sides; with more than two, they fan out from the middle.
        const float side = (v % 2 == 0 ? -1.0f : 1.0f)
            * (m_s.voices <= 2 ? 1.0f : float(v / 2 + 1) / float((m_s.voices + 1) / 2));
        const float pan = 0.5f + 0.5f * side * m_s.panSpread;
        m_panL[v] = std::cos(pan * kPi / 2);
        m_panR[v] = std::sin(pan * kPi / 2);
        const float spread = m_s.voices > 1 ? float(v) / float(m_s.voices - 1) - 0.5f : 0.0f;
        const float depth = sane(s.depthMs * (1 + 2 * spread * s.depthSpread), 0.0f, longest / 2);
        const float base = sane(s.delayMs + float(v) * s.delaySpreadMs, 0.05f, longest - 2 * depth);
        m_base[v] = base * perMs;
        m_depth[v] = depth * perMs;
    }
    m_norm = 1.0f / std::sqrt(float(m_s.voices) / 2.0f + 0.5f);
}

void Chorus::process(float* left, float* right, int frames)
{
    const int stepSamples = m_s.stepHz > 0 ? std::max(1, int(m_rate / m_s.stepHz)) : 0;
    for (int n = 0; n < frames; ++n) {
        const float mid = 0.5f * (left[n] + right[n]);
        const float inL = m_filter[0].process(m_s.stereoIn ? left[n] : mid);
        const float inR = m_s.stereoIn ? m_filter[1].process(right[n]) : inL;
        m_lines[0].push(inL + m_s.feedback * m_last[0]);
        m_lines[1].push(inR + m_s.feedback * m_last[1]);
        float outL = 0, outR = 0;
        for (int v = 0; v < m_s.voices; ++v) {
            float lfo = m_lfo.valueAt(m_lfo.phase() + float(v) * m_s.phaseSpread);
            if (stepSamples) {
                // Step flanger: the sweep holds still between steps.
                if (v == 0 && m_stepLeft-- <= 0) {
                    m_step.target(lfo);
                    m_stepLeft = stepSamples;
                }
                lfo = v == 0 ? m_step.next() : m_step.value();
            }
            const int line = m_s.stereoIn ? v % 2 : 0;
            const float x = m_lines[line].read(m_base[v] + m_depth[v] * 0.5f * (1 + lfo));
            if (v < 2)
                m_last[m_s.stereoIn ? line : v] = x;
            outL += x * m_panL[v];
            outR += x * m_panR[v];
            if (m_s.crossInverted) {
                outL -= 0.5f * x * m_panR[v];
                outR -= 0.5f * x * m_panL[v];
            }
        }
        if (m_s.voices == 1 && !m_s.stereoIn)
            m_last[1] = m_last[0];
        m_lfo.next();
        left[n] = outL * m_norm;
        right[n] = outR * m_norm;
    }
}

void Chorus::reset()
{
    for (int i = 0; i < 2; ++i) {
        m_lines[i].reset();
        m_filter[i].reset();
    }
    m_last = {};
}

void Phaser::set(const PhaserSettings& s)
{
    m_s = s;
    m_s.stages = std::clamp(s.stages, 2, PhaserSettings::kMaxStages) & ~1;
    m_s.resonance = sane(s.resonance, 0.0f, 0.95f);
    m_s.depth = sane(s.depth, 0.0f, 1.0f);
    m_s.mix = sane(s.mix, 0.0f, 1.0f);
    m_s.manualHz = sane(s.manualHz, 20.0f, 16000.0f);
    m_lfo.setRate(s.rateHz, m_rate / float(kControlEvery));
    m_lfo.setWave(Lfo::Wave::Triangle);
}

void Phaser::process(float* left, float* right, int frames)
{
    float* io[2] = { left, right };
    const float gain = 1.0f / (1.0f + 0.5f * m_s.mix);
    for (int n = 0; n < frames; ++n) {
        if (m_countdown-- <= 0) {
            m_countdown = kControlEvery - 1;
            for (int c = 0; c < 2; ++c) {
                const float octaves
                    = 2.0f * m_s.depth * m_lfo.valueAt(m_lfo.phase() + float(c) * m_s.stereoPhase);
                const float hz = std::min(m_s.manualHz * std::exp2(octaves), m_rate * 0.45f);
                const float t = std::tan(kPi * hz / m_rate);
                m_coef[c] = (t - 1) / (t + 1);
            }
            m_lfo.next();
        }
        for (int c = 0; c < 2; ++c) {
            const float x = io[c][n];
            float y = x + m_s.resonance * m_fb[c];
            for (int k = 0; k < m_s.stages; ++k) {
                // First-order all-pass: its phase turns through 180 degrees around the corner.
                const float out = m_coef[c] * y + m_z[c][k];
                m_z[c][k] = flush(y - m_coef[c] * out);
                y = out;
            }
            m_fb[c] = flush(y);
            io[c][n] = (x + m_s.mix * y) * gain;
        }
    }
}

void Phaser::reset()
{
    m_z = {};
    m_fb = {};
}

} // namespace sequora::midi::effects
