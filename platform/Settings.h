#pragma once
// The player's settings, read like a system's MIDI mapper reads its own: kept by the
// user in the configuration folder ($XDG_CONFIG_HOME/sequora/sequora.ini, an INI file),
// read at start and handed to the engine as plain values. Only the sound (and how songs
// with a marked loop play) is kept; the
// Playlist and the window's toggles live in the controls.
//
// The environment wins where it is set (scripts and tests rely on it): SEQUORA_MIDI_OUT
// for the output, SEQUORA_SOUNDFONT for the soundfont.

#include "platform/midi/SoundSetup.h"
#include "platform/midi/file/SoundFontFile.h"
#include "platform/midi/transport/LoopTimeline.h"

#include <QByteArray>
#include <QString>

namespace sequora::platform {

/// What the user chose in the sound settings window.
struct PlayerSettings {
    midi::SoundSetup sound;
    /// Songs with a marked loop: the passes and the fade after them.
    midi::LoopPlayback loop;

    bool operator==(const PlayerSettings&) const = default;
};

/// The settings file's path.
QString settingsFilePath();
/// The settings stored; each one missing, out of range or unreadable takes its default,
/// and a file that does not read as INI at all gives every default.
PlayerSettings loadSettings();
/// Writes settings to the file (and its folder); false when it cannot be written.
bool saveSettings(const PlayerSettings& settings);

/// One setting an environment variable holds.
struct EnvironmentHold {
    QString variable;
    /// The variable's value; empty when it is not set (or set empty).
    QString value;
    bool holds() const { return !value.isEmpty(); }
};
/// The variables that hold sound settings, as the environment has them now.
struct SoundEnvironment {
    EnvironmentHold output { QStringLiteral("SEQUORA_MIDI_OUT"), {} };
    EnvironmentHold soundfont { QStringLiteral("SEQUORA_SOUNDFONT"), {} };
};
SoundEnvironment soundEnvironment();

/// An output as it is written in the settings and in SEQUORA_MIDI_OUT: "fluidsynth",
/// "alsa:CLIENT:PORT", "null" (also "none"), "manual" (tests). False for anything else.
bool readOutput(const QString& text, midi::SoundSetup& setup);
/// The output as readOutput() reads it.
QString writeOutput(const midi::SoundSetup& setup);

/// The sound the engine is to make: settings, with what the environment holds over them.
/// An output variable that names no output gives no sound, and says so once on standard
/// error.
midi::SoundSetup effectiveSound(const PlayerSettings& settings);

/// What came of applying settings.
struct ApplyResult {
    /// A soundfont (the one the soft synth would use, or the one chosen) does not read
    /// as one: nothing was changed.
    midi::SoundFontInfo::Problem soundfont = midi::SoundFontInfo::Problem::None;
    QByteArray refusedFont;
    /// The output could not be made (a port gone, no audio device): nothing was changed.
    QString outputError;
    /// The sound changed, but the file could not be written.
    bool notSaved = false;

    bool applied() const
    {
        return soundfont == midi::SoundFontInfo::Problem::None && outputError.isEmpty();
    }
};
/// Makes the engine sound as settings say from now on (with the environment over them),
/// without losing the place, and keeps them in the settings file. A soundfont that does
/// not read as one is refused before anything changes, so the one in use stays.
ApplyResult applySettings(const PlayerSettings& settings);

} // namespace sequora::platform
