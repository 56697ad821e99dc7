#pragma once
// Live sound through FluidSynth and an audio driver (PulseAudio, ALSA, ...). Events are
// dispatched inside the audio callback, at their offset within the period being
// rendered. The soundfont loads in the background: the transport holds still until it
// is there, so a play given meanwhile starts when the sound can. Should the audio server
// stall or go away, the output carries on as a silent real-time clock and says so once;
// it opens the driver anew, so the sound comes back with the server, and says that once.
// The notes sounding when it comes back are struck again at once, as after a seek.

#include "platform/midi/output/Output.h"
#include "platform/midi/output/fluidsynth/AudioRest.h"
#include "platform/midi/output/fluidsynth/FluidSynthCore.h"
#include "platform/midi/output/fluidsynth/PresetLoader.h"
#include "platform/midi/output/fluidsynth/StallWatchdog.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

namespace sequora::midi {

class FluidSynthOutput final : public Output {
public:
    struct Options {
        std::string soundfont; ///< empty: FluidSynthCore::findSoundfont()
        std::string driver; ///< empty: SEQUORA_AUDIO_DRIVER, else pulseaudio then alsa
        int sampleRate = 44100;
        /// A long period keeps the CPU cost low; ~23 ms of latency is fine for a player.
        int periodSize = 1024;
        int periods = 2;
        bool reverb = true;
        bool chorus = true;
        double levelDb = 0.0; ///< the listening level
    };

    /// Null with @p error set when no soundfont exists or no audio driver opens. The
    /// soundfont itself loads in the background; should it fail, the output plays on
    /// silently and says so.
    static std::unique_ptr<FluidSynthOutput> create(const Options& options, std::string& error);
    ~FluidSynthOutput() override;

    int sampleRate() const override { return m_core->sampleRate(); }
    std::string name() const override { return "fluidsynth/" + m_watchdog.driverName(); }
    void wake() override;
    int latencyFrames() const override { return m_latency; }
    bool waitUntilReady(std::chrono::milliseconds limit, std::string& error) override;
    void setSound(bool reverb, bool chorus, double levelDb) override
    {
        m_core->setSound(reverb, chorus, levelDb);
    }
    /// Hands the song's presets to the loader thread; the transport holds still until
    /// their samples are read, so the first note finds them there.
    void prepare(const Song* song) override;
    /// The soundfont's name for the preset chosen; General MIDI's until the font is read.
    std::string instrumentName(const PresetRequest& request) const override;

protected:
    void sendShort(uint8_t status, uint8_t data1, uint8_t data2) override;
    void sendSysex(std::span<const uint8_t> bytes) override;
    void sendPortShort(uint8_t port, uint8_t status, uint8_t data1, uint8_t data2) override;
    void sendPortSysex(uint8_t port, std::span<const uint8_t> bytes) override;
    bool hasSecondPort() const override { return true; }
    void silence() override;
    void reset() override;
    void restore(SystemMode mode) override;
    void fade(uint32_t at, uint32_t length) override;

private:
    using State = StallWatchdog::State;

    explicit FluidSynthOutput(std::unique_ptr<FluidSynthCore> core);
    static int audioCallback(void* data, int len, int nfx, float* fx[], int nout, float* out[]);
    /// Renders one period; returns whether the next may wait for the transport.
    bool render(int frames, float* left, float* right);

    std::unique_ptr<FluidSynthCore> m_core;
    int m_latency = 0;
    /// Whether a soundfont that does not load is said on standard error (as at start).
    std::atomic<bool> m_sayFailure { true };
    std::mutex m_callbackMutex; ///< held by the audio callback while it works
    AudioRest m_rest;
    PresetLoader m_loader;
    StallWatchdog m_watchdog;
};

} // namespace sequora::midi
