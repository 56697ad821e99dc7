#pragma once
// The whole state of the module a file was written for, as the file has left it: the
// system mode and drum parts (PartMap), master volume and tuning, each part's parameters
// (key shift, level, pan, sends, scale tuning, tone offsets, RPNs, channel mode,
// portamento, drum keys) and the effects. Followed message by message the same way by
// the soft synth that plays and the chase; what it means to FluidSynth is worked out
// elsewhere, in one place.

#include "platform/midi/module/EffectSection.h"
#include "platform/midi/module/Effects.h"
#include "platform/midi/module/ParameterSelection.h"
#include "platform/midi/module/PartMap.h"
#include "platform/midi/module/PartParams.h"
#include "platform/midi/module/Tone.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace sequora::midi {

struct SysexWrite;

/// A MIDI Tuning Standard program a file sent (bulk dump or single-note changes): the
/// pitch of each key in cents from C-1.
struct TuningProgram {
    uint8_t bank = 0;
    uint8_t program = 0;
    std::array<float, 128> cents {};
    bool operator==(const TuningProgram&) const = default;
};

struct MasterState {
    uint16_t volume = 16383;   ///< 14 bits; a 7-bit message sets the top seven
    int16_t fineTenthCents = 0; ///< -1000 .. +1000
    int8_t coarseSemitones = 0; ///< universal master coarse tuning: moves notes
    int8_t keyShift = 0;        ///< GS master key shift, XG transpose: moves notes
    bool operator==(const MasterState&) const = default;
};

/// What the drum-note NRPNs set on one key of a drum part; 64 (pitch) or unset keeps the kit's.
struct DrumKey {
    static constexpr uint8_t kKit = 0xFF;
    uint8_t pitch = 64; ///< semitones around 64
    uint8_t level = kKit;
    uint8_t pan = kKit;
    uint8_t reverb = kKit;
    uint8_t chorus = kKit;
    bool isKit() const { return pitch == 64 && level == kKit && pan == kKit && reverb == kKit && chorus == kKit; }
    bool operator==(const DrumKey&) const = default;
};

/// A part's state. Its RPN and NRPN selection is the base's, read as the part's own.
struct PartState : ParameterSelection {
    static constexpr uint8_t kNull = kNullParameter;
    static constexpr uint8_t kDefaultReverbSend = partParamRow(PartParam::ReverbSend).powerOn;

    // The same parameters as CC 7, 10, 91, 93 and 94: the last message of either kind wins.
    uint8_t volume = partParamPowerOn(PartParam::Level);
    uint8_t pan = partParamPowerOn(PartParam::Pan);
    uint8_t reverbSend = kDefaultReverbSend;
    uint8_t chorusSend = partParamPowerOn(PartParam::ChorusSend);
    uint8_t delaySend = partParamPowerOn(PartParam::DelaySend); ///< GS delay, XG variation
    uint8_t modulation = 0;
    int8_t keyShift = partParamPowerOn(PartParam::KeyShift); ///< semitones, melodic parts only
    std::array<int8_t, 12> scaleTuning {}; ///< GS scale tuning, cents, C to B
    std::array<float, 12> octaveTuning {}; ///< MIDI Tuning's scale/octave tuning, cents
    uint8_t tuningProgram = 0; ///< RPN 3, a MIDI Tuning program
    uint8_t tuningBank = 0;    ///< RPN 4
    bool tuningSelected = false;
    std::array<uint8_t, kToneParams> toneNrpn {64, 64, 64, 64, 64, 64, 64, 64};
    std::array<uint8_t, kToneParams> soundController {64, 64, 64, 64, 64, 64, 64, 64};
    // RPNs: bend range, fine and coarse tuning, modulation depth range.
    uint8_t bendSemitones = 2;
    uint8_t bendCents = 0;
    uint16_t fineTuning = 8192; ///< 14 bits, centre 8192 = 0 cents, +-100 cents
    uint8_t coarseTuning = 64;  ///< semitones around 64
    uint8_t modRangeSemitones = 0;
    uint8_t modRangeCents = 50;
    bool mono = false;
    uint8_t portamentoTime = 0; ///< CC 5
    std::array<DrumKey, 128> drumKeys {};
    bool operator==(const PartState&) const = default;

    /// @p param as a module writes it (a key shift of 64 is none).
    uint8_t written(PartParam param) const;
    /// Sets @p param to @p value as a module writes it, in range.
    void write(PartParam param, uint8_t value);
    /// Cents the mod wheel's vibrato sweeps at full wheel (RPN 5).
    int modRangeTotalCents() const { return modRangeSemitones * 100 + modRangeCents; }
};

