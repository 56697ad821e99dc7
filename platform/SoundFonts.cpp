#include "platform/SoundFonts.h"

#include "platform/FileNames.h"
#include "platform/SongFiles.h"
#include "platform/midi/file/SoundFontFile.h"
#include "platform/midi/output/fluidsynth/FluidSynthCore.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QStandardPaths>

#include <climits>
#include <cstdlib>

namespace sequora::platform {

namespace {

const QString kSoundFontPattern = QStringLiteral("*.sf2 *.sf3");
const QList<QByteArray> kSystemFolders
    = { "/usr/share/sounds/sf2", "/usr/share/sounds/sf3", "/usr/share/soundfonts" };

QByteArray realPath(const QByteArray& path)
{
    char resolved[PATH_MAX];
    return ::realpath(path.constData(), resolved) != nullptr ? QByteArray(resolved) : path;
}

bool isLink(const QByteArray& path)
{
    const QFileInfo info(QFile::decodeName(path));
    return info.isSymLink();
}

} // namespace

QList<QByteArray> soundFontFolders()
{
    QList<QByteArray> folders = kSystemFolders;
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (!data.isEmpty())
        folders.append(QFile::encodeName(QDir(data).filePath(QStringLiteral("soundfonts"))));
    return folders;
}

InstalledSoundFont describeSoundFont(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    InstalledSoundFont font;
    font.path = path;
    font.fileName = displayName(path.mid(slash + 1));
    const midi::SoundFontInfo info = midi::readSoundFontInfo(path.toStdString());
    font.name
        = info.name.empty() ? font.fileName : displayName(QByteArray::fromStdString(info.name));
    return font;
}

QList<InstalledSoundFont> installedSoundFonts()
{
    const QList<QRegularExpression> patterns = wildcards(kSoundFontPattern);
    QList<QByteArray> paths;
    for (const QByteArray& folder : soundFontFolders()) {
        for (const NamedPath& name : listFolder(folder, patterns))
            paths.append(joinPath(folder, name.bytes()));
    }
    // A font under two names (Debian's default-GM.sf2 links to the one it chose) is
    // listed once, by its own file.
    QSet<QByteArray> plainFiles;
    for (const QByteArray& path : paths) {
        if (!isLink(path))
            plainFiles.insert(realPath(path));
    }
    QList<InstalledSoundFont> fonts;
    QSet<QByteArray> listed;
    for (const QByteArray& path : paths) {
        const QByteArray real = realPath(path);
        if (listed.contains(real) || (isLink(path) && plainFiles.contains(real)))
            continue;
        if (!midi::readSoundFontInfo(path.toStdString()).ok())
            continue;
        listed.insert(real);
        fonts.append(describeSoundFont(path));
    }
    return fonts;
}

QByteArray defaultSoundFont()
{
    return QByteArray::fromStdString(midi::FluidSynthCore::findSoundfont());
}

} // namespace sequora::platform
