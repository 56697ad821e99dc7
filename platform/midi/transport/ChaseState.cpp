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
            applySysex(store.data() + e.sysexOffset, e.sysexLength, e.status == kSysExEnd, e.port);
        return;
    }
    Channel& c = m_channels[partOf(e.status, e.port)];
    if (commandOf(e.status) == kControlChange || commandOf(e.status) == kProgramChange)
        m_module.followShort(e.status, e.data1, e.data2, e.port);
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
    const uint16_t key
        = static_cast<uint16_t>((nrpn ? 1u << 14 : 0u) | (msb & 0x7Fu) << 7 | (lsb & 0x7Fu));
    const auto [at, added]
        = c.parameterIndex.try_emplace(key, static_cast<uint16_t>(c.parameters.size()));
    if (added)
        c.parameters.push_back({ nrpn, msb, lsb, kUnset, kUnset });
    return &c.parameters[at->second];
}

void ChaseState::applySysex(const uint8_t* bytes, std::size_t length, bool escaped, uint8_t port)
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

    PartMap::Sysex meaning = PartMap::classify(msg);
    meaning.channel = static_cast<uint8_t>(meaning.channel | (port & 1) << 4);
    switch (meaning.meaning) {
    case SysexMeaning::Reset:
        clear();
        m_module.followSysex(msg, port); // either port resets the whole module
        m_resetSysex = std::move(msg);
        return;
    case SysexMeaning::RhythmPart:
        if (m_module.followSysex(msg, port).has(ModuleChange::Preset)) {
            m_rhythmSysex[meaning.channel] = std::move(msg);
            return;
        }
        break; // a mode without rhythm parts ignores it, on replay too
    case SysexMeaning::Refused:
        return; // a module ignores it: nothing to replay
    case SysexMeaning::Other: {
        const ModuleChange change = m_module.followSysex(msg, port);
        if (change.has(ModuleChange::Refused))
            return;
        takeModuleValues(change);
        break;
    }
    }
    keepSysex(std::move(msg), port);
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

void ChaseState::keepSysex(std::vector<uint8_t> msg, uint8_t port)
{
    if (const uint64_t key = addressKey(msg)) {
        const auto same = std::find_if(m_sysex.begin(), m_sysex.end(), [&](const KeptSysex& kept) {
            return kept.port == port && addressKey(kept.bytes) == key;
        });
        if (same != m_sysex.end())
            m_sysex.erase(same);
    }
    if (m_sysex.size() >= kMaxSysex)
        return;
    m_sysex.push_back({ port, std::move(msg) });
}

