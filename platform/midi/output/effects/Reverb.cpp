#include "platform/midi/output/effects/Reverb.h"

namespace sequora::midi::effects {

namespace {

// Lengths of the eight lines at size 1, milliseconds: no two share a factor that would
// make their echoes pile up on the same beats.
constexpr std::array<float, Reverb::kLines> kLineMs { 31.7f, 37.3f, 41.9f, 47.1f, 53.3f, 59.9f,
    67.7f, 73.1f };
constexpr std::array<float, 4> kDiffuserMs { 4.77f, 3.59f, 12.73f, 9.31f };
constexpr std::array<float, 6> kEarlyMs { 7.1f, 11.3f, 17.9f, 23.3f, 29.9f, 37.7f };
constexpr std::array<float, 6> kEarlyGain { 0.8f, -0.7f, 0.6f, -0.5f, 0.42f, -0.35f };
constexpr float kWobbleMs = 0.25f;
constexpr float kOutput = 0.3f;

} // namespace

void Reverb::prepare(float rate)
{
    m_rate = rate;
    const float perMs = rate / 1000.0f;
    m_pre.prepare(int((kMaxPreDelayMs + kEarlyMs.back() * kMaxSize) * perMs) + 8);
    for (std::size_t i = 0; i < m_diffuser.size(); ++i)
        m_diffuser[i].prepare(int(kDiffuserMs[i] * perMs) + 4);
    for (std::size_t i = 0; i < m_lines.size(); ++i)
        m_lines[i].prepare(int((kLineMs[i] * kMaxSize + 2 * kWobbleMs) * perMs) + 4);
    m_wobble.setRate(0.7f, rate);
    set(m_s);
}

void Reverb::set(const ReverbSettings& s)
{
    m_s = s;
    m_s.size = sane(s.size, 0.3f, kMaxSize);
    m_s.timeS = sane(s.timeS, 0.05f, 30.0f);
    m_s.early = sane(s.early, 0.0f, 1.0f);
    const float perMs = m_rate / 1000.0f;
    m_preDelay = sane(s.preDelayMs, 0.0f, kMaxPreDelayMs) * perMs;
    m_diffusionGain = 0.75f * sane(s.diffusion, 0.0f, 1.0f);
    for (std::size_t i = 0; i < m_diffuser.size(); ++i)
        m_diffuserLength[i] = kDiffuserMs[i] * perMs;
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        m_length[i] = kLineMs[i] * m_s.size * perMs;
        // What a pass through this line must lose for the whole to fall 60 dB in time.
        m_gain[i] = std::pow(10.0f, -3.0f * m_length[i] / (m_s.timeS * m_rate));
        if (s.dampHz > 0)
            m_damp[i].setLowPass(s.dampHz, m_rate);
        else
            m_damp[i].setBypass();
    }
    if (s.lowCutHz > 0)
        m_lowCut.setHighPass(s.lowCutHz, m_rate);
    else
        m_lowCut.setBypass();
    if (s.highCutHz > 0)
        m_highCut.setLowPass(s.highCutHz, m_rate);
    else
        m_highCut.setBypass();
}

