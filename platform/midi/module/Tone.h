#pragma once
// The tone parameters a GS, XG or GM2 file changes on a part (vibrato, filter, envelope)
// and how each becomes an offset on the soft synth's generators. The modules' own curves
// are not published: each row is one linear scale, chosen so that the extremes are
// plainly audible, with its unit beside it.

#include <array>
#include <cstdint>
#include <optional>

namespace sequora::midi {

enum class ToneParam : uint8_t {
    VibratoRate,
    VibratoDepth,
    VibratoDelay,
    Cutoff,
    Resonance,
    Attack,
    Decay,
    Release,
};
constexpr std::size_t kToneParams = 8;

/// Where an offset lands: a SoundFont generator of the soft synth.
enum class ToneTarget : uint8_t {
    VibLfoFreq,    ///< absolute cents
    VibLfoToPitch, ///< cents
    VibLfoDelay,   ///< timecents
    FilterFc,      ///< absolute cents
    FilterQ,       ///< centibels
    VolEnvAttack,  ///< timecents
    VolEnvDecay,   ///< timecents
    VolEnvRelease, ///< timecents
};

struct ToneRow {
    ToneParam param;
    uint8_t nrpnLsb;           ///< GS/XG NRPN 01 nn
    std::optional<uint8_t> cc; ///< the sound controller that offsets it too (CC 71-75)
    uint8_t gsToneAddress;     ///< GS 40 1x nn, tone modify
    uint8_t xgPartAddress;     ///< XG 08 pp nn, multi part
    ToneTarget target;
    float perStep; ///< offset per step away from 64, in the target's unit
};

// Cutoff: 100 cents a step closes the filter by over five octaves at 0, as dark as a
// module gets; at 127 it opens as far as the preset allows.
// Envelope: 180 timecents a step makes the longest attack some 700 times slower than a
// preset's own (a 1 ms attack becomes 0.7 s).
// Vibrato: 1 cent of depth a step on top of the mod wheel's; rate 20 cents a step, a
// factor of 2 either way at the ends; delay 180 timecents a step like the envelope, since
// presets start their vibrato at once (1 ms) and only a large factor is heard.
constexpr std::array<ToneRow, kToneParams> kToneTable {{
    {ToneParam::VibratoRate, 0x08, std::nullopt, 0x30, 0x15, ToneTarget::VibLfoFreq, 20.0f},
    {ToneParam::VibratoDepth, 0x09, std::nullopt, 0x31, 0x16, ToneTarget::VibLfoToPitch, 1.0f},
    {ToneParam::VibratoDelay, 0x0A, std::nullopt, 0x37, 0x17, ToneTarget::VibLfoDelay, 180.0f},
    {ToneParam::Cutoff, 0x20, 74, 0x32, 0x18, ToneTarget::FilterFc, 100.0f},
    {ToneParam::Resonance, 0x21, 71, 0x33, 0x19, ToneTarget::FilterQ, 3.0f},
    {ToneParam::Attack, 0x63, 73, 0x34, 0x1A, ToneTarget::VolEnvAttack, 180.0f},
    {ToneParam::Decay, 0x64, 75, 0x35, 0x1B, ToneTarget::VolEnvDecay, 180.0f},
    {ToneParam::Release, 0x66, 72, 0x36, 0x1C, ToneTarget::VolEnvRelease, 180.0f},
}};

const ToneRow* toneRowForNrpn(uint8_t nrpnLsb);
const ToneRow* toneRowForCc(uint8_t cc);
const ToneRow* toneRowForGsAddress(uint8_t address);
const ToneRow* toneRowForXgAddress(uint8_t address);

/// A glide's length in milliseconds for CC 5 as a GS or XG module times it (measured
/// from a module: 0 is instant, 64 about 2 s, 127 minutes).
uint32_t portamentoMilliseconds(uint8_t cc5);

} // namespace sequora::midi
