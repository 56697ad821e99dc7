#include "platform/midi/output/fluidsynth/FluidSynthModule.h"

#include "platform/midi/file/MidiBytes.h"
#include "platform/midi/output/effects/EffectRack.h"

#include <fluidsynth.h>

#include <algorithm>
#include <cmath>

namespace sequora::midi {

namespace {

// FluidSynth 2.3 reads CC 5 and 37 together as milliseconds.
constexpr uint32_t kMaxGlideMs = 16383;
// The scale tunings live in a tuning bank of their own, one program a channel.
constexpr int kTuningBank = 127;
constexpr int kDrumVoicesSearched = 256;

int genOf(ToneTarget t)
{
    switch (t) {
    case ToneTarget::VibLfoFreq: return GEN_VIBLFOFREQ;
    case ToneTarget::VibLfoToPitch: return GEN_VIBLFOTOPITCH;
    case ToneTarget::VibLfoDelay: return GEN_VIBLFODELAY;
    case ToneTarget::FilterFc: return GEN_FILTERFC;
    case ToneTarget::FilterQ: return GEN_FILTERQ;
    case ToneTarget::VolEnvAttack: return GEN_VOLENVATTACK;
    case ToneTarget::VolEnvDecay: return GEN_VOLENVDECAY;
    case ToneTarget::VolEnvRelease: return GEN_VOLENVRELEASE;
    }
    return GEN_LAST;
}

constexpr ToneTarget kTargets[] = {
    ToneTarget::VibLfoFreq, ToneTarget::VibLfoToPitch, ToneTarget::VibLfoDelay, ToneTarget::FilterFc,
    ToneTarget::FilterQ, ToneTarget::VolEnvAttack, ToneTarget::VolEnvDecay, ToneTarget::VolEnvRelease,
};

} // namespace

FluidSynthModule::FluidSynthModule(fluid_synth_t* synth, double baseGain)
    : m_synth(synth)
    , m_baseGain(baseGain)
    , m_channels(static_cast<uint8_t>(
          std::clamp(fluid_synth_count_midi_channels(synth), 1, int(kMaxParts))))
{
    for (auto& keys : m_sounding)
        keys.fill(kSilent);
    for (int ch = 0; ch < m_channels; ++ch) {
        for (int cc = 0; cc < 128; ++cc)
            fluid_synth_get_cc(m_synth, ch, cc, &m_powerOnCc[ch][cc]);
    }
    applyAll();
}

void FluidSynthModule::reset(SystemMode mode)
{
    m_module.reset(mode);
    startAfresh();
}

void FluidSynthModule::startAfresh()
{
    fluid_synth_system_reset(m_synth);
    applyAll();
    // FluidSynth's reset queues each voice's end, then (setting the basic channels, as
    // applyAll() does again) a note-off that turns it back into a release: pads and
    // strings would ring on for seconds. Ended last, nothing after revives them.
    fluid_synth_all_sounds_off(m_synth, -1);
}

void FluidSynthModule::restore(SystemMode mode)
{
    for (int ch = 0; ch < m_channels; ++ch) {
        // The pedals up first, so the notes they hold start their release. FluidSynth's
        // CC 121 then resets bend, pressure, offsets and most controllers, voices going
        // on; what it keeps goes back to power-on one by one.
        fluid_synth_cc(m_synth, ch, kCcSustain, 0);
        fluid_synth_cc(m_synth, ch, kCcSostenuto, 0);
        fluid_synth_cc(m_synth, ch, kCcResetAllControllers, 0);
        for (int cc = 0; cc < kCcAllSoundOff; ++cc) {
            const int powerOn = m_powerOnCc[ch][cc];
            const bool entry = cc == kCcDataEntryMsb || cc == kCcDataEntryLsb
                || (cc >= kCcDataIncrement && cc <= kCcRpnMsb);
            int now = 0;
            fluid_synth_get_cc(m_synth, ch, cc, &now);
            if (!entry && powerOn <= 127 && now != powerOn)
                fluid_synth_cc(m_synth, ch, cc, powerOn);
        }
    }
    m_module.reset(mode);
    applyAll();
}

void FluidSynthModule::applyAll()
{
    for (auto& keys : m_sounding)
        keys.fill(kSilent);
    // Every channel its own basic channel: FluidSynth's default group of all sixteen
    // would let a Mono On on channel 1 silence the other fifteen.
    fluid_synth_reset_basic_channel(m_synth, -1);
    for (uint8_t ch = 0; ch < m_channels; ++ch) {
        m_written[ch].fill(0.0f);
        m_soundFontNrpn[ch].fill(0.0f);
        m_tuned[ch] = true; // FluidSynth's reset may have left a tuning: clear it below
        fluid_synth_set_basic_channel(m_synth, ch,
            m_module.part(ch).mono ? FLUID_CHANNEL_MODE_OMNIOFF_MONO : FLUID_CHANNEL_MODE_OMNIOFF_POLY, 1);
        fluid_synth_set_portamento_mode(m_synth, ch, FLUID_CHANNEL_PORTAMENTO_MODE_EACH_NOTE);
        fluid_synth_pitch_wheel_sens(m_synth, ch, m_module.part(ch).bendSemitones);
        applyPortamento(ch);
        applyOffsets(ch);
        applyTuning(ch);
        applyMixer(ch);
    }
    applyGain();
    // Only what differs from what FluidSynth holds: writing the chorus's settings again
    // restarts it, and a part set up after a mid-song reset would sound unlike one set up
    // after the song's first.
    applyEffects();
}

void FluidSynthModule::applyChannelMode(uint8_t ch)
{
    fluid_synth_all_notes_off(m_synth, ch);
    fluid_synth_reset_basic_channel(m_synth, ch);
    fluid_synth_set_basic_channel(m_synth, ch,
        m_module.part(ch).mono ? FLUID_CHANNEL_MODE_OMNIOFF_MONO : FLUID_CHANNEL_MODE_OMNIOFF_POLY, 1);
}

void FluidSynthModule::applyPortamento(uint8_t ch)
{
    const uint32_t ms = std::min(portamentoMilliseconds(m_module.part(ch).portamentoTime), kMaxGlideMs);
    fluid_synth_cc(m_synth, ch, kCcPortamentoTime, static_cast<int>(ms >> 7));
    fluid_synth_cc(m_synth, ch, kCcPortamentoTimeLsb, static_cast<int>(ms & 0x7F));
}

void FluidSynthModule::setGen(uint8_t ch, int gen, float value)
{
    value += m_soundFontNrpn[ch][gen];
    if (m_written[ch][gen] == value)
        return;
    m_written[ch][gen] = value;
    fluid_synth_set_gen(m_synth, ch, gen, value);
}

void FluidSynthModule::applyOffsets(uint8_t ch)
{
    // Each offset is the sum of every source the engine knows (NRPNs, sound controllers,
    // RPN tunings, master fine tuning, SoundFont NRPNs): FluidSynth sets, not adds.
    for (ToneTarget t : kTargets)
        setGen(ch, genOf(t), m_module.toneOffset(ch, t));
    setGen(ch, GEN_FINETUNE, m_module.fineTuneCents(ch));
    setGen(ch, GEN_COARSETUNE, m_module.coarseTuneSemitones(ch));
    for (int gen = 0; gen < GEN_LAST; ++gen) {
        if (m_soundFontNrpn[ch][gen] != 0.0f || m_written[ch][gen] != 0.0f) {
            bool ours = gen == GEN_FINETUNE || gen == GEN_COARSETUNE;
            for (ToneTarget t : kTargets)
                ours = ours || genOf(t) == gen;
            if (!ours)
                setGen(ch, gen, 0.0f);
        }
    }
}

void FluidSynthModule::applyTuning(uint8_t ch)
{
    // One key table a channel: every tuning the part has, merged by the model.
    const std::optional<std::array<double, 128>> keys = m_module.keyTuning(ch);
    if (keys) {
        fluid_synth_activate_key_tuning(m_synth, kTuningBank, ch, "module", keys->data(), 1);
        fluid_synth_activate_tuning(m_synth, ch, kTuningBank, ch, 1);
    } else if (m_tuned[ch]) {
        fluid_synth_deactivate_tuning(m_synth, ch, 1);
    }
    m_tuned[ch] = keys.has_value();
}

void FluidSynthModule::applyMixer(uint8_t ch)
{
    // Each as the controller it equals, so FluidSynth's controllers are what the part holds
    // however it was set. Nothing in FluidSynth listens to the delay send's (CC 94).
    const PartState& p = m_module.part(ch);
    for (const PartParamRow& row : kPartParamTable) {
        if (row.cc)
            fluid_synth_cc(m_synth, ch, *row.cc, p.written(row.param));
    }
    // A part through the insertion effect sends what the effect sends; the reverb and
    // chorus hear it before the effect, though (FluidSynth's take its voices alone).
    const EffectSection& s = m_module.section();
    if (effects::EffectRack::efxTakes(s, m_module.mode(), ch)) {
        fluid_synth_cc(m_synth, ch, kCcReverbSend, s.efxToReverb);
        fluid_synth_cc(m_synth, ch, kCcChorusSend, s.efxToChorus);
    }
}

void FluidSynthModule::applyGain()
{
    // Master volume follows the same square law as a part's volume.
    const double v = m_module.master().volume / 16383.0;
    fluid_synth_set_gain(m_synth, static_cast<float>(m_baseGain * v * v));
}

void FluidSynthModule::applyEffects()
{
    const ReverbSettings r = m_module.effects().reverbSettings();
    if (!(r == m_reverb)) {
        fluid_synth_set_reverb_group_roomsize(m_synth, -1, r.roomSize);
        fluid_synth_set_reverb_group_damp(m_synth, -1, r.damp);
        fluid_synth_set_reverb_group_width(m_synth, -1, r.width);
        fluid_synth_set_reverb_group_level(m_synth, -1, r.level);
        m_reverb = r;
    }
    const ChorusSettings c = m_module.effects().chorusSettings();
    if (!(c == m_chorus)) {
        fluid_synth_set_chorus_group_nr(m_synth, -1, c.voices);
        fluid_synth_set_chorus_group_level(m_synth, -1, c.level);
        fluid_synth_set_chorus_group_speed(m_synth, -1, c.speedHz);
        fluid_synth_set_chorus_group_depth(m_synth, -1, c.depthMs);
        fluid_synth_set_chorus_group_type(m_synth, -1, c.triangle ? FLUID_CHORUS_MOD_TRIANGLE : FLUID_CHORUS_MOD_SINE);
        m_chorus = c;
    }
}

void FluidSynthModule::forgetOffsets(uint8_t ch)
{
    m_written[ch].fill(0.0f);
    m_soundFontNrpn[ch].fill(0.0f);
}

void FluidSynthModule::readSoundFontNrpns(uint8_t ch)
{
    // FluidSynth scales a SoundFont NRPN into its generator slot itself: take what it
    // wrote there as that source, then set the sum again.
    for (int gen = 0; gen < GEN_LAST; ++gen) {
        const float now = fluid_synth_get_gen(m_synth, ch, gen);
        if (now != m_written[ch][gen]) {
            m_soundFontNrpn[ch][gen] = now;
            m_written[ch][gen] = std::nanf("");
        }
    }
    applyOffsets(ch);
}

void FluidSynthModule::noteOn(uint8_t ch, uint8_t key, uint8_t velocity)
{
    const int shifted = key + m_module.noteShift(ch);
    if (m_sounding[ch][key] != kSilent && m_sounding[ch][key] != shifted)
        fluid_synth_noteoff(m_synth, ch, m_sounding[ch][key]);
    if (shifted < 0 || shifted > 127) {
        m_sounding[ch][key] = kSilent; // shifted off the keyboard, as on a module
        return;
    }
    m_sounding[ch][key] = static_cast<uint8_t>(shifted);
    fluid_synth_noteon(m_synth, ch, shifted, velocity);
    if (m_module.parts().isDrum(ch)) {
        const DrumKey& drum = m_module.part(ch).drumKeys[key];
        if (!drum.isKit())
            shapeDrumVoices(ch, key, drum);
    }
}

void FluidSynthModule::noteOff(uint8_t ch, uint8_t key)
{
    const uint8_t sounding = m_sounding[ch][key];
    if (sounding == kSilent) {
        const int shifted = key + m_module.noteShift(ch);
        if (shifted >= 0 && shifted <= 127)
            fluid_synth_noteoff(m_synth, ch, shifted);
        return;
    }
    m_sounding[ch][key] = kSilent;
    fluid_synth_noteoff(m_synth, ch, sounding);
}

void FluidSynthModule::shapeDrumVoices(uint8_t ch, uint8_t key, const DrumKey& drum)
{
    // Only the voices this note-on started: a channel offset would move every drum still
    // ringing. The voices stay on the part's channel, so exclusive classes (hi-hat
    // chokes) work as before.
    std::array<fluid_voice_t*, kDrumVoicesSearched> voices {};
    fluid_synth_get_voicelist(m_synth, voices.data(), static_cast<int>(voices.size()), -1);
    unsigned newest = 0;
    for (fluid_voice_t* v : voices) {
        if (!v)
            break;
        if (fluid_voice_get_channel(v) == ch && fluid_voice_get_key(v) == key && fluid_voice_is_on(v))
            newest = std::max(newest, fluid_voice_get_id(v));
    }
    for (fluid_voice_t* v : voices) {
        if (!v)
            break;
        if (fluid_voice_get_channel(v) != ch || fluid_voice_get_key(v) != key || fluid_voice_get_id(v) != newest)
            continue;
        if (drum.pitch != 64) {
            fluid_voice_gen_incr(v, GEN_COARSETUNE, float(int(drum.pitch) - 64));
            fluid_voice_update_param(v, GEN_COARSETUNE);
        }
        if (drum.level != DrumKey::kKit) {
            // The same square law as volume, in centibels of attenuation.
            const double ratio = std::max(drum.level, uint8_t(1)) / 127.0;
            fluid_voice_gen_incr(v, GEN_ATTENUATION, static_cast<float>(-400.0 * std::log10(ratio)));
            fluid_voice_update_param(v, GEN_ATTENUATION);
        }
        if (drum.pan != DrumKey::kKit && drum.pan != 0) {
            fluid_voice_gen_set(v, GEN_PAN, (int(drum.pan) - 64) * 500.0f / 63.0f);
            fluid_voice_update_param(v, GEN_PAN);
        }
        // Sends: 127 keeps the part's, 0 takes the key out of the effect.
        if (drum.reverb != DrumKey::kKit) {
            fluid_voice_gen_incr(v, GEN_REVERBSEND, (int(drum.reverb) - 127) * 1000.0f / 127.0f);
            fluid_voice_update_param(v, GEN_REVERBSEND);
        }
        if (drum.chorus != DrumKey::kKit) {
            fluid_voice_gen_incr(v, GEN_CHORUSSEND, (int(drum.chorus) - 127) * 1000.0f / 127.0f);
            fluid_voice_update_param(v, GEN_CHORUSSEND);
        }
    }
    // A voice's changes wait in FluidSynth's queue until a call through its API ends.
    fluid_synth_get_active_voice_count(m_synth);
}

ModuleChange FluidSynthModule::sendShort(uint8_t status, uint8_t data1, uint8_t data2, uint8_t port)
{
    const uint8_t ch = partOf(status, port);
    switch (commandOf(status)) {
    case kNoteOn:
        if (data2 == 0)
            noteOff(ch, data1 & 0x7F);
        else
            noteOn(ch, data1 & 0x7F, data2);
        return {ModuleChange::None, ch};
    case kNoteOff:
        noteOff(ch, data1 & 0x7F);
        return {ModuleChange::None, ch};
    case kPolyPressure: {
        const uint8_t sounding = m_sounding[ch][data1 & 0x7F];
        if (sounding != kSilent)
            fluid_synth_key_pressure(m_synth, ch, sounding, data2);
        return {ModuleChange::None, ch};
    }
    case kChannelPressure:
        fluid_synth_channel_pressure(m_synth, ch, data1);
        return {ModuleChange::None, ch};
    case kPitchBend:
        fluid_synth_pitch_bend(m_synth, ch, data1 | (data2 << 7));
        return {ModuleChange::None, ch};
    default:
        break;
    }

    const ModuleChange change = m_module.followShort(status, data1, data2, port);
    if (change.has(ModuleChange::Pass) && (data1 == kCcReverbSend || data1 == kCcChorusSend)
        && commandOf(status) == kControlChange
        && effects::EffectRack::efxTakes(m_module.section(), m_module.mode(), ch)) {
        applyMixer(ch); // the effect's sends stand
    } else if (change.has(ModuleChange::Pass)) {
        uint8_t value = data2;
        // Portamento control names the key the next note glides from: shift it too.
        if (data1 == kCcPortamentoControl)
            value = static_cast<uint8_t>(std::clamp(data2 + m_module.noteShift(ch), 0, 127));
        fluid_synth_cc(m_synth, ch, data1, value);
    }
    if (change.has(ModuleChange::ControllersReset)) {
        // FluidSynth's CC 121 zeroes every offset and the portamento time too.
        forgetOffsets(ch);
        applyPortamento(ch);
    }
    if (change.has(ModuleChange::Offsets)) {
        if (change.has(ModuleChange::Pass) && data1 != kCcModulation)
            readSoundFontNrpns(ch);
        else
            applyOffsets(ch);
    } else if (change.has(ModuleChange::ControllersReset)) {
        applyOffsets(ch);
    }
    if (change.has(ModuleChange::Portamento))
        applyPortamento(ch);
    if (change.has(ModuleChange::Tuning))
        applyTuning(ch);
    if (change.has(ModuleChange::BendRange))
        fluid_synth_pitch_wheel_sens(m_synth, ch, m_module.part(ch).bendSemitones);
    if (change.has(ModuleChange::ChannelMode))
        applyChannelMode(ch);
    if (change.has(ModuleChange::NotesOff))
        fluid_synth_all_notes_off(m_synth, ch);
    return change;
}

ModuleChange FluidSynthModule::sendSysex(std::span<const uint8_t> msg, uint8_t port)
{
    const ModuleChange change = m_module.followSysex(msg, port);
    if (change.has(ModuleChange::Refused))
        return change;
    if (change.has(ModuleChange::Everything)) {
        startAfresh(); // the module the song addresses, in the mode it now has
        return change;
    }
    if (change.has(ModuleChange::Pass) && msg.size() >= 3) {
        fluid_synth_sysex(m_synth, reinterpret_cast<const char*>(msg.data() + 1),
            static_cast<int>(msg.size() - 2), nullptr, nullptr, nullptr, 0);
    }
    const bool all = change.has(ModuleChange::AllParts);
    for (uint8_t ch = 0; ch < m_channels; ++ch) {
        if (!all && ch != change.channel)
            continue;
        if (change.has(ModuleChange::Offsets) || change.has(ModuleChange::MasterTuning))
            applyOffsets(ch);
        if (change.has(ModuleChange::Tuning))
            applyTuning(ch);
        if (change.has(ModuleChange::Mixer) || change.has(ModuleChange::Section))
            applyMixer(ch);
    }
    if (change.has(ModuleChange::MasterGain))
        applyGain();
    if (change.has(ModuleChange::Effects))
        applyEffects();
    return change;
}

} // namespace sequora::midi
