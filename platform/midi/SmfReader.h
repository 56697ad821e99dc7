#pragma once
// Reads a Standard MIDI File image (optionally inside a RIFF RMID wrapper) into a Song.

#include "platform/midi/Song.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace sequora::midi {

class TempoMap;

/// One-shot reader: construct, call read() once. Tolerates the damage that real files
/// carry (missing End-of-Track, short last chunk, stray bytes) and reports it as
/// Repaired; refuses what cannot be a song with a status and a one-line message.
class SmfReader {
public:
    explicit SmfReader(Song& out) : m_out(out) {}
    ReadResult read(std::span<const uint8_t> bytes);

private:
    /// Events as read, before times are known: 16 bytes, no allocation per event.
    struct RawEvent {
        int64_t tick;
        uint8_t status;
        uint8_t data1;
        uint8_t data2;
        uint32_t sysexRef; ///< index into m_sysexRefs for F0/F7
    };
    struct SysexRef {
        uint32_t offset;
        uint32_t length;
    };
    struct TrackRun {
        std::size_t begin = 0; ///< range in m_raw
        std::size_t end = 0;
        int64_t endTick = 0;   ///< End-of-Track, or the last delta read
    };
    struct TempoChange {
        int64_t tick;
        uint32_t usPerQuarter;
    };

    static ReadResult fail(ReadStatus status, std::string message);
    bool unwrapRiff(std::span<const uint8_t>& bytes, ReadResult& error);
    ReadResult readHeader(std::span<const uint8_t> bytes, std::size_t& pos);
    void readChunks(std::span<const uint8_t> bytes, std::size_t pos);
    /// Appends one track's events to m_raw; returns its end tick.
    int64_t readTrack(const uint8_t* p, const uint8_t* end, int64_t startTick);
    void addSysex(int64_t tick, uint8_t status, const uint8_t* p, uint32_t length);
    void merge(const TempoMap& map);
    template <typename Emit> void mergeLockstep(Emit& emit);
    template <typename Emit> void mergeHeap(Emit& emit);
    void repaired(const char* why);
    /// True (and remembered) once the event limit is reached.
    bool full();

    Song& m_out;
    std::vector<RawEvent> m_raw;
    std::vector<SysexRef> m_sysexRefs;
    std::vector<TrackRun> m_runs;
    std::vector<TempoChange> m_tempos;
    int m_declaredTracks = 0;
    uint16_t m_division = 0;
    bool m_sequential = false; ///< format 2: each track starts where the previous ended
    bool m_repaired = false;
    bool m_tooManyEvents = false;
    std::string m_repairNote;
};

} // namespace sequora::midi
