#include "platform/midi/output/fluidsynth/FluidSynthCore.h"

#include "platform/midi/file/MidiBytes.h"
#include "platform/midi/output/Output.h"
#include "platform/midi/file/Song.h"

#include <fluidsynth.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
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

// FluidSynth 2.4's effect defaults: 2.3's chorus is loud, wide and detuned on many
// instruments, and its reverb small and bright. Set here, the sound does not change with
// the FluidSynth version installed.
constexpr double kChorusLevel = 0.6;
constexpr double kChorusDepth = 4.25;
constexpr double kChorusSpeed = 0.2;
constexpr int kChorusVoices = 3;
constexpr double kReverbRoomSize = 0.5;
constexpr double kReverbDamp = 0.3;
constexpr double kReverbWidth = 0.8;
constexpr double kReverbLevel = 0.7;

constexpr std::size_t kBanks = PresetRequest::kDrumBank + 1;
constexpr std::size_t kPrograms = 128;

// The soundfont is read through these, so that what is read, and when, can be told.
std::atomic<uint64_t> g_bytesRead { 0 };

void* openFont(const char* filename)
{
    return std::fopen(filename, "rb");
}

int readFont(void* buffer, fluid_long_long_t count, void* handle)
{
    if (count < 0)
        return FLUID_FAILED;
    const std::size_t n = std::fread(buffer, 1, static_cast<std::size_t>(count), static_cast<std::FILE*>(handle));
    g_bytesRead.fetch_add(n, std::memory_order_relaxed);
    return n == static_cast<std::size_t>(count) ? FLUID_OK : FLUID_FAILED;
}

int seekFont(void* handle, fluid_long_long_t offset, int origin)
{
    return ::fseeko(static_cast<std::FILE*>(handle), static_cast<off_t>(offset), origin) == 0 ? FLUID_OK
                                                                                            : FLUID_FAILED;
}

fluid_long_long_t tellFont(void* handle)
{
    return ::ftello(static_cast<std::FILE*>(handle));
}

int closeFont(void* handle)
{
    return std::fclose(static_cast<std::FILE*>(handle)) == 0 ? FLUID_OK : FLUID_FAILED;
}

} // namespace

uint64_t FluidSynthCore::soundfontBytesRead()
{
    return g_bytesRead.load();
}

std::vector<PresetRequest> FluidSynthCore::presetsOf(const Song& song)
{
    // A seek only ever leaves a part with what playing through chose: every request
    // the part map makes from start to end covers them all.
    std::vector<bool> seen(2 * kBanks * kPrograms);
    std::vector<PresetRequest> out;
    auto add = [&](const PresetRequest& r) {
        const std::size_t key = (r.drum ? kBanks * kPrograms : 0) + std::min<std::size_t>(r.bank, kBanks - 1) * kPrograms + r.program;
        if (!seen[key]) {
            seen[key] = true;
            out.push_back(r);
        }
    };
    PartMap parts;
    auto addAll = [&] {
        for (uint8_t ch = 0; ch < kMaxParts; ++ch)
            add(parts.request(ch));
    };
    addAll();
    Block block;
    for (const MidiEvent& e : song.events()) {
        if (e.status < kSysExStart) {
            if (parts.followShort(e.status, e.data1, e.data2, e.port))
                add(parts.request(partOf(e.status, e.port)));
            continue;
        }
        block.clear();
        if (!block.addEvent(song, e))
            continue;
        const PartMap::Sysex s = parts.followSysex(block.sysexOf(block.messages.front()), e.port);
        if (s.meaning == SysexMeaning::Reset)
            addAll();
        else if (s.meaning == SysexMeaning::RhythmPart)
            add(parts.request(s.channel));
    }
    return out;
}

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
    core->m_realtime = realtime;
    if (!core->makeSynth(1, error))
        return nullptr;
    core->m_available.assign(kBanks * kPrograms, false);
    return core;
}

