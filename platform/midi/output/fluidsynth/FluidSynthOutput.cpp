#include "platform/midi/output/fluidsynth/FluidSynthOutput.h"

#include "platform/midi/file/MidiBytes.h"

#include <fluidsynth.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

namespace sequora::midi {

namespace {

std::vector<std::string> driverCandidates(const std::string& requested)
{
    if (!requested.empty())
        return { requested };
    if (const char* env = std::getenv("SEQUORA_AUDIO_DRIVER"); env && *env)
        return { env };
    return { "pulseaudio", "alsa" };
}

void silent(float* out[], int nout, int frames)
{
    for (int i = 0; i < nout; ++i)
        std::memset(out[i], 0, sizeof(float) * std::size_t(frames));
}

} // namespace

FluidSynthOutput::FluidSynthOutput(std::unique_ptr<FluidSynthCore> core)
    : m_core(std::move(core))
    , m_loader(*m_core, m_callbackMutex)
    , m_watchdog(*m_core, m_callbackMutex, m_rest, m_loader,
          [this](uint32_t frames) { return runBlock(frames, [](uint32_t) {}); })
{
}

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
    core->setSound(options.reverb, options.chorus, options.levelDb);
    std::unique_ptr<FluidSynthOutput> out(new FluidSynthOutput(std::move(core)));
    // Sound leaves one period after it is rendered (the other is being played), plus
    // the limiter's look-ahead.
    out->m_latency = options.periodSize * std::max(1, options.periods - 1) + out->m_core->latency();

    // A JACK client must never start a JACK server of its own.
    ::setenv("JACK_NO_START_SERVER", "1", 0);
    fluid_settings_t* settings = out->m_core->settings();
    fluid_settings_setint(settings, "audio.period-size", options.periodSize);
    fluid_settings_setint(settings, "audio.periods", options.periods);
    bool opened = false;
    for (const std::string& driver : driverCandidates(options.driver)) {
        // PulseAudio's and ALSA's threads are the driver's own, and their streams take a
        // pause in their stride (ALSA's runs dry, and the driver starts it again when the
        // next period comes); JACK's process callback must never wait.
        if (driver == "jack")
            out->m_rest.setMode(AudioRest::Mode::Skip);
        else if (driver == "pulseaudio" || driver == "alsa")
            out->m_rest.setMode(AudioRest::Mode::Hold);
        else
            out->m_rest.setMode(AudioRest::Mode::None);
        opened = out->m_watchdog.open(driver, &FluidSynthOutput::audioCallback, out.get());
        if (opened)
            break;
    }
    if (!opened) {
        error = "no audio device could be opened";
        return nullptr;
    }
    // A full General MIDI soundfont takes a second or two to read: the window and the
    // device need not wait for it.
    FluidSynthOutput* o = out.get();
    PresetLoader::Hooks hooks;
    hooks.soundfontRead = [o](bool loaded, const std::string& why) {
        if (loaded) {
            o->m_watchdog.soundfontLoaded();
            return;
        }
        if (o->m_sayFailure.load())
            std::fprintf(stderr, "sequora: no sound (%s); playing silently\n", why.c_str());
        o->m_watchdog.soundfontFailed();
    };
    hooks.presetsRead = [o] { o->wake(); };
    o->m_loader.start(soundfont, std::move(hooks));
    o->m_watchdog.start();
    return out;
}

