#include "platform/midi/transport/LoopJump.h"

namespace sequora::midi {

namespace {

bool isSystemReset(const Song& song, const MidiEvent& e)
{
    if (e.status < 0xF0)
        return false;
    Block one;
    return one.addEvent(song, e)
        && PartMap::classify(one.sysexOf(one.messages.front())).meaning == SysexMeaning::Reset;
}

} // namespace

void LoopJump::prepare(const Song& song, ChaseState atStart, std::size_t firstEvent)
{
    const auto& events = song.events();
    std::size_t afterReset = firstEvent;
    for (std::size_t i = firstEvent;
         i < events.size() && events[i].timeUs == events[firstEvent].timeUs; ++i) {
        if (isSystemReset(song, events[i]))
            afterReset = i + 1;
    }
    for (std::size_t i = firstEvent; i < afterReset; ++i)
        atStart.apply(song, events[i]);
    m_atStart = std::move(atStart);
    m_firstEvent = afterReset;
    m_toStart.clear();
    m_atStart.emitRestore(m_toStart);
    m_atStart.emitNotes(m_toStart);
}

void LoopJump::clear()
{
    m_atStart.clear();
    m_toStart.clear();
    m_firstEvent = 0;
}

void LoopJump::apply(ChaseState& chase, Block& out, uint32_t frame) const
{
    chase.emitNoteOffs(out, frame);
    out.append(m_toStart, frame);
    chase = m_atStart;
}

} // namespace sequora::midi
