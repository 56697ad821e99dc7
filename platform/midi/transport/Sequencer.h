#pragma once
// The transport: one open song, its position, and dispatch of its events to an output.

#include "platform/midi/SoundSetup.h"
#include "platform/midi/file/Song.h"
#include "platform/midi/transport/ListenerSettings.h"
#include "platform/midi/transport/LoopTimeline.h"
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

    /// How songs with a marked loop play from the next open on (clamped to its limits):
    /// the loop's passes and the fade after them. Position, length and seeks are those
    /// of what is heard, the loop unrolled.
    void setLoopPlayback(const LoopPlayback& playback);
    LoopPlayback loopPlayback() const;

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
    /// Plays through @p output from now on without losing the place: the open song stays
    /// open at the position heard, with what sounds there; playing, it plays on (to the
    /// same end), paused or stopped it stays so. Returns the old output, for the caller
    /// to let go of after this returns.
    std::unique_ptr<Output> replaceOutput(std::unique_ptr<Output> output);

private:
    /// seek() to a time in microseconds, within the song.
    void seekUs(int64_t targetUs);

    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

/// The process-wide engine that the MCI sequencer device drives. Its output is made on
/// first use from the set-up given to configure(), or without one from SEQUORA_MIDI_OUT
/// (fluidsynth by default, alsa:CLIENT:PORT, null, manual) and SEQUORA_SOUNDFONT; without
/// a working audio device it falls back to null and says so once.
namespace engine {
Sequencer& sequencer();
/// The set-up the output is made from at first use; once it is made, use apply().
void configure(const SoundSetup& setup);
/// Makes the engine sound as @p setup says from now on, without losing the place (see
/// Sequencer::replaceOutput); before first use, as configure(). False, with @p error set
/// and the sound as it was, when the new output cannot be made, or (@p soundfontFailed)
/// when its soundfont does not load.
bool apply(const SoundSetup& setup, std::string& error, bool* soundfontFailed = nullptr);
/// The set-up in use (or to be used at first use); the environment's when none was given.
SoundSetup currentSetup();
/// Test hook: from now on the engine runs on a manual clock with no sound (the same as
/// SEQUORA_MIDI_OUT=manual). Replaces the current output; any open song is closed.
void useManualClock();
/// Manual clock only: moves playback on by ms, dispatching everything due. No effect on
/// other outputs.
void advanceManualClock(int64_t ms);
} // namespace engine

} // namespace sequora::midi
