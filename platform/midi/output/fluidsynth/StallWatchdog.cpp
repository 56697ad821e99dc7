#include "platform/midi/output/fluidsynth/StallWatchdog.h"

#include "platform/midi/output/fluidsynth/AudioRest.h"
#include "platform/midi/output/fluidsynth/FluidSynthCore.h"
#include "platform/midi/output/fluidsynth/PresetLoader.h"

#include <fluidsynth.h>

#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <utility>

namespace sequora::midi {

namespace {

constexpr std::chrono::milliseconds kWatchInterval { 100 };
// The driver calls back every period (tens of ms); once it does so steadily, this long
// without a call means the audio server stalled or went away, and the silent clock
// takes over.
constexpr std::chrono::milliseconds kStallLimit { 300 };
// A new stream may stand still for most of a second before the server starts it; until
// the calls have come steadily for a while, only a long silence counts as a loss.
constexpr std::chrono::milliseconds kStartLimit { 2000 };
constexpr int kSteadyIntervals = 3;
// While the silent clock plays, the driver is opened anew this often until it opens, so
// the sound is back soon after the server; a command (open, play, ...) tries at once, but
// never sooner than the gap after the last try.
constexpr std::chrono::milliseconds kRetryInterval { 250 };
constexpr std::chrono::milliseconds kRetryGap { 100 };
// A driver opened anew is looked at this often until it calls steadily: calls with no gap
// longer than three periods (and at least kCallGap) for kSteadyCalls. One that has not
// come to call by kOpenLimit is opened again.
constexpr std::chrono::milliseconds kStartingInterval { 50 };
constexpr std::chrono::milliseconds kCallGap { 150 };
constexpr std::chrono::milliseconds kSteadyCalls { 150 };
constexpr std::chrono::milliseconds kOpenLimit { 5000 };

// libjack reports a server it cannot reach on standard error, at every try; the output
// says what matters itself, once. libjack comes with FluidSynth's JACK driver, so it is
// looked up in the process rather than linked.
void quietJack()
{
    static std::once_flag once;
    std::call_once(once, [] {
        using Report = void (*)(const char*);
        using SetReport = void (*)(Report);
        for (const char* name : { "jack_set_error_function", "jack_set_info_function" }) {
            if (void* set = ::dlsym(RTLD_DEFAULT, name))
                reinterpret_cast<SetReport>(set)([](const char*) {});
        }
    });
}

} // namespace

StallWatchdog::StallWatchdog(FluidSynthCore& core, std::mutex& callbackMutex, AudioRest& rest,
    const PresetLoader& loader, ClockThread::Step silentStep)
    : m_core(core)
    , m_callbackMutex(callbackMutex)
    , m_rest(rest)
    , m_loader(loader)
    , m_silentStep(std::move(silentStep))
{
}

StallWatchdog::~StallWatchdog()
{
    stop();
    close();
}

bool StallWatchdog::open(const std::string& driver, AudioFunc callback, void* data)
{
    m_callback = callback;
    m_callbackData = data;
    m_driver = openDriver(driver);
    if (!m_driver)
        return false;
    m_driverName = driver;
    return true;
}

void StallWatchdog::start()
{
    m_thread = std::thread([this] { watch(); });
}

void StallWatchdog::stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_cv.notify_one();
    if (m_thread.joinable())
        m_thread.join();
    m_fallback.reset();
}

void StallWatchdog::close()
{
    if (m_driver)
        delete_fluid_audio_driver(m_driver);
    m_driver = nullptr;
}

void StallWatchdog::soundfontLoaded()
{
    State loading = State::Loading;
    m_state.compare_exchange_strong(loading, State::Live);
}

void StallWatchdog::soundfontFailed()
{
    std::lock_guard lock(m_mutex);
    m_state.store(State::Failed);
    if (!m_quit)
        m_fallback = std::make_unique<ClockThread>(m_core.sampleRate(), m_silentStep);
}

void StallWatchdog::poke()
{
    // Without a driver calling, the silent clock keeps the time and sleeps when idle.
    std::lock_guard lock(m_mutex);
    m_poked = true;
    m_cv.notify_one();
    if (m_fallback)
        m_fallback->wake();
}

