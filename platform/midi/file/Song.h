#pragma once
// A Standard MIDI File read into one time-ordered list of playable events.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace sequora::midi {

/// One playable event. Meta events are consumed while reading (tempo builds the
/// time map) and do not appear here; channel messages and SysEx do.
struct MidiEvent {
    int64_t timeUs = 0;       ///< absolute time from the start of the song, in microseconds
    uint8_t status = 0;       ///< 0x80..0xEF channel message, 0xF0 or 0xF7 SysEx
    uint8_t data1 = 0;
    uint8_t data2 = 0;
    uint8_t port = 0; ///< 0, or 1 for a message to parts 17-32 (fits in padding)
    uint32_t sysexOffset = 0; ///< SysEx payload in Song::sysexData() (without the leading F0)
    uint32_t sysexLength = 0;
};

/// The stretch of a song its file marks to be repeated, as game music is: from startUs
/// up to endUs. Events at startUs belong to the loop; events at endUs come after it.
struct SongLoop {
    int64_t startUs = 0;
    int64_t endUs = 0;
    int64_t lengthUs() const { return endUs - startUs; }
    bool operator==(const SongLoop&) const = default;
};

/// How far reading got. Anything but Complete/Repaired means the song cannot be played.
enum class ReadStatus {
    Complete,      ///< well-formed file
    Repaired,      ///< damage tolerated (missing End-of-Track, short last chunk, ...)
    NotFound,      ///< no such file
    NotRegularFile,///< directory, FIFO, device: never opened for reading
    Unreadable,    ///< permission or I/O error
    Empty,
    TooLarge,      ///< bigger than kMaxFileSize: cannot be a song
    NotMidi,       ///< no MThd (or RIFF RMID wrapping one)
    NoTracks,
    BadDivision,
};

struct ReadResult {
    ReadStatus status = ReadStatus::NotFound;
    std::string message; ///< one line, for users and logs
    bool playable() const { return status == ReadStatus::Complete || status == ReadStatus::Repaired; }
};

/// A whole file in memory, read in one go (the buffer is not zeroed first).
struct FileBytes {
    std::unique_ptr<uint8_t[]> data;
    std::size_t size = 0;
    std::span<const uint8_t> bytes() const { return {data.get(), size}; }
};

class Song {
public:
    static constexpr std::size_t kMaxFileSize = 64u * 1024u * 1024u;
    /// More events than this (channel, SysEx and tempo together) make no song; refusing
    /// them bounds memory, which costs about 40 bytes per event while reading.
    static constexpr std::size_t kMaxEvents = 8u * 1024u * 1024u;

    /// Reads a file. Special files are refused without being opened for reading.
    static ReadResult load(const std::string& path, Song& out);
    /// Reads a file's bytes with the same checks as load(): no special files, nothing
    /// empty or larger than kMaxFileSize. Status Complete when @p out holds the file.
    static ReadResult readFile(const std::string& path, FileBytes& out);
    /// Reads an SMF (or RIFF RMID) image from memory.
    static ReadResult parse(std::span<const uint8_t> bytes, Song& out);

    /// Builds a song from events already in time order (renderer tests, generators).
    static Song fromEvents(std::vector<MidiEvent> events, std::vector<uint8_t> sysex,
                           int64_t lengthUs)
    {
        Song song;
        song.m_events = std::move(events);
        song.m_sysex = std::move(sysex);
        song.m_lengthUs = lengthUs;
        return song;
    }

    const std::vector<MidiEvent>& events() const { return m_events; }
    const std::vector<uint8_t>& sysexData() const { return m_sysex; }
    /// Latest End-of-Track over all tracks, in real time.
    int64_t lengthUs() const { return m_lengthUs; }
    int format() const { return m_format; }
    int trackCount() const { return m_trackCount; }
    /// The loop the file marks (loopStart/loopEnd markers, or CC 111), if any.
    const std::optional<SongLoop>& loop() const { return m_loop; }
    /// Marks a loop on a song built from events (generators, tests).
    void setLoop(std::optional<SongLoop> loop) { m_loop = loop; }
    /// True when the song's events address two ports, so it has 32 parts; a song whose
    /// messages all go to one port, whichever, plays as 16 parts on port 0.
    bool usesSecondPort() const { return m_secondPort; }
    /// Marks a song built from events as one whose events carry ports.
    void setUsesSecondPort(bool on) { m_secondPort = on; }

private:
    friend class SmfReader;
    std::vector<MidiEvent> m_events;
    std::vector<uint8_t> m_sysex;
    int64_t m_lengthUs = 0;
    std::optional<SongLoop> m_loop;
    int m_format = 0;
    int m_trackCount = 0;
    bool m_secondPort = false;
};

static_assert(sizeof(MidiEvent) == 24, "the port rides in the event's padding");

} // namespace sequora::midi
