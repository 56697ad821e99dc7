#include "platform/midi/transport/LoopJump.h"

namespace sequora::midi {

void LoopJump::prepare(const ChaseState& atStart, std::size_t firstEvent)
{
    m_atStart = atStart;
    m_firstEvent = firstEvent;
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
