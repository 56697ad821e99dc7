#pragma once
// Converts MIDI ticks to microseconds, exactly, through the song's tempo changes.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sequora::midi {

/// Piecewise-linear tick -> time map. Every segment keeps its start time as an exact
/// integer multiple of 1/denominator microseconds, so times are floor(exact time) with no
/// rounding carried from one tempo change to the next, however many there are.
class TempoMap {
public:
    static constexpr uint32_t kDefaultTempo = 500000; ///< 120 beats per minute
    static constexpr int64_t kMaxTimeUs = INT64_MAX / 2; ///< times saturate here

    /// Metrical time: ticks per quarter note (> 0), tempo changes apply.
    explicit TempoMap(uint32_t ticksPerQuarter);
    /// SMPTE time: framesPerSecond 24, 25, 29 (= 30000/1001) or 30; tempo is ignored.
    static TempoMap smpte(int framesPerSecond, uint32_t ticksPerFrame);

    /// Adds a tempo change (microseconds per quarter note, > 0). Calls must come in
    /// non-decreasing tick order; of several changes at one tick the last one holds.
    void addTempo(int64_t tick, uint32_t usPerQuarter);

    /// Absolute time of a tick (any order; binary search).
    int64_t timeUs(int64_t tick) const;

    std::size_t segmentCount() const { return m_segments.size(); }

    /// Fast conversion for ticks visited in non-decreasing order.
    class Cursor {
    public:
        explicit Cursor(const TempoMap& map) : m_map(map) {}
        int64_t timeUs(int64_t tick)
        {
            return tick == m_lastTick ? m_lastTime : advance(tick);
        }

    private:
        int64_t advance(int64_t tick);

        const TempoMap& m_map;
        std::size_t m_segment = 0;
        int64_t m_lastTick = -1;
        int64_t m_lastTime = 0;
    };

private:
    __extension__ typedef unsigned __int128 Wide;
    struct Segment {
        int64_t tick = 0;
        Wide base = 0;     ///< start time * m_denominator
        uint64_t rate = 0; ///< microseconds * m_denominator per tick
    };

    TempoMap(uint64_t rate, uint64_t denominator);
    int64_t timeIn(const Segment& s, int64_t tick) const;

    std::vector<Segment> m_segments;
    uint64_t m_denominator = 1;
    bool m_fixed = false; ///< SMPTE: one segment, tempo changes ignored
};

} // namespace sequora::midi
