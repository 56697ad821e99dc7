#pragma once
// A small Standard MIDI File writer for tests: tracks of delta-timed events, format
// 0/1/2, PPQN or SMPTE division, optional running status, and helpers that damage the
// result (truncate, wrong chunk length, extra chunks, RIFF RMID wrapper).
//
//   sequora::test::SmfWriter smf(1, 480);
//   smf.addTrack().tempo(0, 500000).endOfTrack(1920);
//   smf.addTrack().programChange(0, 0, 19).noteOn(0, 0, 60, 100).noteOff(480, 0, 60);
//   smf.writeFile(dir / "song.mid");

#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace sequora::test {

using Bytes = std::vector<uint8_t>;

inline void appendVarLen(Bytes& out, uint32_t value)
{
    uint8_t buf[5];
    int n = 0;
    buf[n++] = value & 0x7F;
    while ((value >>= 7) != 0)
        buf[n++] = 0x80 | (value & 0x7F);
    while (n > 0)
        out.push_back(buf[--n]);
}

inline void appendBe32(Bytes& out, uint32_t v)
{
    out.push_back(v >> 24);
    out.push_back((v >> 16) & 0xFF);
    out.push_back((v >> 8) & 0xFF);
    out.push_back(v & 0xFF);
}

inline void appendBe16(Bytes& out, uint16_t v)
{
    out.push_back(v >> 8);
    out.push_back(v & 0xFF);
}

inline void appendLe32(Bytes& out, uint32_t v)
{
    out.push_back(v & 0xFF);
    out.push_back((v >> 8) & 0xFF);
    out.push_back((v >> 16) & 0xFF);
    out.push_back(v >> 24);
}

/// One MTrk chunk under construction. Every event method takes the delta time in ticks
/// since the previous event of this track and returns *this for chaining.
class SmfTrack {
public:
    /// Omits status bytes that repeat the previous channel status.
    SmfTrack& runningStatus(bool on = true) { m_running = on; return *this; }
    /// Keeps running status alive across meta and SysEx events (not allowed by the
    /// standard, but written by some sequencers; readers should cope).
    SmfTrack& runningAcrossMeta(bool on = true) { m_acrossMeta = on; return *this; }
    /// The writer appends End-of-Track unless the track has one or this is called.
    SmfTrack& omitEndOfTrack() { m_omitEnd = true; return *this; }

    SmfTrack& channel(uint32_t delta, uint8_t status, uint8_t d1, uint8_t d2)
    {
        putStatus(delta, status);
        m_data.push_back(d1 & 0x7F);
        const uint8_t kind = status & 0xF0;
        if (kind != 0xC0 && kind != 0xD0)
            m_data.push_back(d2 & 0x7F);
        return *this;
    }
    SmfTrack& noteOn(uint32_t delta, int ch, int key, int vel)
    {
        return channel(delta, 0x90 | (ch & 0x0F), key, vel);
    }
    SmfTrack& noteOff(uint32_t delta, int ch, int key, int vel = 0x40)
    {
        return channel(delta, 0x80 | (ch & 0x0F), key, vel);
    }
    SmfTrack& polyPressure(uint32_t delta, int ch, int key, int value)
    {
        return channel(delta, 0xA0 | (ch & 0x0F), key, value);
    }
    SmfTrack& controller(uint32_t delta, int ch, int cc, int value)
    {
        return channel(delta, 0xB0 | (ch & 0x0F), cc, value);
    }
    SmfTrack& programChange(uint32_t delta, int ch, int program)
    {
        return channel(delta, 0xC0 | (ch & 0x0F), program, 0);
    }
    SmfTrack& channelPressure(uint32_t delta, int ch, int value)
    {
        return channel(delta, 0xD0 | (ch & 0x0F), value, 0);
    }
    /// value 0..16383, 8192 = centre.
    SmfTrack& pitchBend(uint32_t delta, int ch, int value)
    {
        return channel(delta, 0xE0 | (ch & 0x0F), value & 0x7F, (value >> 7) & 0x7F);
    }

