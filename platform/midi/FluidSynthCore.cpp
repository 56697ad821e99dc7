#include "platform/midi/FluidSynthCore.h"

#include "platform/midi/MidiBytes.h"

#include <fluidsynth.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>

namespace sequora::midi {

namespace {

constexpr const char* kSoundfontCandidates[] = {
    "/usr/share/sounds/sf2/FluidR3_GM.sf2",
    "/usr/share/sounds/sf2/default-GM.sf2",
    "/usr/share/sounds/sf2/TimGM6mb.sf2",
    "/usr/share/sounds/sf3/default-GM.sf3",
};

bool isFile(const std::string& path)
{
    std::error_code ec;
    return !path.empty() && std::filesystem::is_regular_file(path, ec);
}

void discardLog(int, const char*, void*) { }

} // namespace

std::string FluidSynthCore::findSoundfont(const std::string& preferred)
{
    if (!preferred.empty())
        return isFile(preferred) ? preferred : std::string();
    if (const char* env = std::getenv("SEQUORA_SOUNDFONT"); env && *env)
        return isFile(env) ? std::string(env) : std::string();
    for (const char* candidate : kSoundfontCandidates) {
        if (isFile(candidate))
            return candidate;
    }
    return {};
}

void FluidSynthCore::quietLogging()
{
    for (int level = FLUID_PANIC; level < LAST_LOG_LEVEL; ++level)
        fluid_set_log_function(level, discardLog, nullptr);
}

std::unique_ptr<FluidSynthCore> FluidSynthCore::create(
    int sampleRate, bool realtime, std::string& error)
{
    quietLogging();
    std::unique_ptr<FluidSynthCore> core(new FluidSynthCore(sampleRate));
    core->m_settings = new_fluid_settings();
    if (!core->m_settings) {
        error = "cannot create FluidSynth settings";
        return nullptr;
    }
    fluid_settings_setnum(core->m_settings, "synth.sample-rate", sampleRate);
    fluid_settings_setnum(core->m_settings, "synth.gain", kGain);
    if (!realtime) {
        // One thread drives an offline synth: no API locking, no page locking, and only
        // the samples of the instruments a song uses are loaded, when it chooses them.
        fluid_settings_setint(core->m_settings, "synth.threadsafe-api", 0);
        fluid_settings_setint(core->m_settings, "synth.lock-memory", 0);
        fluid_settings_setint(core->m_settings, "synth.dynamic-sample-loading", 1);
    }
    core->m_synth = new_fluid_synth(core->m_settings);
    if (!core->m_synth) {
        error = "cannot create the FluidSynth synthesiser";
        return nullptr;
    }
    return core;
}

std::unique_ptr<FluidSynthCore> FluidSynthCore::create(
    const std::string& soundfont, int sampleRate, bool realtime, std::string& error)
{
    auto core = create(sampleRate, realtime, error);
    if (!core || !core->loadSoundfont(soundfont, error))
        return nullptr;
    return core;
}

bool FluidSynthCore::loadSoundfont(const std::string& soundfont, std::string& error)
{
    if (soundfont.empty()) {
        error = "no soundfont found (set SEQUORA_SOUNDFONT)";
        return false;
    }
    if (fluid_synth_sfload(m_synth, soundfont.c_str(), 1) == FLUID_FAILED) {
        error = "cannot load the soundfont " + soundfont;
        return false;
    }
    return true;
}

FluidSynthCore::~FluidSynthCore()
{
    if (m_synth)
        delete_fluid_synth(m_synth);
    if (m_settings)
        delete_fluid_settings(m_settings);
}

void FluidSynthCore::sendShort(uint8_t status, uint8_t data1, uint8_t data2)
{
    wake();
    const int ch = channelOf(status);
    switch (commandOf(status)) {
    case kNoteOff:
        fluid_synth_noteoff(m_synth, ch, data1);
        break;
    case kNoteOn:
        if (data2 == 0)
            fluid_synth_noteoff(m_synth, ch, data1);
        else
            fluid_synth_noteon(m_synth, ch, data1, data2);
        break;
    case kPolyPressure:
        fluid_synth_key_pressure(m_synth, ch, data1, data2);
        break;
    case kControlChange:
        fluid_synth_cc(m_synth, ch, data1, data2);
        break;
    case kProgramChange:
        fluid_synth_program_change(m_synth, ch, data1);
        break;
    case kChannelPressure:
        fluid_synth_channel_pressure(m_synth, ch, data1);
        break;
    case kPitchBend:
        fluid_synth_pitch_bend(m_synth, ch, data1 | (data2 << 7));
        break;
    default:
        break;
    }
}

void FluidSynthCore::sendSysex(std::span<const uint8_t> message)
{
    if (message.size() < 3 || message.front() != kSysExStart || message.back() != kSysExEnd)
        return;
    wake();
    fluid_synth_sysex(m_synth, reinterpret_cast<const char*>(message.data() + 1),
        static_cast<int>(message.size() - 2), nullptr, nullptr, nullptr, 0);
}

void FluidSynthCore::silence()
{
    for (int ch = 0; ch < kChannels; ++ch)
        fluid_synth_cc(m_synth, ch, kCcSustain, 0);
    fluid_synth_all_notes_off(m_synth, -1);
    fluid_synth_all_sounds_off(m_synth, -1);
    // What the limiter holds back would otherwise still be heard after the stop.
    m_limiter.reset();
    if (m_quiet)
        return; // nothing sounds, nothing rings
    // Killing the voices leaves the reverb and chorus ringing, and FluidSynth offers no
    // way to clear them: with no voice left, running the effects on into a scratch buffer
    // until they fall silent costs a few milliseconds and empties them.
    for (int block = 0; block < kMaxDrainBlocks; ++block) {
        synthesise(m_drainLeft.data(), m_drainRight.data(), kDrainFrames);
        if (m_faded >= kDrainFrames)
            break;
    }
}

void FluidSynthCore::reset()
{
    fluid_synth_system_reset(m_synth);
    silence();
}

void FluidSynthCore::synthesise(float* left, float* right, int frames)
{
    fluid_synth_write_float(m_synth, frames, left, 0, 1, right, 0, 1);
    m_framesOut += static_cast<uint64_t>(frames);
    float loudest = 0;
    for (int i = 0; i < frames; ++i)
        loudest = std::max({ loudest, std::abs(left[i]), std::abs(right[i]) });
    m_faded = loudest < kDrainedLevel ? m_faded + static_cast<uint64_t>(frames) : 0;
}

void FluidSynthCore::render(float* left, float* right, int frames)
{
    if (m_quiet) {
        std::fill_n(left, frames, 0.0f);
        std::fill_n(right, frames, 0.0f);
        return;
    }
    synthesise(left, right, frames);
    m_limiter.process(left, right, frames);
}

void FluidSynthCore::renderUpTo(
    uint32_t frame, uint32_t total, uint32_t& done, float* left, float* right)
{
    const uint32_t upTo = frame >= total
        ? total
        : std::min(total, done + framesToNearestBoundary(frame - std::min(frame, done)));
    if (upTo > done) {
        render(left + done, right + done, static_cast<int>(upTo - done));
        done = upTo;
    }
}

void FluidSynthCore::settle(bool transportIdle)
{
    // The limiter still holds its look-ahead of what was rendered: quiet only once that
    // has faded too.
    const auto held = static_cast<uint64_t>(std::max<int>(m_limiter.lookahead(), kGrid));
    if (m_quiet || !transportIdle || m_faded < held)
        return;
    if (fluid_synth_get_active_voice_count(m_synth) > 0)
        return;
    m_quiet = true;
    m_limiter.reset();
}

} // namespace sequora::midi
