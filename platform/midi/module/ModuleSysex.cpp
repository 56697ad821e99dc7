// The SysEx a module takes: mode resets and rhythm parts (PartMap), master volume and
// tuning, part parameters and effects, as universal, GS and XG messages. A write of
// several bytes sets consecutive addresses, as on the modules.

#include "platform/midi/module/Module.h"

#include "platform/midi/file/MidiBytes.h"
#include "platform/midi/module/SysexWrite.h"

#include <algorithm>

namespace sequora::midi {

namespace {

constexpr uint8_t kDeviceControl = 0x04;
constexpr uint8_t kMasterVolume = 0x01;
constexpr uint8_t kMasterFineTuning = 0x03;
constexpr uint8_t kMasterCoarseTuning = 0x04;


// Key shifts and transposes: 0x28-0x58 is -24..+24 semitones.
constexpr uint8_t kShiftLow = 0x28;
constexpr uint8_t kShiftHigh = 0x58;
constexpr uint16_t kTuneCentre = 0x400; // GS and XG master tune, 0.1 cent steps
constexpr uint16_t kGsTuneLow = 0x18;
constexpr uint16_t kGsTuneHigh = 0x7E8;

bool isShift(uint8_t v) { return v >= kShiftLow && v <= kShiftHigh; }

uint16_t nibbles(std::span<const uint8_t> d)
{
    return static_cast<uint16_t>((d[0] & 0x0F) << 12 | (d[1] & 0x0F) << 8 | (d[2] & 0x0F) << 4 | (d[3] & 0x0F));
}

/// What a write to the effect section means to whoever follows the module: a change, or
/// a value refused (so the chase does not let it stand for an earlier good one).
ModuleChange sectionChange(EffectSection::Write w, uint32_t bits, uint8_t ch = 0)
{
    switch (w) {
    case EffectSection::Write::Changed:
        return { bits, ch };
    case EffectSection::Write::Refused:
        return { ModuleChange::Refused, ch };
    default:
        return {};
    }
}

/// A message refused as a whole is Refused; one that also changed something is not.
ModuleChange keepingGoodWrites(ModuleChange c)
{
    if (c.has(ModuleChange::Refused) && c.bits != ModuleChange::Refused)
        c.bits &= ~uint32_t(ModuleChange::Refused);
    return c;
}

void merge(ModuleChange& into, ModuleChange c)
{
    if (c.bits == ModuleChange::None)
        return;
    if (into.bits != ModuleChange::None && into.channel != c.channel)
        into.bits |= ModuleChange::AllParts;
    into.bits |= c.bits;
    into.channel = c.channel;
}

} // namespace

ModuleChange Module::followSysex(std::span<const uint8_t> msg, uint8_t port)
{
    const std::optional<std::span<const uint8_t>> body = sysexBody(msg);
    if (!body || body->empty())
        return { ModuleChange::Refused };
    // Part addresses read relative to the port: the second port's block is parts 17-32.
    m_partBase = static_cast<uint8_t>((port & 1) << 4);
    struct Restore {
        uint8_t& base;
        ~Restore() { base = 0; } // so modules that followed the same messages compare equal
    } restore { m_partBase };
    const PartMap::Sysex s = m_parts.followSysex(msg, port);
    switch (s.meaning) {
    case SysexMeaning::Reset:
        reset(s.mode);
        return {ModuleChange::Everything | ModuleChange::AllParts};
    case SysexMeaning::RhythmPart:
        return {ModuleChange::Preset, s.channel};
    case SysexMeaning::Refused:
        return {ModuleChange::Refused};
    case SysexMeaning::Other:
        break;
    }
    constexpr uint8_t kMidiTuning = 0x08;
    const std::optional<SysexWrite> w = readSysexBody(*body);
    const bool universal = msg[1] == kUniversalRealtime || msg[1] == kUniversalNonRealtime;
    if (universal && w && w->model == kMidiTuning)
        return followTuning(msg);
    switch (msg[1]) {
    case kUniversalRealtime:
        return w ? followUniversal(*w)
                 : ModuleChange { ModuleChange::Pass | ModuleChange::AllParts };
    case kRoland:
        return w ? followGs(*w) : ModuleChange {};
    case kYamaha:
        return w ? followXg(*w) : ModuleChange {};
    case kUniversalNonRealtime: // the rest of it is the synth's own (sample dumps and the like)
        return {ModuleChange::Pass | ModuleChange::AllParts};
    default:
        return {};
    }
}

ModuleChange Module::followUniversal(const SysexWrite& w)
{
    // F0 7F dev 04 nn ll mm F7
    if (w.model != kDeviceControl || w.data.size() != 3)
        return {ModuleChange::Pass | ModuleChange::AllParts}; // nothing the module keeps
    const uint16_t value = static_cast<uint16_t>(w.data[2] << 7 | w.data[1]);
    switch (w.data[0]) {
    case kMasterVolume:
        m_master.volume = value;
        return {ModuleChange::MasterGain | ModuleChange::AllParts};
    case kMasterFineTuning:
        m_master.fineTenthCents = static_cast<int16_t>((int(value) - int(kCentre14)) * 1000 / int(kCentre14));
        return {ModuleChange::MasterTuning | ModuleChange::AllParts};
    case kMasterCoarseTuning:
        if (!isShift(w.data[2]))
            return {ModuleChange::Refused};
        m_master.coarseSemitones = static_cast<int8_t>(w.data[2] - 64);
        return {ModuleChange::MasterTuning | ModuleChange::AllParts};
    default:
        return {ModuleChange::Pass | ModuleChange::AllParts};
    }
}

ModuleChange Module::followGs(const SysexWrite& w)
{
    // The checksum was checked by the part map.
    if (w.model != kGsModel || w.data.empty())
        return {};
    const std::span<const uint8_t> data = w.data;
    const uint32_t start = w.address;
    ModuleChange out;
    if (start == 0x400000 && data.size() >= 4) {
        const uint16_t tune = nibbles(data);
        if (tune < kGsTuneLow || tune > kGsTuneHigh)
            return {ModuleChange::Refused};
        m_master.fineTenthCents = static_cast<int16_t>(int(tune) - int(kTuneCentre));
        return {ModuleChange::MasterTuning | ModuleChange::AllParts};
    }
    for (std::size_t i = 0; i < data.size(); ++i) {
        const uint32_t address = start + static_cast<uint32_t>(i);
        const uint8_t v = data[i];
        if ((address & 0xFFF000) == 0x401000) {
            const uint8_t ch = PartMap::channelOfGsBlock((address >> 8) & 0x0F) | m_partBase;
            merge(out, gsPart(ch, address & 0xFF, v));
            continue;
        }
        if ((address & 0xFFF000) == 0x404000) {
            // The effect section serves parts 1-16: the second port's assignments wait.
            if (m_partBase != 0)
                continue;
            const uint8_t ch = PartMap::channelOfGsBlock((address >> 8) & 0x0F);
            merge(out, sectionChange(m_section.gsPart(ch, 0x40, address & 0xFF, v), ModuleChange::Section, ch));
            continue;
        }
        if ((address & 0xFF0000) == 0x400000) {
            const EffectSection::Write written = m_section.gsSystem(static_cast<uint16_t>(address & 0xFFFF), v);
            if (written != EffectSection::Write::Other) {
                merge(out, sectionChange(written, ModuleChange::Section | ModuleChange::AllParts));
                continue;
            }
        }
        switch (address) {
        case 0x400004:
            m_master.volume = static_cast<uint16_t>(v << 7 | v);
            merge(out, {ModuleChange::MasterGain | ModuleChange::AllParts});
            break;
        case 0x400005:
            if (isShift(v)) {
                m_master.keyShift = static_cast<int8_t>(v - 64);
                merge(out, {ModuleChange::MasterTuning | ModuleChange::AllParts});
            }
            break;
        case 0x400130:
            if (v < 8) {
                m_effects.setGsReverbMacro(v);
                merge(out, {ModuleChange::Effects | ModuleChange::AllParts});
            }
            break;
        case 0x400131:
            if (v < 8) {
                m_effects.reverb = static_cast<ReverbType>(v);
                merge(out, {ModuleChange::Effects | ModuleChange::AllParts});
            }
            break;
        case 0x400133:
            m_effects.reverbLevel = v;
            merge(out, {ModuleChange::Effects | ModuleChange::AllParts});
            break;
        case 0x400134:
            m_effects.reverbTime = v;
            merge(out, {ModuleChange::Effects | ModuleChange::AllParts});
            break;
        case 0x400138:
            if (v < 8) {
                m_effects.setGsChorusMacro(v);
                merge(out, {ModuleChange::Effects | ModuleChange::AllParts});
            }
            break;
        case 0x40013A:
            m_effects.chorusLevel = v;
            merge(out, {ModuleChange::Effects | ModuleChange::AllParts});
            break;
        default:
            break;
        }
    }
    return keepingGoodWrites(out);
}

ModuleChange Module::writePart(uint8_t ch, const PartParamRow& row, uint8_t value)
{
    if (value < row.low || value > row.high)
        return {};
    m_part[ch].write(row.param, value);
    if (row.param == PartParam::DelaySend && ch < EffectSection::kParts) {
        // The effect section keeps the send beside the effect it feeds.
        m_section.setSend(ch, value);
        return {ModuleChange::Section | ModuleChange::Mixer, ch};
    }
    return { row.movesNotes ? ModuleChange::MasterTuning : ModuleChange::Mixer, ch };
}

ModuleChange Module::gsPart(uint8_t ch, uint8_t address, uint8_t v)
{
    PartState& p = m_part[ch];
    if (const PartParamRow* row = partParamRowForGsAddress(address))
        return writePart(ch, *row, v);
    if (address >= 0x40 && address <= 0x4B) {
        p.scaleTuning[address - 0x40] = static_cast<int8_t>(int(v) - 64);
        return {ModuleChange::Tuning, ch};
    }
    if (const ToneRow* row = toneRowForGsAddress(address)) {
        p.toneNrpn[static_cast<std::size_t>(row->param)] = v;
        return {ModuleChange::Offsets, ch};
    }
    return {};
}

ModuleChange Module::followXg(const SysexWrite& w)
{
    if (w.model != kXgModel || w.data.empty())
        return {};
    const std::span<const uint8_t> data = w.data;
    const uint8_t high = static_cast<uint8_t>(w.address >> 16);
    const uint8_t mid = static_cast<uint8_t>(w.address >> 8);
    const uint8_t low = static_cast<uint8_t>(w.address);
    ModuleChange out;
    if (high == 0x00 && mid == 0x00) {
        if (low == 0x00 && data.size() >= 4) {
            const uint16_t tune = nibbles(data);
            if (tune > 0x7FF)
                return {ModuleChange::Refused};
            m_master.fineTenthCents = static_cast<int16_t>(int(tune) - int(kTuneCentre));
            return {ModuleChange::MasterTuning | ModuleChange::AllParts};
        }
        for (std::size_t i = 0; i < data.size(); ++i) {
            const uint32_t address = low + i;
            if (address == 0x04) {
                m_master.volume = static_cast<uint16_t>(data[i] << 7 | data[i]);
                merge(out, {ModuleChange::MasterGain | ModuleChange::AllParts});
            } else if (address == 0x06 && isShift(data[i])) {
                m_master.keyShift = static_cast<int8_t>(data[i] - 64);
                merge(out, {ModuleChange::MasterTuning | ModuleChange::AllParts});
            }
        }
        return out;
    }
    if (high == 0x02 && mid == 0x01) {
        const ModuleChange effects {ModuleChange::Effects | ModuleChange::AllParts};
        for (std::size_t i = 0; i < data.size(); ++i) {
            const uint32_t address = low + i;
            // A type is MSB and LSB; an MSB written alone takes the first of its kind.
            const uint8_t lsb = i + 1 < data.size() ? data[i + 1] : 0;
            if (address == 0x00) {
                if (m_effects.setXgReverbType(data[i], lsb))
                    merge(out, effects);
            } else if (address == 0x20) {
                if (m_effects.setXgChorusType(data[i], lsb))
                    merge(out, effects);
            } else if (address == 0x0C) {
                m_effects.reverbLevel = data[i];
                merge(out, effects);
            } else if (address == 0x2C) {
                m_effects.chorusLevel = data[i];
                merge(out, effects);
            } else if (address >= 0x40 && address <= 0x7F) {
                const bool alone = address == 0x40 && data.size() == i + 1;
                merge(out, sectionChange(m_section.xg(high, mid, static_cast<uint8_t>(address), data[i], alone),
                               ModuleChange::Section | ModuleChange::AllParts));
            }
        }
        return keepingGoodWrites(out);
    }
    if ((high == 0x02 && mid == 0x40) || high == 0x03) {
        for (std::size_t i = 0; i < data.size(); ++i) {
            const uint32_t address = low + i;
            const bool alone = high == 0x03 && address == 0x00 && data.size() == i + 1;
            if (address <= 0x7F)
                merge(out, sectionChange(m_section.xg(high, mid, static_cast<uint8_t>(address), data[i], alone),
                               ModuleChange::Section | ModuleChange::AllParts));
        }
        return keepingGoodWrites(out);
    }
    // XG numbers 32 parts itself (08 00-1F); on the second port 00-0F are parts 17-32.
    if (high == 0x08 && mid < kMaxParts && (m_partBase == 0 || mid < 16)) {
        const uint8_t ch = static_cast<uint8_t>(mid | m_partBase);
        PartState& p = m_part[ch];
        for (std::size_t i = 0; i < data.size(); ++i) {
            const uint32_t address = low + i;
            const uint8_t v = data[i];
            if (address > 0xFF)
                break;
            if (const PartParamRow* row = partParamRowForXgAddress(static_cast<uint8_t>(address))) {
                merge(out, writePart(ch, *row, v));
            } else if (const ToneRow* row = toneRowForXgAddress(static_cast<uint8_t>(address))) {
                p.toneNrpn[static_cast<std::size_t>(row->param)] = v;
                merge(out, { ModuleChange::Offsets, ch });
            }
        }
        return out;
    }
    return out;
}

} // namespace sequora::midi
