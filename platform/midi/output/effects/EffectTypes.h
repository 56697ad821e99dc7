#pragma once
// What the effect types of the GS insertion effect and of the XG variation and insertion
// blocks are made of: each type a row (its number, its name, how its parameter bytes set
// up an EffectChain). A type without a row, or whose row is not built, leaves the sound
// dry. The parameter scales follow the modules' manuals (EffectTables.h); where a manual
// gives only 0-127, the scale chosen is written beside the type.

#include "platform/midi/output/effects/EffectChain.h"

#include <array>
#include <cstdint>
#include <span>

namespace sequora::midi::effects {

/// The twenty parameter bytes of the GS insertion effect, addresses 40 03 03 to 40 03 16.
using GsEfxParams = std::array<uint8_t, 20>;

/// The parameters of an XG effect block: P1-P16 (the LSBs) and, for the time parameters
/// that take fourteen bits, the MSBs of P1-P10.
struct XgEffectParams {
    std::array<uint8_t, 16> lsb {};
    std::array<uint8_t, 10> msb {};
    bool operator==(const XgEffectParams&) const = default;
};

/// Sets @p out up for the GS insertion effect type @p msb, @p lsb. False (and @p out
/// untouched) for Thru and for a type not built: the part stays dry.
bool gsEfxChain(uint8_t msb, uint8_t lsb, const GsEfxParams& p, ChainSettings& out);
/// The type's name as the manual gives it; null for a number that is no type.
const char* gsEfxName(uint8_t msb, uint8_t lsb);
/// Whether the type has a row that sets a chain up.
bool gsEfxBuilt(uint8_t msb, uint8_t lsb);

/// The GS delay's parameters (40 01 51-59) as a file leaves them; a macro (40 01 50)
/// writes all of them at once.
struct GsDelayParams {
    uint8_t preLpf = 0; ///< 0-7: 0 none, then 8 kHz down by half an octave a step
    uint8_t timeCentre = 97; ///< gsDelayCentreMs()
    uint8_t ratioLeft = 1; ///< gsDelayRatio(): left tap as a share of the centre
    uint8_t ratioRight = 1;
    uint8_t levelCentre = 127;
    uint8_t levelLeft = 0;
    uint8_t levelRight = 0;
    uint8_t level = 64; ///< the return, 127 = unity
    uint8_t feedback = 79; ///< 0x40 none; -64..+63 as -98..+97 %, from the centre tap
    bool operator==(const GsDelayParams&) const = default;
};

/// The GS delay as a chain fed by the parts' delay sends: the effect sound alone, at the
/// delay level. Taps longer than TapDelay::kMaxMs are held there.
void gsDelayChain(const GsDelayParams& p, ChainSettings& out);

/// Sets @p out up for the XG effect type @p msb, @p lsb. @p system: the variation as a
/// system effect (the effect sound alone, as the parts' sends feed it); otherwise an
/// insertion effect, with P10 balancing direct and effect sound. False for no effect,
/// Thru and types not built.
bool xgEffectChain(
    uint8_t msb, uint8_t lsb, const XgEffectParams& p, bool system, ChainSettings& out);
const char* xgEffectName(uint8_t msb, uint8_t lsb);
bool xgEffectBuilt(uint8_t msb, uint8_t lsb);

} // namespace sequora::midi::effects
