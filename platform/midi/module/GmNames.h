#pragma once
// Names a listener knows the General MIDI sounds by: the 128 programs of the GM sound
// set and the common drum kits, for outputs that cannot say what their own presets are
// called (an ALSA port, no sound at all).

#include "platform/midi/module/PartMap.h"

#include <string>
#include <string_view>

namespace sequora::midi {

/// The General MIDI name of melodic program @p program (0-127).
std::string_view gmProgramName(uint8_t program);

/// What a part asking for @p request plays, by General MIDI names: the program's name
/// (with the bank when it asks for a variation), or the drum kit's.
std::string generalMidiName(const PresetRequest& request);

} // namespace sequora::midi
