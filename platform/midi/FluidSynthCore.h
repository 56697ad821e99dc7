#pragma once
// One FluidSynth synthesiser with its soundfont, and the MIDI messages the engine sends
// it. Shared by the live output and the offline renderer, so both sound the same.

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
    /// General MIDI soundfont the distribution installed. Empty if none exists.
    static std::string findSoundfont(const std::string& preferred = {});
    /// Sends FluidSynth's own log lines nowhere: the engine reports its problems itself.
    static void quietLogging();

    /// Creates the synthesiser and loads @p soundfont. @p realtime: for a live audio
    /// driver (settings that keep its CPU low); otherwise tuned for rendering to a file.
    static std::unique_ptr<FluidSynthCore> create(const std::string& soundfont, int sampleRate,
                                                  bool realtime, std::string& error);
    ~FluidSynthCore();
    FluidSynthCore(const FluidSynthCore&) = delete;
    FluidSynthCore& operator=(const FluidSynthCore&) = delete;

    _fluid_hashtable_t* settings() const { return m_settings; }
    _fluid_synth_t* synth() const { return m_synth; }
    int sampleRate() const { return m_rate; }

    void sendShort(uint8_t status, uint8_t data1, uint8_t data2);
    void sendSysex(std::span<const uint8_t> message); ///< F0 ... F7
    /// Every voice stops at once and the reverb and chorus tails are cleared too.
    void silence();
    /// Programs, controllers, bend and RPNs back to defaults, and silence.
    void reset();

    /// FluidSynth renders in blocks of this many frames; a message takes effect at the
    /// start of the next block it renders.
    static constexpr uint32_t kGrid = 64;
    /// How many frames to render before sending a message meant for @p ahead frames from
    /// now, so that it takes effect on the nearest block boundary. Counts every frame the
    /// synthesiser handed out, so odd-sized renders do not shift later messages.
    uint32_t framesToNearestBoundary(uint32_t ahead) const
    {
        const uint64_t boundary = (m_framesOut + ahead + kGrid / 2) / kGrid * kGrid;
        return boundary > m_framesOut ? static_cast<uint32_t>(boundary - m_framesOut) : 0;
    }

    /// Renders @p frames into two float buffers (overwriting them).
    void renderFloat(float* left, float* right, int frames);
    /// Renders @p frames of interleaved 16-bit stereo.
    void renderS16(int16_t* interleaved, int frames);

private:
    static constexpr int kDrainFrames = 1024;
    static constexpr int kMaxDrainBlocks = 256;     // ~6 s at 44.1 kHz, a few ms of CPU
    static constexpr float kDrainedLevel = 1e-5f;   // below the last bit of 16-bit audio

    FluidSynthCore() = default;

    _fluid_hashtable_t* m_settings = nullptr;
    _fluid_synth_t* m_synth = nullptr;
    int m_rate = 0;
    uint64_t m_framesOut = 0;
    std::array<float, kDrainFrames> m_drainLeft{};
    std::array<float, kDrainFrames> m_drainRight{};
};

} // namespace sequora::midi
