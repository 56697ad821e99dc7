#pragma once
// What marks a song's loop, gathered while its tracks are read: "loopStart" and "loopEnd"
// markers or texts in any track, and controller 111 on any channel. Once the tempo map
// is known, one reading of them gives the loop, or none.
//
// The reading:
// - markers first: the loop starts at the earliest loopStart (at the song's start when
//   there is only a loopEnd) and ends at the earliest loopEnd after that; with no loopEnd
//   at all it runs to the song's end. Copies of a marker in several tracks are one mark.
//   loopEnd marks that all lie at or before the start make no loop.
// - else the first CC 111 starts a loop that runs to the song's end; later ones are
//   nothing (songs send it again and again).
// - a loop shorter than a beat or than half a second is no loop: it would stutter.

#include "platform/midi/file/Song.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace sequora::midi {

class TempoMap;

class LoopMarks {
public:
    static constexpr int64_t kMinLoopUs = 500'000;

    /// A meta event of a track: markers (06) and texts (01) may be loop marks.
    void meta(int64_t tick, uint8_t type, const uint8_t* data, uint32_t length);
    /// A CC 111 at @p tick.
    void loopController(int64_t tick)
    {
        if (tick < m_firstController)
            m_firstController = tick;
    }

    /// The loop these marks give in a song ending at @p endTick, with @p ticksPerBeat
    /// ticks to a quarter note (0 for SMPTE time, which has no beat).
    std::optional<SongLoop> resolve(
        const TempoMap& map, int64_t endTick, int64_t ticksPerBeat) const;

private:
    static constexpr int64_t kNone = INT64_MAX;
    static constexpr std::size_t kMaxEnds = 1024;

    std::optional<SongLoop> fromMarkers(
        const TempoMap& map, int64_t endTick, int64_t ticksPerBeat) const;
    static std::optional<SongLoop> checked(
        const TempoMap& map, int64_t startTick, int64_t endTick, int64_t ticksPerBeat);

    int64_t m_firstStart = kNone;
    std::vector<int64_t> m_ends; ///< every loopEnd's tick, in reading order
    int64_t m_firstController = kNone;
};

} // namespace sequora::midi