bool FluidSynthCore::makeSynth(int groups, std::string& error)
{
    fluid_settings_t* settings = new_fluid_settings();
    if (!settings) {
        error = "cannot create FluidSynth settings";
        return false;
    }
    (groups == 1 ? m_settings : m_groupedSettings) = settings;
    fluid_settings_setnum(settings, "synth.sample-rate", m_rate);
    fluid_settings_setnum(settings, "synth.gain", kGain);
    fluid_settings_setnum(settings, "synth.chorus.level", kChorusLevel);
    fluid_settings_setnum(settings, "synth.chorus.depth", kChorusDepth);
    fluid_settings_setnum(settings, "synth.chorus.speed", kChorusSpeed);
    fluid_settings_setint(settings, "synth.chorus.nr", kChorusVoices);
    fluid_settings_setnum(settings, "synth.reverb.room-size", kReverbRoomSize);
    fluid_settings_setnum(settings, "synth.reverb.damp", kReverbDamp);
    fluid_settings_setnum(settings, "synth.reverb.width", kReverbWidth);
    fluid_settings_setnum(settings, "synth.reverb.level", kReverbLevel);
    // Only the samples of the presets a song can choose are loaded, by usePresets()
    // before it plays: a full General MIDI font would otherwise take 150 MB.
    fluid_settings_setint(settings, "synth.dynamic-sample-loading", 1);
    // Two ports' worth of channels: a song with one port never touches 17-32, and idle
    // channels cost FluidSynth nothing while it renders.
    fluid_settings_setint(settings, "synth.midi-channels", kMaxParts);
    if (groups > 1) {
        // Each MIDI channel to a stereo pair of its own.
        fluid_settings_setint(settings, "synth.audio-groups", groups);
        fluid_settings_setint(settings, "synth.audio-channels", groups);
    }
    if (!m_realtime) {
        // One thread drives an offline synth: no API locking, no page locking.
        fluid_settings_setint(settings, "synth.threadsafe-api", 0);
        fluid_settings_setint(settings, "synth.lock-memory", 0);
    }
    fluid_synth_t* synth = new_fluid_synth(settings);
    if (!synth) {
        error = "cannot create the FluidSynth synthesiser";
        return false;
    }
    fluid_sfloader_t* loader = new_fluid_defsfloader(settings);
    if (loader) {
        fluid_sfloader_set_callbacks(loader, openFont, readFont, seekFont, tellFont, closeFont);
        fluid_synth_add_sfloader(synth, loader);
    }
    if (groups == 1) {
        m_synth = synth;
        m_module = std::make_unique<FluidSynthModule>(synth, kGain);
    } else {
        m_otherSynth = synth;
        m_otherModule = std::make_unique<FluidSynthModule>(synth, kGain);
    }
    return true;
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
    const int id = fluid_synth_sfload(m_synth, soundfont.c_str(), 1);
    if (id == FLUID_FAILED) {
        error = "cannot load the soundfont " + soundfont;
        return false;
    }
    m_sfontId = id;
    m_soundfont = soundfont;
    m_available.assign(kBanks * kPrograms, false);
    m_names.clear();
    fluid_sfont_t* font = fluid_synth_get_sfont_by_id(m_synth, id);
    fluid_sfont_iteration_start(font);
    while (fluid_preset_t* preset = fluid_sfont_iteration_next(font)) {
        const int bank = fluid_preset_get_banknum(preset);
        const int program = fluid_preset_get_num(preset);
        if (bank >= 0 && std::size_t(bank) < kBanks && program >= 0 && std::size_t(program) < kPrograms) {
            const std::size_t at = std::size_t(bank) * kPrograms + std::size_t(program);
            m_available[at] = true;
            // Read now, on the loading thread: a window asks for them while the synth plays.
            if (const char* name = fluid_preset_get_name(preset))
                m_names[uint32_t(at)] = name;
        }
    }
    usePresets({});
    choosePresets();
    return true;
}

FluidSynthCore::Preset FluidSynthCore::resolve(const PresetRequest& request) const
{
    const uint16_t home = request.drum ? PresetRequest::kDrumBank : 0;
    if (has(request.bank, request.program))
        return {request.bank, request.program};
    if (has(home, request.drum ? uint8_t(0) : request.program))
        return {home, request.drum ? uint8_t(0) : request.program};
    // The font lacks even that: anything of the kind, then anything at all.
    for (uint16_t bank : {home, uint16_t(request.drum ? 0 : PresetRequest::kDrumBank)}) {
        for (std::size_t program = 0; program < kPrograms; ++program) {
            if (has(bank, static_cast<uint8_t>(program)))
                return {bank, static_cast<uint8_t>(program)};
        }
    }
    for (std::size_t i = 0; i < m_available.size(); ++i) {
        if (m_available[i])
            return {static_cast<uint16_t>(i / kPrograms), static_cast<uint8_t>(i % kPrograms)};
    }
    return {home, 0};
}

std::string FluidSynthCore::presetName(const PresetRequest& request) const
{
    if (m_sfontId < 0)
        return {};
    const Preset p = resolve(request);
    const auto found = m_names.find(uint32_t(p.bank) * kPrograms + p.program);
    return found != m_names.end() ? found->second : std::string();
}

void FluidSynthCore::usePresets(std::span<const PresetRequest> requests, const EffectNeeds& effects)
{
    if (m_sfontId < 0)
        return;
    if (effects.parts != m_partsApart) {
        std::string error;
        if (!switchSynth(error))
            std::fprintf(stderr, "sequora: the effect section plays dry (%s)\n", error.c_str());
    }
    std::vector<Preset> wanted;
    for (const PresetRequest& r : requests) {
        const Preset p = resolve(r);
        if (std::find(wanted.begin(), wanted.end(), p) == wanted.end())
            wanted.push_back(p);
    }
    // What power-on chooses is always at hand, so no reset ever waits for the disk.
    for (const PresetRequest& r : {PresetRequest {false, 0, 0}, PresetRequest {true, PresetRequest::kDrumBank, 0}}) {
        const Preset p = resolve(r);
        if (std::find(wanted.begin(), wanted.end(), p) == wanted.end())
            wanted.push_back(p);
    }
    // Pin the new before letting the old go, so what both songs use stays loaded.
    for (const Preset& p : wanted) {
        if (std::find(m_pinned.begin(), m_pinned.end(), p) == m_pinned.end())
            fluid_synth_pin_preset(m_synth, m_sfontId, p.bank, p.program);
    }
    for (const Preset& p : m_pinned) {
        if (std::find(wanted.begin(), wanted.end(), p) == wanted.end())
            fluid_synth_unpin_preset(m_synth, m_sfontId, p.bank, p.program);
    }
    m_pinned = std::move(wanted);
    EffectNeeds prepared = effects;
    prepared.parts = m_partsApart;
    m_rack.prepare(float(m_rate), prepared);
    applySection();
}

