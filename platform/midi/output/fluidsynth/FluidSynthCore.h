#pragma once
// One FluidSynth synthesiser with its soundfont, and the MIDI messages the engine sends
// it. Shared by the live output and the offline renderer, so both sound the same.

#include "platform/midi/module/PartMap.h"
#include "platform/midi/output/FadeGain.h"
#include "platform/midi/output/Limiter.h"
#include "platform/midi/output/effects/EffectRack.h"
#include "platform/midi/output/fluidsynth/FluidSynthModule.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

struct _fluid_hashtable_t;
struct _fluid_synth_t;

namespace sequora::midi {

class Song;

class FluidSynthCore {
public:
    /// The soundfont to use: @p preferred if given, else SEQUORA_SOUNDFONT, else the first
    /// General MIDI soundfont the distribution installed (the fuller FluidR3_GM before
    /// the small TimGM6mb). Empty if none exists.
    static std::string findSoundfont(const std::string& preferred = {});
    /// Sends FluidSynth's own log lines nowhere: the engine reports its problems itself.
    static void quietLogging();

    /// The synthesiser's mix level. FluidSynth's default (0.2) leaves General MIDI songs
    /// some 20 dB below the rest of the desktop; the limiter catches the peaks.
    static constexpr double kGain = 0.8;

    /// A soundfont preset: bank and program.
    struct Preset {
        uint16_t bank = 0;
        uint8_t program = 0;
        bool operator==(const Preset&) const = default;
    };
    /// What a channel of the synthesiser plays now.
    struct ChannelPreset {
        bool drum = false;
        Preset preset;
    };

    /// Every preset @p song can choose, by its parts' modes, from start to end (a seek
    /// chooses only among these), and the power-on presets; no duplicates.
    static std::vector<PresetRequest> presetsOf(const Song& song);
    /// Bytes read from soundfont files so far, by every synthesiser of the process.
    static uint64_t soundfontBytesRead();

    /// Creates the synthesiser without a soundfont (load one with loadSoundfont()).
    /// @p realtime: for a live audio driver (settings that keep its CPU low); otherwise
    /// tuned for rendering to a file.
    static std::unique_ptr<FluidSynthCore> create(
        int sampleRate, bool realtime, std::string& error);
    /// Creates the synthesiser and loads @p soundfont.
    static std::unique_ptr<FluidSynthCore> create(
        const std::string& soundfont, int sampleRate, bool realtime, std::string& error);
    ~FluidSynthCore();
    FluidSynthCore(const FluidSynthCore&) = delete;
    FluidSynthCore& operator=(const FluidSynthCore&) = delete;

    /// Loads @p soundfont (may take a second for a large one). Nothing may render meanwhile.
    /// Only its presets are read; their samples load with usePresets().
    bool loadSoundfont(const std::string& soundfont, std::string& error);
    /// What a song asks of the effect section from start to end (see effectsOf()).
    using EffectNeeds = effects::EffectRack::Needs;
    /// Every effect slot @p song uses at some point, and whether its parts must then be
    /// heard one by one.
    static EffectNeeds effectsOf(const Song& song);

    /// Loads the samples of the presets @p requests come to (after falling back to what
    /// the font has), and lets go of those loaded for an earlier call that are not among
    /// them. With @p effects asking for the parts one by one, the song plays on a
    /// synthesiser that renders each part to its own pair (made the first time, with the
    /// same soundfont); otherwise on the one that mixes them itself, as before. Reads the
    /// soundfont file: call while nothing renders.
    void usePresets(std::span<const PresetRequest> requests, const EffectNeeds& effects = {});
    /// Whether the parts are rendered one by one now.
    bool partsApart() const { return m_partsApart; }
    /// The preset the font offers for @p request: the variation or kit asked for, else
    /// the kit's standard set or the melodic bank 0 of the same program, else the first
    /// one it has of the kind, so that a part is never silent.
    Preset resolve(const PresetRequest& request) const;
    /// The name the font gives the preset resolve() chooses for @p request; empty with
    /// no font loaded. Reads only what loadSoundfont() wrote: safe from any thread once
    /// it has returned.
    std::string presetName(const PresetRequest& request) const;
    /// The presets whose samples are loaded, pinned by usePresets().
    const std::vector<Preset>& loadedPresets() const { return m_pinned; }
    /// Channel @p ch as the part map set it up.
    ChannelPreset channelPreset(uint8_t ch) const;
    const PartMap& parts() const { return m_module->module().parts(); }
    /// The module as the messages so far have left it.
    const Module& module() const { return m_module->module(); }

    _fluid_hashtable_t* settings() const { return m_settings; }
    _fluid_synth_t* synth() const { return m_synth; }
    int sampleRate() const { return m_rate; }
    /// Frames by which the sound lags the messages: the limiter's look-ahead.
    int latency() const { return m_limiter.lookahead(); }

    /// @p port 1: the song's second port, parts 17-32.
    void sendShort(uint8_t status, uint8_t data1, uint8_t data2, uint8_t port = 0);
    void sendSysex(std::span<const uint8_t> message, uint8_t port = 0); ///< F0 ... F7
    /// Every voice stops at once and the reverb and chorus tails are cleared too.
    void silence();
    /// Programs, controllers, bend and RPNs back to defaults, and silence.
    void reset();
    /// The defaults of @p mode as reset() leaves them, with every voice going on: the
    /// jump back to a loop's start.
    void restore(SystemMode mode);
    /// The output's level from here on: @p at frames into a fade of @p length frames.
    /// Silence (and so reset) brings back the full level.
    void fade(uint32_t at, uint32_t length) { m_fade.start(at, length); }
    /// The fade's level now: 1 without a fade.
    float fadeLevel() const { return m_fade.level(); }

