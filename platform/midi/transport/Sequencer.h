#pragma once
// The transport: one open song, its position, and dispatch of its events to an output.

#include "platform/midi/file/Song.h"
#include "platform/midi/transport/ListenerSettings.h"
#include "platform/midi/transport/PartsSnapshot.h"

#include <cstdint>
#include <memory>
#include <string>

namespace sequora::midi {

class Output;

enum class TransportState { Closed, Stopped, Playing, Paused };

/// Thread-safe for one commanding thread (the GUI) plus the output's dispatch thread.
class Sequencer {
public:
    explicit Sequencer(std::unique_ptr<Output> output);
    ~Sequencer();
    Sequencer(const Sequencer&) = delete;
    Sequencer& operator=(const Sequencer&) = delete;

    /// Closes what is open, resets the synth, reads the song. Stopped at 0 on success;
    /// on failure nothing is open.
    ReadResult open(const std::string& path);
    /// Opens an already read song (tests, renderer).
    void open(Song song);
    void close();
    bool isOpen() const;

    /// Plays from the current position; resumes when paused. While playing, only where it
    /// will stop may change. With endMs >= 0 playback stops (stopped, position == endMs)
    /// when it gets there; at or past that point already, nothing happens.
    void play(int64_t endMs = -1);
    void pause();            ///< keeps the position; silences at once
    void stop();             ///< keeps the position; silences at once
    /// Moves to ms (clamped to [0, length]); leaves the transport stopped (a paused
    /// song becomes stopped). Chases controllers so the target sounds right on play.
    void seek(int64_t ms);

    /// Position and length in the listener's time: at a tempo of 50 % a song lasts twice
    /// as long. seek() and play() take positions in the same time.
    int64_t positionMs() const;
    int64_t lengthMs() const;
    TransportState state() const;

    /// What the listener has set (tempo, key, mute, solo); kept across songs.
    ListenerSettings listening() const;
    /// Takes effect at once, also while playing, without a gap: a part falling silent
    /// ends its notes, one heard again has its held notes struck again, a new tempo goes
    /// on from where the song is. False, changing nothing, when !next.valid().
    bool setListening(const ListenerSettings& next);
    /// Parts the open song addresses: 16, or 32 over a second port.
    int partCount() const;
    /// The parts as last published from the output's side; never waits for it.
    bool readParts(PartsView& out) const;
    /// What @p part of a published view plays, by name, as the output knows it.
    std::string instrumentName(const PartView& part) const;
    /// Whether the parts are followed and published each period (the default). A
    /// renderer that shows no parts may leave it off; set it before a song opens. The
    /// listener's mute, solo and key apply either way.
    void setFollowingParts(bool on);

    Output& output();
    /// Closes what is open and plays through @p output from now on.
    void setOutput(std::unique_ptr<Output> output);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

/// The process-wide engine that the MCI sequencer device drives. The output is chosen
/// from SEQUORA_MIDI_OUT on first use (fluidsynth by default, alsa:CLIENT:PORT, null,
/// manual); without a working audio device it falls back to null and says so once.
namespace engine {
Sequencer& sequencer();
/// Test hook: from now on the engine runs on a manual clock with no sound (the same as
/// SEQUORA_MIDI_OUT=manual). Replaces the current output; any open song is closed.
void useManualClock();
/// Manual clock only: moves playback on by ms, dispatching everything due. No effect on
/// other outputs.
void advanceManualClock(int64_t ms);
} // namespace engine

} // namespace sequora::midi
