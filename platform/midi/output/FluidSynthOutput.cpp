#include "platform/midi/output/FluidSynthOutput.h"

#include "platform/midi/file/MidiBytes.h"

#include <fluidsynth.h>

#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

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

std::vector<std::string> driverCandidates(const std::string& requested)
{
    if (!requested.empty())
        return { requested };
    if (const char* env = std::getenv("SEQUORA_AUDIO_DRIVER"); env && *env)
        return { env };
    return { "pulseaudio", "alsa" };
}

} // namespace

std::unique_ptr<FluidSynthOutput> FluidSynthOutput::create(
    const Options& options, std::string& error)
{
    const std::string soundfont = FluidSynthCore::findSoundfont(options.soundfont);
    if (soundfont.empty()) {
        error = "no soundfont found (set SEQUORA_SOUNDFONT)";
        return nullptr;
    }
    auto core = FluidSynthCore::create(options.sampleRate, true, error);
    if (!core)
        return nullptr;
    std::unique_ptr<FluidSynthOutput> out(new FluidSynthOutput(std::move(core)));
    // Sound leaves one period after it is rendered (the other is being played), plus
    // the limiter's look-ahead.
    out->m_latency = options.periodSize * std::max(1, options.periods - 1) + out->m_core->latency();

    // A JACK client must never start a JACK server of its own.
    ::setenv("JACK_NO_START_SERVER", "1", 0);
    fluid_settings_t* settings = out->m_core->settings();
    fluid_settings_setint(settings, "audio.period-size", options.periodSize);
    fluid_settings_setint(settings, "audio.periods", options.periods);
    for (const std::string& driver : driverCandidates(options.driver)) {
        // PulseAudio's and ALSA's threads are the driver's own, and their streams take a
        // pause in their stride (ALSA's runs dry, and the driver starts it again when the
        // next period comes); JACK's process callback must never wait.
        if (driver == "jack")
            out->m_rest = Rest::Skip;
        else if (driver == "pulseaudio" || driver == "alsa")
            out->m_rest = Rest::Hold;
        else
            out->m_rest = Rest::None;
        out->m_driver = out->openDriver(driver);
        if (out->m_driver) {
            out->m_driverName = driver;
            break;
        }
    }
    if (!out->m_driver) {
        error = "no audio device could be opened";
        return nullptr;
    }
    // A full General MIDI soundfont takes a second or two to read: the window and the
    // device need not wait for it.
    out->m_loader = std::thread([o = out.get(), soundfont] { o->loadLoop(soundfont); });
    out->m_watchdog = std::thread([o = out.get()] { o->watch(); });
    return out;
}

FluidSynthOutput::~FluidSynthOutput()
{
    {
        std::lock_guard lock(m_loadMutex);
        m_loadQuit = true;
    }
    m_loadCv.notify_one();
    if (m_loader.joinable())
        m_loader.join();
    {
        std::lock_guard lock(m_watchMutex);
        m_quit = true;
    }
    m_watchCv.notify_one();
    if (m_watchdog.joinable())
        m_watchdog.join();
    m_fallback.reset();
    {
        std::lock_guard lock(m_restMutex);
        m_stopping = true; // a resting callback must let the driver's thread end
    }
    m_restCv.notify_all();
    if (m_driver)
        delete_fluid_audio_driver(m_driver);
}

void FluidSynthOutput::load(const std::string& soundfont)
{
    std::string error;
    if (m_core->loadSoundfont(soundfont, error)) {
        State loading = State::Loading;
        m_state.compare_exchange_strong(loading, State::Live);
        return;
    }
    std::fprintf(stderr, "sequora: no sound (%s); playing silently\n", error.c_str());
    std::lock_guard lock(m_watchMutex);
    m_state.store(State::Failed);
    if (!m_quit)
        m_fallback = std::make_unique<ClockThread>(
            sampleRate(), [this](uint32_t frames) { return runBlock(frames, [](uint32_t) {}); });
}

void FluidSynthOutput::prepare(const Song* song)
{
    std::vector<PresetRequest> wanted;
    FluidSynthCore::EffectNeeds effects;
    if (song) {
        wanted = FluidSynthCore::presetsOf(*song);
        effects = FluidSynthCore::effectsOf(*song);
    }
    {
        std::lock_guard lock(m_loadMutex);
        m_wanted = std::move(wanted);
        m_wantedEffects = effects;
        m_wantedNew = true;
        m_preparing.store(true);
    }
    m_loadCv.notify_one();
}

