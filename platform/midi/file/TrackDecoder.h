#pragma once
// Walks one MTrk chunk event by event. The reader runs it twice over each track: once
// to learn the tempo map, the counts and the damage, once to merge the tracks straight
// into the song. Decoding twice is cheaper than storing every event in between.

#include <cstdint>

namespace sequora::midi {

/// One channel message or SysEx event, as decoded.
struct TrackEvent {
    int64_t tick = 0;
    uint8_t status = 0;
    uint8_t data1 = 0;
    uint8_t data2 = 0;
    const uint8_t* sysex = nullptr; ///< payload after the F0/F7 and its length
    uint32_t sysexLength = 0;
    uint8_t port = 0; ///< the track's port prefix in force (FF 21), as written
};

/// Receives what the decoder does not return: tempo changes, damage and the other meta
/// events (the song's texts). The merge pass uses this one, which ignores all of them.
struct IgnoreTrackNotes {
    void tempo(int64_t, uint32_t) {}
    void damage(const char*) {}
    void meta(int64_t, uint8_t, const uint8_t*, uint32_t) {}
};

class TrackDecoder {
public:
    TrackDecoder(const uint8_t* begin, const uint8_t* end, int64_t startTick)
        : m_p(begin), m_end(end), m_tick(startTick) {}

    /// Decodes up to the next channel or SysEx event. False at End-of-Track or where the
    /// data ends; tick() is then the end of the track (the last delta read included).
    template <typename Notes>
    bool next(TrackEvent& ev, Notes& notes);

    int64_t tick() const { return m_tick; }
    /// The port the last port prefix (FF 21 01 pp) chose; 0 before any.
    uint8_t port() const { return m_port; }
    bool sawEndOfTrack() const { return m_ended; }

private:
    static constexpr int kMaxVarLenBytes = 4;
    static constexpr uint8_t kSysex = 0xF0;
    static constexpr uint8_t kSysexEscape = 0xF7;
    static constexpr uint8_t kMeta = 0xFF;
    static constexpr uint8_t kMetaEndOfTrack = 0x2F;
    static constexpr uint8_t kMetaTempo = 0x51;
    static constexpr uint8_t kMetaPort = 0x21;

    // At most four bytes (a longer quantity is cut there rather than trusted).
    bool readVarLen(uint32_t& value)
    {
        value = 0;
        for (int i = 0; i < kMaxVarLenBytes; ++i) {
            if (m_p >= m_end)
                return false;
            const uint8_t b = *m_p++;
            value = value << 7 | (b & 0x7F);
            if (!(b & 0x80))
                return true;
        }
        return true;
    }
    bool finish()
    {
        m_p = m_end;
        return false;
    }

    const uint8_t* m_p;
    const uint8_t* m_end;
    int64_t m_tick;
    uint8_t m_running = 0;
    uint8_t m_port = 0;
    bool m_ended = false;
};

template <typename Notes>
inline __attribute__((always_inline)) bool TrackDecoder::next(TrackEvent& ev, Notes& notes)
{
    while (m_p < m_end) {
        uint32_t delta = 0;
        if (!readVarLen(delta) || m_p >= m_end)
            return finish();
        m_tick += delta;
        uint8_t status = *m_p;
        if (status & 0x80) {
            ++m_p;
        } else if (m_running != 0) {
            status = m_running;
        } else {
            ++m_p; // data with no status to run on: nothing to make of it
            notes.damage("data bytes without a status byte");
            continue;
        }

        if (status < kSysex) {
            m_running = status;
            const int need = (status & 0xE0) == 0xC0 ? 1 : 2; // 0xC0 and 0xD0 carry one byte
            if (m_end - m_p < need)
                return finish();
            const uint8_t d1 = m_p[0];
            const uint8_t d2 = need == 2 ? m_p[1] : 0;
            m_p += need;
            if ((d1 | d2) & 0x80)
                notes.damage("a status byte where data belongs");
            ev.tick = m_tick;
            ev.status = status;
            ev.data1 = d1 & 0x7F;
            ev.data2 = d2 & 0x7F;
            ev.port = m_port;
            return true;
        }
        if (status == kMeta) {
            // Running status survives meta and SysEx events: some writers rely on it,
            // and a well-formed file repeats the status anyway.
            if (m_p >= m_end)
                return finish();
            const uint8_t type = *m_p++;
            if (type == kMetaEndOfTrack) {
                if (m_p >= m_end)
                    notes.damage("the last byte is missing");
                m_ended = true;
                return finish();
            }
            uint32_t length = 0;
            if (!readVarLen(length) || length > uint32_t(m_end - m_p))
                return finish();
            if (type == kMetaTempo && length >= 3) {
                const uint32_t tempo = uint32_t(m_p[0]) << 16 | uint32_t(m_p[1]) << 8 | m_p[2];
                if (tempo > 0)
                    notes.tempo(m_tick, tempo);
            } else {
                // A port prefix of any other length is not one: it is ignored.
                if (type == kMetaPort && length == 1)
                    m_port = m_p[0] & 0x7F;
                notes.meta(m_tick, type, m_p, length);
            }
            m_p += length;
            continue;
        }
        if (status == kSysex || status == kSysexEscape) {
            uint32_t length = 0;
            if (!readVarLen(length) || length > uint32_t(m_end - m_p))
                return finish();
            ev.tick = m_tick;
            ev.status = status;
            ev.data1 = 0;
            ev.data2 = 0;
            ev.sysex = m_p;
            ev.sysexLength = length;
            ev.port = m_port;
            m_p += length;
            return true;
        }
        // System common and real-time bytes have no place in a file; skip them with
        // the data bytes they may carry.
        notes.damage("system messages inside a track");
        const int data = status == 0xF2 ? 2 : (status == 0xF1 || status == 0xF3) ? 1 : 0;
        for (int i = 0; i < data && m_p < m_end && *m_p < 0x80; ++i)
            ++m_p;
    }
    return false;
}

} // namespace sequora::midi
