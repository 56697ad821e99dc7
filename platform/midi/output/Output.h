#pragma once
// Where the transport's events go. An output owns the clock: an audio callback, a clock
// thread or a test's hand. On every tick it pulls one block of frames from the transport
// (its EventSource) and dispatches each message at its frame offset within that block.

#include "platform/midi/module/PartMap.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace sequora::midi {

class Song;
struct MidiEvent;
struct PresetRequest;

/// One message placed within a block.
struct OutMessage {
    enum class Kind : uint8_t {
        Short, ///< a channel message
        SysEx, ///< complete F0 ... F7 bytes in Block::sysex
        Silence, ///< stop every sound now (sustain off, all sounds off, all notes off)
        Release, ///< end of the piece: sustain off and all notes off, let notes ring out
        Reset, ///< back to power-on defaults (programs, controllers, pitch bend)
        Restore, ///< power-on defaults of the system mode in data1, ending no sound
        Fade, ///< the level from here on, fadeAt frames into a fade of fadeLength
    };
    Kind kind = Kind::Short;
    uint8_t status = 0;
    uint8_t data1 = 0;
    uint8_t data2 = 0;
    uint32_t frame = 0; ///< offset from the start of the block
    uint32_t sysexOffset = 0;
    uint32_t sysexLength = 0;
    uint32_t fadeAt = 0;
    uint32_t fadeLength = 0;
    uint8_t port = 0; ///< Short and SysEx: 1 for parts 17-32
};

/// The messages due within one block, in time order. Reused from block to block so the
/// audio thread does not allocate once its capacity has grown.
struct Block {
    std::vector<OutMessage> messages;
    std::vector<uint8_t> sysex;

    void clear()
    {
        messages.clear();
        sysex.clear();
    }
    void add(OutMessage::Kind kind, uint32_t frame = 0)
    {
        OutMessage m;
        m.kind = kind;
        m.frame = frame;
        messages.push_back(m);
    }
    void addShort(uint8_t status, uint8_t data1, uint8_t data2, uint32_t frame = 0)
    {
        messages.push_back({ OutMessage::Kind::Short, status, data1, data2, frame, 0, 0, 0, 0, 0 });
    }
    /// A channel message to part @p part (0-31).
    void addPartShort(
        uint8_t part, uint8_t status, uint8_t data1, uint8_t data2, uint32_t frame = 0)
    {
        messages.push_back({ OutMessage::Kind::Short, uint8_t((status & 0xF0) | (part & 0x0F)),
            data1, data2, frame, 0, 0, 0, 0, uint8_t(part >> 4 & 1) });
    }
    void addRestore(SystemMode mode, uint32_t frame = 0)
    {
        add(OutMessage::Kind::Restore, frame);
        messages.back().data1 = static_cast<uint8_t>(mode);
    }
    /// @p at frames into a fade to silence that lasts @p length frames.
    void addFade(uint32_t at, uint32_t length, uint32_t frame = 0)
    {
        add(OutMessage::Kind::Fade, frame);
        messages.back().fadeAt = at;
        messages.back().fadeLength = length;
    }
    /// @p bytes must be a complete message, F0 ... F7.
    void addSysex(std::span<const uint8_t> bytes, uint32_t frame = 0)
    {
        OutMessage m;
        m.kind = OutMessage::Kind::SysEx;
        m.frame = frame;
        m.sysexOffset = static_cast<uint32_t>(sysex.size());
        m.sysexLength = static_cast<uint32_t>(bytes.size());
        sysex.insert(sysex.end(), bytes.begin(), bytes.end());
        messages.push_back(m);
    }
    /// Adds a song's event; SysEx is completed to F0 ... F7. Escaped (F7) events are
    /// sent only when they carry a whole SysEx message. Returns false if nothing was added.
    bool addEvent(const Song& song, const MidiEvent& event, uint32_t frame = 0);
    void append(const Block& other, uint32_t frame = 0);
    std::span<const uint8_t> sysexOf(const OutMessage& m) const
    {
        return {sysex.data() + m.sysexOffset, m.sysexLength};
    }
};

/// What a pull reports back to the clock that made it.
struct PullResult {
    bool playing = false;      ///< false: nothing is due until the transport is told to play
    int64_t framesToNext = -1; ///< frames from the end of the block to the next event or the end
};

/// The transport, seen from an output's clock.
class EventSource {
public:
    virtual ~EventSource() = default;
    /// Appends to @p block everything due within the next @p frames frames (queued
    /// commands first, at frame 0) and moves the position on by @p frames.
    virtual PullResult pull(uint32_t frames, Block& block) = 0;
    /// The output's sound went away and is back with every note ended: the next pull
    /// first brings the output back to the transport's state and strikes again the notes
    /// sounding at the position, as playing on from there after a pause does.
    virtual void strikeAgain() {}
};