void ChaseState::takeModuleValues(const ModuleChange& change)
{
    if (!change.has(ModuleChange::Mixer) && !change.has(ModuleChange::Offsets))
        return;
    for (uint8_t ch = 0; ch < kMaxParts; ++ch) {
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
    emitAfterReset(out);
}

void ChaseState::emitRestore(Block& out) const
{
    // The reset SysEx put the module in the mode it is in now: only another one changes it.
    out.addRestore(m_module.mode());
    emitAfterReset(out);
}

void ChaseState::emitNoteOffs(Block& out, uint32_t frame) const
{
    for (uint8_t ch = 0; ch < kMaxParts; ++ch) {
        const Channel& c = m_channels[ch];
        for (uint8_t key = 0; key < 128; ++key) {
            if (c.velocity[key] != 0)
                out.addPartShort(ch, kNoteOff, key, 0, frame);
        }
    }
}

void ChaseState::emitAfterReset(Block& out) const
{
    for (const KeptSysex& msg : m_sysex) {
        out.addSysex(msg.bytes);
        out.messages.back().port = msg.port;
    }
    for (std::size_t part = 0; part < m_rhythmSysex.size(); ++part) {
        if (m_rhythmSysex[part].empty())
            continue;
        out.addSysex(m_rhythmSysex[part]);
        out.messages.back().port = static_cast<uint8_t>(part >> 4);
    }
    for (uint8_t ch = 0; ch < kMaxParts; ++ch)
        emitChannel(m_channels[ch], ch, out);
}

void ChaseState::emitNotes(Block& out) const
{
    for (uint8_t ch = 0; ch < kMaxParts; ++ch)
        emitPartNotes(ch, out);
}

void ChaseState::emitPartNotes(uint8_t ch, Block& out) const
{
    const Channel& c = m_channels[ch & 0x1F];
    if (m_module.parts().isDrum(ch))
        return;
    for (uint8_t key = 0; key < 128; ++key) {
        if (c.velocity[key] == 0)
            continue;
        out.addPartShort(ch, kNoteOn, key, c.velocity[key]);
        if (c.pedalHeld.test(key))
            out.addPartShort(ch, kNoteOff, key, 0);
    }
}

void ChaseState::emitChannel(const Channel& c, uint8_t ch, Block& out) const
{
    if (m_module.part(ch).mono)
        out.addPartShort(ch, kControlChange, kCcMonoOn, 1);
    // The program with the bank it was chosen from; a bank sent after it comes below.
    if (c.program != kUnset) {
        if (c.programBankMsb != kUnset)
            out.addPartShort(
                ch, kControlChange, kCcBankMsb, static_cast<uint8_t>(c.programBankMsb));
        if (c.programBankLsb != kUnset)
            out.addPartShort(
                ch, kControlChange, kCcBankLsb, static_cast<uint8_t>(c.programBankLsb));
        out.addPartShort(ch, kProgramChange, static_cast<uint8_t>(c.program), 0);
    }
    for (int n = 0; n < 128; ++n) {
        if (c.cc[n] == kUnset)
            continue;
        if (c.program != kUnset
            && ((n == kCcBankMsb && c.cc[n] == c.programBankMsb)
                || (n == kCcBankLsb && c.cc[n] == c.programBankLsb)))
            continue;
        out.addPartShort(
            ch, kControlChange, static_cast<uint8_t>(n), static_cast<uint8_t>(c.cc[n]));
    }
    for (const Parameter& p : c.parameters) {
        if (p.dataMsb == kUnset && p.dataLsb == kUnset)
            continue;
        out.addPartShort(ch, kControlChange, p.nrpn ? kCcNrpnMsb : kCcRpnMsb, p.msb);
        out.addPartShort(ch, kControlChange, p.nrpn ? kCcNrpnLsb : kCcRpnLsb, p.lsb);
        if (p.dataMsb != kUnset)
            out.addPartShort(ch, kControlChange, kCcDataEntryMsb, static_cast<uint8_t>(p.dataMsb));
        if (p.dataLsb != kUnset)
            out.addPartShort(ch, kControlChange, kCcDataEntryLsb, static_cast<uint8_t>(p.dataLsb));
    }
    // Leave both numbers and the selection as the song left them, so its later data
    // entries land right: the other pair first, the selected one last.
    if (!c.parameters.empty() || c.selectionSent) {
        const ParameterSelection& s = c.selection;
        for (bool nrpn : { !s.nrpnSelected, s.nrpnSelected }) {
            out.addPartShort(
                ch, kControlChange, nrpn ? kCcNrpnMsb : kCcRpnMsb, nrpn ? s.nrpnMsb : s.rpnMsb);
            out.addPartShort(
                ch, kControlChange, nrpn ? kCcNrpnLsb : kCcRpnLsb, nrpn ? s.nrpnLsb : s.rpnLsb);
        }
    }
    if (c.bend != kUnset)
        out.addPartShort(
            ch, kPitchBend, static_cast<uint8_t>(c.bend & 0x7F), static_cast<uint8_t>(c.bend >> 7));
    if (c.pressure != kUnset)
        out.addPartShort(ch, kChannelPressure, static_cast<uint8_t>(c.pressure), 0);
}

} // namespace sequora::midi