FluidSynthCore::ChannelPreset FluidSynthCore::channelPreset(uint8_t ch) const
{
    int font = 0;
    int bank = 0;
    int program = 0;
    fluid_synth_get_program(m_synth, ch, &font, &bank, &program);
    return {parts().isDrum(ch), {static_cast<uint16_t>(bank), static_cast<uint8_t>(program)}};
}

void FluidSynthCore::choosePreset(uint8_t ch)
{
    const PresetRequest request = parts().request(ch);
    fluid_synth_set_channel_type(m_synth, ch, request.drum ? CHANNEL_TYPE_DRUM : CHANNEL_TYPE_MELODIC);
    if (m_sfontId < 0)
        return;
    const Preset p = resolve(request);
    fluid_synth_program_select(m_synth, ch, m_sfontId, p.bank, p.program);
}

void FluidSynthCore::choosePresets()
{
    for (uint8_t ch = 0; ch < kMaxParts; ++ch)
        choosePreset(ch);
}

FluidSynthCore::~FluidSynthCore()
{
    m_module.reset();
    m_otherModule.reset();
    for (fluid_synth_t* synth : {m_synth, m_otherSynth}) {
        if (synth)
            delete_fluid_synth(synth);
    }
    for (fluid_settings_t* settings : {m_settings, m_groupedSettings}) {
        if (settings)
            delete_fluid_settings(settings);
    }
}

void FluidSynthCore::sendShort(uint8_t status, uint8_t data1, uint8_t data2, uint8_t port)
{
    wake();
    m_secondPortHeard = m_secondPortHeard || port != 0;
    const ModuleChange change = m_module->sendShort(status, data1, data2, port);
    if (change.has(ModuleChange::Preset))
        choosePreset(change.channel);
    if (change.has(ModuleChange::Section))
        applySection();
}

void FluidSynthCore::sendSysex(std::span<const uint8_t> message, uint8_t port)
{
    if (message.size() < 3 || message.front() != kSysExStart || message.back() != kSysExEnd)
        return;
    wake();
    const ModuleChange change = m_module->sendSysex(message, port);
    if (change.has(ModuleChange::Everything))
        choosePresets();
    else if (change.has(ModuleChange::Preset))
        choosePreset(change.channel);
    if (change.has(ModuleChange::Everything) || change.has(ModuleChange::Section))
        applySection();
}

void FluidSynthCore::silence()
{
    for (int ch = 0; ch < kMaxParts; ++ch)
        fluid_synth_cc(m_synth, ch, kCcSustain, 0);
    fluid_synth_all_notes_off(m_synth, -1);
    fluid_synth_all_sounds_off(m_synth, -1);
    m_fade.clear();
    // What the limiter holds back, and the effects' echoes, would otherwise still be
    // heard after the stop.
    m_limiter.reset();
    m_rack.reset();
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
    m_rack.reset();
}

void FluidSynthCore::reset()
{
    m_module->reset(SystemMode::None);
    applySection();
    choosePresets();
    silence();
    m_secondPortHeard = false; // no voice is left on its channels
}

void FluidSynthCore::restore(SystemMode mode)
{
    wake();
    m_module->restore(mode);
    choosePresets();
}

void FluidSynthCore::synthesise(float* left, float* right, int frames)
{
    if (m_partsApart) {
        synthesiseParts(left, right, frames);
    } else {
        fluid_synth_write_float(m_synth, frames, left, 0, 1, right, 0, 1);
        m_rack.processMix(left, right, frames);
    }
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
        m_fade.skip(frames);
        return;
    }
    synthesise(left, right, frames);
    if (const float gain = m_level.load(std::memory_order_relaxed); gain != 1.0f) {
        for (int i = 0; i < frames; ++i) {
            left[i] *= gain;
            right[i] *= gain;
        }
    }
    m_fade.apply(left, right, frames);
    m_limiter.process(left, right, frames);
}

void FluidSynthCore::setSound(bool reverb, bool chorus, double levelDb)
{
    fluid_synth_reverb_on(m_synth, -1, reverb ? 1 : 0);
    fluid_synth_chorus_on(m_synth, -1, chorus ? 1 : 0);
    m_level.store(static_cast<float>(std::pow(10.0, levelDb / 20.0)), std::memory_order_relaxed);
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