bool FluidSynthOutput::waitUntilReady(std::chrono::milliseconds limit, std::string& error)
{
    // The loader says how the soundfont went through the watchdog's state; its headers
    // take a fraction of a second even for a full General MIDI font.
    constexpr std::chrono::milliseconds kLook { 5 };
    // A soundfont that does not load is the caller's to report: it keeps what it had.
    m_sayFailure.store(false);
    const auto until = std::chrono::steady_clock::now() + limit;
    while (m_watchdog.state() == State::Loading && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(kLook);
    if (m_watchdog.state() != State::Failed) {
        m_sayFailure.store(true);
        return true;
    }
    error = "the soundfont did not load";
    return false;
}

FluidSynthOutput::~FluidSynthOutput()
{
    m_loader.stop();
    m_watchdog.stop();
    m_rest.stop(); // a resting callback must let the driver's thread end
    m_watchdog.close();
}

std::string FluidSynthOutput::instrumentName(const PresetRequest& request) const
{
    // Live and Lost come only after the font was read; it is never read again.
    const State state = m_watchdog.state();
    if (state == State::Live || state == State::Lost) {
        if (std::string name = m_core->presetName(request); !name.empty())
            return name;
    }
    return Output::instrumentName(request);
}

void FluidSynthOutput::prepare(const Song* song)
{
    if (song)
        m_loader.prepare(FluidSynthCore::presetsOf(*song), FluidSynthCore::effectsOf(*song));
    else
        m_loader.prepare({});
}

int FluidSynthOutput::audioCallback(void* data, int len, int, float*[], int nout, float* out[])
{
    auto* self = static_cast<FluidSynthOutput*>(data);
    self->m_watchdog.beat(len);
    if (!self->m_rest.begin()) {
        silent(out, nout, len);
        return FLUID_OK;
    }
    // The watchdog takes this before it hands the time to the silent clock, so the two
    // never touch the synthesiser at once.
    std::lock_guard work(self->m_callbackMutex);
    const State state = self->m_watchdog.state(std::memory_order_acquire);
    if (nout < 2 || state != State::Live || self->m_loader.preparing()) {
        silent(out, nout, len);
        // Without a soundfont there will never be anything to hear.
        self->m_rest.end(state == State::Failed);
        return FLUID_OK;
    }
    if (self->m_watchdog.takeResync()) {
        // Back from the silent clock, which gave the synthesiser no notes: whatever still
        // rings is stale, and the notes sounding at the position are struck again.
        self->m_core->silence();
        self->strikeAgain();
    }
    self->m_rest.end(self->render(len, out[0], out[1]));
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

void FluidSynthOutput::wake()
{
    m_rest.wake();
    // The watchdog looks again, and with the sound lost tries the driver at once.
    m_watchdog.poke();
}

// While the silent clock keeps the time, the synthesiser is still told everything but
// the notes, so that should the driver come back it plays on with the right instruments.
// A note given to it then would start only on the return, with every other one given
// meanwhile, and fill its queue (see StallWatchdog::fallBack()): the transport strikes again those
// still sounding then instead.
void FluidSynthOutput::sendShort(uint8_t status, uint8_t data1, uint8_t data2)
{
    sendPortShort(0, status, data1, data2);
}

void FluidSynthOutput::sendPortShort(uint8_t port, uint8_t status, uint8_t data1, uint8_t data2)
{
    const State state = m_watchdog.state(std::memory_order_relaxed);
    if (state == State::Failed)
        return;
    const uint8_t command = commandOf(status);
    if (state == State::Lost
        && (command == kNoteOn || command == kNoteOff || command == kPolyPressure))
        return;
    m_core->sendShort(status, data1, data2, port);
}

void FluidSynthOutput::sendSysex(std::span<const uint8_t> bytes)
{
    sendPortSysex(0, bytes);
}

void FluidSynthOutput::sendPortSysex(uint8_t port, std::span<const uint8_t> bytes)
{
    if (m_watchdog.state(std::memory_order_relaxed) != State::Failed)
        m_core->sendSysex(bytes, port);
}

void FluidSynthOutput::silence()
{
    if (m_watchdog.state(std::memory_order_relaxed) != State::Failed)
        m_core->silence();
}

void FluidSynthOutput::reset()
{
    if (m_watchdog.state(std::memory_order_relaxed) != State::Failed)
        m_core->reset();
}

void FluidSynthOutput::restore(SystemMode mode)
{
    if (m_watchdog.state(std::memory_order_relaxed) != State::Failed)
        m_core->restore(mode);
}

void FluidSynthOutput::fade(uint32_t at, uint32_t length)
{
    m_core->fade(at, length);
}

} // namespace sequora::midi
