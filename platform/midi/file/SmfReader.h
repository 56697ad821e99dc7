#pragma once
// Reads a Standard MIDI File image (optionally inside a RIFF RMID wrapper) into a Song.

#include "platform/midi/file/Song.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace sequora::midi {

class TempoMap;
class TrackDecoder;
struct TrackEvent;

/// One-shot reader: construct, call read() once. Tolerates the damage that real files
/// carry (missing End-of-Track, short last chunk, stray bytes) and reports it as
/// Repaired; refuses what cannot be a song with a status and a one-line message.
///
/// Two passes over the tracks: the first learns the tempo map, the event count and the
/// damage; the second decodes the tracks again and merges them straight into the song,
/// so no intermediate copy of the events is ever made.
class SmfReader {
public:
    explicit SmfReader(Song& out) : m_out(out) {}
    ReadResult read(std::span<const uint8_t> bytes);

private:
    struct Track {
        const uint8_t* begin = nullptr;
        const uint8_t* end = nullptr;
        int64_t startTick = 0; ///< 0, or where the previous pattern ended (format 2)
        int64_t endTick = 0;   ///< End-of-Track, or the last delta read
    };
    struct TempoChange {
        int64_t tick;
        uint32_t usPerQuarter;
    };
    /// Collects tempo changes and damage during the first pass.
    struct ScanNotes {
        SmfReader& reader;
        void tempo(int64_t tick, uint32_t usPerQuarter);
        void damage(const char* why) { reader.repaired(why); }
    };

    static ReadResult fail(ReadStatus status, std::string message);
    bool unwrapRiff(std::span<const uint8_t>& bytes, ReadResult& error);
    ReadResult readHeader(std::span<const uint8_t> bytes, std::size_t& pos);
    void scanChunks(std::span<const uint8_t> bytes, std::size_t pos);
    void scanTrack(Track& track);
    void merge(const TempoMap& map);
    template <typename Emit>
    void mergeLockstep(std::vector<TrackDecoder>& decoders, std::vector<TrackEvent>& heads, Emit& emit);
    template <typename Emit>
    void mergeHeap(std::vector<TrackDecoder>& decoders, std::vector<TrackEvent>& heads, Emit& emit);
    void repaired(const char* why);
    /// Room for one more event or tempo change? False (and remembered) at Song::kMaxEvents.
    bool admit();

    Song& m_out;
    std::vector<Track> m_tracks;
    std::vector<TempoChange> m_tempos;
    std::size_t m_eventCount = 0;
    std::size_t m_sysexBytes = 0;
    int m_declaredTracks = 0;
    uint16_t m_division = 0;
    bool m_sequential = false; ///< format 2: each track starts where the previous ended
    bool m_repaired = false;
    bool m_tooManyEvents = false;
    std::string m_repairNote;
};

} // namespace sequora::midi