void FluidSynthOutput::loadLoop(const std::string& soundfont)
{
    load(soundfont);
    std::unique_lock lock(m_loadMutex);
    for (;;) {
        m_loadCv.wait(lock, [this] { return m_wantedNew || m_loadQuit; });
        if (m_loadQuit)
            return;
        std::vector<PresetRequest> wanted = std::move(m_wanted);
        const FluidSynthCore::EffectNeeds effects = m_wantedEffects;
        m_wantedNew = false;
        lock.unlock();
        {
            // A callback that began before the flag was set has finished with the synth.
            std::lock_guard work(m_callbackMutex);
        }
        if (m_state.load() != State::Failed) {
            // The song being replaced lets go of its presets here, not in the callback:
            // its parts go back to power-on (the transport's own reset follows anyway),
            // so the samples no longer wanted are freed on this thread.
            m_core->reset();
            m_core->usePresets(wanted, effects);
        }
        lock.lock();
        if (!m_wantedNew) {
            m_preparing.store(false);
            lock.unlock();
            wake();
            lock.lock();
        }
    }
}

int FluidSynthOutput::audioCallback(void* data, int len, int, float*[], int nout, float* out[])
{
    auto* self = static_cast<FluidSynthOutput*>(data);
    self->m_periods.fetch_add(1, std::memory_order_relaxed);
    self->m_periodFrames.store(len, std::memory_order_relaxed);
    uint64_t wakes = self->m_wakes.load(std::memory_order_acquire);
    if (self->m_restNext && wakes == self->m_wakesSeen) {
        // The last block found nothing to do and no command has come since.
        if (self->m_rest == Rest::Skip) {
            self->m_parkedAt.store(wakes);
            for (int i = 0; i < nout; ++i)
                std::memset(out[i], 0, sizeof(float) * std::size_t(len));
            return FLUID_OK;
        }
        self->hold(wakes);
        wakes = self->m_wakes.load(std::memory_order_acquire);
    }
    self->m_parkedAt.store(kNotParked);
    self->m_wakesSeen = wakes; // what the commands so far queued, this block pulls
    // The watchdog takes this before it hands the time to the silent clock, so the two
    // never touch the synthesiser at once.
    std::lock_guard work(self->m_callbackMutex);
    const State state = self->m_state.load(std::memory_order_acquire);
    if (nout < 2 || state != State::Live || self->m_preparing.load(std::memory_order_acquire)) {
        for (int i = 0; i < nout; ++i)
            std::memset(out[i], 0, sizeof(float) * std::size_t(len));
        // Without a soundfont there will never be anything to hear.
        self->m_restNext = state == State::Failed && self->m_rest != Rest::None;
        return FLUID_OK;
    }
    if (self->m_resync.exchange(false, std::memory_order_acq_rel)) {
        // Back from the silent clock, which gave the synthesiser no notes: whatever still
        // rings is stale, and the notes sounding at the position are struck again.
        self->m_core->silence();
        self->strikeAgain();
    }
    self->m_restNext = self->render(len, out[0], out[1]) && self->m_rest != Rest::None;
    return FLUID_OK;
}

bool FluidSynthOutput::render(int frames, float* left, float* right)
{
    const auto total = static_cast<uint32_t>(frames);
    uint32_t done = 0;
    const PullResult result = runBlock(
        total, [&](uint32_t frame) { m_core->renderUpTo(frame, total, done, left, right); });
    m_core->settle(!result.playing);
    return !result.playing && m_core->isQuiet();
}

void FluidSynthOutput::hold(uint64_t wakes)
{
    // The period just handed over was silence; the stream may run dry while the
    // transport has nothing to say. The next command wakes this at once.
    std::unique_lock lock(m_restMutex);
    m_parkedAt.store(wakes);
    m_restCv.wait(lock, [&] { return m_wakes.load() != wakes || m_stopping; });
}

void FluidSynthOutput::wake()
{
    {
        std::lock_guard lock(m_restMutex);
        m_wakes.fetch_add(1, std::memory_order_acq_rel);
    }
    m_restCv.notify_all();
    // Without a driver calling, the fallback clock keeps the time and sleeps when idle.
    // The watchdog looks again, and with the sound lost tries the driver at once.
    std::lock_guard lock(m_watchMutex);
    m_poked = true;
    m_watchCv.notify_one();
    if (m_fallback)
        m_fallback->wake();
}

