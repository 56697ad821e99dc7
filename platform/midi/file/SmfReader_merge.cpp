#include "platform/midi/file/SmfReader.h"

#include "platform/midi/file/MemoryHint.h"
#include "platform/midi/file/TempoMap.h"
#include "platform/midi/file/TrackDecoder.h"

#include <algorithm>
#include <utility>

namespace sequora::midi {

namespace {
// Up to this many tracks a lockstep merge beats a heap; beyond, its rounds cost too much.
constexpr std::size_t kLockstepMergeTracks = 24;
constexpr int64_t kNoTick = INT64_MAX;
} // namespace

// Both merges give the same order: by tick, ties by track, then by file order.
// heads[r] holds track r's next event; its tick is kNoTick once the track is done.

// Songs with few tracks: each round emits, track by track, every event at the earliest
// pending tick. Tracks usually move in step, so a round serves many events.
template <typename Emit>
void SmfReader::mergeLockstep(std::vector<TrackDecoder>& decoders, std::vector<TrackEvent>& heads,
                              Emit& emit)
{
    IgnoreTrackNotes ignore;
    int64_t current = kNoTick;
    for (const TrackEvent& head : heads)
        current = std::min(current, head.tick);
    while (current != kNoTick) {
        int64_t upcoming = kNoTick;
        for (std::size_t r = 0; r < heads.size(); ++r) {
            TrackEvent& head = heads[r];
            while (head.tick == current) {
                emit(head);
                if (!decoders[r].next(head, ignore))
                    head.tick = kNoTick;
            }
            upcoming = std::min(upcoming, head.tick);
        }
        current = upcoming;
    }
}

// Many tracks: a heap of (next tick, track); each pop drains a track up to the next
// contender, so long runs cost one heap operation.
template <typename Emit>
void SmfReader::mergeHeap(std::vector<TrackDecoder>& decoders, std::vector<TrackEvent>& heads, Emit& emit)
{
    IgnoreTrackNotes ignore;
    using Key = std::pair<int64_t, std::size_t>;
    std::vector<Key> heap;
    for (std::size_t r = 0; r < heads.size(); ++r)
        if (heads[r].tick != kNoTick)
            heap.push_back({heads[r].tick, r});
    auto later = [](const Key& a, const Key& b) { return a > b; };
    std::make_heap(heap.begin(), heap.end(), later);
    while (!heap.empty()) {
        std::pop_heap(heap.begin(), heap.end(), later);
        const std::size_t r = heap.back().second;
        heap.pop_back();
        const Key rival = heap.empty() ? Key(kNoTick, 0) : heap.front();
        TrackEvent& head = heads[r];
        while (head.tick != kNoTick && Key(head.tick, r) < rival) {
            emit(head);
            if (!decoders[r].next(head, ignore))
                head.tick = kNoTick;
        }
        if (head.tick != kNoTick) {
            heap.push_back({head.tick, r});
            std::push_heap(heap.begin(), heap.end(), later);
        }
    }
}

void SmfReader::merge(const TempoMap& map)
{
    std::vector<MidiEvent>& out = m_out.m_events;
    std::vector<uint8_t>& sysex = m_out.m_sysex;
    out.reserve(m_eventCount);
    adviseHugePages(out.data(), out.capacity() * sizeof(MidiEvent));
    sysex.reserve(m_sysexBytes);
    TempoMap::Cursor cursor(map);
    auto emit = [&](const TrackEvent& e) __attribute__((always_inline)) {
    // Only a song that uses both halves gets ports: one that sends everything to port 1
    // (or 3) is an ordinary 16-part song.
    const uint8_t portMask = m_halves == 3 ? 1 : 0;
        MidiEvent ev;
        ev.timeUs = cursor.timeUs(e.tick);
        ev.status = e.status;
        ev.data1 = e.data1;
        ev.data2 = e.data2;
        ev.port = e.port & portMask;
        if (e.status >= 0xF0) {
            ev.sysexOffset = uint32_t(sysex.size());
            ev.sysexLength = e.sysexLength;
            sysex.insert(sysex.end(), e.sysex, e.sysex + e.sysexLength);
        }
        out.push_back(ev);
    };

    // Decoding again gives the same events the first pass counted; damage was noted then.
    IgnoreTrackNotes ignore;
    std::vector<TrackDecoder> decoders;
    std::vector<TrackEvent> heads(m_tracks.size());
    decoders.reserve(m_tracks.size());
    for (std::size_t r = 0; r < m_tracks.size(); ++r) {
        decoders.emplace_back(m_tracks[r].begin, m_tracks[r].end, m_tracks[r].startTick);
        if (!decoders[r].next(heads[r], ignore))
            heads[r].tick = kNoTick;
    }
    if (m_tracks.size() <= kLockstepMergeTracks)
        mergeLockstep(decoders, heads, emit);
    else
        mergeHeap(decoders, heads, emit);
}

} // namespace sequora::midi
