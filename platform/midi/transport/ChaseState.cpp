#include "platform/midi/transport/ChaseState.h"

#include "platform/midi/file/MidiBytes.h"
#include "platform/midi/file/Song.h"
#include "platform/midi/module/SysexWrite.h"
#include "platform/midi/output/Output.h"

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
    if (c.selection.select(cc, value)) {
        c.selectionSent = true;
        return;
    }
    if (const std::optional<DataEntry> entry = dataEntryOf(cc)) {
        if (Parameter* p = selectedParameter(c)) {
            if (entry == DataEntry::Msb)
                p->dataMsb = value;
            else if (entry == DataEntry::Lsb)
                p->dataLsb = value;
            else if (p->dataMsb != kUnset)
                p->dataMsb = static_cast<int16_t>(
                    std::clamp(p->dataMsb + (entry == DataEntry::Increment ? 1 : -1), 0, 127));
        }
        return;
    }
    switch (cc) {
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
        c.selection.clear();
        c.selectionSent = false;
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
    const std::optional<SelectedParameter> selected = c.selection.current();
    if (!selected)
        return nullptr;
    const auto [nrpn, msb, lsb] = *selected;
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

constexpr uint8_t kDeviceControl = 0x04;

// The module address a GS or XG parameter write sets, with its length; 0 for others.
uint64_t addressKey(const std::vector<uint8_t>& msg)
{
    const std::optional<SysexWrite> w = readSysexWrite(msg);
    if (!w)
        return 0;
    const uint64_t length = msg.size() & 0xFF;
    switch (w->maker) {
    case kRoland:
        return uint64_t(kRoland) << 48 | uint64_t(w->model) << 40 | uint64_t(w->address) << 8
            | length;
    case kYamaha:
        if (w->data.empty())
            return 0;
        return uint64_t(kYamaha) << 48 | uint64_t(w->model) << 40 | uint64_t(w->address) << 8
            | length;
    case kUniversalRealtime:
        // Universal master volume and tunings: the newest of each stands.
        if (w->model != kDeviceControl || w->data.size() != 3)
            return 0;
        return uint64_t(kUniversalRealtime) << 48 | uint64_t(w->data[0]) << 8 | msg.size();
    default:
        return 0;
    }
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
            for (const PartParamRow& row : kPartParamTable) {
                if (row.cc)
                    c.cc[*row.cc] = p.written(row.param);
            }
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
    if (!c.parameters.empty() || c.selectionSent) {
        const ParameterSelection& s = c.selection;
        for (bool nrpn : { !s.nrpnSelected, s.nrpnSelected }) {
            out.addShort(cc, nrpn ? kCcNrpnMsb : kCcRpnMsb, nrpn ? s.nrpnMsb : s.rpnMsb);
            out.addShort(cc, nrpn ? kCcNrpnLsb : kCcRpnLsb, nrpn ? s.nrpnLsb : s.rpnLsb);
        }
    }
    if (c.bend != kUnset)
        out.addShort(kPitchBend | ch, static_cast<uint8_t>(c.bend & 0x7F), static_cast<uint8_t>(c.bend >> 7));
    if (c.pressure != kUnset)
        out.addShort(kChannelPressure | ch, static_cast<uint8_t>(c.pressure), 0);
}

} // namespace sequora::midi
