#pragma once
// Who keeps the live output's time: the audio driver's callback, or a silent clock. The
// watchdog owns the driver and looks every 100 ms whether it still calls back; should
// the audio server stall or go away, it hands the time to the silent clock, which plays
// on in real time with no sound, says so once, and opens the driver anew until the server
// is back; then the callback takes the time over again, and that is said once too.

#include "platform/midi/output/ClockThread.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

struct _fluid_audio_driver_t;

namespace sequora::midi {

class AudioRest;
class FluidSynthCore;
class PresetLoader;

class StallWatchdog {
public:
    enum class State {
        Loading, ///< the soundfont is loading: nothing is pulled, the transport holds still
        Live, ///< the audio callback renders and keeps the time
        Lost, ///< the driver stopped calling: the silent clock keeps the time
        Failed, ///< the soundfont did not load: the silent clock, for good
    };
    /// FluidSynth's audio callback.
    using AudioFunc = int (*)(void* data, int len, int nfx, float* fx[], int nout, float* out[]);

    /// @p callbackMutex: held by the audio callback while it works; @p silentStep runs one
    /// block of the transport with no sound, on the silent clock.
    StallWatchdog(FluidSynthCore& core, std::mutex& callbackMutex, AudioRest& rest,
        const PresetLoader& loader, ClockThread::Step silentStep);
    ~StallWatchdog();
    StallWatchdog(const StallWatchdog&) = delete;
    StallWatchdog& operator=(const StallWatchdog&) = delete;

    /// Opens @p driver, which calls @p callback with @p data; false if it does not open.
    bool open(const std::string& driver, AudioFunc callback, void* data);
    const std::string& driverName() const { return m_driverName; }
    /// Starts watching.
    void start();
    /// Ends the watch and the silent clock.
    void stop();
    /// Closes the driver; a callback resting in it must have been let go first.
    void close();

    State state(std::memory_order order = std::memory_order_seq_cst) const
    {
        return m_state.load(order);
    }
    /// The audio callback's, every period: the driver calls, asking for @p frames.
    void beat(int frames)
    {
        m_periods.fetch_add(1, std::memory_order_relaxed);
        m_periodFrames.store(frames, std::memory_order_relaxed);
    }
    /// The audio callback's: true once after the time came back from the silent clock.
    bool takeResync() { return m_resync.exchange(false, std::memory_order_acq_rel); }
    /// The soundfont is there: the callback keeps the time.
    void soundfontLoaded();
    /// The soundfont did not load: the silent clock keeps the time for good.
    void soundfontFailed();
    /// A command came: look again at once; with the sound lost, try the driver now.
    void poke();

private:
    void watch();
    /// Ends every note and starts the silent clock, counting @p behind as already gone by.
    void fallBack(std::chrono::nanoseconds behind);
    _fluid_audio_driver_t* openDriver(const std::string& driver);
    /// The watchdog's, while the silent clock keeps the time: drops the driver that
    /// stopped calling and opens it anew (m_driver stays null if it does not open).
    /// Returns m_periods once the old driver is gone, before the new one calls. May block
    /// (a server that hangs); never called holding m_mutex.
    uint64_t reopen();

    FluidSynthCore& m_core;
    std::mutex& m_callbackMutex;
    AudioRest& m_rest;
    const PresetLoader& m_loader;
    const ClockThread::Step m_silentStep;
    AudioFunc m_callback = nullptr;
    void* m_callbackData = nullptr;
    _fluid_audio_driver_t* m_driver = nullptr; ///< the watchdog's once started
    std::string m_driverName;

    std::atomic<State> m_state { State::Loading };
    std::atomic<uint64_t> m_periods { 0 }; ///< audio callbacks so far: the driver's pulse
    std::atomic<int> m_periodFrames { 0 }; ///< frames the driver asked for last
    std::atomic<bool> m_resync { false }; ///< back from a stall: silence what piled up first
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_quit = false; ///< guarded by m_mutex
    bool m_poked = false; ///< guarded by m_mutex: a command came since the watchdog looked
    std::unique_ptr<ClockThread> m_fallback; ///< guarded by m_mutex
    std::atomic<bool> m_clockPlaying { false }; ///< the silent clock's last block was playing
    std::thread m_thread;
};

} // namespace sequora::midi
