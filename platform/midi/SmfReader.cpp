#include "platform/midi/SmfReader.h"

#include "platform/midi/TempoMap.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace sequora::midi {

namespace {

constexpr std::size_t kChunkHeader = 8;
constexpr std::size_t kMinHeaderLength = 6;
constexpr std::size_t kRiffHeader = 12; // "RIFF" size "RMID"
constexpr int kMaxVarLenBytes = 4;
constexpr uint8_t kMetaEvent = 0xFF;
constexpr uint8_t kMetaEndOfTrack = 0x2F;
constexpr uint8_t kMetaTempo = 0x51;
constexpr uint8_t kSysex = 0xF0;
constexpr uint8_t kSysexEscape = 0xF7;
constexpr uint16_t kSmpteFlag = 0x8000;
// Smallest event (delta + one data byte under running status): bounds the event count.
constexpr std::size_t kMinBytesPerEvent = 2;

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

// Variable-length quantity of at most four bytes (a longer one is cut there rather than
// trusted). False when the data ends first.
inline bool readVarLen(const uint8_t*& p, const uint8_t* end, uint32_t& value)
{
    value = 0;
    for (int i = 0; i < kMaxVarLenBytes; ++i) {
        if (p >= end)
            return false;
        const uint8_t b = *p++;
        value = value << 7 | (b & 0x7F);
        if (!(b & 0x80))
            return true;
    }
    return true;
}

// Data bytes that follow a channel status (0xC0 and 0xD0 carry one).
inline int dataLength(uint8_t status) { return (status & 0xE0) == 0xC0 ? 1 : 2; }

// Data bytes of system common messages, which have no place in a file but do occur.
inline int systemDataLength(uint8_t status)
{
    switch (status) {
    case 0xF1: case 0xF3: return 1;
    case 0xF2: return 2;
    default: return 0;
    }
}

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

ReadResult SmfReader::read(std::span<const uint8_t> bytes)
{
    m_out = Song();
    if (bytes.empty())
        return fail(ReadStatus::Empty, "the file is empty");
    if (bytes.size() > Song::kMaxFileSize)
        return fail(ReadStatus::TooLarge, "the file is too large to be a MIDI song");
    ReadResult error;
    if (!unwrapRiff(bytes, error))
        return error;
    std::size_t pos = 0;
    ReadResult header = readHeader(bytes, pos);
    if (header.status != ReadStatus::Complete)
        return header;

    // Room for the densest encoding: never reallocated, and untouched pages cost nothing.
    m_raw.reserve(std::min(bytes.size() / kMinBytesPerEvent + 1, Song::kMaxEvents));
    readChunks(bytes, pos);
    if (m_tooManyEvents) {
        m_out = Song();
        return fail(ReadStatus::TooLarge, "the file holds too many events to be a song");
    }
    if (m_runs.empty())
        return fail(ReadStatus::NoTracks, "not a playable MIDI file: it holds no track");

    const bool smpte = (m_division & kSmpteFlag) != 0;
    TempoMap map = smpte ? TempoMap::smpte(-int8_t(m_division >> 8), m_division & 0xFF)
                         : TempoMap(m_division);
    // Tempo changes from every track apply to all of them; sorting stably keeps track
    // order among changes at one tick, so the last track's word holds.
    std::stable_sort(m_tempos.begin(), m_tempos.end(),
                     [](const TempoChange& a, const TempoChange& b) { return a.tick < b.tick; });
    for (const TempoChange& t : m_tempos)
        map.addTempo(t.tick, t.usPerQuarter);

    merge(map);
    int64_t endTick = 0;
    for (const TrackRun& run : m_runs)
        endTick = std::max(endTick, run.endTick);
    m_out.m_lengthUs = map.timeUs(endTick);
    m_out.m_trackCount = int(m_runs.size());
    if (m_repaired)
        return {ReadStatus::Repaired, "damaged MIDI file, played as far as possible: " + m_repairNote};
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

void SmfReader::readChunks(std::span<const uint8_t> bytes, std::size_t pos)
{
    int64_t startTick = 0;
    while (pos + kChunkHeader <= bytes.size() && int(m_runs.size()) < m_declaredTracks
           && !m_tooManyEvents) {
        const uint8_t* header = bytes.data() + pos;
        const std::size_t length = be32(header + 4);
        const std::size_t body = pos + kChunkHeader;
        const std::size_t available = std::min(length, bytes.size() - body);
        if (isId(header, "MTrk")) {
            if (available < length)
                repaired("a track runs past the end of the file");
            TrackRun run;
            run.begin = m_raw.size();
            run.endTick = readTrack(bytes.data() + body, bytes.data() + body + available, startTick);
            run.end = m_raw.size();
            m_runs.push_back(run);
            // Format 2 patterns play one after another on one timeline; a pattern
            // without a tempo of its own keeps the tempo in force.
            if (m_sequential)
                startTick = run.endTick;
        }
        // Any other chunk is someone's extension: skip it.
        if (available < length)
            break;
        pos = body + length;
    }
    if (!m_runs.empty() && int(m_runs.size()) < m_declaredTracks)
        repaired("fewer tracks than the header declares");
}

int64_t SmfReader::readTrack(const uint8_t* p, const uint8_t* end, int64_t tick)
{
    uint8_t running = 0;
    bool ended = false;
    while (p < end) {
        uint32_t delta = 0;
        if (!readVarLen(p, end, delta) || p >= end)
            break;
        tick += delta;
        uint8_t status = *p;
        if (status & 0x80) {
            ++p;
        } else if (running != 0) {
            status = running;
        } else {
            ++p; // data with no status to run on: nothing to make of it
            repaired("data bytes without a status byte");
            continue;
        }

        if (status < kSysex) {
            running = status;
            const int need = dataLength(status);
            if (end - p < need) {
                p = end;
                break;
            }
            const uint8_t d1 = p[0];
            const uint8_t d2 = need == 2 ? p[1] : 0;
            p += need;
            if ((d1 | d2) & 0x80)
                repaired("a status byte where data belongs");
            if (full())
                return tick;
            m_raw.push_back({tick, status, uint8_t(d1 & 0x7F), uint8_t(d2 & 0x7F), 0});
        } else if (status == kMetaEvent) {
            // Running status survives meta and SysEx events: some writers rely on it,
            // and a well-formed file repeats the status anyway.
            if (p >= end)
                break;
            const uint8_t type = *p++;
            uint32_t length = 0;
            if (type == kMetaEndOfTrack) {
                if (p >= end)
                    repaired("the last byte is missing");
                ended = true;
                break;
            }
            if (!readVarLen(p, end, length) || length > uint32_t(end - p)) {
                p = end;
                break;
            }
            if (type == kMetaTempo && length >= 3) {
                const uint32_t tempo = uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
                if (tempo > 0 && !full())
                    m_tempos.push_back({tick, tempo});
            }
            p += length;
        } else if (status == kSysex || status == kSysexEscape) {
            uint32_t length = 0;
            if (!readVarLen(p, end, length) || length > uint32_t(end - p)) {
                p = end;
                break;
            }
            if (full())
                return tick;
            addSysex(tick, status, p, length);
            p += length;
        } else {
            repaired("system messages inside a track");
            for (int i = systemDataLength(status); i > 0 && p < end && *p < 0x80; --i)
                ++p;
        }
    }
    if (!ended)
        repaired("a track ends without End-of-Track");
    return tick;
}

bool SmfReader::full()
{
    if (m_raw.size() + m_tempos.size() < Song::kMaxEvents)
        return false;
    m_tooManyEvents = true;
    return true;
}

void SmfReader::addSysex(int64_t tick, uint8_t status, const uint8_t* p, uint32_t length)
{
    std::vector<uint8_t>& store = m_out.m_sysex;
    m_sysexRefs.push_back({uint32_t(store.size()), length});
    store.insert(store.end(), p, p + length);
    m_raw.push_back({tick, status, 0, 0, uint32_t(m_sysexRefs.size() - 1)});
}

} // namespace sequora::midi