    SmfTrack& meta(uint32_t delta, uint8_t type, const Bytes& payload)
    {
        appendVarLen(m_data, delta);
        m_data.push_back(0xFF);
        m_data.push_back(type);
        appendVarLen(m_data, static_cast<uint32_t>(payload.size()));
        m_data.insert(m_data.end(), payload.begin(), payload.end());
        if (!m_acrossMeta)
            m_last = 0;
        if (type == 0x2F)
            m_ended = true;
        return *this;
    }
    SmfTrack& text(uint32_t delta, uint8_t type, std::string_view s)
    {
        return meta(delta, type, Bytes(s.begin(), s.end()));
    }
    SmfTrack& trackName(uint32_t delta, std::string_view s) { return text(delta, 0x03, s); }
    SmfTrack& tempo(uint32_t delta, uint32_t usPerQuarter)
    {
        return meta(delta, 0x51,
                    {uint8_t(usPerQuarter >> 16), uint8_t(usPerQuarter >> 8), uint8_t(usPerQuarter)});
    }
    /// denominator as a power of two (2 = quarter note).
    SmfTrack& timeSignature(uint32_t delta, int num, int denomPow2, int clocks = 24, int n32 = 8)
    {
        return meta(delta, 0x58,
                    {uint8_t(num), uint8_t(denomPow2), uint8_t(clocks), uint8_t(n32)});
    }
    SmfTrack& endOfTrack(uint32_t delta = 0) { return meta(delta, 0x2F, {}); }

    /// F0 event; payload excludes the F0 and normally ends with F7.
    SmfTrack& sysex(uint32_t delta, const Bytes& payload) { return sysexLike(delta, 0xF0, payload); }
    /// F7 escape: payload sent as is (continuation packets, realtime bytes).
    SmfTrack& sysexEscape(uint32_t delta, const Bytes& payload)
    {
        return sysexLike(delta, 0xF7, payload);
    }

    /// Appends bytes exactly as given (hand-made damage, odd encodings).
    SmfTrack& raw(const Bytes& bytes)
    {
        m_data.insert(m_data.end(), bytes.begin(), bytes.end());
        return *this;
    }

    const Bytes& data() const { return m_data; }
    bool needsEndOfTrack() const { return !m_ended && !m_omitEnd; }

private:
    void putStatus(uint32_t delta, uint8_t status)
    {
        appendVarLen(m_data, delta);
        if (!m_running || status != m_last)
            m_data.push_back(status);
        m_last = status;
    }
    SmfTrack& sysexLike(uint32_t delta, uint8_t status, const Bytes& payload)
    {
        appendVarLen(m_data, delta);
        m_data.push_back(status);
        appendVarLen(m_data, static_cast<uint32_t>(payload.size()));
        m_data.insert(m_data.end(), payload.begin(), payload.end());
        if (!m_acrossMeta)
            m_last = 0;
        return *this;
    }

    Bytes m_data;
    uint8_t m_last = 0;
    bool m_running = false;
    bool m_acrossMeta = false;
    bool m_omitEnd = false;
    bool m_ended = false;
};

/// A whole file: header plus tracks (and any extra chunks) in the order added.
class SmfWriter {
public:
    /// PPQN division (ticks per quarter note).
    explicit SmfWriter(int format = 1, uint16_t ticksPerQuarter = 480)
        : m_format(format), m_division(ticksPerQuarter) {}

    /// SMPTE division: fps 24, 25, 29 (29.97 drop frame) or 30, and ticks per frame.
    static SmfWriter smpte(int format, int fps, int ticksPerFrame)
    {
        SmfWriter w(format, 0);
        w.m_division = static_cast<uint16_t>(((256 - fps) & 0xFF) << 8 | (ticksPerFrame & 0xFF));
        return w;
    }

    /// Raw division word as written in MThd (0 for a broken file).
    SmfWriter& division(uint16_t raw) { m_division = raw; return *this; }
    /// Overrides ntrks in the header (default: the number of tracks added).
    SmfWriter& trackCount(uint16_t n) { m_ntrks = n; m_ntrksSet = true; return *this; }
    /// Adds bytes after the six standard header bytes (MThd length > 6).
    SmfWriter& headerExtra(const Bytes& extra) { m_headerExtra = extra; return *this; }

    SmfTrack& addTrack()
    {
        m_tracks.emplace_back();
        m_chunks.push_back({"", {}, &m_tracks.back()});
        return m_tracks.back();
    }
    /// A chunk of another kind (readers must skip it), placed where it is added.
    SmfWriter& addChunk(std::string_view id, const Bytes& payload)
    {
        if (id.size() != 4)
            throw std::invalid_argument("chunk id must have four characters");
        m_chunks.push_back({std::string(id), payload, nullptr});
        return *this;
    }

