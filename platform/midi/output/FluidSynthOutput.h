#pragma once
// Live sound through FluidSynth and an audio driver (PulseAudio, ALSA, ...). Events are
// dispatched inside the audio callback, at their offset within the period being
// rendered. The soundfont loads in the background: the transport holds still until it
// is there, so a play given meanwhile starts when the sound can. Should the audio server
// stall or go away, the output carries on as a silent real-time clock and says so once;
// it opens the driver anew, so the sound comes back with the server, and says that once.
// The notes sounding when it comes back are struck again at once, as after a seek.

#include "platform/midi/transport/ClockThread.h"
#include "platform/midi/output/FluidSynthCore.h"
#include "platform/midi/output/Output.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct _fluid_audio_driver_t;

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
    };

    /// Null with @p error set when no soundfont exists or no audio driver opens. The
    /// soundfont itself loads in the background; should it fail, the output plays on
    /// silently and says so.
    static std::unique_ptr<FluidSynthOutput> create(const Options& options, std::string& error);
    ~FluidSynthOutput() override;

    int sampleRate() const override { return m_core->sampleRate(); }
    std::string name() const override { return "fluidsynth/" + m_driverName; }
    void wake() override;
    int latencyFrames() const override { return m_latency; }
    /// Hands the song's presets to the loader thread; the transport holds still until
    /// their samples are read, so the first note finds them there.
    void prepare(const Song* song) override;

protected:
    void sendShort(uint8_t status, uint8_t data1, uint8_t data2) override;
    void sendSysex(std::span<const uint8_t> bytes) override;
    void silence() override;
    void reset() override;

private:
    enum class State {
        Loading, ///< the soundfont is loading: nothing is pulled, the transport holds still
        Live, ///< the audio callback renders and keeps the time
        Lost, ///< the driver stopped calling: the fallback clock keeps the time
        Failed, ///< the soundfont did not load: the fallback clock, for good
    };

    explicit FluidSynthOutput(std::unique_ptr<FluidSynthCore> core)
        : m_core(std::move(core))
    {
    }
    static int audioCallback(void* data, int len, int nfx, float* fx[], int nout, float* out[]);
    /// Renders one period; returns whether the next may wait for the transport.
    bool render(int frames, float* left, float* right);
    /// The audio thread waits while the transport has had no command since @p wakes.
    void hold(uint64_t wakes);
    /// The callback rests and no command came since: nothing can change until one does.
    bool parked() const { return m_parkedAt.load() == m_wakes.load(); }
    void load(const std::string& soundfont);
    /// The loader thread: the soundfont, then each song's presets as prepare() asks.
    void loadLoop(const std::string& soundfont);
    void watch();
    /// Ends every note and starts the silent clock, counting @p behind as already gone by.
    void fallBack(std::chrono::nanoseconds behind);
    /// Opens @p driver with this output's callback; null if it does not open.
    _fluid_audio_driver_t* openDriver(const std::string& driver);
    /// The watchdog's, while the silent clock keeps the time: drops the driver that
    /// stopped calling and opens it anew (m_driver stays null if it does not open).
    /// Returns m_periods once the old driver is gone, before the new one calls. May block
    /// (a server that hangs); never called holding m_watchMutex.
    uint64_t reopen();

    std::unique_ptr<FluidSynthCore> m_core;
    _fluid_audio_driver_t* m_driver = nullptr; ///< the watchdog's once created
    std::string m_driverName;
    int m_latency = 0;

    // Resting: with nothing to play and nothing sounding, the callback does not run the
    // transport and the synthesiser again until a command comes. How depends on whose
    // thread calls it.
    enum class Rest {
        None, ///< a driver not known to take a pause: it streams on
        Hold, ///< the driver's own thread (PulseAudio, ALSA): it waits, the stream runs dry
        Skip, ///< JACK's process thread, which must never wait: silence at once, nothing run
    };
    static constexpr uint64_t kNotParked = ~uint64_t(0);
    Rest m_rest = Rest::None;
    bool m_restNext = false; ///< the audio thread's own: the last block found nothing to do
    uint64_t m_wakesSeen = 0; ///< the audio thread's own: m_wakes when its last block pulled
    std::atomic<uint64_t> m_wakes { 0 }; ///< commands so far; changed under m_restMutex
    std::atomic<uint64_t> m_parkedAt { kNotParked }; ///< m_wakes the resting callback saw
    std::mutex m_restMutex;
    std::condition_variable m_restCv;
    bool m_stopping = false; ///< guarded by m_restMutex

    std::mutex m_callbackMutex; ///< held by the audio callback while it works
    std::atomic<State> m_state { State::Loading };
    std::atomic<uint64_t> m_periods { 0 }; ///< audio callbacks so far: the watchdog's pulse
    std::atomic<int> m_periodFrames { 0 }; ///< frames the driver asked for last
    std::atomic<bool> m_resync { false }; ///< back from a stall: silence what piled up first
    std::mutex m_watchMutex;
    std::condition_variable m_watchCv;
    bool m_quit = false;
    bool m_poked = false; ///< guarded by m_watchMutex: a command came since the watchdog looked
    std::unique_ptr<ClockThread> m_fallback; ///< guarded by m_watchMutex
    std::atomic<bool> m_clockPlaying { false }; ///< the silent clock's last block was playing
    std::mutex m_loadMutex;
    std::condition_variable m_loadCv;
    std::vector<PresetRequest> m_wanted; ///< guarded by m_loadMutex
    FluidSynthCore::EffectNeeds m_wantedEffects; ///< guarded by m_loadMutex
    bool m_wantedNew = false; ///< guarded by m_loadMutex
    bool m_loadQuit = false; ///< guarded by m_loadMutex
    /// Presets are being read: the callback leaves the synthesiser and the transport alone.
    std::atomic<bool> m_preparing { false };
    std::thread m_loader;
    std::thread m_watchdog;
};

} // namespace sequora::midi
