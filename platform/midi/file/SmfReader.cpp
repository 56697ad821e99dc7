#include "platform/midi/file/SmfReader.h"

#include "platform/midi/file/MidiBytes.h"
#include "platform/midi/file/TempoMap.h"
#include "platform/midi/file/TrackDecoder.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace sequora::midi {

namespace {

constexpr std::size_t kChunkHeader = 8;
constexpr std::size_t kMinHeaderLength = 6;
constexpr std::size_t kRiffHeader = 12; // "RIFF" size "RMID"
constexpr uint16_t kSmpteFlag = 0x8000;

uint32_t be32(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
uint32_t le32(const uint8_t* p)
{
    return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}
uint16_t be16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }
bool isId(const uint8_t* p, const char* id) { return std::memcmp(p, id, 4) == 0; }

} // namespace

ReadResult SmfReader::fail(ReadStatus status, std::string message)
{
    return {status, std::move(message)};
}

void SmfReader::repaired(const char* why)
{
    if (!m_repaired)
        m_repairNote = why;
    m_repaired = true;
}

ReadResult SmfReader::begin(std::span<const uint8_t>& bytes, std::size_t& pos)
{
    m_out = Song();
    if (bytes.empty())
        return fail(ReadStatus::Empty, "the file is empty");
    if (bytes.size() > Song::kMaxFileSize)
        return fail(ReadStatus::TooLarge, "the file is too large to be a MIDI song");
    ReadResult error;
    if (!unwrapRiff(bytes, error))
        return error;
    pos = 0;
    ReadResult header = readHeader(bytes, pos);
    if (header.status != ReadStatus::Complete)
        return header;

    scanChunks(bytes, pos);
    if (m_tooManyEvents || m_tracks.empty()) {
        m_out = Song();
        return m_tooManyEvents
                   ? fail(ReadStatus::TooLarge, "the file holds too many events to be a song")
                   : fail(ReadStatus::NoTracks, "not a playable MIDI file: it holds no track");
    }
    return {ReadStatus::Complete, {}};
}

TempoMap SmfReader::tempoMap()
{
    const bool smpte = (m_division & kSmpteFlag) != 0;
    TempoMap map = smpte ? TempoMap::smpte(-int8_t(m_division >> 8), m_division & 0xFF)
                         : TempoMap(m_division);
    // Tempo changes from every track apply to all of them; sorting stably keeps track
    // order among changes at one tick, so the last track's word holds.
    std::stable_sort(m_tempos.begin(), m_tempos.end(),
                     [](const TempoChange& a, const TempoChange& b) { return a.tick < b.tick; });
    for (const TempoChange& t : m_tempos)
        map.addTempo(t.tick, t.usPerQuarter);
    return map;
}

ReadResult SmfReader::read(std::span<const uint8_t> bytes)
{
    std::size_t pos = 0;
    if (ReadResult r = begin(bytes, pos); r.status != ReadStatus::Complete)
        return r;
    const TempoMap map = tempoMap();
    merge(map);
    int64_t endTick = 0;
    for (const Track& track : m_tracks)
        endTick = std::max(endTick, track.endTick);
    m_out.m_lengthUs = map.timeUs(endTick);
    m_out.m_trackCount = int(m_tracks.size());
    m_out.m_loop = m_loopMarks.resolve(map, endTick, (m_division & kSmpteFlag) ? 0 : m_division);
    m_out.m_secondPort = m_halves == 3;
    if (m_repaired)
        return {ReadStatus::Repaired, "damaged MIDI file, played as far as possible: " + m_repairNote};
    return {ReadStatus::Complete, "ok"};
}

