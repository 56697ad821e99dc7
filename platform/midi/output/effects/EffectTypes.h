#pragma once
// What the effect types of the GS insertion effect and of the XG variation and insertion
// blocks are made of: each type a row (its number, its name, how its parameter bytes set
// up an EffectChain). A type without a row, or whose row is not built, leaves the sound
// dry. The parameter scales follow the modules' manuals (EffectTables.h); where a manual
// gives only 0-127, the scale chosen is written beside the type.

#include "platform/midi/module/EffectParams.h"
#include "platform/midi/output/effects/EffectChain.h"

#include <array>
#include <cstdint>
#include <span>

namespace sequora::midi::effects {

/// Sets @p out up for the GS insertion effect type @p msb, @p lsb. False (and @p out
/// untouched) for Thru and for a type not built: the part stays dry.
bool gsEfxChain(uint8_t msb, uint8_t lsb, const GsEfxParams& p, ChainSettings& out);
/// The type's name as the manual gives it; null for a number that is no type.
const char* gsEfxName(uint8_t msb, uint8_t lsb);
/// Whether the type has a row that sets a chain up.
bool gsEfxBuilt(uint8_t msb, uint8_t lsb);

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