void FluidSynthOutput::watch()
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
    std::unique_lock lock(m_watchMutex);
    const auto woken = [this] { return m_poked || m_quit; };
    for (;;) {
        // While the callback rests, or the silent clock stands still, nothing can change
        // until a command comes: sleep until then. A driver opened anew is watched closely.
        if (idle)
            m_watchCv.wait(lock, woken);
        else
            m_watchCv.wait_for(lock, opened ? kStartingInterval : kWatchInterval, woken);
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
        const bool beat = now != seen || parked();
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
                kCallGap, std::chrono::milliseconds(3 * 1000 * frames / sampleRate()));
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
        idle = s == State::Failed || (s == State::Live && parked())
            || (s == State::Lost && !tryNow && !opened && !m_clockPlaying.load());
    }
}

void FluidSynthOutput::fallBack(std::chrono::nanoseconds behind)
{
    std::lock_guard work(m_callbackMutex);
    m_state.store(State::Lost);
    std::fprintf(stderr, "sequora: the audio output (%s) stopped; playing on silently\n",
        m_driverName.c_str());
    // FluidSynth carries out what a message does to its voices only as it renders, and
    // nothing renders until the sound is back: sounding voices would queue every
    // controller until the queue is full, and then even the return's silence is dropped.
    // They end here; while presets are read, the loader owns the synth and ends them.
    if (!m_preparing.load(std::memory_order_acquire))
        m_core->silence();
    m_clockPlaying.store(true); // until the clock finds nothing to play
    m_fallback = std::make_unique<ClockThread>(
        sampleRate(),
        [this](uint32_t frames) {
            // While presets are read the transport holds still, as with the callback;
            // the loader wakes the clock when they are there.
            if (m_preparing.load(std::memory_order_acquire))
                return PullResult {};
            const PullResult result = runBlock(frames, [](uint32_t) {});
            m_clockPlaying.store(result.playing);
            return result;
        },
        behind);
}

_fluid_audio_driver_t* FluidSynthOutput::openDriver(const std::string& driver)
{
    fluid_settings_t* settings = m_core->settings();
    if (fluid_settings_setstr(settings, "audio.driver", driver.c_str()) != FLUID_OK)
        return nullptr;
    // Whoever names JACK wants to hear it: connect to the system's playback ports.
    fluid_settings_setint(settings, "audio.jack.autoconnect", driver == "jack" ? 1 : 0);
    if (driver == "jack")
        quietJack();
    return new_fluid_audio_driver2(settings, &FluidSynthOutput::audioCallback, this);
}

uint64_t FluidSynthOutput::reopen()
{
    // The driver has not called since the silent clock took over: its server went away
    // (PulseAudio's and ALSA's threads end, JACK's client is shut down) or hangs. Its
    // device may be one only one stream can have, so it goes first.
    if (m_driver) {
        {
            // A callback resting in it must let its thread end.
            std::lock_guard lock(m_restMutex);
            m_wakes.fetch_add(1, std::memory_order_acq_rel);
        }
        m_restCv.notify_all();
        delete_fluid_audio_driver(m_driver);
        m_driver = nullptr;
    }
    const uint64_t before = m_periods.load();
    m_driver = openDriver(m_driverName);
    return before;
}

// While the silent clock keeps the time, the synthesiser is still told everything but
// the notes, so that should the driver come back it plays on with the right instruments.
// A note given to it then would start only on the return, with every other one given
// meanwhile, and fill its queue (see fallBack()): the transport strikes again those
// still sounding then instead.
void FluidSynthOutput::sendShort(uint8_t status, uint8_t data1, uint8_t data2)
{
    const State state = m_state.load(std::memory_order_relaxed);
    if (state == State::Failed)
        return;
    const uint8_t command = commandOf(status);
    if (state == State::Lost
        && (command == kNoteOn || command == kNoteOff || command == kPolyPressure))
        return;
    m_core->sendShort(status, data1, data2);
}

void FluidSynthOutput::sendSysex(std::span<const uint8_t> bytes)
{
    if (m_state.load(std::memory_order_relaxed) != State::Failed)
        m_core->sendSysex(bytes);
}

void FluidSynthOutput::silence()
{
    if (m_state.load(std::memory_order_relaxed) != State::Failed)
        m_core->silence();
}

void FluidSynthOutput::reset()
{
    if (m_state.load(std::memory_order_relaxed) != State::Failed)
        m_core->reset();
}

} // namespace sequora::midi
