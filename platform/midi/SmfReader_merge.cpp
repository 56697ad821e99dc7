#include "platform/midi/SmfReader.h"

#include "platform/midi/TempoMap.h"

#include <algorithm>
#include <utility>

namespace sequora::midi {

namespace {
// Up to this many tracks a lockstep merge beats a heap; beyond, its rounds cost too much.
constexpr std::size_t kLockstepMergeTracks = 24;
constexpr uint8_t kFirstSystemStatus = 0xF0;
} // namespace

// Both merges give the same order: by tick, ties by track, then by file order.

// Songs with few tracks: each round emits, track by track, every event at the earliest
// pending tick. Tracks usually move in step, so a round serves many events.
template <typename Emit>
void SmfReader::mergeLockstep(Emit& emit)
{
    const std::size_t count = m_runs.size();
    std::vector<std::size_t> next(count);
    int64_t current = INT64_MAX;
    for (std::size_t r = 0; r < count; ++r) {
        next[r] = m_runs[r].begin;
        if (next[r] < m_runs[r].end)
            current = std::min(current, m_raw[next[r]].tick);
    }
    while (current != INT64_MAX) {
        int64_t upcoming = INT64_MAX;
        for (std::size_t r = 0; r < count; ++r) {
            std::size_t i = next[r];
            const std::size_t stop = m_runs[r].end;
            while (i < stop && m_raw[i].tick == current)
                emit(m_raw[i++]);
            next[r] = i;
            if (i < stop)
                upcoming = std::min(upcoming, m_raw[i].tick);
        }
        current = upcoming;
    }
}

// Many tracks: a heap of (next tick, track); each pop drains a track up to the next
// contender, so long runs cost one heap operation.
template <typename Emit>
void SmfReader::mergeHeap(Emit& emit)
{
    using Head = std::pair<int64_t, std::size_t>;
    std::vector<Head> heap;
    std::vector<std::size_t> next(m_runs.size());
    for (std::size_t r = 0; r < m_runs.size(); ++r) {
        next[r] = m_runs[r].begin;
        if (next[r] < m_runs[r].end)
            heap.push_back({m_raw[next[r]].tick, r});
    }
    auto later = [](const Head& a, const Head& b) { return a > b; };
    std::make_heap(heap.begin(), heap.end(), later);
    while (!heap.empty()) {
        std::pop_heap(heap.begin(), heap.end(), later);
        const std::size_t r = heap.back().second;
        heap.pop_back();
        std::size_t i = next[r];
        const std::size_t stop = m_runs[r].end;
        if (heap.empty()) {
            for (; i < stop; ++i)
                emit(m_raw[i]);
        } else {
            const Head rival = heap.front();
            for (; i < stop && Head(m_raw[i].tick, r) < rival; ++i)
                emit(m_raw[i]);
        }
        next[r] = i;
        if (i < stop) {
            heap.push_back({m_raw[i].tick, r});
            std::push_heap(heap.begin(), heap.end(), later);
        }
    }
}

void SmfReader::merge(const TempoMap& map)
{
    std::vector<MidiEvent>& out = m_out.m_events;
    out.reserve(m_raw.size());
    TempoMap::Cursor cursor(map);
    auto emit = [&](const RawEvent& e) __attribute__((always_inline)) {
        MidiEvent ev;
        ev.timeUs = cursor.timeUs(e.tick);
        ev.status = e.status;
        ev.data1 = e.data1;
        ev.data2 = e.data2;
        if (e.status >= kFirstSystemStatus) {
            ev.sysexOffset = m_sysexRefs[e.sysexRef].offset;
            ev.sysexLength = m_sysexRefs[e.sysexRef].length;
        }
        out.push_back(ev);
    };

    if (m_runs.size() <= kLockstepMergeTracks)
        mergeLockstep(emit);
    else
        mergeHeap(emit);
}

} // namespace sequora::midi
