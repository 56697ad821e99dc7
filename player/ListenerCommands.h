#pragma once
// The listener's tempo, key, mute and solo, changed only as device commands to the
// player's device (so they are answered and logged like every other command) and read
// back from what the engine publishes, which holds them also while no song is open.

#include "platform/midi/transport/ListenerSettings.h"

namespace sequora::player {

/// The device the player opens its songs on.
inline constexpr const char* kDeviceAlias = "midifile";

/// The settings as the engine has them now.
midi::ListenerSettings listenerSettings();

// Each sends one command; false when the device refused it (no song open, a value out
// of range, a part the song does not have), and then nothing changed.
bool setTempo(int percent);
bool setTranspose(int semitones);
/// @p part counts from 1.
bool setPartMuted(int part, bool on);
bool setPartSoloed(int part, bool on);
/// Tempo, key, mute and solo back to normal.
bool resetListening();

} // namespace sequora::player
