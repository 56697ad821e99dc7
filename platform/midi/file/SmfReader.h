#pragma once
// Reads a Standard MIDI File image (optionally inside a RIFF RMID wrapper) into a Song.

#include "platform/midi/file/LoopMarks.h"
#include "platform/midi/file/Song.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace sequora::midi {

class TempoMap;
class TrackDecoder;
struct TrackEvent;

/// What a song's playable events leave out, for the reader of its texts: meta events
/// other than tempo and End-of-Track, and every SysEx, each with its track and tick, in
/// file order within a track. XF's own chunks (XFIH, XFKM) come as tracks of their own.
class SmfTextSink {
public:
    static constexpr int kXfInformationChunk = -1; ///< track number of an XFIH chunk
    static constexpr int kXfKaraokeChunk = -2;     ///< track number of an XFKM chunk

    virtual ~SmfTextSink() = default;
    virtual void meta(int track, int64_t tick, uint8_t type, std::span<const uint8_t> data) = 0;
    virtual void sysex(int track, int64_t tick, std::span<const uint8_t> data) = 0;
    /// Called once, after the last event: turns the ticks handed over into time.
    /// @p lastNoteTick is when the song's last note ends, -1 when it has none.
    virtual void timeline(const TempoMap& map, int64_t lastNoteTick) = 0;
};

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
    /// Reads only what the song's texts need: one pass over the tracks that hands their
    /// texts and SysEx to @p sink, then the tempo map. No events are kept; @p out gets
    /// the format, the track count, the length and the loop.
    static ReadResult readTexts(std::span<const uint8_t> bytes, SmfTextSink& sink, Song& out);

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
    /// Collects tempo changes, loop marks and damage during the first pass.
    struct ScanNotes {
        SmfReader& reader;
        void tempo(int64_t tick, uint32_t usPerQuarter);
        void damage(const char* why) { reader.repaired(why); }
        void meta(int64_t tick, uint8_t type, const uint8_t* data, uint32_t length)
        {
            reader.m_loopMarks.meta(tick, type, data, length);
        }
    };
    /// The same for the texts' pass, which also hands the texts on.
    struct TextNotes {
        SmfReader& reader;
        SmfTextSink& sink;
        int track;
        void tempo(int64_t tick, uint32_t usPerQuarter);
        void damage(const char* why) { reader.repaired(why); }
        void meta(int64_t tick, uint8_t type, const uint8_t* data, uint32_t length)
        {
            sink.meta(track, tick, type, {data, length});
            if (track >= 0)
                reader.m_loopMarks.meta(tick, type, data, length);
        }
    };

    static ReadResult fail(ReadStatus status, std::string message);
    bool unwrapRiff(std::span<const uint8_t>& bytes, ReadResult& error);
    ReadResult readHeader(std::span<const uint8_t> bytes, std::size_t& pos);
    ReadResult begin(std::span<const uint8_t>& bytes, std::size_t& pos);
    void scanChunks(std::span<const uint8_t> bytes, std::size_t pos);
    void scanTrack(Track& track);
    void scanTextTrack(Track& track, int number);
    TempoMap tempoMap();
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
    LoopMarks m_loopMarks;
    std::size_t m_eventCount = 0;
    std::size_t m_sysexBytes = 0;
    int m_declaredTracks = 0;
    uint16_t m_division = 0;
    bool m_sequential = false; ///< format 2: each track starts where the previous ended
    bool m_repaired = false;
    bool m_tooManyEvents = false;
    std::string m_repairNote;
    SmfTextSink* m_textSink = nullptr; ///< set for the texts' pass only
    int64_t m_lastNoteTick = -1; ///< the texts' pass: when the last note ends
    uint8_t m_halves = 0; ///< bit 0: some message goes to port 0's half, bit 1: port 1's
};

} // namespace sequora::midi
