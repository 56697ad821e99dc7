#pragma once
// The SoundFonts installed where distributions and users put them, each by the name it
// gives itself, for the sound settings window to offer.

#include <QByteArray>
#include <QList>
#include <QString>

namespace sequora::platform {

struct InstalledSoundFont {
    /// The name the font gives itself (its INAM); its file's name when it gives none.
    QString name;
    /// The file's name, as shown.
    QString fileName;
    /// The path, byte for byte.
    QByteArray path;
};

/// The folders looked in: /usr/share/sounds/sf2, /usr/share/sounds/sf3,
/// /usr/share/soundfonts and the user's ~/.local/share/soundfonts (XDG_DATA_HOME).
QList<QByteArray> soundFontFolders();
/// The SoundFonts (*.sf2, *.sf3 in any letter case) of those folders that read as ones,
/// folder by folder, by name within each; a link to a font listed already is left out.
QList<InstalledSoundFont> installedSoundFonts();
/// The font at path as the list shows it (also one found elsewhere).
InstalledSoundFont describeSoundFont(const QByteArray& path);
/// The soundfont the soft synth uses when none is chosen: SEQUORA_SOUNDFONT's, else the
/// distribution's General MIDI font. Empty when there is none.
QByteArray defaultSoundFont();

} // namespace sequora::platform