ReadResult SmfReader::readTexts(std::span<const uint8_t> bytes, SmfTextSink& sink, Song& out)
{
    SmfReader reader(out);
    reader.m_textSink = &sink;
    std::size_t pos = 0;
    if (ReadResult r = reader.begin(bytes, pos); r.status != ReadStatus::Complete)
        return r;
    const TempoMap map = reader.tempoMap();
    int64_t endTick = 0;
    for (const Track& track : reader.m_tracks)
        endTick = std::max(endTick, track.endTick);
    out.m_lengthUs = map.timeUs(endTick);
    out.m_trackCount = int(reader.m_tracks.size());
    out.m_loop = reader.m_loopMarks.resolve(
        map, endTick, (reader.m_division & kSmpteFlag) ? 0 : reader.m_division);
    sink.timeline(map, reader.m_lastNoteTick);
    if (reader.m_repaired)
        return {ReadStatus::Repaired, "damaged MIDI file: " + reader.m_repairNote};
    return {ReadStatus::Complete, "ok"};
}

bool SmfReader::unwrapRiff(std::span<const uint8_t>& bytes, ReadResult& error)
{
    if (bytes.size() < 4 || !isId(bytes.data(), "RIFF"))
        return true;
    if (bytes.size() < kRiffHeader || !isId(bytes.data() + 8, "RMID")) {
        error = fail(ReadStatus::NotMidi, "not a MIDI file: a RIFF file of another kind");
        return false;
    }
    std::size_t pos = kRiffHeader;
    while (pos + kChunkHeader <= bytes.size()) {
        const std::size_t length = le32(bytes.data() + pos + 4);
        const std::size_t body = pos + kChunkHeader;
        if (isId(bytes.data() + pos, "data")) {
            const std::size_t available = std::min(length, bytes.size() - body);
            if (available < length)
                repaired("the RMID data chunk is cut short");
            bytes = bytes.subspan(body, available);
            return true;
        }
        pos = body + length + (length & 1); // RIFF chunks are padded to even sizes
    }
    error = fail(ReadStatus::NotMidi, "not a MIDI file: an RMID file without MIDI data");
    return false;
}

ReadResult SmfReader::readHeader(std::span<const uint8_t> bytes, std::size_t& pos)
{
    const uint8_t* p = bytes.data();
    if (bytes.size() < 4 || !isId(p, "MThd"))
        return fail(ReadStatus::NotMidi, "not a MIDI file: no MThd header");
    if (bytes.size() < kChunkHeader + kMinHeaderLength)
        return fail(ReadStatus::NotMidi, "not a MIDI file: the header is cut short");
    const std::size_t length = be32(p + 4);
    if (length < kMinHeaderLength)
        return fail(ReadStatus::NotMidi, "not a MIDI file: the header is too short");
    const int format = be16(p + 8);
    m_declaredTracks = be16(p + 10);
    m_division = be16(p + 12);
    if (m_declaredTracks == 0)
        return fail(ReadStatus::NoTracks, "not a playable MIDI file: the header declares no track");
    if (m_division & kSmpteFlag) {
        const int fps = -int8_t(m_division >> 8);
        if ((fps != 24 && fps != 25 && fps != 29 && fps != 30) || (m_division & 0xFF) == 0)
            return fail(ReadStatus::BadDivision, "not a playable MIDI file: invalid SMPTE time division");
    } else if (m_division == 0) {
        return fail(ReadStatus::BadDivision, "not a playable MIDI file: time division is 0");
    }
    if (format > 2)
        repaired("unknown format, read as format 1");
    m_sequential = format == 2;
    m_out.m_format = format > 2 ? 1 : format;
    pos = kChunkHeader + length; // a longer header may carry fields we do not know
    return {ReadStatus::Complete, {}};
}

