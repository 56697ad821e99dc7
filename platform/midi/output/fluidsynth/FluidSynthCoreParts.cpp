// The soft synth with its parts apart: a second synthesiser that renders each MIDI channel
// to a stereo pair of its own, made the first time a song needs it, and the effect
// section run on those pairs. A song that needs none of it plays on the first one, as
// before, at no cost.

#include "platform/midi/output/fluidsynth/FluidSynthCore.h"

#include "platform/midi/file/MidiBytes.h"
#include "platform/midi/file/Song.h"
#include "platform/midi/output/Output.h"

#include <fluidsynth.h>

#include <algorithm>

namespace sequora::midi {

FluidSynthCore::EffectNeeds FluidSynthCore::effectsOf(const Song& song)
{
    // What the module asks of the effect section at any moment of the song: a seek
    // only ever lands on a moment that playing through would reach.
    Module module;
    EffectNeeds needs = effects::EffectRack::needs(module.section(), module.mode());
    Block block;
    for (const MidiEvent& e : song.events()) {
        ModuleChange change;
        if (e.status < kSysExStart) {
            change = module.followShort(e.status, e.data1, e.data2);
        } else {
            block.clear();
            if (!block.addEvent(song, e))
                continue;
            change = module.followSysex(block.sysexOf(block.messages.front()));
        }
        if (change.has(ModuleChange::Section) || change.has(ModuleChange::Everything))
            needs |= effects::EffectRack::needs(module.section(), module.mode());
    }
    return needs;
}

bool FluidSynthCore::switchSynth(std::string& error)
{
    if (!m_otherSynth) {
        if (!makeSynth(m_partsApart ? 1 : int(kGroups), error))
            return false;
        const int id = fluid_synth_sfload(m_otherSynth, m_soundfont.c_str(), 1);
        if (id == FLUID_FAILED) {
            error = "cannot load the soundfont " + m_soundfont + " again";
            return false;
        }
        m_otherSfontId = id;
    }
    std::swap(m_synth, m_otherSynth);
    std::swap(m_module, m_otherModule);
    std::swap(m_sfontId, m_otherSfontId);
    std::swap(m_pinned, m_otherPinned);
    m_partsApart = !m_partsApart;
    // The one put aside lets go of its samples; it takes them again if it plays again.
    for (const Preset& p : m_otherPinned)
        fluid_synth_unpin_preset(m_otherSynth, m_otherSfontId, p.bank, p.program);
    m_otherPinned.clear();
    if (m_partsApart && m_partBuffers.empty()) {
        m_partBuffers.assign(2 * kGroups * kPartFrames, 0.0f);
        for (std::size_t i = 0; i < m_partOut.size(); ++i)
            m_partOut[i] = m_partBuffers.data() + i * kPartFrames;
    }
    choosePresets();
    return true;
}

void FluidSynthCore::synthesiseParts(float* left, float* right, int frames)
{
    // FluidSynth's pairs: channel c on pair c (left, right alternate); its reverb and
    // chorus returns on the effect pairs. Until the second port is heard its pairs are
    // left out: none of its channels has a voice, so clearing and mixing them is waste.
    const std::size_t groups = m_secondPortHeard ? kGroups : kParts;
    std::array<float*, 2 * kGroups> out;
    for (std::size_t c = 0; c < groups; ++c) {
        out[2 * c] = m_partOut[c];
        out[2 * c + 1] = m_partOut[kGroups + c];
    }
    std::array<float*, 4> fx { m_fxReturn[0].data(), m_fxReturn[1].data(), m_fxReturn[2].data(),
        m_fxReturn[3].data() };
    for (int done = 0; done < frames; done += kPartFrames) {
        const int n = std::min(kPartFrames, frames - done);
        for (std::size_t c = 0; c < groups; ++c) {
            std::fill_n(m_partOut[c], n, 0.0f);
            std::fill_n(m_partOut[kGroups + c], n, 0.0f);
        }
        for (auto& r : m_fxReturn)
            std::fill_n(r.data(), n, 0.0f);
        fluid_synth_process(m_synth, n, int(fx.size()), fx.data(), int(2 * groups), out.data());
        m_rack.processParts(m_partOut.data(), m_partOut.data() + kGroups, fx[0], fx[1], fx[2],
            fx[3], left + done, right + done, n);
        // The second port's parts have no effect section of their own: they join dry,
        // rather than through the insertion of the part sixteen below them.
        for (std::size_t c = kParts; c < groups; ++c) {
            const float* l = m_partOut[c];
            const float* r = m_partOut[kGroups + c];
            for (int i = 0; i < n; ++i) {
                left[done + i] += l[i];
                right[done + i] += r[i];
            }
        }
    }
}

} // namespace sequora::midi
