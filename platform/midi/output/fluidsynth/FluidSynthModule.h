#pragma once
// The module's state carried out on a FluidSynth synthesiser: the one place where what a
// GS, XG or GM2 file means becomes FluidSynth calls (gain, tunings, generator offsets,
// reverb and chorus, basic channels, portamento), so the sound does not depend on the
// FluidSynth version. Messages the module model takes are not passed on raw. FluidSynth's
// own resets (system reset, CC 121) wipe offsets, tunings, basic channels and portamento
// modes: the state is applied again after each.

#include "platform/midi/module/Module.h"

#include <array>
#include <cstdint>
#include <span>

struct _fluid_synth_t;

namespace sequora::midi {

class FluidSynthModule {
public:
    /// @p baseGain: the synthesiser's gain at full master volume.
    FluidSynthModule(_fluid_synth_t* synth, double baseGain);

    /// Follows and carries out a channel message. Returns what changed, so the caller
    /// chooses presets where they did.
    /// @p port 1: the song's second port, parts 17-32 on FluidSynth's channels 17-32.
    ModuleChange sendShort(uint8_t status, uint8_t data1, uint8_t data2, uint8_t port = 0);
    /// @p msg: F0 ... F7.
    ModuleChange sendSysex(std::span<const uint8_t> msg, uint8_t port = 0);
    /// FluidSynth's system reset, then the module at @p mode's power-on state.
    void reset(SystemMode mode);
    /// The same state as reset(), reached without FluidSynth's system reset, which ends
    /// every voice and empties the effects: what sounds goes on, releasing rings out.
    void restore(SystemMode mode);

    const Module& module() const { return m_module; }

private:
    static constexpr uint8_t kSilent = 0xFF;
    static constexpr int kGens = 64; // FluidSynth 2.3 has 63 generators

    /// FluidSynth's system reset, the module's state applied again, and every voice
    /// ended at once, as a module's reset silences it.
    void startAfresh();
    /// Everything of each part, the gain, and the effects where they differ from what
    /// FluidSynth holds.
    void applyAll();
    void applyChannelMode(uint8_t ch);
    void applyPortamento(uint8_t ch);
    void applyOffsets(uint8_t ch);
    void applyTuning(uint8_t ch);
    void applyMixer(uint8_t ch);
    void applyGain();
    void applyEffects();
    void setGen(uint8_t ch, int gen, float value);
    void noteOn(uint8_t ch, uint8_t key, uint8_t velocity);
    void noteOff(uint8_t ch, uint8_t key);
    /// The drum-note NRPNs of @p key, on the voices its note just started.
    void shapeDrumVoices(uint8_t ch, uint8_t key, const DrumKey& drum);
    void readSoundFontNrpns(uint8_t ch);
    void forgetOffsets(uint8_t ch);

    _fluid_synth_t* m_synth;
    double m_baseGain;
    uint8_t m_channels; ///< FluidSynth's MIDI channels: 16, or 32 for two ports
    Module m_module;
    /// The note FluidSynth sounds for each key the file pressed, after key shift.
    std::array<std::array<uint8_t, 128>, kMaxParts> m_sounding {};
    /// Offsets written to FluidSynth, and what SoundFont NRPNs put there themselves.
    std::array<std::array<float, kGens>, kMaxParts> m_written {};
    std::array<std::array<float, kGens>, kMaxParts> m_soundFontNrpn {};
    std::array<bool, kMaxParts> m_tuned {};
    /// Each channel's controllers as FluidSynth starts them, for restore().
    std::array<std::array<int, 128>, kMaxParts> m_powerOnCc {};
    ReverbSettings m_reverb {-1, -1, -1, -1};
    ChorusSettings m_chorus {-1, -1, -1, -1, false};
};

} // namespace sequora::midi
