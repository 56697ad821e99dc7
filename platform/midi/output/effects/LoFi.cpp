#include "platform/midi/output/effects/LoFi.h"

namespace sequora::midi::effects {

void LoFi::set(const LoFiSettings& s)
{
    m_s = s;
    m_step = sane(s.rateHz, 100.0f, m_rate) / m_rate;
    m_levels = std::exp2(sane(s.bits, 2.0f, 24.0f) - 1);
    m_out = dbToGain(sane(s.outputDb, -30.0f, 30.0f));
    m_s.hiss = sane(s.hiss, 0.0f, 1.0f);
    m_s.crackle = sane(s.crackle, 0.0f, 1.0f);
    m_s.hum = sane(s.hum, 0.0f, 1.0f);
    for (int c = 0; c < 2; ++c) {
        if (s.preLowPassHz > 0)
            m_pre[c].setLowPass(s.preLowPassHz, m_rate);
        else
            m_pre[c].setBypass();
        switch (s.post) {
        case LoFiSettings::Filter::None:
            m_post[c].setFlat();
            break;
        case LoFiSettings::Filter::LowPass:
            m_post[c].set(Biquad::Kind::LowPass, s.postHz, s.postQ, 0, m_rate);
            break;
        case LoFiSettings::Filter::HighPass:
            m_post[c].set(Biquad::Kind::HighPass, s.postHz, s.postQ, 0, m_rate);
            break;
        case LoFiSettings::Filter::BandPass:
            m_post[c].set(Biquad::Kind::BandPass, s.postHz, s.postQ, 0, m_rate);
            break;
        case LoFiSettings::Filter::LowShelf:
            m_post[c].set(Biquad::Kind::LowShelf, s.postHz, s.postQ, 9.0f, m_rate);
            break;
        }
    }
}

float LoFi::noise()
{
    // xorshift32: cheap, and the same sequence on every run.
    m_seed ^= m_seed << 13;
    m_seed ^= m_seed >> 17;
    m_seed ^= m_seed << 5;
    return float(int32_t(m_seed)) / 2147483648.0f;
}

void LoFi::process(float* left, float* right, int frames)
{
    const bool noisy = m_s.hiss > 0 || m_s.crackle > 0 || m_s.hum > 0;
    const float humStep = sane(m_s.humHz, 20.0f, 200.0f) / m_rate;
    const float cracklePerSample = sane(m_s.crackleRate, 0.0f, 200.0f) / m_rate;
    for (int n = 0; n < frames; ++n) {
        float in[2] = { left[n], right[n] };
        if (m_s.mono)
            in[0] = in[1] = 0.5f * (left[n] + right[n]);
        m_phase += m_step;
        const bool sample = m_phase >= 1;
        if (sample)
            m_phase -= 1;
        float extra = 0;
        if (noisy) {
            const float white = noise();
            float hiss = white;
            if (m_s.pinkHiss) {
                // Three one-pole sections at spread corners: close enough to -3 dB an octave.
                m_pink[0] = 0.997f * m_pink[0] + 0.029591f * white;
                m_pink[1] = 0.985f * m_pink[1] + 0.032534f * white;
                m_pink[2] = 0.950f * m_pink[2] + 0.048056f * white;
                hiss = (m_pink[0] + m_pink[1] + m_pink[2]) * 2.5f;
            }
            if (noise() * 0.5f + 0.5f < cracklePerSample)
                m_crackleEnv = 0.5f + 0.5f * std::abs(noise());
            const float crackle = m_crackleEnv * white;
            m_crackleEnv = flush(m_crackleEnv * 0.97f);
            m_humPhase += humStep;
            m_humPhase -= std::floor(m_humPhase);
            const float hum
                = std::sin(kTwoPi * m_humPhase) + 0.4f * std::sin(3 * kTwoPi * m_humPhase);
            extra = 0.05f * m_s.hiss * hiss + 0.3f * m_s.crackle * crackle + 0.03f * m_s.hum * hum;
        }
        float* out[2] = { &left[n], &right[n] };
        for (int c = 0; c < 2; ++c) {
            const float x = m_pre[c].process(in[c]);
            if (sample)
                m_held[c] = std::round(std::clamp(x, -1.0f, 1.0f) * m_levels) / m_levels;
            *out[c] = m_post[c].process(m_held[c] + extra) * m_out;
        }
    }
}

void LoFi::reset()
{
    for (int c = 0; c < 2; ++c) {
        m_pre[c].reset();
        m_post[c].reset();
    }
    m_held = {};
    m_pink = {};
    m_crackleEnv = 0;
}

} // namespace sequora::midi::effects
