// The process-wide engine behind the MCI sequencer device: one Sequencer whose output
// comes from the set-up the device layer configures (else from the environment),
// created on first use and made anew when the set-up changes.

#include "platform/midi/output/AlsaSeqOutput.h"
#include "platform/midi/output/fluidsynth/FluidSynthOutput.h"
#include "platform/midi/output/NullOutput.h"
#include "platform/midi/transport/Sequencer.h"

#include <alsa/asoundlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>

namespace sequora::midi::engine {

namespace {

constexpr std::string_view kAlsaPrefix = "alsa:";

void quietAlsa(const char*, int, const char*, int, const char*, ...) {}

std::unique_ptr<Output> silentFallback(const std::string& why)
{
    std::fprintf(stderr, "sequora: no sound (%s); playing silently\n", why.c_str());
    return std::make_unique<NullOutput>();
}

// The set-up the environment asks for; an unknown output gives none.
SoundSetup setupFromEnvironment(std::string& unknown)
{
    SoundSetup setup;
    const char* env = std::getenv("SEQUORA_MIDI_OUT");
    const std::string choice = env ? env : "";
    if (choice.empty() || choice == "fluidsynth") {
        setup.device = SoundSetup::Device::SoftSynth;
    } else if (choice.starts_with(kAlsaPrefix)) {
        setup.device = SoundSetup::Device::AlsaPort;
        setup.port = choice.substr(kAlsaPrefix.size());
    } else if (choice == "null") {
        setup.device = SoundSetup::Device::None;
    } else if (choice == "manual") {
        setup.device = SoundSetup::Device::ManualClock;
    } else {
        setup.device = SoundSetup::Device::None;
        unknown = choice;
    }
    if (const char* soundfont = std::getenv("SEQUORA_SOUNDFONT"))
        setup.soundfont = soundfont;
    return setup;
}

/// The output @p setup asks for; null with @p error set when it cannot be made.
std::unique_ptr<Output> makeOutput(const SoundSetup& setup, std::string& error)
{
    // ALSA's library writes its complaints to standard error; the engine says what
    // matters itself, once.
    snd_lib_error_set_handler(&quietAlsa);
    switch (setup.device) {
    case SoundSetup::Device::SoftSynth: {
        FluidSynthOutput::Options options;
        options.soundfont = setup.soundfont;
        options.reverb = setup.reverb;
        options.chorus = setup.chorus;
        options.levelDb = setup.levelDb;
        return FluidSynthOutput::create(options, error);
    }
    case SoundSetup::Device::AlsaPort:
        return AlsaSeqOutput::create(setup.port, error);
    case SoundSetup::Device::None:
        return std::make_unique<NullOutput>();
    case SoundSetup::Device::ManualClock:
        return std::make_unique<ManualClockOutput>();
    }
    error = "no such output";
    return nullptr;
}

// How long a change of output waits for the new one to read its soundfont.
constexpr std::chrono::seconds kReadyLimit { 10 };

std::mutex g_mutex;
std::unique_ptr<Sequencer> g_sequencer;
std::optional<SoundSetup> g_setup;

// The set-up to use, under g_mutex: the one configured, else the environment's.
SoundSetup& setup()
{
    if (!g_setup) {
        std::string unknown;
        g_setup = setupFromEnvironment(unknown);
        if (!unknown.empty())
            std::fprintf(stderr,
                "sequora: no sound (unknown SEQUORA_MIDI_OUT \"%s\"); playing silently\n",
                unknown.c_str());
    }
    return *g_setup;
}

Sequencer& instance(bool manual)
{
    std::lock_guard lock(g_mutex);
    if (!g_sequencer) {
        std::unique_ptr<Output> output;
        if (manual) {
            output = std::make_unique<ManualClockOutput>();
        } else {
            std::string error;
            output = makeOutput(setup(), error);
            if (!output)
                output = silentFallback(error);
        }
        g_sequencer = std::make_unique<Sequencer>(std::move(output));
    }
    return *g_sequencer;
}

} // namespace

void configure(const SoundSetup& wanted)
{
    std::lock_guard lock(g_mutex);
    if (!g_sequencer)
        g_setup = wanted;
}

SoundSetup currentSetup()
{
    std::lock_guard lock(g_mutex);
    return setup();
}

bool apply(const SoundSetup& wanted, std::string& error, bool* soundfontFailed)
{
    std::unique_ptr<Output> old;
    {
        std::lock_guard lock(g_mutex);
        if (!g_sequencer) {
            g_setup = wanted;
            return true;
        }
        if (g_setup && *g_setup == wanted)
            return true;
        // The same synthesiser with the same soundfont changes its effects and level in
        // place, without a gap.
        if (g_setup && g_setup->device == wanted.device && g_setup->port == wanted.port
            && g_setup->soundfont == wanted.soundfont) {
            g_sequencer->output().setSound(wanted.reverb, wanted.chorus, wanted.levelDb);
            g_setup = wanted;
            return true;
        }
        // The new output reads its soundfont while the old one plays on; one that does not
        // load leaves the old one in use.
        std::unique_ptr<Output> output = makeOutput(wanted, error);
        if (!output)
            return false;
        if (!output->waitUntilReady(kReadyLimit, error)) {
            if (soundfontFailed != nullptr)
                *soundfontFailed = true;
            return false;
        }
        old = g_sequencer->replaceOutput(std::move(output));
        g_setup = wanted;
    }
    // An output that goes may wait for its threads and its audio stream: not under the lock.
    old.reset();
    return true;
}

Sequencer& sequencer()
{
    return instance(false);
}

void useManualClock()
{
    Sequencer& seq = instance(true);
    {
        std::lock_guard lock(g_mutex);
        setup().device = SoundSetup::Device::ManualClock;
        setup().port.clear();
    }
    if (dynamic_cast<ManualClockOutput*>(&seq.output()))
        seq.close();
    else
        seq.setOutput(std::make_unique<ManualClockOutput>());
}

void advanceManualClock(int64_t ms)
{
    if (auto* manual = dynamic_cast<ManualClockOutput*>(&sequencer().output()))
        manual->advance(ms);
}

} // namespace sequora::midi::engine