void SmfReader::scanChunks(std::span<const uint8_t> bytes, std::size_t pos)
{
    int64_t startTick = 0;
    // The texts' pass reads on past the declared tracks: XF keeps its information header
    // and karaoke messages in chunks of their own after them.
    const auto wanted = [&] {
        return (int(m_tracks.size()) < m_declaredTracks || m_textSink != nullptr)
            && !m_tooManyEvents;
    };
    while (pos + kChunkHeader <= bytes.size() && wanted()) {
        const uint8_t* header = bytes.data() + pos;
        const std::size_t length = be32(header + 4);
        const std::size_t body = pos + kChunkHeader;
        const std::size_t available = std::min(length, bytes.size() - body);
        Track track;
        track.begin = bytes.data() + body;
        track.end = track.begin + available;
        if (isId(header, "MTrk") && int(m_tracks.size()) < m_declaredTracks) {
            if (available < length)
                repaired("a track runs past the end of the file");
            track.startTick = startTick;
            if (m_textSink != nullptr)
                scanTextTrack(track, int(m_tracks.size()));
            else
                scanTrack(track);
            m_tracks.push_back(track);
            // Format 2 patterns play one after another on one timeline; a pattern
            // without a tempo of its own keeps the tempo in force.
            if (m_sequential)
                startTick = track.endTick;
        } else if (m_textSink != nullptr && isId(header, "XFIH")) {
            scanTextTrack(track, SmfTextSink::kXfInformationChunk);
        } else if (m_textSink != nullptr && isId(header, "XFKM")) {
            scanTextTrack(track, SmfTextSink::kXfKaraokeChunk);
        }
        // Any other chunk is someone's extension: skip it.
        if (available < length)
            break;
        pos = body + length;
    }
    if (!m_tracks.empty() && int(m_tracks.size()) < m_declaredTracks)
        repaired("fewer tracks than the header declares");
}

void SmfReader::scanTrack(Track& track)
{
    TrackDecoder decoder(track.begin, track.end, track.startTick);
    ScanNotes notes{*this};
    TrackEvent ev;
    while (decoder.next(ev, notes)) {
        if (!admit())
            return;
        ++m_eventCount;
        m_halves |= uint8_t(1u << halfOfPort(ev.port));
        if (ev.status >= 0xF0)
            m_sysexBytes += ev.sysexLength;
        else if (commandOf(ev.status) == kControlChange && ev.data1 == kCcLoopStart)
            m_loopMarks.loopController(ev.tick);
    }
    if (!decoder.sawEndOfTrack())
        repaired("a track ends without End-of-Track");
    track.endTick = decoder.tick();
}

void SmfReader::scanTextTrack(Track& track, int number)
{
    // Nothing is kept of the channel messages, so their number is no limit here; the
    // sink bounds what it keeps of the rest.
    TrackDecoder decoder(track.begin, track.end, track.startTick);
    TextNotes notes{*this, *m_textSink, number};
    TrackEvent ev;
    while (decoder.next(ev, notes)) {
        if (ev.status >= 0xF0)
            m_textSink->sysex(number, ev.tick, {ev.sysex, ev.sysexLength});
        else if (number >= 0 && ((ev.status & 0xF0) == 0x80 || (ev.status & 0xF0) == 0x90))
            m_lastNoteTick = std::max(m_lastNoteTick, ev.tick);
        else if (number >= 0 && commandOf(ev.status) == kControlChange && ev.data1 == kCcLoopStart)
            m_loopMarks.loopController(ev.tick);
    }
    if (number >= 0 && !decoder.sawEndOfTrack())
        repaired("a track ends without End-of-Track");
    track.endTick = decoder.tick();
}

void SmfReader::TextNotes::tempo(int64_t tick, uint32_t usPerQuarter)
{
    // XF's chunks carry texts only: a tempo there is no part of the song.
    if (track >= 0 && reader.admit())
        reader.m_tempos.push_back({tick, usPerQuarter});
}

void SmfReader::ScanNotes::tempo(int64_t tick, uint32_t usPerQuarter)
{
    if (reader.admit())
        reader.m_tempos.push_back({tick, usPerQuarter});
}

bool SmfReader::admit()
{
    if (m_eventCount + m_tempos.size() < Song::kMaxEvents)
        return true;
    m_tooManyEvents = true;
    return false;
}

} // namespace sequora::midi
