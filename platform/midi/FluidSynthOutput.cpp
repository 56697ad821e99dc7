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

constexpr std::chrono::milliseconds kWatchInterval{500};
// The driver calls back every period (tens of ms); this long without a call means the
// audio server went away.
constexpr std::chrono::seconds kStallLimit{2};

std::vector<std::string> driverCandidates(const std::string& requested)
{
    if (!requested.empty())
        return {requested};
    if (const char* env = std::getenv("SEQUORA_AUDIO_DRIVER"); env && *env)
        return {env};
    return {"pulseaudio", "alsa"};
}

} // namespace

std::unique_ptr<FluidSynthOutput> FluidSynthOutput::create(const Options& options, std::string& error)
{
    const std::string soundfont = FluidSynthCore::findSoundfont(options.soundfont);
    if (soundfont.empty()) {
        error = "no soundfont found (set SEQUORA_SOUNDFONT)";
        return nullptr;
    }
    auto core = FluidSynthCore::create(soundfont, options.sampleRate, true, error);
    if (!core)
        return nullptr;
    std::unique_ptr<FluidSynthOutput> out(new FluidSynthOutput(std::move(core)));

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
        out->m_driver = new_fluid_audio_driver2(settings, &FluidSynthOutput::audioCallback, out.get());
        if (out->m_driver) {
            out->m_driverName = driver;
            break;
        }
    }
    if (!out->m_driver) {
        error = "no audio device could be opened";
        return nullptr;
    }
    out->m_watchdog = std::thread([o = out.get()] { o->watch(); });
    return out;
}

FluidSynthOutput::~FluidSynthOutput()
{
    {
        std::lock_guard lock(m_watchMutex);
        m_quit = true;
    }
    m_watchCv.notify_one();
    if (m_watchdog.joinable())
        m_watchdog.join();
    m_fallback.reset();
    if (m_driver)
        delete_fluid_audio_driver(m_driver);
}

int FluidSynthOutput::audioCallback(void* data, int len, int, float*[], int nout, float* out[])
{
    auto* self = static_cast<FluidSynthOutput*>(data);
    self->m_periods.fetch_add(1, std::memory_order_relaxed);
    if (nout < 2 || self->m_lost.load(std::memory_order_acquire)) {
        for (int i = 0; i < nout; ++i)
            std::memset(out[i], 0, sizeof(float) * std::size_t(len));
        return FLUID_OK;
    }
    self->render(len, out[0], out[1]);
    return FLUID_OK;
}

void FluidSynthOutput::render(int frames, float* left, float* right)
{
    const auto total = static_cast<uint32_t>(frames);
    uint32_t done = 0;
    runBlock(total, [&](uint32_t frame) {
        const uint32_t upTo = frame >= total ? total
                                             : std::min(total, done + m_core->framesToNearestBoundary(frame - std::min(frame, done)));
        if (upTo > done) {
            m_core->renderFloat(left + done, right + done, static_cast<int>(upTo - done));
            done = upTo;
        }
    });
}

void FluidSynthOutput::wake()
{
    // The audio callback runs all the time; only the fallback clock sleeps.
    std::lock_guard lock(m_watchMutex);
    if (m_fallback)
        m_fallback->wake();
}

void FluidSynthOutput::watch()
{
    using Clock = std::chrono::steady_clock;
    uint64_t seen = m_periods.load();
    Clock::time_point lastBeat = Clock::now();
    std::unique_lock lock(m_watchMutex);
    while (!m_watchCv.wait_for(lock, kWatchInterval, [this] { return m_quit; })) {
        const uint64_t now = m_periods.load();
        if (now != seen) {
            seen = now;
            lastBeat = Clock::now();
        } else if (Clock::now() - lastBeat > kStallLimit) {
            lock.unlock();
            fallBack();
            return;
        }
    }
}

void FluidSynthOutput::fallBack()
{
    m_lost.store(true, std::memory_order_release);
    std::fprintf(stderr, "sequora: the audio output (%s) stopped; playing on silently\n", m_driverName.c_str());
    std::lock_guard lock(m_watchMutex);
    if (m_quit)
        return;
    m_fallback = std::make_unique<ClockThread>(sampleRate(), [this](uint32_t frames) {
        return runBlock(frames, [](uint32_t) {});
    });
}

void FluidSynthOutput::sendShort(uint8_t status, uint8_t data1, uint8_t data2)
{
    if (!m_lost.load(std::memory_order_relaxed))
        m_core->sendShort(status, data1, data2);
}

void FluidSynthOutput::sendSysex(std::span<const uint8_t> bytes)
{
    if (!m_lost.load(std::memory_order_relaxed))
        m_core->sendSysex(bytes);
}

void FluidSynthOutput::silence()
{
    if (!m_lost.load(std::memory_order_relaxed))
        m_core->silence();
}

void FluidSynthOutput::reset()
{
    if (!m_lost.load(std::memory_order_relaxed))
        m_core->reset();
}

} // namespace sequora::midi
