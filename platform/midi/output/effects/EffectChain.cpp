#include "platform/midi/output/effects/EffectChain.h"

#include <algorithm>

namespace sequora::midi::effects {

namespace {

bool sameBlocks(const ChainSettings& a, const ChainSettings& b)
{
    if (a.stageCount != b.stageCount || a.layout != b.layout)
        return false;
    for (int i = 0; i < a.stageCount; ++i) {
        if (a.stages[i].block != b.stages[i].block || a.stages[i].instance != b.stages[i].instance)
            return false;
    }
    return true;
}

// Louder than this and something has gone wrong upstream: no chain of ours amplifies
// that much.
constexpr float kRunaway = 64.0f;

} // namespace

void EffectChain::prepare(float rate)
{
    m_rate = rate;
    m_eq.prepare(rate);
    m_post.prepare(rate);
    m_enhancer.prepare(rate);
    for (Drive& d : m_drive)
        d.prepare(rate);
    m_phaser.prepare(rate);
    m_autoWah.prepare(rate);
    m_rotary.prepare(rate);
    m_tremolo.prepare(rate);
    for (Chorus& c : m_chorus)
        c.prepare(rate);
    m_delay.prepare(rate);
    m_reverb.prepare(rate);
    m_gate.prepare(rate);
    m_pitch.prepare(rate);
    m_lofi.prepare(rate);
    m_dynamics.prepare(rate);
    reset();
}

void EffectChain::bypass()
{
    m_bypass = true;
    m_s.stageCount = 0;
}

void EffectChain::set(const ChainSettings& s)
{
    const bool fresh = m_bypass || !sameBlocks(m_s, s);
    m_s = s;
    m_s.stageCount = std::clamp(s.stageCount, 0, ChainSettings::kMaxStages);
    m_s.dry = sane(s.dry, 0.0f, 2.0f);
    m_s.wet = sane(s.wet, 0.0f, 2.0f);
    m_s.level = sane(s.level, 0.0f, 2.0f);
    m_bypass = false;
    if (fresh)
        reset();
    for (int i = 0; i < m_s.stageCount; ++i) {
        const Stage& st = m_s.stages[i];
        const std::size_t k = st.instance ? 1 : 0;
        switch (st.block) {
        case Block::None:
            break;
        case Block::Eq:
            m_eq.set(m_s.eq.data(), std::clamp(m_s.eqCount, 0, EqBank::kMaxBands));
            break;
        case Block::Enhancer:
            m_enhancer.set(m_s.enhancer);
            break;
        case Block::Drive:
            m_drive[k].set(m_s.drive[k]);
            break;
        case Block::Phaser:
            m_phaser.set(m_s.phaser);
            break;
        case Block::AutoWah:
            m_autoWah.set(m_s.autoWah);
            break;
        case Block::Rotary:
            m_rotary.set(m_s.rotary);
            break;
        case Block::Tremolo:
            m_tremolo.set(m_s.tremolo);
            break;
        case Block::Chorus:
            m_chorus[k].set(m_s.chorus[k]);
            break;
        case Block::TapDelay:
            m_delay.set(m_s.delay);
            break;
        case Block::Reverb:
            m_reverb.set(m_s.reverb);
            break;
        case Block::GateReverb:
            m_gate.set(m_s.gate);
            break;
        case Block::PitchShift:
            m_pitch.set(m_s.pitch);
            break;
        case Block::LoFi:
            m_lofi.set(m_s.lofi);
            break;
        case Block::Dynamics:
            m_dynamics.set(m_s.dynamics);
            break;
        }
    }
    m_post.set(m_s.post.data(), std::clamp(m_s.postCount, 0, int(m_s.post.size())));
    const float pan = sane(s.pan, -1.0f, 1.0f);
    m_panL = std::min(1.0f, 1.0f - pan);
    m_panR = std::min(1.0f, 1.0f + pan);
}

void EffectChain::runStage(const Stage& st, float* l, float* r, int frames)
{
    const std::size_t k = st.instance ? 1 : 0;
    const bool keep = st.dry != 0;
    if (keep) {
        std::copy_n(l, frames, m_tmpL.data());
        std::copy_n(r, frames, m_tmpR.data());
    }
    switch (st.block) {
    case Block::None:
        break;
    case Block::Eq:
        m_eq.process(l, r, frames);
        break;
    case Block::Enhancer:
        m_enhancer.process(l, r, frames);
        break;
    case Block::Drive:
        m_drive[k].process(l, r, frames);
        break;
    case Block::Phaser:
        m_phaser.process(l, r, frames);
        break;
    case Block::AutoWah:
        m_autoWah.process(l, r, frames);
        break;
    case Block::Rotary:
        m_rotary.process(l, r, frames);
        break;
    case Block::Tremolo:
        m_tremolo.process(l, r, frames);
        break;
    case Block::Chorus:
        m_chorus[k].process(l, r, frames);
        break;
    case Block::TapDelay:
        m_delay.process(l, r, frames);
        break;
    case Block::Reverb:
        m_reverb.process(l, r, frames);
        break;
    case Block::GateReverb:
        m_gate.process(l, r, frames);
        break;
    case Block::PitchShift:
        m_pitch.process(l, r, frames);
        break;
    case Block::LoFi:
        m_lofi.process(l, r, frames);
        break;
    case Block::Dynamics:
        m_dynamics.process(l, r, frames);
        break;
    }
    for (int n = 0; n < frames; ++n) {
        l[n] = st.wet * l[n] + (keep ? st.dry * m_tmpL[std::size_t(n)] : 0.0f);
        r[n] = st.wet * r[n] + (keep ? st.dry * m_tmpR[std::size_t(n)] : 0.0f);
    }
}

void EffectChain::processChunk(float* left, float* right, int frames)
{
    std::copy_n(left, frames, m_dryL.data());
    std::copy_n(right, frames, m_dryR.data());
    if (m_s.layout == ChainSettings::Layout::Series) {
        for (int i = 0; i < m_s.stageCount; ++i)
            runStage(m_s.stages[i], left, right, frames);
    } else {
        std::fill_n(m_sumL.data(), frames, 0.0f);
        std::fill_n(m_sumR.data(), frames, 0.0f);
        for (int i = 0; i < m_s.stageCount; ++i) {
            const Stage& st = m_s.stages[i];
            std::copy_n(m_dryL.data(), frames, left);
            std::copy_n(m_dryR.data(), frames, right);
            runStage(st, left, right, frames);
            const float gl = std::min(1.0f, 1.0f - st.pan) * st.level;
            const float gr = std::min(1.0f, 1.0f + st.pan) * st.level;
            for (int n = 0; n < frames; ++n) {
                m_sumL[std::size_t(n)] += left[n] * gl;
                m_sumR[std::size_t(n)] += right[n] * gr;
            }
        }
        std::copy_n(m_sumL.data(), frames, left);
        std::copy_n(m_sumR.data(), frames, right);
    }
    for (int n = 0; n < frames; ++n) {
        left[n] = m_s.dry * m_dryL[std::size_t(n)] + m_s.wet * left[n];
        right[n] = m_s.dry * m_dryR[std::size_t(n)] + m_s.wet * right[n];
    }
    m_post.process(left, right, frames);
    bool runaway = false;
    const float gl = m_panL * m_s.level, gr = m_panR * m_s.level;
    for (int n = 0; n < frames; ++n) {
        left[n] *= gl;
        right[n] *= gr;
        // Also catches NaN and infinity: every comparison with NaN is false.
        runaway |= !(std::abs(left[n]) < kRunaway && std::abs(right[n]) < kRunaway);
    }
    if (runaway) {
        reset();
        std::fill_n(left, frames, 0.0f);
        std::fill_n(right, frames, 0.0f);
    }
}

void EffectChain::process(float* left, float* right, int frames)
{
    if (m_bypass)
        return;
    for (int done = 0; done < frames; done += kBlockFrames) {
        const int n = std::min(kBlockFrames, frames - done);
        processChunk(left + done, right + done, n);
    }
}

void EffectChain::reset()
{
    m_eq.reset();
    m_post.reset();
    m_enhancer.reset();
    for (Drive& d : m_drive)
        d.reset();
    m_phaser.reset();
    m_autoWah.reset();
    m_rotary.reset();
    m_tremolo.reset();
    for (Chorus& c : m_chorus)
        c.reset();
    m_delay.reset();
    m_reverb.reset();
    m_gate.reset();
    m_pitch.reset();
    m_lofi.reset();
    m_dynamics.reset();
}

} // namespace sequora::midi::effects
