#pragma once
// One FluidSynth synthesiser with its soundfont, and the MIDI messages the engine sends
// it. Shared by the live output and the offline renderer, so both sound the same.

#include "platform/midi/Limiter.h"

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

struct _fluid_hashtable_t;
struct _fluid_synth_t;

namespace sequora::midi {

class FluidSynthCore {
public:
    /// The soundfont to use: @p preferred if given, else SEQUORA_SOUNDFONT, else the first
    /// General MIDI soundfont the distribution installed (the fuller FluidR3_GM before
    /// the small TimGM6mb). Empty if none exists.
    static std::string findSoundfont(const std::string& preferred = {});
    /// Sends FluidSynth's own log lines nowhere: the engine reports its problems itself.
    static void quietLogging();

    /// The synthesiser's mix level. FluidSynth's default (0.2) leaves General MIDI songs
    /// some 20 dB below the rest of the desktop; the limiter catches the peaks.
    static constexpr double kGain = 0.8;

    /// Creates the synthesiser without a soundfont (load one with loadSoundfont()).
    /// @p realtime: for a live audio driver (settings that keep its CPU low); otherwise
    /// tuned for rendering to a file.
    static std::unique_ptr<FluidSynthCore> create(
        int sampleRate, bool realtime, std::string& error);
    /// Creates the synthesiser and loads @p soundfont.
    static std::unique_ptr<FluidSynthCore> create(
        const std::string& soundfont, int sampleRate, bool realtime, std::string& error);
    ~FluidSynthCore();
    FluidSynthCore(const FluidSynthCore&) = delete;
    FluidSynthCore& operator=(const FluidSynthCore&) = delete;

    /// Loads @p soundfont (may take a second for a large one). Nothing may render meanwhile.
    bool loadSoundfont(const std::string& soundfont, std::string& error);

    _fluid_hashtable_t* settings() const { return m_settings; }
    _fluid_synth_t* synth() const { return m_synth; }
    int sampleRate() const { return m_rate; }
    /// Frames by which the sound lags the messages: the limiter's look-ahead.
    int latency() const { return m_limiter.lookahead(); }

    void sendShort(uint8_t status, uint8_t data1, uint8_t data2);
    void sendSysex(std::span<const uint8_t> message); ///< F0 ... F7
    /// Every voice stops at once and the reverb and chorus tails are cleared too.
    void silence();
    /// Programs, controllers, bend and RPNs back to defaults, and silence.
    void reset();

    /// FluidSynth renders in blocks of this many frames; a message takes effect at the
    /// start of the next block it renders.
    static constexpr uint32_t kGrid = 64;

    /// Renders @p frames frames (synthesiser, then limiter) into two float buffers,
    /// overwriting them; silence, without running the synthesiser, while quiet.
    void render(float* left, float* right, int frames);
    /// Renders the block being built, from @p done up to the grid line nearest @p frame
    /// (all of it when @p frame reaches @p total), so that the message sent next lands
    /// on that line. Counts every frame the synthesiser handed out, so odd-sized renders
    /// do not shift later messages.
    void renderUpTo(uint32_t frame, uint32_t total, uint32_t& done, float* left, float* right);
    /// After each block: with the transport not playing, no voice left and the tail
    /// faded, the synthesiser stops running until the next message arrives.
    void settle(bool transportIdle);
    bool isQuiet() const { return m_quiet; }
    /// Frames the synthesiser itself has rendered so far.
    uint64_t framesSynthesised() const { return m_framesOut; }

private:
    static constexpr int kDrainFrames = 1024;
    static constexpr int kMaxDrainBlocks = 256; // ~6 s at 44.1 kHz, a few ms of CPU
    static constexpr float kDrainedLevel = 1e-5f; // below the last bit of 16-bit audio

    explicit FluidSynthCore(int sampleRate)
        : m_rate(sampleRate)
        , m_limiter(sampleRate)
    {
    }
    void synthesise(float* left, float* right, int frames);
    uint32_t framesToNearestBoundary(uint32_t ahead) const
    {
        const uint64_t boundary = (m_framesOut + ahead + kGrid / 2) / kGrid * kGrid;
        return boundary > m_framesOut ? static_cast<uint32_t>(boundary - m_framesOut) : 0;
    }
    void wake()
    {
        m_quiet = false;
        m_faded = 0;
    }

    _fluid_hashtable_t* m_settings = nullptr;
    _fluid_synth_t* m_synth = nullptr;
    int m_rate = 0;
    uint64_t m_framesOut = 0;
    Limiter m_limiter;
    bool m_quiet = true; ///< a new synthesiser has nothing to play
    uint64_t m_faded = 0; ///< frames in a row the synthesiser rendered below kDrainedLevel
    std::array<float, kDrainFrames> m_drainLeft {};
    std::array<float, kDrainFrames> m_drainRight {};
};

} // namespace sequora::midi
