#include "platform/midi/output/effects/Motion.h"

namespace sequora::midi::effects {

namespace {

constexpr float kCrossoverHz = 800;
// The horn's mouth swings about 12 cm to and from the listener: some 0.35 ms of Doppler.
constexpr float kHornSwingMs = 0.35f;
constexpr float kDrumSwingMs = 0.5f;
constexpr float kHornAm = 0.3f; ///< how much quieter the horn is when facing away
constexpr float kDrumAm = 0.15f;

float speedCoefficient(float seconds, float rate)
{
    return std::exp(-1.0f / (std::max(seconds, 0.01f) * rate));
}

} // namespace

void Rotary::prepare(float rate)
{
    m_rate = rate;
    m_hornLine.prepare(int(0.004f * rate));
    m_drumLine.prepare(int(0.004f * rate));
    m_hornSpeed = m_s.highSlowHz;
    m_drumSpeed = m_s.lowSlowHz;
}

void Rotary::set(const RotarySettings& s)
{
    m_s = s;
    m_s.separation = sane(s.separation, 0.0f, 1.0f);
    m_lowPass.set(Biquad::Kind::LowPass, kCrossoverHz, 0.707f, 0, m_rate);
    m_highPass.set(Biquad::Kind::HighPass, kCrossoverHz, 0.707f, 0, m_rate);
    m_hornK = speedCoefficient(s.highAccelS, m_rate);
    m_drumK = speedCoefficient(s.lowAccelS, m_rate);
}

void Rotary::process(float* left, float* right, int frames)
{
    const float hornTarget = sane(m_s.fast ? m_s.highFastHz : m_s.highSlowHz, 0.0f, 20.0f);
    const float drumTarget = sane(m_s.fast ? m_s.lowFastHz : m_s.lowSlowHz, 0.0f, 20.0f);
    const float perMs = m_rate / 1000.0f;
    const float sep = m_s.separation;
    for (int n = 0; n < frames; ++n) {
        const float x = 0.5f * (left[n] + right[n]);
        m_hornLine.push(m_highPass.process(x));
        m_drumLine.push(m_lowPass.process(x));
        m_hornSpeed = hornTarget + m_hornK * (m_hornSpeed - hornTarget);
        m_drumSpeed = drumTarget + m_drumK * (m_drumSpeed - drumTarget);
        m_hornPhase += m_hornSpeed / m_rate;
        m_drumPhase += m_drumSpeed / m_rate;
        m_hornPhase -= std::floor(m_hornPhase);
        m_drumPhase -= std::floor(m_drumPhase);
        const float hs = std::sin(kTwoPi * m_hornPhase), hc = std::cos(kTwoPi * m_hornPhase);
        const float ds = std::sin(kTwoPi * m_drumPhase), dc = std::cos(kTwoPi * m_drumPhase);
        const float horn = m_hornLine.read((1 + hc) * kHornSwingMs * perMs)
            * (1 - kHornAm * 0.5f * (1 - hc)) * m_s.highLevel;
        const float drum = m_drumLine.read((1 + dc) * kDrumSwingMs * perMs)
            * (1 - kDrumAm * 0.5f * (1 - dc)) * m_s.lowLevel;
        left[n] = horn * (1 + sep * hs) + drum * (1 + 0.5f * sep * ds);
        right[n] = horn * (1 - sep * hs) + drum * (1 - 0.5f * sep * ds);
    }
}

void Rotary::reset()
{
    m_lowPass.reset();
    m_highPass.reset();
    m_hornLine.reset();
    m_drumLine.reset();
}

void Tremolo::set(const TremoloSettings& s)
{
    m_s = s;
    m_s.depth = sane(s.depth, 0.0f, 1.0f);
    m_lfo.setRate(s.rateHz, m_rate);
    m_lfo.setWave(s.wave);
    m_smoothL.setLowPass(200.0f, m_rate);
    m_smoothR.setLowPass(200.0f, m_rate);
}

void Tremolo::process(float* left, float* right, int frames)
{
    for (int n = 0; n < frames; ++n) {
        const float a = m_lfo.valueAt(m_lfo.phase());
        float gl, gr;
        if (m_s.pan) {
            const float pos = 0.5f + 0.5f * m_s.depth * a;
            gl = std::cos(pos * kPi / 2) * std::sqrt(2.0f);
            gr = std::sin(pos * kPi / 2) * std::sqrt(2.0f);
        } else {
            const float b = m_lfo.valueAt(m_lfo.phase() + m_s.stereoPhase);
            gl = 1 - m_s.depth * 0.5f * (1 - a);
            gr = 1 - m_s.depth * 0.5f * (1 - b);
        }
        m_lfo.next();
        left[n] *= m_smoothL.process(gl);
        right[n] *= m_smoothR.process(gr);
    }
}

void AutoWah::prepare(float rate)
{
    m_rate = rate;
    m_env.set(5.0f, 120.0f, rate);
}

void AutoWah::set(const AutoWahSettings& s)
{
    m_s = s;
    m_s.manualHz = sane(s.manualHz, 40.0f, 12000.0f);
    m_s.sens = sane(s.sens, 0.0f, 1.0f);
    m_s.depth = sane(s.depth, 0.0f, 1.0f);
    m_k = 1.0f / sane(s.q, 0.5f, 20.0f);
    m_lfo.setRate(s.rateHz, m_rate / float(kControlEvery));
}

void AutoWah::process(float* left, float* right, int frames)
{
    float* io[2] = { left, right };
    for (int n = 0; n < frames; ++n) {
        const float level = m_env.process(0.5f * (left[n] + right[n]));
        if (m_countdown-- <= 0) {
            m_countdown = kControlEvery - 1;
            // A full-scale note sweeps the filter the whole sensitivity's range.
            const float byLevel
                = 4.0f * m_s.sens * std::min(1.0f, level * 4.0f) * (m_s.up ? 1.0f : -1.0f);
            const float octaves = 2.0f * m_s.depth * m_lfo.next() + byLevel;
            const float hz = std::clamp(m_s.manualHz * std::exp2(octaves), 30.0f, m_rate * 0.42f);
            const float g = std::tan(kPi * hz / m_rate);
            m_a1 = 1.0f / (1 + g * (g + m_k));
            m_a2 = g * m_a1;
            m_a3 = g * m_a2;
        }
        for (int c = 0; c < 2; ++c) {
            // State-variable filter (trapezoidal): stays stable while it is swept.
            const float v3 = io[c][n] - m_ic2[c];
            const float v1 = m_a1 * m_ic1[c] + m_a2 * v3;
            const float v2 = m_ic2[c] + m_a2 * m_ic1[c] + m_a3 * v3;
            m_ic1[c] = flush(2 * v1 - m_ic1[c]);
            m_ic2[c] = flush(2 * v2 - m_ic2[c]);
            io[c][n] = m_s.bandPass ? v1 * m_k * 2.0f : v2;
        }
    }
}

void AutoWah::reset()
{
    m_ic1 = {};
    m_ic2 = {};
    m_env.reset();
}

} // namespace sequora::midi::effects
