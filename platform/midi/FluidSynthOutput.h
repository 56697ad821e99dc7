#pragma once
// Live sound through FluidSynth and an audio driver (PulseAudio, ALSA, ...). Events are
// dispatched inside the audio callback, at their offset within the period being
// rendered. Should the audio server go away while running, the output carries on as a
// silent real-time clock and says so once.

#include "platform/midi/ClockThread.h"
#include "platform/midi/FluidSynthCore.h"
#include "platform/midi/Output.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

struct _fluid_audio_driver_t;

namespace sequora::midi {

class FluidSynthOutput final : public Output {
public:
    struct Options {
        std::string soundfont;  ///< empty: FluidSynthCore::findSoundfont()
        std::string driver;     ///< empty: SEQUORA_AUDIO_DRIVER, else pulseaudio then alsa
        int sampleRate = 44100;
        /// A long period keeps the CPU cost low; ~23 ms of latency is fine for a player.
        int periodSize = 1024;
        int periods = 2;
    };

    /// Null with @p error set when no soundfont loads or no audio driver opens.
    static std::unique_ptr<FluidSynthOutput> create(const Options& options, std::string& error);
    ~FluidSynthOutput() override;

    int sampleRate() const override { return m_core->sampleRate(); }
    std::string name() const override { return "fluidsynth/" + m_driverName; }
    void wake() override;

protected:
    void sendShort(uint8_t status, uint8_t data1, uint8_t data2) override;
    void sendSysex(std::span<const uint8_t> bytes) override;
    void silence() override;
    void reset() override;

private:
    explicit FluidSynthOutput(std::unique_ptr<FluidSynthCore> core) : m_core(std::move(core)) {}
    static int audioCallback(void* data, int len, int nfx, float* fx[], int nout, float* out[]);
    void render(int frames, float* left, float* right);
    void watch();
    void fallBack();

    std::unique_ptr<FluidSynthCore> m_core;
    _fluid_audio_driver_t* m_driver = nullptr;
    std::string m_driverName;

    std::atomic<uint64_t> m_periods{0}; ///< audio callbacks so far: the watchdog's pulse
    std::atomic<bool> m_lost{false};    ///< the driver stopped calling: no more synthesis
    std::mutex m_watchMutex;
    std::condition_variable m_watchCv;
    bool m_quit = false;
    std::unique_ptr<ClockThread> m_fallback; ///< guarded by m_watchMutex
    std::thread m_watchdog;
};

} // namespace sequora::midi
