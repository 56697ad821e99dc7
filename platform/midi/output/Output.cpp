#include "platform/midi/output/Output.h"

#include "platform/midi/file/MidiBytes.h"
#include "platform/midi/file/Song.h"
#include "platform/midi/module/GmNames.h"

namespace sequora::midi {

bool Block::addEvent(const Song& song, const MidiEvent& event, uint32_t frame)
{
    if (event.status < kSysExStart) {
        addShort(event.status, event.data1, event.data2, frame);
        messages.back().port = event.port;
        return true;
    }
    const std::vector<uint8_t>& store = song.sysexData();
    if (event.status != kSysExStart && event.status != kSysExEnd)
        return false;
    if (std::size_t(event.sysexOffset) + event.sysexLength > store.size())
        return false;
    const uint8_t* p = store.data() + event.sysexOffset;
    std::size_t n = event.sysexLength;
    const bool escaped = event.status == kSysExEnd;
    if (escaped && (n < 2 || p[0] != kSysExStart))
        return false;
    OutMessage m;
    m.kind = OutMessage::Kind::SysEx;
    m.frame = frame;
    m.sysexOffset = static_cast<uint32_t>(sysex.size());
    if (!escaped)
        sysex.push_back(kSysExStart);
    sysex.insert(sysex.end(), p, p + n);
    if (sysex.back() != kSysExEnd)
        sysex.push_back(kSysExEnd);
    m.sysexLength = static_cast<uint32_t>(sysex.size() - m.sysexOffset);
    m.port = event.port;
    messages.push_back(m);
    return true;
}

void Block::append(const Block& other, uint32_t frame)
{
    for (OutMessage m : other.messages) {
        m.frame = frame;
        if (m.kind == OutMessage::Kind::SysEx)
            m.sysexOffset += static_cast<uint32_t>(sysex.size());
        messages.push_back(m);
    }
    sysex.insert(sysex.end(), other.sysex.begin(), other.sysex.end());
}

std::string Output::instrumentName(const PresetRequest& request) const
{
    return generalMidiName(request);
}

void Output::attach(EventSource* source)
{
    std::lock_guard lock(m_sourceMutex);
    m_source = source;
}

void Output::strikeAgain()
{
    std::lock_guard lock(m_sourceMutex);
    if (m_source)
        m_source->strikeAgain();
}

void Output::dispatch(const OutMessage& m)
{
    switch (m.kind) {
    case OutMessage::Kind::Short:
        if (m.port == 0)
            sendShort(m.status, m.data1, m.data2);
        else
            sendPortShort(m.port, m.status, m.data1, m.data2);
        break;
    case OutMessage::Kind::SysEx:
        if (m.port == 0)
            sendSysex(m_block.sysexOf(m));
        else
            sendPortSysex(m.port, m_block.sysexOf(m));
        break;
    case OutMessage::Kind::Silence:
        silence();
        break;
    case OutMessage::Kind::Release:
        release();
        break;
    case OutMessage::Kind::Reset:
        reset();
        break;
    case OutMessage::Kind::Restore:
        restore(static_cast<SystemMode>(m.data1));
        break;
    case OutMessage::Kind::Fade:
        fade(m.fadeAt, m.fadeLength);
        break;
    }
}

void Output::silence()
{
    for (uint8_t ch = 0; ch < kChannels; ++ch) {
        sendShort(kControlChange | ch, kCcSustain, 0);
        sendShort(kControlChange | ch, kCcAllSoundOff, 0);
        sendShort(kControlChange | ch, kCcAllNotesOff, 0);
    }
}

void Output::release()
{
    for (uint8_t ch = 0; ch < kChannels; ++ch) {
        sendShort(kControlChange | ch, kCcSustain, 0);
        sendShort(kControlChange | ch, kCcAllNotesOff, 0);
    }
    if (!hasSecondPort())
        return;
    for (uint8_t ch = 0; ch < kChannels; ++ch) {
        sendPortShort(1, kControlChange | ch, kCcSustain, 0);
        sendPortShort(1, kControlChange | ch, kCcAllNotesOff, 0);
    }
}

void Output::reset()
{
    sendSysex(kGmSystemOn);
    resetChannels();
}

void Output::restore(SystemMode)
{
    for (uint8_t ch = 0; ch < kChannels; ++ch)
        sendShort(kControlChange | ch, kCcSustain, 0);
    resetChannels();
}

void Output::resetChannels()
{
    for (uint8_t ch = 0; ch < kChannels; ++ch) {
        sendShort(kControlChange | ch, kCcResetAllControllers, 0);
        sendShort(kControlChange | ch, kCcBankMsb, 0);
        sendShort(kControlChange | ch, kCcBankLsb, 0);
        sendShort(kProgramChange | ch, 0, 0);
        sendShort(kControlChange | ch, kCcVolume, kDefaultVolume);
        sendShort(kControlChange | ch, kCcPan, kCentre7);
        sendShort(kPitchBend | ch, kCentre14 & 0x7F, kCentre14 >> 7);
    }
}

} // namespace sequora::midi