/// What a message changed, for whoever carries the state out.
struct ModuleChange {
    enum Bits : uint32_t {
        None = 0,
        Preset = 1u << 0,      ///< the channel's preset or drum type
        Everything = 1u << 1,  ///< a system mode reset: every part and the master
        Offsets = 1u << 2,     ///< the channel's generator offsets (tone, tuning RPNs, mod range)
        Tuning = 1u << 3,      ///< the channel's key tuning (scale tuning, MIDI Tuning)
        BendRange = 1u << 4,
        ChannelMode = 1u << 5, ///< mono or poly; the channel's notes end
        NotesOff = 1u << 6,    ///< the channel's notes end (Omni Off / On)
        Portamento = 1u << 7,
        Mixer = 1u << 8,       ///< volume, pan or sends changed by SysEx
        MasterGain = 1u << 9,
        MasterTuning = 1u << 10, ///< every channel's offsets
        Effects = 1u << 11,
        Pass = 1u << 12,       ///< the soft synth takes the message as it is
        Refused = 1u << 13,    ///< malformed: nothing changed
        ControllersReset = 1u << 14,
        AllParts = 1u << 15,   ///< the change concerns every part (key shift, master)
        Section = 1u << 16,    ///< the effect section beyond reverb and chorus
    };
    uint32_t bits = None;
    uint8_t channel = 0;
    bool has(uint32_t b) const { return (bits & b) != 0; }
};

class Module {
public:
    Module() { reset(SystemMode::None); }

    /// Every part and the master to @p mode's power-on state.
    void reset(SystemMode mode);
    /// @p port: 1 for a song's second port, whose channels are parts 17-32. A change's
    /// channel is then the part, 0-31.
    ModuleChange followShort(uint8_t status, uint8_t data1, uint8_t data2, uint8_t port = 0);
    /// @p msg: F0 ... F7. Part addresses on @p port 1 mean parts 17-32; a reset on
    /// either port resets the whole module.
    ModuleChange followSysex(std::span<const uint8_t> msg, uint8_t port = 0);

    const PartMap& parts() const { return m_parts; }
    SystemMode mode() const { return m_parts.mode(); }
    const MasterState& master() const { return m_master; }
    const PartState& part(uint8_t ch) const { return m_part[ch & 0x1F]; }
    const EffectState& effects() const { return m_effects; }
    /// The delay or variation, insertion effects and EQ, and the parts' sends to them.
    const EffectSection& section() const { return m_section; }

    /// Semitones a melodic note on @p ch moves by: the part's key shift and the master's.
    int noteShift(uint8_t ch) const;
    /// The sum of every source of offset for a tone target on @p ch, in its unit.
    float toneOffset(uint8_t ch, ToneTarget target) const;
    /// The channel's tuning in cents: master fine and RPN fine and coarse tuning.
    float fineTuneCents(uint8_t ch) const;
    float coarseTuneSemitones(uint8_t ch) const;
    bool honoursNrpns() const;
    /// Every key's pitch on @p ch in cents from C-1, all tunings merged: a MIDI Tuning
    /// program the part chose, its octave tuning and GS scale tuning. Empty when the part
    /// plays equal temperament.
    std::optional<std::array<double, 128>> keyTuning(uint8_t ch) const;
    bool honoursSoundControllers() const;

    bool operator==(const Module&) const = default;

private:
    ModuleChange dataEntry(uint8_t ch, DataEntry entry, uint8_t value);
    ModuleChange followGs(const SysexWrite& w);
    ModuleChange followXg(const SysexWrite& w);
    ModuleChange followUniversal(const SysexWrite& w);
    ModuleChange gsPart(uint8_t ch, uint8_t address, uint8_t value);
    /// A SysEx write of @p row's parameter on @p ch.
    ModuleChange writePart(uint8_t ch, const PartParamRow& row, uint8_t value);
    /// MIDI Tuning Standard messages (universal 08 nn); @p realtime: 7F, else 7E.
    ModuleChange followTuning(std::span<const uint8_t> msg);

    PartMap m_parts;
    MasterState m_master;
    std::array<PartState, kMaxParts> m_part {};
    uint8_t m_partBase = 0; ///< 16 while a SysEx from the second port is followed
    EffectState m_effects;
    EffectSection m_section;
    std::vector<TuningProgram> m_tuningPrograms; ///< in the order first sent
};

} // namespace sequora::midi
