#include "platform/midi/output/effects/TapDelay.h"

namespace sequora::midi::effects {

namespace {
constexpr float kMaxFeedback = 0.98f;
}

void TapDelay::prepare(float rate)
{
    m_rate = rate;
    for (DelayLine& line : m_lines)
        line.prepare(int(kMaxMs * rate / 1000.0f) + 64);
    m_fresh = true;
}

void TapDelay::set(const TapDelaySettings& s)
{
    m_s = s;
    m_s.tapCount = std::clamp(s.tapCount, 0, TapDelaySettings::kMaxTaps);
    for (int i = 0; i < 2; ++i) {
        m_s.feedback[i] = sane(s.feedback[i], -kMaxFeedback, kMaxFeedback);
        if (s.dampHz > 0)
            m_damp[i].setLowPass(s.dampHz, m_rate);
        else
            m_damp[i].setBypass();
        if (s.preLpfHz > 0)
            m_pre[i].setLowPass(s.preLpfHz, m_rate);
        else
            m_pre[i].setBypass();
        m_fbTime[i].set(m_s.glideMs, m_rate);
        m_fbTime[i].target(samples(s.feedbackMs[i]));
    }
    for (int t = 0; t < TapDelaySettings::kMaxTaps; ++t) {
        m_tapTime[t].set(m_s.glideMs, m_rate);
        m_tapTime[t].target(samples(s.taps[t].ms));
        m_s.taps[t].line = s.taps[t].line ? 1 : 0;
        m_s.taps[t].toLeft = sane(s.taps[t].toLeft, -2.0f, 2.0f);
        m_s.taps[t].toRight = sane(s.taps[t].toRight, -2.0f, 2.0f);
    }
    m_s.modDepthMs = sane(s.modDepthMs, 0.0f, 20.0f);
    m_lfo.setRate(s.modRateHz, m_rate);
    if (m_fresh) {
        for (int t = 0; t < TapDelaySettings::kMaxTaps; ++t)
            m_tapTime[t].jump(samples(s.taps[t].ms));
        for (int i = 0; i < 2; ++i)
            m_fbTime[i].jump(samples(s.feedbackMs[i]));
        m_fresh = false;
    }
}

void TapDelay::process(float* left, float* right, int frames)
{
    // Most of the time nothing moves: no modulation and every time long since reached.
    const float depth = samples(m_s.modDepthMs);
    if (depth <= 0 && settled())
        run<true>(left, right, frames, 0);
    else
        run<false>(left, right, frames, depth);
}

bool TapDelay::settled()
{
    // A thousandth of a sample is far below what interpolation can let be heard.
    constexpr float kTolerance = 1e-3f;
    bool still = true;
    for (Glide& g : m_fbTime)
        still = g.settle(kTolerance) && still;
    for (int t = 0; t < m_s.tapCount; ++t)
        still = m_tapTime[std::size_t(t)].settle(kTolerance) && still;
    return still;
}

template <bool Still> void TapDelay::run(float* left, float* right, int frames, float depth)
{
    using Position = DelayLine::Position;
    std::array<Position, 2> back {};
    std::array<Position, TapDelaySettings::kMaxTaps> at {};
    if constexpr (Still) {
        // The feedback taps are read before this sample goes in: one sample less.
        for (std::size_t i = 0; i < 2; ++i)
            back[i] = m_lines[i].position(m_fbTime[i].value() - 1);
        for (int t = 0; t < m_s.tapCount; ++t)
            at[std::size_t(t)] = m_lines[std::size_t(m_s.taps[std::size_t(t)].line)].position(
                m_tapTime[std::size_t(t)].value());
    }
    for (int n = 0; n < frames; ++n) {
        const float inL = m_s.stereoIn ? left[n] : 0.5f * (left[n] + right[n]);
        const float inR = m_s.stereoIn ? right[n] : inL;
        std::array<float, 2> mod { 0, 0 };
        if (!Still && depth > 0) {
            mod[0] = depth * (1 + m_lfo.valueAt(m_lfo.phase()));
            mod[1] = depth * (1 + m_lfo.valueAt(m_lfo.phase() + m_s.modPhase));
            m_lfo.next();
        }
        float back0, back1;
        if constexpr (Still) {
            back0 = m_lines[0].read(back[0]);
            back1 = m_lines[1].read(back[1]);
        } else {
            back0 = m_lines[0].read(m_fbTime[0].next() + mod[0] - 1);
            back1 = m_lines[1].read(m_fbTime[1].next() + mod[1] - 1);
        }
        const float f0 = m_damp[0].process(m_s.cross ? back1 : back0);
        const float f1 = m_damp[1].process(m_s.cross ? back0 : back1);
        m_lines[0].push(m_pre[0].process(inL) + m_s.feedback[0] * f0);
        m_lines[1].push(m_pre[1].process(inR) + m_s.feedback[1] * f1);
        float outL = 0, outR = 0;
        for (int t = 0; t < m_s.tapCount; ++t) {
            const TapDelaySettings::Tap& tap = m_s.taps[std::size_t(t)];
            const DelayLine& line = m_lines[std::size_t(tap.line)];
            float v;
            if constexpr (Still)
                v = line.read(at[std::size_t(t)]);
            else
                v = line.read(m_tapTime[std::size_t(t)].next() + mod[std::size_t(tap.line)]);
            outL += v * tap.toLeft;
            outR += v * tap.toRight;
        }
        left[n] = outL;
        right[n] = outR;
    }
}

void TapDelay::reset()
{
    for (int i = 0; i < 2; ++i) {
        m_lines[i].reset();
        m_damp[i].reset();
        m_pre[i].reset();
    }
    m_fresh = true;
}

} // namespace sequora::midi::effects