/// One destination for MIDI: a synthesiser, a MIDI port, nothing at all.
class Output {
public:
    virtual ~Output() = default;

    /// Connects the transport this output plays (nullptr disconnects). Returns only once
    /// no block is being dispatched any more, so the old source may go away.
    void attach(EventSource* source);
    /// Frames per second of this output's clock.
    virtual int sampleRate() const = 0;
    /// Short name for messages: "fluidsynth", "alsa", "null", ...
    virtual std::string name() const = 0;
    /// The transport queued a command or started: a sleeping clock should run now.
    virtual void wake() {}
    /// @p song is about to be played (nullptr: nothing is). An output that loads its
    /// instruments on demand loads every one the song can choose now, so that all are
    /// there before its first note, and lets go of the previous song's. Called on the
    /// commanding thread before the song's first block is pulled.
    virtual void prepare(const Song* song) { (void)song; }
    /// Frames from a message's dispatch to its sound reaching the listener (buffers,
    /// look-ahead). The transport reports its position that much behind its clock.
    virtual int latencyFrames() const { return 0; }
    /// Waits, up to @p limit, for what the output reads in the background before it can
    /// sound (a soundfont). False, with @p error set, when it cannot sound at all; true
    /// also when the wait runs out first.
    virtual bool waitUntilReady(std::chrono::milliseconds limit, std::string& error)
    {
        (void)limit;
        (void)error;
        return true;
    }
    /// The soft synth's effects and listening level as the user set them: from the next
    /// block on, from any thread. An output without a synthesiser of its own has none.
    virtual void setSound(bool reverb, bool chorus, double levelDb)
    {
        (void)reverb;
        (void)chorus;
        (void)levelDb;
    }
    /// What a part asking for @p request plays through this output, by the name a
    /// listener would know it by: by default its General MIDI name. Any thread may ask.
    virtual std::string instrumentName(const PresetRequest& request) const;

protected:
    /// Runs one block on the output's clock: pulls from the transport, then for every
    /// message calls `renderTo(frame)` (render or wait up to that offset) and dispatches
    /// it; finally calls `renderTo(frames)`. Without a source only renders.
    template <typename RenderTo>
    PullResult runBlock(uint32_t frames, RenderTo&& renderTo)
    {
        std::lock_guard lock(m_sourceMutex);
        m_block.clear();
        PullResult result;
        if (m_source)
            result = m_source->pull(frames, m_block);
        for (const OutMessage& m : m_block.messages) {
            renderTo(m.frame);
            dispatch(m);
        }
        renderTo(frames);
        return result;
    }

    /// Asks the transport for strikeAgain() on its next pull.
    void strikeAgain();

    // Dispatch primitives, called on the output's clock only.
    virtual void sendShort(uint8_t status, uint8_t data1, uint8_t data2) = 0;
    /// @p bytes: F0 ... F7.
    virtual void sendSysex(std::span<const uint8_t> bytes) = 0;
    /// The same for a song's second port (parts 17-32). An output with one port folds
    /// them onto its channels 1-16, as the default does.
    virtual void sendPortShort(uint8_t port, uint8_t status, uint8_t data1, uint8_t data2)
    {
        (void)port;
        sendShort(status, data1, data2);
    }
    virtual void sendPortSysex(uint8_t port, std::span<const uint8_t> bytes)
    {
        (void)port;
        sendSysex(bytes);
    }
    /// Whether the second port reaches channels of its own (17-32), not folded ones.
    virtual bool hasSecondPort() const { return false; }
    /// Default: sustain off, all sounds off and all notes off on every channel.
    virtual void silence();
    /// Default: sustain off and all notes off on every channel.
    virtual void release();
    /// Default: GM System On, then every controller, program, bank and bend back to
    /// defaults on every channel, for synthesisers that ignore the SysEx.
    virtual void reset();
    /// The jump back to a loop's start: the state of @p mode at power-on, without a
    /// system reset or anything else that would cut what sounds (releases ring out).
    /// Default: the pedals up, then controllers, program, bank and bend back to defaults
    /// on every channel; a MIDI module keeps its mode (the chased state follows).
    virtual void restore(SystemMode mode);
    /// The output's level from here on: @p at frames into a fade to silence of @p length
    /// frames, on the output's own clock. Silence() brings back the full level. Default:
    /// nothing, as a MIDI port has no level of its own.
    virtual void fade(uint32_t at, uint32_t length)
    {
        (void)at;
        (void)length;
    }

private:
    void dispatch(const OutMessage& m);
    /// Controllers, bank, program, volume, pan and bend to defaults on every channel.
    void resetChannels();

    std::mutex m_sourceMutex;
    EventSource* m_source = nullptr;
    Block m_block;
};

} // namespace sequora::midi