void StallWatchdog::watch()
{
    using Clock = std::chrono::steady_clock;
    uint64_t seen = m_periods.load();
    Clock::time_point lastBeat = Clock::now();
    Clock::time_point lastTry {};
    Clock::time_point callingSince {};
    bool calling = false; // while lost: the driver has called with no gap since callingSince
    bool tryNow = false; // the sound just went, or a command came since: open the driver
    bool opened = false; // a driver was opened since the loss and may yet start calling
    bool idle = false;
    int steady = 0;
    State last = State::Loading;
    std::unique_lock lock(m_mutex);
    const auto woken = [this] { return m_poked || m_quit; };
    for (;;) {
        // While the callback rests, or the silent clock stands still, nothing can change
        // until a command comes: sleep until then. A driver opened anew is watched closely.
        if (idle)
            m_cv.wait(lock, woken);
        else
            m_cv.wait_for(lock, opened ? kStartingInterval : kWatchInterval, woken);
        if (m_quit)
            break;
        const bool poked = std::exchange(m_poked, false);
        const uint64_t now = m_periods.load();
        const Clock::time_point t = Clock::now();
        const State state = m_state.load();
        if (idle) {
            lastBeat = t; // the time asleep was not played
            // ALSA's stream ran dry while it rested, and may be set up anew (its PulseAudio
            // plugin makes a new stream) and stand still for a while as a new one does.
            if (state == State::Live && m_driverName == "alsa")
                steady = 0;
        }
        if (last == State::Loading && state == State::Live) {
            lastBeat = t; // the time spent loading was not played
            steady = 0;
        }
        last = state;
        const bool beat = now != seen || m_rest.parked();
        const Clock::duration sinceBeat = t - lastBeat;
        if (beat) {
            seen = now;
            lastBeat = t;
        }
        if (state == State::Live) {
            const auto limit = steady >= kSteadyIntervals ? kStallLimit : kStartLimit;
            if (beat) {
                steady = std::min(steady + 1, kSteadyIntervals);
            } else if (sinceBeat > limit) {
                fallBack(sinceBeat);
                tryNow = true;
                opened = false;
                calling = false;
            } else if (steady < kSteadyIntervals) {
                steady = 0; // not steady yet: start counting again
            }
        } else if (state == State::Lost) {
            // The driver calls again. While the silent clock plays, the time is handed
            // back only once the calls come steadily (a new stream may stand still for a
            // while before the server starts it), so the song goes on where the clock is.
            const int64_t frames = std::max(1, m_periodFrames.load());
            const auto gap = std::max<Clock::duration>(
                kCallGap, std::chrono::milliseconds(3 * 1000 * frames / m_core.sampleRate()));
            if (!beat && sinceBeat > gap)
                calling = false;
            if (beat && (!calling || sinceBeat > gap)) {
                calling = true;
                callingSince = t;
            }
            if (beat && (t - callingSince >= kSteadyCalls || !m_clockPlaying.load())) {
                m_fallback.reset();
                m_resync.store(true);
                m_state.store(State::Live);
                steady = t - callingSince >= kSteadyCalls ? kSteadyIntervals : 0;
                tryNow = false;
                opened = false;
                std::fprintf(
                    stderr, "sequora: the audio output (%s) is back\n", m_driverName.c_str());
            } else if (opened && t - lastTry > kOpenLimit && sinceBeat > kStartLimit) {
                opened = false; // it never came to call steadily: open it anew
            }
        }
        if (m_state.load() == State::Lost) {
            tryNow = tryNow || poked;
            const bool due = !opened
                && (tryNow ? t - lastTry >= kRetryGap
                           : m_clockPlaying.load() && t - lastTry >= kRetryInterval);
            if (due) {
                tryNow = false;
                lock.unlock();
                const uint64_t before = reopen();
                lock.lock();
                seen = before; // only the new driver's calls mean the sound is back
                calling = false;
                lastTry = Clock::now();
                opened = m_driver != nullptr;
            }
        }
        const State s = m_state.load();
        idle = s == State::Failed || (s == State::Live && m_rest.parked())
            || (s == State::Lost && !tryNow && !opened && !m_clockPlaying.load());
    }
}

void StallWatchdog::fallBack(std::chrono::nanoseconds behind)
{
    std::lock_guard work(m_callbackMutex);
    m_state.store(State::Lost);
    std::fprintf(stderr, "sequora: the audio output (%s) stopped; playing on silently\n",
        m_driverName.c_str());
    // FluidSynth carries out what a message does to its voices only as it renders, and
    // nothing renders until the sound is back: sounding voices would queue every
    // controller until the queue is full, and then even the return's silence is dropped.
    // They end here; while presets are read, the loader owns the synth and ends them.
    if (!m_loader.preparing())
        m_core.silence();
    m_clockPlaying.store(true); // until the clock finds nothing to play
    m_fallback = std::make_unique<ClockThread>(
        m_core.sampleRate(),
        [this](uint32_t frames) {
            // While presets are read the transport holds still, as with the callback;
            // the loader wakes the clock when they are there.
            if (m_loader.preparing())
                return PullResult {};
            const PullResult result = m_silentStep(frames);
            m_clockPlaying.store(result.playing);
            return result;
        },
        behind);
}

_fluid_audio_driver_t* StallWatchdog::openDriver(const std::string& driver)
{
    fluid_settings_t* settings = m_core.settings();
    if (fluid_settings_setstr(settings, "audio.driver", driver.c_str()) != FLUID_OK)
        return nullptr;
    // Whoever names JACK wants to hear it: connect to the system's playback ports.
    fluid_settings_setint(settings, "audio.jack.autoconnect", driver == "jack" ? 1 : 0);
    if (driver == "jack")
        quietJack();
    return new_fluid_audio_driver2(settings, m_callback, m_callbackData);
}

uint64_t StallWatchdog::reopen()
{
    // The driver has not called since the silent clock took over: its server went away
    // (PulseAudio's and ALSA's threads end, JACK's client is shut down) or hangs. Its
    // device may be one only one stream can have, so it goes first.
    if (m_driver) {
        m_rest.wake(); // a callback resting in it must let its thread end
        delete_fluid_audio_driver(m_driver);
        m_driver = nullptr;
    }
    const uint64_t before = m_periods.load();
    m_driver = openDriver(m_driverName);
    return before;
}

} // namespace sequora::midi
