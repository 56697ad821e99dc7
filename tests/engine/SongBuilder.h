#pragma once
// Builds a Song from events in microseconds, for engine tests that need no file.

#include "platform/midi/file/MidiBytes.h"
#include "platform/midi/file/Song.h"

#include <algorithm>
#include <vector>

namespace sequora::test {

class SongBuilder {
public:
    SongBuilder& event(int64_t us, uint8_t status, uint8_t d1, uint8_t d2 = 0)
    {
        midi::MidiEvent e;
        e.timeUs = us;
        e.status = status;
        e.data1 = d1;
        e.data2 = d2;
        e.port = m_port;
        m_events.push_back(e);
        return *this;
    }
    SongBuilder& note(int64_t us, int64_t durationUs, int ch, int key, int velocity = 100)
    {
        event(us, midi::kNoteOn | ch, key, velocity);
        return event(us + durationUs, midi::kNoteOff | ch, key, 0);
    }
    SongBuilder& cc(int64_t us, int ch, int number, int value) { return event(us, midi::kControlChange | ch, number, value); }
    SongBuilder& program(int64_t us, int ch, int program) { return event(us, midi::kProgramChange | ch, program); }
    SongBuilder& bend(int64_t us, int ch, int value) { return event(us, midi::kPitchBend | ch, value & 0x7F, value >> 7); }
    /// @p payload: the bytes after F0, as a file stores them (F7 included).
    SongBuilder& sysex(int64_t us, std::vector<uint8_t> payload)
    {
        midi::MidiEvent e;
        e.timeUs = us;
        e.status = midi::kSysExStart;
        e.sysexOffset = static_cast<uint32_t>(m_sysex.size());
        e.sysexLength = static_cast<uint32_t>(payload.size());
        e.port = m_port;
        m_sysex.insert(m_sysex.end(), payload.begin(), payload.end());
        m_events.push_back(e);
        return *this;
    }
    /// The events that follow go to @p port (0 or 1): a song for a module with two ports.
    SongBuilder& onPort(uint8_t port)
    {
        m_port = port;
        m_secondPort = m_secondPort || port != 0;
        return *this;
    }
    midi::Song build(int64_t lengthUs) const
    {
        std::vector<midi::MidiEvent> events = m_events;
        std::stable_sort(events.begin(), events.end(),
                         [](const midi::MidiEvent& a, const midi::MidiEvent& b) { return a.timeUs < b.timeUs; });
        midi::Song song = midi::Song::fromEvents(std::move(events), m_sysex, lengthUs);
        song.setUsesSecondPort(m_secondPort);
        return song;
    }

private:
    std::vector<midi::MidiEvent> m_events;
    std::vector<uint8_t> m_sysex;
    uint8_t m_port = 0;
    bool m_secondPort = false;
};

} // namespace sequora::test
