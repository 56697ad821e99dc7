#include "platform/midi/transport/ChaseState.h"

#include "platform/midi/file/MidiBytes.h"
#include "platform/midi/output/Output.h"
#include "platform/midi/file/Song.h"

#include <algorithm>

namespace sequora::midi {

namespace {

// Controllers whose meaning is an action or a selection rather than a held value.
bool isHeldController(uint8_t cc)
{
    switch (cc) {
    case kCcDataEntryMsb:
    case kCcDataEntryLsb:
    case kCcDataIncrement:
    case kCcDataDecrement:
    case kCcNrpnLsb:
    case kCcNrpnMsb:
    case kCcRpnLsb:
    case kCcRpnMsb:
    case kCcPortamentoControl: // names the key the next note glides from, once
        return false;
    default:
        return cc < kCcAllSoundOff; // 120..127 are channel mode messages
    }
}

} // namespace

void ChaseState::clear()
{
    for (Channel& c : m_channels) {
        c = Channel();
        c.cc.fill(kUnset);
    }
    m_resetSysex.clear();
    m_sysex.clear();
    for (std::vector<uint8_t>& msg : m_rhythmSysex)
        msg.clear();
    m_module.reset(SystemMode::None);
}

void ChaseState::scan(const Song& song, int64_t timeUs)
{
    clear();
    scanFrom(song, 0, timeUs);
}

std::size_t ChaseState::scanFrom(const Song& song, std::size_t from, int64_t timeUs)
{
    const std::vector<MidiEvent>& events = song.events();
    for (; from < events.size() && events[from].timeUs < timeUs; ++from)
        apply(song, events[from]);
    return from;
}

void ChaseState::apply(const Song& song, const MidiEvent& e)
{
    if (e.status >= kSysExStart) {
        const std::vector<uint8_t>& store = song.sysexData();
        if (std::size_t(e.sysexOffset) + e.sysexLength <= store.size())
            applySysex(store.data() + e.sysexOffset, e.sysexLength, e.status == kSysExEnd);
        return;
    }
    Channel& c = m_channels[channelOf(e.status)];
    if (commandOf(e.status) == kControlChange || commandOf(e.status) == kProgramChange)
        m_module.followShort(e.status, e.data1, e.data2);
    switch (commandOf(e.status)) {
    case kNoteOn:
        if (e.data2 != 0) {
            c.velocity[e.data1 & 0x7F] = e.data2;
            c.pedalHeld.reset(e.data1 & 0x7F);
        } else {
            noteOff(c, e.data1 & 0x7F);
        }
        break;
    case kNoteOff:
        noteOff(c, e.data1 & 0x7F);
        break;
    case kControlChange:
        controlChange(c, e.data1, e.data2);
        break;
    case kProgramChange:
        c.program = e.data1;
        c.programBankMsb = c.cc[kCcBankMsb];
        c.programBankLsb = c.cc[kCcBankLsb];
        break;
    case kPitchBend:
        c.bend = static_cast<int16_t>(e.data1 | (e.data2 << 7));
        break;
    case kChannelPressure:
        c.pressure = e.data1;
        break;
    default: // polyphonic pressure belongs to a note's touch, not to what sounds
        break;
    }
}

void ChaseState::noteOff(Channel& c, uint8_t key)
{
    if (c.velocity[key] == 0)
        return;
    if (c.cc[kCcSustain] >= kCentre7)
        c.pedalHeld.set(key);
    else
        c.velocity[key] = 0;
}

void ChaseState::releasePedal(Channel& c)
{
    for (std::size_t key = 0; key < c.velocity.size(); ++key) {
        if (c.pedalHeld.test(key))
            c.velocity[key] = 0;
    }
    c.pedalHeld.reset();
}

void ChaseState::controlChange(Channel& c, uint8_t cc, uint8_t value)
{
    switch (cc) {
    case kCcRpnMsb:
        c.rpnMsb = value;
        c.selected = Selected::Rpn;
        return;
    case kCcRpnLsb:
        c.rpnLsb = value;
        c.selected = Selected::Rpn;
        return;
    case kCcNrpnMsb:
        c.nrpnMsb = value;
        c.selected = Selected::Nrpn;
        return;
    case kCcNrpnLsb:
        c.nrpnLsb = value;
        c.selected = Selected::Nrpn;
        return;
    case kCcDataEntryMsb:
    case kCcDataEntryLsb:
    case kCcDataIncrement:
    case kCcDataDecrement:
        if (Parameter* p = selectedParameter(c)) {
            if (cc == kCcDataEntryMsb)
                p->dataMsb = value;
            else if (cc == kCcDataEntryLsb)
                p->dataLsb = value;
            else if (p->dataMsb != kUnset)
                p->dataMsb = static_cast<int16_t>(std::clamp(p->dataMsb + (cc == kCcDataIncrement ? 1 : -1), 0, 127));
        }
        return;
    case kCcSustain:
        c.cc[cc] = value;
        if (value < kCentre7)
            releasePedal(c);
        return;
    case kCcAllSoundOff:
        c.velocity.fill(0);
        c.pedalHeld.reset();
        return;
    case kCcResetAllControllers:
        releasePedal(c);
        // What a reset of the controllers resets; volume, pan, bank and effect depths stay.
        c.cc[kCcModulation] = kUnset;
        c.cc[kCcExpression] = kUnset;
        for (uint8_t pedal = kCcSustain; pedal <= kCcSoft; ++pedal)
            c.cc[pedal] = kUnset;
        c.bend = kUnset;
        c.pressure = kUnset;
        c.rpnMsb = c.rpnLsb = c.nrpnMsb = c.nrpnLsb = kNullParameter;
        c.selected = Selected::None;
        return;
    default:
        if (cc >= kCcAllNotesOff) {
            // All notes off, and the mode messages that imply it: the pedal still holds.
            for (uint8_t key = 0; key < 128; ++key)
                noteOff(c, key);
        } else if (isHeldController(cc)) {
            c.cc[cc] = value;
        }
        return;
    }
}

ChaseState::Parameter* ChaseState::selectedParameter(Channel& c)
{
    if (c.selected == Selected::None)
        return nullptr;
    const bool nrpn = c.selected == Selected::Nrpn;
    const uint8_t msb = nrpn ? c.nrpnMsb : c.rpnMsb;
    const uint8_t lsb = nrpn ? c.nrpnLsb : c.rpnLsb;
    if (msb == kNullParameter && lsb == kNullParameter)
        return nullptr;
    const uint16_t key = static_cast<uint16_t>((nrpn ? 1u << 14 : 0u) | (msb & 0x7Fu) << 7 | (lsb & 0x7Fu));
    const auto [at, added] = c.parameterIndex.try_emplace(key, static_cast<uint16_t>(c.parameters.size()));
    if (added)
        c.parameters.push_back({nrpn, msb, lsb, kUnset, kUnset});
    return &c.parameters[at->second];
}

void ChaseState::applySysex(const uint8_t* bytes, std::size_t length, bool escaped)
{
    // Keep the message as a whole F0 ... F7.
    std::vector<uint8_t> msg;
    msg.reserve(length + 2);
    if (!escaped)
        msg.push_back(kSysExStart);
    msg.insert(msg.end(), bytes, bytes + length);
    if (msg.size() < 2 || msg.front() != kSysExStart)
        return;
    if (msg.back() != kSysExEnd)
        msg.push_back(kSysExEnd);

    const PartMap::Sysex meaning = PartMap::classify(msg);
    switch (meaning.meaning) {
    case SysexMeaning::Reset:
        clear();
        m_module.followSysex(msg);
        m_resetSysex = std::move(msg);
        return;
    case SysexMeaning::RhythmPart:
        if (m_module.followSysex(msg).has(ModuleChange::Preset)) {
            m_rhythmSysex[meaning.channel] = std::move(msg);
            return;
        }
        break; // a mode without rhythm parts ignores it, on replay too
    case SysexMeaning::Refused:
        return; // a module ignores it: nothing to replay
    case SysexMeaning::Other: {
        const ModuleChange change = m_module.followSysex(msg);
        if (change.has(ModuleChange::Refused))
            return;
        takeModuleValues(change);
        break;
    }
    }
    keepSysex(std::move(msg));
}

namespace {

// The module address a GS or XG parameter write sets, with its length; 0 for others.
uint64_t addressKey(const std::vector<uint8_t>& msg)
{
    if (msg.size() >= 10 && msg[1] == kRoland && msg[4] == kDataSet1)
        return uint64_t(kRoland) << 48 | uint64_t(msg[3]) << 40 | uint64_t(msg[5]) << 24 | uint64_t(msg[6]) << 16
            | uint64_t(msg[7]) << 8 | (msg.size() & 0xFF);
    // Universal master volume and tunings: the newest of each stands.
    if (msg.size() == 8 && msg[1] == kUniversalRealtime && msg[3] == 0x04)
        return uint64_t(kUniversalRealtime) << 48 | uint64_t(msg[4]) << 8 | msg.size();
    if (msg.size() >= 9 && msg[1] == kYamaha && (msg[2] & 0xF0) == 0x10)
        return uint64_t(kYamaha) << 48 | uint64_t(msg[3]) << 40 | uint64_t(msg[4]) << 24 | uint64_t(msg[5]) << 16
            | uint64_t(msg[6]) << 8 | (msg.size() & 0xFF);
    return 0;
}

} // namespace

void ChaseState::keepSysex(std::vector<uint8_t> msg)
{
    if (const uint64_t key = addressKey(msg)) {
        const auto same = std::find_if(m_sysex.begin(), m_sysex.end(),
            [&](const std::vector<uint8_t>& kept) { return addressKey(kept) == key; });
        if (same != m_sysex.end())
            m_sysex.erase(same);
    }
    if (m_sysex.size() >= kMaxSysex)
        return;
    m_sysex.push_back(std::move(msg));
}

void ChaseState::takeModuleValues(const ModuleChange& change)
{
    if (!change.has(ModuleChange::Mixer) && !change.has(ModuleChange::Offsets))
        return;
    for (uint8_t ch = 0; ch < kChannels; ++ch) {
        if (!change.has(ModuleChange::AllParts) && ch != change.channel)
            continue;
        Channel& c = m_channels[ch];
        const PartState& p = m_module.part(ch);
        if (change.has(ModuleChange::Mixer)) {
            c.cc[kCcVolume] = p.volume;
            c.cc[kCcPan] = p.pan;
            c.cc[kCcReverbSend] = p.reverbSend;
            c.cc[kCcChorusSend] = p.chorusSend;
            if (c.cc[kCcDelaySend] != kUnset || m_module.section().send[ch] != 0)
                c.cc[kCcDelaySend] = m_module.section().send[ch];
        }
        if (change.has(ModuleChange::Offsets)) {
            for (Parameter& param : c.parameters) {
                if (!param.nrpn || param.msb != 0x01)
                    continue;
                if (const ToneRow* row = toneRowForNrpn(param.lsb))
                    param.dataMsb = p.toneNrpn[static_cast<std::size_t>(row->param)];
            }
        }
    }
}

void ChaseState::emit(Block& out) const
{
    if (!m_resetSysex.empty())
        out.addSysex(m_resetSysex);
    for (const std::vector<uint8_t>& msg : m_sysex)
        out.addSysex(msg);
    for (const std::vector<uint8_t>& msg : m_rhythmSysex) {
        if (!msg.empty())
            out.addSysex(msg);
    }
    for (uint8_t ch = 0; ch < kChannels; ++ch)
        emitChannel(m_channels[ch], ch, out);
}

void ChaseState::emitNotes(Block& out) const
{
    for (uint8_t ch = 0; ch < kChannels; ++ch) {
        const Channel& c = m_channels[ch];
        if (m_module.parts().isDrum(ch))
            continue;
        for (uint8_t key = 0; key < 128; ++key) {
            if (c.velocity[key] == 0)
                continue;
            out.addShort(kNoteOn | ch, key, c.velocity[key]);
            if (c.pedalHeld.test(key))
                out.addShort(kNoteOff | ch, key, 0);
        }
    }
}

void ChaseState::emitChannel(const Channel& c, uint8_t ch, Block& out) const
{
    const uint8_t cc = kControlChange | ch;
    if (m_module.part(ch).mono)
        out.addShort(cc, kCcMonoOn, 1);
    // The program with the bank it was chosen from; a bank sent after it comes below.
    if (c.program != kUnset) {
        if (c.programBankMsb != kUnset)
            out.addShort(cc, kCcBankMsb, static_cast<uint8_t>(c.programBankMsb));
        if (c.programBankLsb != kUnset)
            out.addShort(cc, kCcBankLsb, static_cast<uint8_t>(c.programBankLsb));
        out.addShort(kProgramChange | ch, static_cast<uint8_t>(c.program), 0);
    }
    for (int n = 0; n < 128; ++n) {
        if (c.cc[n] == kUnset)
            continue;
        if (c.program != kUnset && ((n == kCcBankMsb && c.cc[n] == c.programBankMsb)
                                    || (n == kCcBankLsb && c.cc[n] == c.programBankLsb)))
            continue;
        out.addShort(cc, static_cast<uint8_t>(n), static_cast<uint8_t>(c.cc[n]));
    }
    for (const Parameter& p : c.parameters) {
        if (p.dataMsb == kUnset && p.dataLsb == kUnset)
            continue;
        out.addShort(cc, p.nrpn ? kCcNrpnMsb : kCcRpnMsb, p.msb);
        out.addShort(cc, p.nrpn ? kCcNrpnLsb : kCcRpnLsb, p.lsb);
        if (p.dataMsb != kUnset)
            out.addShort(cc, kCcDataEntryMsb, static_cast<uint8_t>(p.dataMsb));
        if (p.dataLsb != kUnset)
            out.addShort(cc, kCcDataEntryLsb, static_cast<uint8_t>(p.dataLsb));
    }
    // Leave both numbers and the selection as the song left them, so its later data
    // entries land right: the other pair first, the selected one last.
    if (!c.parameters.empty() || c.selected != Selected::None) {
        const bool nrpnLast = c.selected == Selected::Nrpn;
        for (bool nrpn : {!nrpnLast, nrpnLast}) {
            out.addShort(cc, nrpn ? kCcNrpnMsb : kCcRpnMsb, nrpn ? c.nrpnMsb : c.rpnMsb);
            out.addShort(cc, nrpn ? kCcNrpnLsb : kCcRpnLsb, nrpn ? c.nrpnLsb : c.rpnLsb);
        }
    }
    if (c.bend != kUnset)
        out.addShort(kPitchBend | ch, static_cast<uint8_t>(c.bend & 0x7F), static_cast<uint8_t>(c.bend >> 7));
    if (c.pressure != kUnset)
        out.addShort(kChannelPressure | ch, static_cast<uint8_t>(c.pressure), 0);
}

} // namespace sequora::midi
