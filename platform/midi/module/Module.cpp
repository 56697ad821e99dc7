// The module's modes and parts, and the channel messages it takes: controllers, RPNs,
// NRPNs and channel modes. SysEx is in ModuleSysex.cpp.

#include "platform/midi/module/Module.h"

#include "platform/midi/file/MidiBytes.h"

#include <algorithm>

namespace sequora::midi {

namespace {

constexpr uint8_t kNrpnTone = 0x01;
constexpr uint8_t kNrpnSoundFont = 120;
constexpr uint8_t kNrpnDrumPitch = 0x18;
constexpr uint8_t kNrpnDrumLevel = 0x1A;
constexpr uint8_t kNrpnDrumPan = 0x1C;
constexpr uint8_t kNrpnDrumReverb = 0x1D;
constexpr uint8_t kNrpnDrumChorus = 0x1E;

constexpr uint8_t kMaxBendSemitones = 24;

} // namespace

uint8_t PartState::written(PartParam param) const
{
    switch (param) {
    case PartParam::KeyShift:
        return static_cast<uint8_t>(keyShift + partParamRow(param).bias);
    case PartParam::Level:
        return volume;
    case PartParam::Pan:
        return pan;
    case PartParam::ReverbSend:
        return reverbSend;
    case PartParam::ChorusSend:
        return chorusSend;
    case PartParam::DelaySend:
        return delaySend;
    }
    return 0;
}

void PartState::write(PartParam param, uint8_t value)
{
    switch (param) {
    case PartParam::KeyShift:
        keyShift = static_cast<int8_t>(value - partParamRow(param).bias);
        break;
    case PartParam::Level:
        volume = value;
        break;
    case PartParam::Pan:
        pan = value;
        break;
    case PartParam::ReverbSend:
        reverbSend = value;
        break;
    case PartParam::ChorusSend:
        chorusSend = value;
        break;
    case PartParam::DelaySend:
        delaySend = value;
        break;
    }
}

void Module::reset(SystemMode mode)
{
    m_parts.reset(mode);
    m_master = MasterState {};
    m_part.fill(PartState {});
    m_effects = EffectState {};
    m_section.reset(mode);
    m_tuningPrograms.clear();
    // Each module's power-on effects: XG a hall and a chorus of its own, GM2 a large hall.
    if (mode == SystemMode::Xg) {
        m_effects.reverb = ReverbType::Hall1;
        m_effects.chorus = ChorusType::Chorus1;
    } else if (mode == SystemMode::Gm2) {
        m_effects.reverb = ReverbType::Hall1;
    }
}

bool Module::honoursNrpns() const
{
    // GS and XG modules take NRPNs, in GM1 mode too they do not; GM2 defines none.
    return mode() != SystemMode::Gm1 && mode() != SystemMode::Gm2;
}

bool Module::honoursSoundControllers() const
{
    return mode() != SystemMode::Gm1;
}

int Module::noteShift(uint8_t ch) const
{
    if (m_parts.isDrum(ch))
        return 0;
    return m_part[ch & 0x1F].keyShift + m_master.keyShift + m_master.coarseSemitones;
}

float Module::toneOffset(uint8_t ch, ToneTarget target) const
{
    const PartState& p = m_part[ch & 0x1F];
    int steps = 0;
    float perStep = 0;
    for (const ToneRow& row : kToneTable) {
        if (row.target != target)
            continue;
        const auto i = static_cast<std::size_t>(row.param);
        if (honoursNrpns())
            steps += p.toneNrpn[i] - 64;
        if (honoursSoundControllers() && row.cc)
            steps += p.soundController[i] - 64;
        perStep = row.perStep;
    }
    if (target != ToneTarget::VibLfoToPitch)
        return steps * perStep;
    // The mod wheel sweeps 50 cents of vibrato by itself (the soft synth's default
    // modulator); RPN 5 widens or narrows that, a lower depth scales it down and a higher
    // one adds vibrato of its own.
    const float wheel = p.modulation / 127.0f;
    const float scale = steps < 0 ? std::max(0.0f, 1.0f + steps / 64.0f) : 1.0f;
    constexpr float kWheelCents = 50.0f;
    return wheel * (p.modRangeTotalCents() * scale - kWheelCents) + std::max(steps, 0) * perStep;
}

float Module::fineTuneCents(uint8_t ch) const
{
    const PartState& p = m_part[ch & 0x1F];
    return m_master.fineTenthCents / 10.0f
        + (int(p.fineTuning) - int(kCentre14)) * 100.0f / kCentre14;
}

float Module::coarseTuneSemitones(uint8_t ch) const
{
    return float(int(m_part[ch & 0x1F].coarseTuning) - 64);
}

ModuleChange Module::followShort(uint8_t status, uint8_t data1, uint8_t data2, uint8_t port)
{
    const uint8_t ch = partOf(status, port);
    PartState& p = m_part[ch];
    const ModuleChange pass { ModuleChange::Pass, ch };
    if (status < kNoteOff || status >= kSysExStart)
        return { ModuleChange::None, ch };
    switch (commandOf(status)) {
    case kProgramChange:
        m_parts.followShort(status, data1, data2, port);
        return { ModuleChange::Preset, ch };
    case kControlChange:
        break;
    default:
        return pass;
    }
    data2 &= 0x7F;
    switch (data1) {
    case kCcBankMsb:
    case kCcBankLsb:
        m_parts.followShort(status, data1, data2, port);
        return { ModuleChange::None, ch };
    case kCcModulation:
        p.modulation = data2;
        return { ModuleChange::Pass | ModuleChange::Offsets, ch };
    case kCcPortamentoTime:
        p.portamentoTime = data2;
        return { ModuleChange::Portamento, ch };
    case kCcPortamentoTimeLsb:
        return { ModuleChange::None, ch }; // a module times its glides by CC 5 alone
    case kCcResetAllControllers:
        p.modulation = 0;
        p.clear();
        return { ModuleChange::Pass | ModuleChange::ControllersReset, ch };
    case kCcOmniOff:
    case kCcOmniOn:
        return { ModuleChange::NotesOff, ch };
    case kCcMonoOn:
    case kCcPolyOn:
        p.mono = data1 == kCcMonoOn;
        return { ModuleChange::ChannelMode, ch };
    default:
        break;
    }
    if (const std::optional<DataEntry> entry = dataEntryOf(data1))
        return dataEntry(ch, *entry, data2);
    if (p.select(data1, data2))
        return pass;
    if (const PartParamRow* row = partParamRowForCc(data1)) {
        p.write(row->param, data2);
        if (row->param == PartParam::DelaySend && ch < EffectSection::kParts) {
            m_section.setSend(ch, data2);
            return { ModuleChange::Pass | ModuleChange::Section, ch };
        }
        return pass;
    }
    if (const ToneRow* row = toneRowForCc(data1)) {
        p.soundController[static_cast<std::size_t>(row->param)] = data2;
        return { ModuleChange::Offsets, ch };
    }
    return pass;
}

ModuleChange Module::dataEntry(uint8_t ch, DataEntry entry, uint8_t value)
{
    PartState& p = m_part[ch];
    const ModuleChange none { ModuleChange::None, ch };
    const bool msbEntry = entry == DataEntry::Msb;
    const bool step = entry == DataEntry::Increment || entry == DataEntry::Decrement;
    const int delta = entry == DataEntry::Increment ? 1 : -1;
    auto stepped = [&](int current, int lo, int hi) {
        return static_cast<uint8_t>(std::clamp(current + delta, lo, hi));
    };

    const std::optional<SelectedParameter> selected = p.current();
    if (!selected)
        return none; // data without a number
    if (selected->nrpn) {
        if (selected->msb == kNrpnSoundFont)
            return { ModuleChange::Pass | ModuleChange::Offsets, ch };
        if (!honoursNrpns() || !(msbEntry || step))
            return none;
        if (selected->msb == kNrpnTone) {
            const ToneRow* row = toneRowForNrpn(selected->lsb);
            if (!row)
                return none;
            uint8_t& slot = p.toneNrpn[static_cast<std::size_t>(row->param)];
            slot = step ? stepped(slot, 0, 127) : value;
            return { ModuleChange::Offsets, ch };
        }
        DrumKey& key = p.drumKeys[selected->lsb & 0x7F];
        uint8_t* slot = nullptr;
        switch (selected->msb) {
        case kNrpnDrumPitch:
            slot = &key.pitch;
            break;
        case kNrpnDrumLevel:
            slot = &key.level;
            break;
        case kNrpnDrumPan:
            slot = &key.pan;
            break;
        case kNrpnDrumReverb:
            slot = &key.reverb;
            break;
        case kNrpnDrumChorus:
            slot = &key.chorus;
            break;
        default:
            return none;
        }
        if (step)
            *slot = stepped(*slot == DrumKey::kKit ? 64 : *slot, 0, 127);
        else
            *slot = value;
        return none; // takes effect on the key's next note
    }

    if (selected->msb != 0)
        return none;
    switch (selected->lsb) {
    case 0: // pitch bend sensitivity
        if (msbEntry)
            p.bendSemitones = std::min(value, kMaxBendSemitones);
        else if (step)
            p.bendSemitones = stepped(p.bendSemitones, 0, kMaxBendSemitones);
        else if (value < 100)
            p.bendCents = value;
        return { ModuleChange::BendRange, ch };
    case 1: // fine tuning, 14 bits
        if (msbEntry)
            p.fineTuning = static_cast<uint16_t>(value << 7 | (p.fineTuning & 0x7F));
        else if (!step)
            p.fineTuning = static_cast<uint16_t>((p.fineTuning & ~0x7F) | value);
        else
            return none;
        return { ModuleChange::Offsets, ch };
    case 2: // coarse tuning, semitones
        if (msbEntry)
            p.coarseTuning = value;
        else if (step)
            p.coarseTuning = stepped(p.coarseTuning, 0, 127);
        else
            return none;
        return { ModuleChange::Offsets, ch };
    case 5: // modulation depth range
        if (msbEntry)
            p.modRangeSemitones = value;
        else if (!step && value < 100)
            p.modRangeCents = value;
        else
            return none;
        return { ModuleChange::Offsets, ch };
    case 3: // MIDI Tuning program and bank
    case 4:
        if (!msbEntry)
            return none;
        (selected->lsb == 3 ? p.tuningProgram : p.tuningBank) = value;
        p.tuningSelected = true;
        return { ModuleChange::Tuning, ch };
    default:
        return none;
    }
}

} // namespace sequora::midi