    /// FluidSynth renders in blocks of this many frames; a message takes effect at the
    /// start of the next block it renders.
    static constexpr uint32_t kGrid = 64;

    /// Renders @p frames frames (synthesiser, then limiter) into two float buffers,
    /// overwriting them; silence, without running the synthesiser, while quiet.
    void render(float* left, float* right, int frames);
    /// Renders the block being built, from @p done up to the grid line nearest @p frame
    /// (all of it when @p frame reaches @p total), so that the message sent next lands
    /// on that line. Counts every frame the synthesiser handed out, so odd-sized renders
    /// do not shift later messages.
    void renderUpTo(uint32_t frame, uint32_t total, uint32_t& done, float* left, float* right);
    /// After each block: with the transport not playing, no voice left and the tail
    /// faded, the synthesiser stops running until the next message arrives.
    void settle(bool transportIdle);
    bool isQuiet() const { return m_quiet; }
    /// Reverb and chorus on or off, and the listening level in dB, applied before the
    /// limiter (which still keeps every peak under its ceiling). From the next block on;
    /// safe from any thread while the synthesiser renders.
    void setSound(bool reverb, bool chorus, double levelDb);
    /// The listening level as a factor.
    float level() const { return m_level.load(std::memory_order_relaxed); }

    /// Frames the synthesiser itself has rendered so far.
    uint64_t framesSynthesised() const { return m_framesOut; }

private:
    static constexpr int kDrainFrames = 1024;
    static constexpr int kMaxDrainBlocks = 256; // ~6 s at 44.1 kHz, a few ms of CPU
    static constexpr float kDrainedLevel = 1e-5f; // below the last bit of 16-bit audio

    explicit FluidSynthCore(int sampleRate)
        : m_rate(sampleRate)
        , m_limiter(sampleRate)
    {
    }
    void synthesise(float* left, float* right, int frames);
    /// Each part to its own pair, through the effect section, into @p left and @p right.
    void synthesiseParts(float* left, float* right, int frames);
    /// Creates a synthesiser with its settings and module; @p groups stereo pairs out.
    bool makeSynth(int groups, std::string& error);
    /// Plays on the other synthesiser (made first if need be): the one with the parts
    /// apart, or the one without.
    bool switchSynth(std::string& error);
    /// The effect section follows the module after a change.
    void applySection() { m_rack.apply(m_module->module().section(), m_module->module().mode()); }
    /// Sets channel @p ch to what its part asks for.
    void choosePreset(uint8_t ch);
    void choosePresets();
    bool has(uint16_t bank, uint8_t program) const
    {
        return bank <= PresetRequest::kDrumBank && m_available[bank * 128u + program];
    }
    uint32_t framesToNearestBoundary(uint32_t ahead) const
    {
        const uint64_t boundary = (m_framesOut + ahead + kGrid / 2) / kGrid * kGrid;
        return boundary > m_framesOut ? static_cast<uint32_t>(boundary - m_framesOut) : 0;
    }
    void wake()
    {
        m_quiet = false;
        m_faded = 0;
    }

    _fluid_hashtable_t* m_settings = nullptr;
    int m_sfontId = -1;
    std::vector<bool> m_available; ///< by bank * 128 + program, banks 0 to 128
    std::unordered_map<uint32_t, std::string> m_names; ///< the presets' names, the same way
    std::vector<Preset> m_pinned;
    _fluid_synth_t* m_synth = nullptr;
    std::unique_ptr<FluidSynthModule> m_module;
    int m_rate = 0;
    bool m_realtime = false;
    std::string m_soundfont;
    // The synthesiser not playing now, kept with its settings, module and presets so a
    // switch back costs nothing; null until the first switch.
    bool m_partsApart = false;
    _fluid_hashtable_t* m_groupedSettings = nullptr; ///< the parts-apart synthesiser's, once made
    _fluid_synth_t* m_otherSynth = nullptr;
    std::unique_ptr<FluidSynthModule> m_otherModule;
    int m_otherSfontId = -1;
    std::vector<Preset> m_otherPinned;
    // The parts apart: their pairs, the synthesiser's reverb and chorus returns, the rack.
    static constexpr int kPartFrames = effects::EffectRack::kBlock;
    static constexpr std::size_t kParts = effects::EffectRack::kParts;
    static constexpr std::size_t kGroups = kMaxParts; ///< a pair for every part of both ports
    effects::EffectRack m_rack;
    std::vector<float> m_partBuffers; ///< kGroups left then right, kPartFrames each
    std::array<float*, 2 * kGroups> m_partOut {};
    /// Whether a channel of the second port has been played since the song was chosen.
    bool m_secondPortHeard = false;
    std::array<std::array<float, kPartFrames>, 4> m_fxReturn {};
    uint64_t m_framesOut = 0;
    FadeGain m_fade;
    Limiter m_limiter;
    std::atomic<float> m_level { 1.0f };
    bool m_quiet = true; ///< a new synthesiser has nothing to play
    uint64_t m_faded = 0; ///< frames in a row the synthesiser rendered below kDrainedLevel
    std::array<float, kDrainFrames> m_drainLeft {};
    std::array<float, kDrainFrames> m_drainRight {};
};

} // namespace sequora::midi
