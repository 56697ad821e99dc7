#pragma once
// Which files are songs, and the songs of a folder as the editor's file list shows them:
// the names of its regular files that match the song patterns in any letter case, sorted
// by name, hidden ones left out. Read with the names' own bytes, so a name in any code
// page is found (shown decoded).

#include "platform/FileNames.h"

#include <QByteArray>
#include <QList>
#include <QRegularExpression>
#include <QString>

namespace sequora::platform {

/// Standard MIDI Files all three: karaoke files and RIFF-wrapped ones are read as songs.
inline const QString kSongPattern = QStringLiteral("*.mid *.kar *.rmi");

/// Blank- or semicolon-separated wildcards, each matched regardless of letter case.
QList<QRegularExpression> wildcards(const QString& pattern);
/// Whether name (as shown) matches one of the wildcards.
bool matchesAny(const QString& name, const QList<QRegularExpression>& wildcards);
/// Whether name (as shown) is a song file's by the song patterns.
bool isSongName(const QString& name);

/// The matching regular files of folder (links followed), by name regardless of case;
/// two names shown alike keep a fixed order by their bytes. Each entry is a bare name.
/// None when the folder cannot be read.
QList<NamedPath> listFolder(const QByteArray& folder, const QList<QRegularExpression>& wildcards);
/// The songs of folder as full paths, in the file list's order.
QList<NamedPath> songsIn(const QByteArray& folder);

} // namespace sequora::platform
