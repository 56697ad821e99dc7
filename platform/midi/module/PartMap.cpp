#include "platform/midi/module/PartMap.h"

#include "platform/midi/file/MidiBytes.h"
#include "platform/midi/module/SysexWrite.h"

namespace sequora::midi {

namespace {

constexpr uint8_t kGeneralMidi = 0x09;
constexpr uint8_t kGm1On = 0x01;
constexpr uint8_t kGmOff = 0x02;
constexpr uint8_t kGm2On = 0x03;


constexpr uint8_t kXgDrumMsb = 127;
constexpr uint8_t kXgSfxKitMsb = 126;
constexpr uint8_t kXgSfxVoiceMsb = 64;
constexpr uint8_t kGm2DrumMsb = 120;
constexpr uint8_t kGm2MelodicMsb = 121;

PartMap::Sysex classifyGs(const SysexWrite& w)
{
    using Sysex = PartMap::Sysex;
    if (w.model != kGsModel || w.data.empty())
        return {};
    if (!w.checksumOk)
        return {SysexMeaning::Refused};
    const uint8_t value = w.data[0];
    if (w.address == 0x40007F || w.address == 0x00007F) // GS reset; system mode set
        return value <= 1 ? Sysex {SysexMeaning::Reset, SystemMode::Gs} : Sysex {SysexMeaning::Refused};
    if ((w.address & 0xFFF0FF) == 0x401015) {
        if (value > 2)
            return {SysexMeaning::Refused};
        return { SysexMeaning::RhythmPart, SystemMode::None,
            PartMap::channelOfGsBlock(static_cast<uint8_t>(w.address >> 8 & 0x0F)), value };
    }
    return {};
}

} // namespace

PartMap::Sysex PartMap::classify(std::span<const uint8_t> msg)
{
    const std::optional<SysexWrite> w = readSysexWrite(msg);
    if (!w || w->data.empty())
        return {};
    switch (w->maker) {
    case kUniversalNonRealtime:
        if (w->model != kGeneralMidi)
            return {};
        switch (w->data[0]) {
        case kGm1On:
            return {SysexMeaning::Reset, SystemMode::Gm1};
        case kGmOff:
            return {SysexMeaning::Reset, SystemMode::None};
        case kGm2On:
            return {SysexMeaning::Reset, SystemMode::Gm2};
        default:
            return {};
        }
    case kRoland:
        return classifyGs(*w);
    case kYamaha:
        // XG System On, XG All Parameter Reset
        if (w->model == kXgModel && (w->address == 0x00007E || w->address == 0x00007F)
            && w->data[0] == 0x00)
            return { SysexMeaning::Reset, SystemMode::Xg };
        return {};
    default:
        return {};
    }
}

void PartMap::reset(SystemMode mode)
{
    m_mode = mode;
    m_parts.fill(Part {});
    // Each port's tenth part is a drum part, as on a module with two.
    for (const uint8_t ch : {kDrumChannel, static_cast<uint8_t>(kDrumChannel + kChannels)}) {
        Part& drums = m_parts[ch];
        switch (mode) {
        case SystemMode::None:
        case SystemMode::Gs:
        case SystemMode::Gm1:
            drums.rhythm = 1;
            break;
        case SystemMode::Gm2:
            if (ch == kDrumChannel) {
                for (Part& p : m_parts)
                    p.bankMsb = p.programBankMsb = kGm2MelodicMsb;
            }
            drums.bankMsb = drums.programBankMsb = kGm2DrumMsb;
            break;
        case SystemMode::Xg:
            drums.bankMsb = drums.programBankMsb = kXgDrumMsb;
            break;
        }
    }
}

bool PartMap::followShort(uint8_t status, uint8_t data1, uint8_t data2, uint8_t port)
{
    Part& p = m_parts[partOf(status, port)];
    switch (commandOf(status)) {
    case kControlChange:
        if (data1 == kCcBankMsb)
            p.bankMsb = data2;
        else if (data1 == kCcBankLsb)
            p.bankLsb = data2;
        return false;
    case kProgramChange:
        p.program = data1;
        p.programBankMsb = p.bankMsb;
        p.programBankLsb = p.bankLsb;
        return true;
    default:
        return false;
    }
}

PartMap::Sysex PartMap::followSysex(std::span<const uint8_t> msg, uint8_t port)
{
    Sysex s = classify(msg);
    s.channel = static_cast<uint8_t>(s.channel | (port & 1) << 4);
    if (s.meaning == SysexMeaning::Reset) {
        reset(s.mode);
    } else if (s.meaning == SysexMeaning::RhythmPart) {
        // A GS module keeps its rhythm parts in GM mode too; XG and GM2 modules choose
        // drum parts by bank instead.
        if (m_mode == SystemMode::Xg || m_mode == SystemMode::Gm2)
            return {};
        m_parts[s.channel].rhythm = s.rhythm;
    }
    return s;
}

bool PartMap::isDrum(uint8_t channel) const
{
    const Part& p = m_parts[channel & 0x1F];
    switch (m_mode) {
    case SystemMode::None:
    case SystemMode::Gs:
    case SystemMode::Gm1:
        return p.rhythm != 0;
    case SystemMode::Gm2:
        return p.programBankMsb == kGm2DrumMsb;
    case SystemMode::Xg:
        return p.programBankMsb == kXgDrumMsb || p.programBankMsb == kXgSfxKitMsb;
    }
    return false;
}

PresetRequest PartMap::request(uint8_t channel) const
{
    const Part& p = m_parts[channel & 0x1F];
    if (isDrum(channel)) {
        const bool sfxKit = m_mode == SystemMode::Xg && p.programBankMsb == kXgSfxKitMsb;
        return {true, PresetRequest::kDrumBank, sfxKit ? kSfxKitProgram : p.program};
    }
    switch (m_mode) {
    case SystemMode::None:
    case SystemMode::Gs:
        return {false, p.programBankMsb, p.program};
    case SystemMode::Gm1:
        return {false, 0, p.program};
    case SystemMode::Gm2:
        return {false, static_cast<uint16_t>(p.programBankMsb == kGm2MelodicMsb ? p.programBankLsb : 0), p.program};
    case SystemMode::Xg:
        return {false, static_cast<uint16_t>(p.programBankMsb == kXgSfxVoiceMsb ? kXgSfxVoiceMsb : p.programBankLsb),
            p.program};
    }
    return {false, 0, p.program};
}

} // namespace sequora::midi
