#include "platform/midi/FluidSynthOutput.h"

#include <fluidsynth.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
        if (fluid_settings_setstr(settings, "audio.driver", driver.c_str()) != FLUID_OK)
            continue;
        // Whoever names JACK wants to hear it: connect to the system's playback ports.
        fluid_settings_setint(settings, "audio.jack.autoconnect", driver == "jack" ? 1 : 0);
        out->m_driver
            = new_fluid_audio_driver2(settings, &FluidSynthOutput::audioCallback, out.get());
        if (out->m_driver) {
            out->m_driverName = driver;
            // PulseAudio takes a pause in its stream in its stride; ALSA and JACK keep streaming.
            out->m_canRest = driver == "pulseaudio";
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
    m_restCv.notify_one();
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
    if (song)
        wanted = FluidSynthCore::presetsOf(*song);
    {
        std::lock_guard lock(m_loadMutex);
        m_wanted = std::move(wanted);
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
        m_wantedNew = false;
        lock.unlock();
        {
            // A callback that began before the flag was set has finished with the synth.
            std::lock_guard work(m_callbackMutex);
        }
        if (m_state.load() != State::Failed)
            m_core->usePresets(wanted);
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
    if (self->m_restNext)
        self->rest();
    // The watchdog takes this before it hands the time to the silent clock, so the two
    // never touch the synthesiser at once.
    std::lock_guard work(self->m_callbackMutex);
    const State state = self->m_state.load(std::memory_order_acquire);
    if (nout < 2 || state != State::Live || self->m_preparing.load(std::memory_order_acquire)) {
        for (int i = 0; i < nout; ++i)
            std::memset(out[i], 0, sizeof(float) * std::size_t(len));
        // Without a soundfont there will never be anything to hear.
        self->m_restNext = state == State::Failed && self->m_canRest;
        return FLUID_OK;
    }
    if (self->m_resync.exchange(false, std::memory_order_acq_rel))
        self->m_core->silence(); // notes the silent clock started are not ours to finish
    self->m_restNext = self->render(len, out[0], out[1]) && self->m_canRest;
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

void FluidSynthOutput::rest()
{
    // The period just handed over was silence; the stream may run dry while the
    // transport has nothing to say. The next command wakes this at once.
    std::unique_lock lock(m_restMutex);
    m_resting.store(true);
    m_restCv.wait(lock, [this] { return m_woken || m_stopping; });
    m_woken = false;
    m_resting.store(false);
    m_restNext = false;
}

void FluidSynthOutput::wake()
{
    {
        std::lock_guard lock(m_restMutex);
        m_woken = true;
    }
    m_restCv.notify_one();
    // Without a driver calling, the fallback clock keeps the time and sleeps when idle.
    std::lock_guard lock(m_watchMutex);
    if (m_fallback)
        m_fallback->wake();
}

void FluidSynthOutput::watch()
{
    using Clock = std::chrono::steady_clock;
    uint64_t seen = m_periods.load();
    Clock::time_point lastBeat = Clock::now();
    int steady = 0;
    State last = State::Loading;
    std::unique_lock lock(m_watchMutex);
    while (!m_watchCv.wait_for(lock, kWatchInterval, [this] { return m_quit; })) {
        const uint64_t now = m_periods.load();
        const Clock::time_point t = Clock::now();
        const State state = m_state.load();
        if (last == State::Loading && state == State::Live) {
            lastBeat = t; // the time spent loading was not played
            steady = 0;
        }
        last = state;
        const auto limit = steady >= kSteadyIntervals ? kStallLimit : kStartLimit;
        if (now != seen || m_resting.load()) {
            seen = now;
            lastBeat = t;
            steady = state == State::Live ? std::min(steady + 1, kSteadyIntervals) : steady;
            if (state == State::Lost) {
                // The driver calls again: the time is its own once more.
                m_fallback.reset();
                m_resync.store(true);
                m_state.store(State::Live);
                std::fprintf(
                    stderr, "sequora: the audio output (%s) is back\n", m_driverName.c_str());
            }
        } else if (state == State::Live && t - lastBeat > limit) {
            fallBack(t - lastBeat);
        } else if (state == State::Live && steady < kSteadyIntervals) {
            steady = 0; // not steady yet: start counting again
        }
    }
}

void FluidSynthOutput::fallBack(std::chrono::nanoseconds behind)
{
    std::lock_guard work(m_callbackMutex);
    m_state.store(State::Lost);
    std::fprintf(stderr, "sequora: the audio output (%s) stopped; playing on silently\n",
        m_driverName.c_str());
    m_fallback = std::make_unique<ClockThread>(
        sampleRate(), [this](uint32_t frames) { return runBlock(frames, [](uint32_t) {}); },
        behind);
}

// While the silent clock keeps the time, the synthesiser is still told everything, so
// that should the driver come back it plays on with the right instruments.
void FluidSynthOutput::sendShort(uint8_t status, uint8_t data1, uint8_t data2)
{
    if (m_state.load(std::memory_order_relaxed) != State::Failed)
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
