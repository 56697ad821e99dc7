#pragma once
// The jump back from a loop's end to its start, without a gap and without silencing the
// synthesiser: the notes still sounding get their note-offs (their releases ring on),
// then the synthesiser is restored to the state at the loop start, and the notes held
// there are struck again, so every pass sounds like the first. The messages for the loop
// start are made once, at open, so the audio thread only copies them.

#include "platform/midi/output/Output.h"
#include "platform/midi/transport/ChaseState.h"

#include "platform/midi/file/Song.h"

#include <cstddef>
#include <cstdint>

namespace sequora::midi {

class LoopJump {
public:
    /// @p atStart: what @p song has set before the loop's first event, which is event
    /// @p firstEvent. A system reset at the loop's very start is taken into the restore:
    /// sent as it stands at every pass, it would cut the sounds the jump lets ring.
    void prepare(const Song& song, ChaseState atStart, std::size_t firstEvent);
    void clear();
    /// The index of the loop's first event: where playing goes on after the jump.
    std::size_t firstEvent() const { return m_firstEvent; }

    /// Appends the jump at @p frame of @p out, leaving @p chase (what the synthesiser
    /// has been told) as the state at the loop start.
    void apply(ChaseState& chase, Block& out, uint32_t frame) const;

private:
    ChaseState m_atStart;
    Block m_toStart; ///< the restore, the chased state and the held notes
    std::size_t m_firstEvent = 0;
};

} // namespace sequora::midi