void Reverb::process(float* left, float* right, int frames)
{
    const float perMs = m_rate / 1000.0f;
    const float wobble = kWobbleMs * perMs;
    for (int n = 0; n < frames; ++n) {
        m_pre.push(m_highCut.process(m_lowCut.process(0.5f * (left[n] + right[n]))));
        float x = m_pre.read(m_preDelay);
        float earlyL = 0, earlyR = 0;
        for (std::size_t k = 0; k < kEarlyMs.size(); ++k) {
            const float e = m_pre.read(m_preDelay + kEarlyMs[k] * m_s.size * perMs) * kEarlyGain[k];
            (k % 2 ? earlyR : earlyL) += e;
        }
        for (std::size_t k = 0; k < m_diffuser.size(); ++k) {
            // Schroeder all-pass: a smear that leaves the spectrum alone.
            const float delayed = m_diffuser[k].read(m_diffuserLength[k] - 1);
            const float w = x + m_diffusionGain * delayed;
            m_diffuser[k].push(w);
            x = delayed - m_diffusionGain * w;
        }
        const float w0 = m_wobble.next();
        float sum = 0;
        for (int i = 0; i < kLines; ++i) {
            float d = m_length[i] - 1;
            if (i == 2)
                d += wobble * (1 + w0);
            else if (i == 5)
                d += wobble * (1 - w0);
            m_state[i] = m_lines[i].read(d);
            sum += m_state[i];
        }
        // Householder feedback: each line gets every other, energy kept.
        const float mix = 2.0f / kLines * sum;
        float outL = 0, outR = 0;
        for (int i = 0; i < kLines; ++i) {
            const float back = m_damp[i].process((m_state[i] - mix) * m_gain[i]);
            m_lines[i].push(back + (i % 2 ? -x : x));
            (i % 2 ? outR : outL) += (i & 2 ? -m_state[i] : m_state[i]);
        }
        left[n] = kOutput * (outL + m_s.early * earlyL);
        right[n] = kOutput * (outR + m_s.early * earlyR);
    }
}

void Reverb::reset()
{
    m_pre.reset();
    for (DelayLine& d : m_diffuser)
        d.reset();
    for (DelayLine& d : m_lines)
        d.reset();
    for (OnePole& f : m_damp)
        f.reset();
    m_lowCut.reset();
    m_highCut.reset();
}

void GateReverb::prepare(float rate)
{
    m_rate = rate;
    m_line.prepare(int(kMaxMs * rate / 1000.0f) + 8);
    for (DelayLine& d : m_smear)
        d.prepare(int(0.02f * rate));
}

void GateReverb::set(const GateReverbSettings& s)
{
    const float perMs = m_rate / 1000.0f;
    const float gate = sane(s.gateMs, 5.0f, kMaxMs - 110.0f);
    const float pre = sane(s.preDelayMs, 0.0f, 100.0f);
    for (int k = 0; k < kTaps; ++k) {
        // Taps spread over the gate with a fixed irregularity, so no pitch is heard.
        const float jitter = 0.37f * std::sin(float(k) * 12.9898f);
        const float pos = (float(k) + 0.5f + jitter) / float(kTaps);
        m_at[k] = (pre + pos * gate) * perMs;
        float gain = 1.0f;
        float pan = k % 2 ? 0.8f : 0.2f;
        switch (s.shape) {
        case GateReverbSettings::Shape::Normal:
            gain = 1.0f - 0.3f * pos;
            break;
        case GateReverbSettings::Shape::Reverse:
            gain = 0.15f + 0.85f * pos;
            break;
        case GateReverbSettings::Shape::SweepRight:
            pan = pos;
            break;
        case GateReverbSettings::Shape::SweepLeft:
            pan = 1 - pos;
            break;
        }
        gain *= (k % 3 == 1 ? -1.0f : 1.0f) * 2.0f / std::sqrt(float(kTaps));
        m_toLeft[k] = gain * std::cos(pan * kPi / 2);
        m_toRight[k] = gain * std::sin(pan * kPi / 2);
    }
}

void GateReverb::process(float* left, float* right, int frames)
{
    const float smear = 0.011f * m_rate;
    for (int n = 0; n < frames; ++n) {
        m_line.push(0.5f * (left[n] + right[n]));
        float l = 0, r = 0;
        for (int k = 0; k < kTaps; ++k) {
            const float v = m_line.read(m_at[k]);
            l += v * m_toLeft[k];
            r += v * m_toRight[k];
        }
        float* out[2] = { &l, &r };
        for (int c = 0; c < 2; ++c) {
            const float delayed = m_smear[c].read(smear * (c ? 0.73f : 1.0f) - 1);
            const float w = *out[c] + 0.5f * delayed;
            m_smear[c].push(w);
            *out[c] = delayed - 0.5f * w;
        }
        left[n] = l;
        right[n] = r;
    }
}

void GateReverb::reset()
{
    m_line.reset();
    for (DelayLine& d : m_smear)
        d.reset();
}

} // namespace sequora::midi::effects