    Bytes bytes() const
    {
        Bytes out;
        out.insert(out.end(), {'M', 'T', 'h', 'd'});
        appendBe32(out, static_cast<uint32_t>(6 + m_headerExtra.size()));
        appendBe16(out, static_cast<uint16_t>(m_format));
        appendBe16(out, m_ntrksSet ? m_ntrks : static_cast<uint16_t>(m_tracks.size()));
        appendBe16(out, m_division);
        out.insert(out.end(), m_headerExtra.begin(), m_headerExtra.end());
        for (const Chunk& c : m_chunks) {
            if (c.track) {
                Bytes body = c.track->data();
                if (c.track->needsEndOfTrack())
                    body.insert(body.end(), {0x00, 0xFF, 0x2F, 0x00});
                out.insert(out.end(), {'M', 'T', 'r', 'k'});
                appendBe32(out, static_cast<uint32_t>(body.size()));
                out.insert(out.end(), body.begin(), body.end());
            } else {
                out.insert(out.end(), c.id.begin(), c.id.end());
                appendBe32(out, static_cast<uint32_t>(c.payload.size()));
                out.insert(out.end(), c.payload.begin(), c.payload.end());
            }
        }
        return out;
    }

    void writeFile(const std::filesystem::path& path) const { writeBytes(path, bytes()); }

    static void writeBytes(const std::filesystem::path& path, const Bytes& data)
    {
        std::ofstream f(path, std::ios::binary | std::ios::trunc);
        if (!f)
            throw std::runtime_error("cannot write " + path.string());
        f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    }

private:
    struct Chunk {
        std::string id;
        Bytes payload;
        const SmfTrack* track = nullptr;
    };

    int m_format = 1;
    uint16_t m_division = 480;
    uint16_t m_ntrks = 0;
    bool m_ntrksSet = false;
    Bytes m_headerExtra;
    std::deque<SmfTrack> m_tracks; // deque: references from addTrack() stay valid
    std::vector<Chunk> m_chunks;
};

// ---- damage and wrapping -------------------------------------------------------------

/// Drops the last n bytes.
inline Bytes truncated(Bytes data, std::size_t n)
{
    data.resize(n >= data.size() ? 0 : data.size() - n);
    return data;
}

/// Byte offset of the index-th chunk header (0 = MThd), or npos.
inline std::size_t chunkOffset(const Bytes& data, std::size_t index)
{
    std::size_t pos = 0;
    for (std::size_t i = 0; pos + 8 <= data.size(); ++i) {
        if (i == index)
            return pos;
        const uint32_t len = uint32_t(data[pos + 4]) << 24 | uint32_t(data[pos + 5]) << 16
                           | uint32_t(data[pos + 6]) << 8 | data[pos + 7];
        pos += 8 + std::size_t(len);
    }
    return std::string::npos;
}

/// Rewrites the length field of the index-th chunk (0 = MThd, 1 = first track, ...).
inline Bytes withChunkLength(Bytes data, std::size_t index, uint32_t length)
{
    const std::size_t pos = chunkOffset(data, index);
    if (pos == std::string::npos)
        throw std::out_of_range("no such chunk");
    data[pos + 4] = length >> 24;
    data[pos + 5] = (length >> 16) & 0xFF;
    data[pos + 6] = (length >> 8) & 0xFF;
    data[pos + 7] = length & 0xFF;
    return data;
}

/// Wraps an SMF image in a RIFF RMID container ("RIFF" size "RMID" "data" size smf).
inline Bytes wrappedRmid(const Bytes& smf)
{
    Bytes out{'R', 'I', 'F', 'F'};
    const uint32_t pad = smf.size() & 1;
    appendLe32(out, static_cast<uint32_t>(4 + 8 + smf.size() + pad));
    out.insert(out.end(), {'R', 'M', 'I', 'D', 'd', 'a', 't', 'a'});
    appendLe32(out, static_cast<uint32_t>(smf.size()));
    out.insert(out.end(), smf.begin(), smf.end());
    if (pad)
        out.push_back(0);
    return out;
}

} // namespace sequora::test
