// The process-wide engine behind the MCI sequencer device: one Sequencer whose output
// comes from the environment, created on first use.

#include "platform/midi/output/AlsaSeqOutput.h"
#include "platform/midi/output/fluidsynth/FluidSynthOutput.h"
#include "platform/midi/output/NullOutput.h"
#include "platform/midi/transport/Sequencer.h"

#include <alsa/asoundlib.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
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

std::unique_ptr<Output> outputFromEnvironment()
{
    // ALSA's library writes its complaints to standard error; the engine says what
    // matters itself, once.
    snd_lib_error_set_handler(&quietAlsa);
    const char* env = std::getenv("SEQUORA_MIDI_OUT");
    const std::string choice = env ? env : "";
    std::string error;
    if (choice.empty() || choice == "fluidsynth") {
        if (auto out = FluidSynthOutput::create({}, error))
            return out;
        return silentFallback(error);
    }
    if (choice.starts_with(kAlsaPrefix)) {
        if (auto out = AlsaSeqOutput::create(choice.substr(kAlsaPrefix.size()), error))
            return out;
        return silentFallback(error);
    }
    if (choice == "null")
        return std::make_unique<NullOutput>();
    if (choice == "manual")
        return std::make_unique<ManualClockOutput>();
    return silentFallback("unknown SEQUORA_MIDI_OUT \"" + choice + "\"");
}

std::mutex g_mutex;
std::unique_ptr<Sequencer> g_sequencer;

Sequencer& instance(bool manual)
{
    std::lock_guard lock(g_mutex);
    if (!g_sequencer) {
        g_sequencer = std::make_unique<Sequencer>(manual ? std::make_unique<ManualClockOutput>()
                                                         : outputFromEnvironment());
    }
    return *g_sequencer;
}

} // namespace

Sequencer& sequencer()
{
    return instance(false);
}

void useManualClock()
{
    Sequencer& seq = instance(true);
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
