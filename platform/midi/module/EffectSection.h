#pragma once
// The module's effect section beyond its reverb and chorus, as a file leaves it: the GS
// delay, insertion effect (EFX) and master EQ with each part's switches, the XG variation
// (a system effect or an insertion on one part), insertion blocks and multi EQ, and each
// part's send to the third system effect (GS delay, XG variation). Bytes as the messages
// write them; a type written brings that type's own parameters, as on the modules.
// Followed the same way by the soft synth that plays and by the chase.

#include "platform/midi/file/MidiBytes.h"
#include "platform/midi/module/EffectParams.h"
#include "platform/midi/module/PartMap.h"

#include <array>
#include <cstdint>

namespace sequora::midi {

/// An XG effect block: the variation or an insertion block.
struct XgEffectBlock {
    static constexpr uint8_t kNoPart = 127;
    uint8_t typeMsb = 0;
    uint8_t typeLsb = 0;
    XgEffectParams params;
    uint8_t part = kNoPart; ///< as an insertion: the part it takes
    bool operator==(const XgEffectBlock&) const = default;
    /// The type and its own parameters (a type the tables lack starts from zeros).
    void setType(uint8_t msb, uint8_t lsb);
};

struct XgVariation : XgEffectBlock {
    uint8_t ret = 64; ///< return level, 64 = unity
    uint8_t pan = 64;
    uint8_t toReverb = 0;
    uint8_t toChorus = 0;
    bool system = false; ///< connection: a system effect fed by CC 94, or an insertion
    bool operator==(const XgVariation&) const = default;
};

struct EffectSection {
    static constexpr std::size_t kParts = kChannels;
    static constexpr std::size_t kXgInsertions = 4;

    // GS
    uint8_t efxMsb = 0; ///< the EFX type; 00 00 is Thru
    uint8_t efxLsb = 0;
    GsEfxParams efx {};
    uint8_t efxToReverb = 40;
    uint8_t efxToChorus = 0;
    uint8_t efxToDelay = 0;
    std::array<bool, kParts> efxOn {};
    GsDelayParams delay;
    uint8_t delayToReverb = 0; ///< 40 01 5A
    uint8_t chorusToDelay = 0; ///< 40 01 40
    GsEqParams eq;
    std::array<bool, kParts> eqOn {};
    // XG
    XgVariation variation;
    std::array<XgEffectBlock, kXgInsertions> insertion {};
    XgEqParams multiEq;
    // Every part: the send to the delay or the variation (CC 94, GS 40 1x 2C, XG 08 pp 14).
    std::array<uint8_t, kParts> send {};

    bool operator==(const EffectSection&) const = default;

    /// What a write did: not the section's address, nothing new, a change, or a value
    /// out of range that the module ignores (keeping what it had).
    enum class Write : uint8_t { Other, Same, Changed, Refused };

    /// @p mode's power-on state: GS delay macro 0 at level 64, EFX Thru, EQ flat; XG
    /// variation Delay L,C,R as an insertion on no part, insertion blocks Distortion on no
    /// part, multi EQ flat.
    void reset(SystemMode mode);
    /// GS system parameters: @p address is the low two bytes after 40 (01 40-5A, 02 00-03,
    /// 03 00-1F).
    Write gsSystem(uint16_t address, uint8_t value);
    /// GS part parameters: 40 1x 2C (delay send) and 40 4x 20 / 22 (EQ and EFX switches);
    /// @p block is 0x10 or 0x40.
    Write gsPart(uint8_t ch, uint8_t block, uint8_t address, uint8_t value);
    /// XG effect parameters: 02 01 40-75 (variation), 02 40 00-14 (multi EQ), 03 nn xx
    /// (insertion block nn). @p alone: a type MSB written without its LSB.
    Write xg(uint8_t high, uint8_t mid, uint8_t low, uint8_t value, bool alone = false);
    void setSend(uint8_t ch, uint8_t value) { send[ch % kParts] = value & 0x7F; }

    /// The type's own parameters for the GS EFX; null for a type the table lacks.
    static const GsEfxParams* gsEfxDefaults(uint8_t msb, uint8_t lsb);
    static const XgEffectParams* xgEffectDefaults(uint8_t msb, uint8_t lsb);
    /// GS delay macro 0-9: its parameters and its send to reverb.
    static bool gsDelayMacro(uint8_t macro, GsDelayParams& out, uint8_t& toReverb);

private:
    void setEfxType(uint8_t msb, uint8_t lsb);
};

} // namespace sequora::midi
