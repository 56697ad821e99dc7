#include "platform/midi/output/effects/EffectRack.h"

#include "platform/midi/output/effects/EffectTypes.h"

#include <algorithm>

namespace sequora::midi::effects {

namespace {

// The GS section is followed in GS mode and, for files that use it without a reset, in
// none; the parts' delay sends (CC 94 means other things to GM) only in GS mode.
bool gsSection(SystemMode mode)
{
    return mode == SystemMode::Gs || mode == SystemMode::None;
}
bool gsSends(SystemMode mode)
{
    return mode == SystemMode::Gs;
}
bool xgSection(SystemMode mode)
{
    return mode == SystemMode::Xg;
}

float unit(uint8_t v)
{
    return float(v & 0x7F) / 127.0f;
}

bool validPart(uint8_t part)
{
    return part < EffectRack::kParts;
}

} // namespace

EffectRack::Needs& EffectRack::Needs::operator|=(const Needs& o)
{
    parts |= o.parts;
    eq |= o.eq;
    for (std::size_t i = 0; i < kSlots; ++i)
        inSlots[i] = inSlots[i] || o.inSlots[i];
    return *this;
}

EffectRack::Needs EffectRack::needs(const EffectSection& s, SystemMode mode)
{
    Needs n;
    const bool anySend = std::any_of(s.send.begin(), s.send.end(), [](uint8_t v) { return v > 0; });
    if (gsSection(mode)) {
        const bool efx = gsEfxBuilt(s.efxMsb, s.efxLsb)
            && std::any_of(s.efxOn.begin(), s.efxOn.end(), [](bool on) { return on; });
        n.inSlots[0] = efx;
        const bool fed
            = (gsSends(mode) && anySend) || (efx && s.efxToDelay > 0) || s.chorusToDelay > 0;
        n.inSlots[kThird] = fed && s.delay.level > 0;
        n.eq = !s.eq.flat();
        const bool someEqOff
            = std::any_of(s.eqOn.begin(), s.eqOn.end(), [](bool on) { return !on; });
        n.parts = efx || n.inSlots[kThird] || (n.eq && someEqOff);
    } else if (xgSection(mode)) {
        for (std::size_t k = 0; k < kInsertions; ++k) {
            const XgEffectBlock& b = s.insertion[k];
            n.inSlots[k] = validPart(b.part) && xgEffectBuilt(b.typeMsb, b.typeLsb);
        }
        const XgVariation& v = s.variation;
        const bool built = xgEffectBuilt(v.typeMsb, v.typeLsb);
        n.inSlots[kThird] = built && (v.system ? anySend && v.ret > 0 : validPart(v.part));
        n.eq = !s.multiEq.flat();
        n.parts = std::any_of(n.inSlots.begin(), n.inSlots.end(), [](bool b) { return b; });
    }
    return n;
}

bool EffectRack::efxTakes(const EffectSection& s, SystemMode mode, uint8_t ch)
{
    return gsSection(mode) && ch < kParts && s.efxOn[ch] && gsEfxBuilt(s.efxMsb, s.efxLsb);
}

EffectRack::EffectRack()
{
    m_route.fill(-1);
}

EffectRack::~EffectRack() = default;

void EffectRack::prepare(float rate, const Needs& needs)
{
    if (rate != m_rate) {
        m_chains = {};
        m_rate = rate;
    }
    m_prepared = needs;
    for (std::size_t k = 0; k < kSlots; ++k) {
        if (needs.inSlots[k] && !m_chains[k]) {
            m_chains[k] = std::make_unique<EffectChain>();
            m_chains[k]->prepare(rate);
        } else if (!needs.inSlots[k]) {
            m_chains[k].reset();
        }
    }
    m_eq.prepare(rate);
    m_live.fill(false);
    m_route.fill(-1);
}

void EffectRack::apply(const EffectSection& s, SystemMode mode)
{
    const Needs now = needs(s, mode);
    m_route.fill(-1);
    m_send.fill(0);
    m_slotSend.fill(0);
    m_chorusToThird = 0;
    m_thirdSystem = false;
    for (std::size_t k = 0; k < kSlots; ++k) {
        // A slot the song was not prepared for stays dry rather than allocate here.
        m_live[k] = now.inSlots[k] && m_chains[k];
        if (!m_live[k] && m_chains[k])
            m_chains[k]->bypass();
    }
    for (std::size_t p = 0; p < kParts; ++p)
        m_eqOn[p] = !gsSection(mode) || s.eqOn[p];
    ChainSettings c;
    if (gsSection(mode)) {
        if (m_live[0] && gsEfxChain(s.efxMsb, s.efxLsb, s.efx, c)) {
            m_chains[0]->set(c);
            for (std::size_t p = 0; p < kParts; ++p) {
                if (s.efxOn[p])
                    m_route[p] = 0;
            }
            m_slotSend[0] = unit(s.efxToDelay);
        }
        if (m_live[kThird]) {
            gsDelayChain(s.delay, c);
            m_chains[kThird]->set(c);
            m_thirdSystem = true;
            m_thirdLeft = m_thirdRight = 1;
            if (gsSends(mode)) {
                for (std::size_t p = 0; p < kParts; ++p)
                    m_send[p] = unit(s.send[p]);
            }
            m_chorusToThird = unit(s.chorusToDelay);
        }
        if (s.eq.flat())
            m_eq.setFlat();
        else
            m_eq.setGs(s.eq);
    } else if (xgSection(mode)) {
        for (std::size_t k = 0; k < kInsertions; ++k) {
            const XgEffectBlock& b = s.insertion[k];
            if (m_live[k] && xgEffectChain(b.typeMsb, b.typeLsb, b.params, false, c)) {
                m_chains[k]->set(c);
                if (m_route[b.part] < 0)
                    m_route[b.part] = int8_t(k);
                m_slotSend[k] = unit(s.send[b.part]);
            }
        }
        const XgVariation& v = s.variation;
        if (m_live[kThird] && xgEffectChain(v.typeMsb, v.typeLsb, v.params, v.system, c)) {
            m_chains[kThird]->set(c);
            if (v.system) {
                m_thirdSystem = true;
                for (std::size_t p = 0; p < kParts; ++p)
                    m_send[p] = unit(s.send[p]);
                const float ret = float(v.ret) / 64.0f;
                const float pan = float(std::clamp(int(v.pan), 1, 127) - 64) / 63.0f;
                m_thirdLeft = ret * std::min(1.0f, 1.0f - pan);
                m_thirdRight = ret * std::min(1.0f, 1.0f + pan);
            } else if (m_route[v.part] < 0) {
                m_route[v.part] = int8_t(kThird);
            }
        }
        if (s.multiEq.flat())
            m_eq.setFlat();
        else
            m_eq.setXg(s.multiEq);
    } else {
        m_eq.setFlat();
    }
}

void EffectRack::processParts(const float* const* partLeft, const float* const* partRight,
    const float* reverbLeft, const float* reverbRight, const float* chorusLeft,
    const float* chorusRight, float* left, float* right, int frames)
{
    for (int done = 0; done < frames; done += kBlock) {
        processChunk(partLeft, partRight, reverbLeft, reverbRight, chorusLeft, chorusRight, left,
            right, done, std::min(kBlock, frames - done));
    }
}

void EffectRack::processChunk(const float* const* partLeft, const float* const* partRight,
    const float* reverbLeft, const float* reverbRight, const float* chorusLeft,
    const float* chorusRight, float* left, float* right, int offset, int n)
{
    m_eqMix.clear(n);
    m_dryMix.clear(n);
    std::fill_n(m_thirdIn.data(), n, 0.0f);
    for (std::size_t k = 0; k < kSlots; ++k) {
        if (m_live[k])
            m_slotIn[k].clear(n);
    }
    for (std::size_t p = 0; p < kParts; ++p) {
        const float* l = partLeft[p] + offset;
        const float* r = partRight[p] + offset;
        Buffer& to = m_route[p] >= 0 ? m_slotIn[std::size_t(m_route[p])]
            : m_eqOn[p]              ? m_eqMix
                                     : m_dryMix;
        for (int i = 0; i < n; ++i) {
            to.left[std::size_t(i)] += l[i];
            to.right[std::size_t(i)] += r[i];
        }
        if (m_route[p] < 0 && m_send[p] > 0) {
            const float g = 0.5f * m_send[p];
            for (int i = 0; i < n; ++i)
                m_thirdIn[std::size_t(i)] += g * (l[i] + r[i]);
        }
    }
    if (m_chorusToThird > 0) {
        const float g = 0.5f * m_chorusToThird;
        for (int i = 0; i < n; ++i)
            m_thirdIn[std::size_t(i)] += g * (chorusLeft[offset + i] + chorusRight[offset + i]);
    }
    for (std::size_t k = 0; k < kSlots; ++k) {
        if (!m_live[k] || (k == kThird && m_thirdSystem))
            continue;
        Buffer& b = m_slotIn[k];
        m_chains[k]->process(b.left.data(), b.right.data(), n);
        for (int i = 0; i < n; ++i) {
            m_eqMix.left[std::size_t(i)] += b.left[std::size_t(i)];
            m_eqMix.right[std::size_t(i)] += b.right[std::size_t(i)];
            m_thirdIn[std::size_t(i)]
                += 0.5f * m_slotSend[k] * (b.left[std::size_t(i)] + b.right[std::size_t(i)]);
        }
    }
    if (m_live[kThird] && m_thirdSystem) {
        Buffer& b = m_slotIn[kThird];
        std::copy_n(m_thirdIn.data(), n, b.left.data());
        std::copy_n(m_thirdIn.data(), n, b.right.data());
        m_chains[kThird]->process(b.left.data(), b.right.data(), n);
        for (int i = 0; i < n; ++i) {
            m_eqMix.left[std::size_t(i)] += m_thirdLeft * b.left[std::size_t(i)];
            m_eqMix.right[std::size_t(i)] += m_thirdRight * b.right[std::size_t(i)];
        }
    }
    for (int i = 0; i < n; ++i) {
        m_eqMix.left[std::size_t(i)] += reverbLeft[offset + i] + chorusLeft[offset + i];
        m_eqMix.right[std::size_t(i)] += reverbRight[offset + i] + chorusRight[offset + i];
    }
    m_eq.process(m_eqMix.left.data(), m_eqMix.right.data(), n);
    for (int i = 0; i < n; ++i) {
        left[offset + i] = m_eqMix.left[std::size_t(i)] + m_dryMix.left[std::size_t(i)];
        right[offset + i] = m_eqMix.right[std::size_t(i)] + m_dryMix.right[std::size_t(i)];
    }
}

void EffectRack::processMix(float* left, float* right, int frames)
{
    m_eq.process(left, right, frames);
}

void EffectRack::reset()
{
    for (auto& chain : m_chains) {
        if (chain)
            chain->reset();
    }
    m_eq.reset();
}

} // namespace sequora::midi::effects
