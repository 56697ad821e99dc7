#include "platform/SongFiles.h"

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <vector>

namespace sequora::platform {

namespace {

struct Listed {
    QString key; ///< lower case, for the order
    NamedPath entry;
};

// A regular file once links are followed: no folder, device, pipe or link to nowhere.
// Only the type is read; nothing is opened.
bool isRegularFile(int folder, const dirent& entry)
{
    if (entry.d_type == DT_REG)
        return true;
    if (entry.d_type != DT_LNK && entry.d_type != DT_UNKNOWN)
        return false;
    struct stat info { };
    return ::fstatat(folder, entry.d_name, &info, 0) == 0 && S_ISREG(info.st_mode);
}

const QList<QRegularExpression>& songWildcards()
{
    static const QList<QRegularExpression> patterns = wildcards(kSongPattern);
    return patterns;
}

} // namespace

QList<QRegularExpression> wildcards(const QString& pattern)
{
    QList<QRegularExpression> out;
    for (const QString& wildcard :
        pattern.split(QRegularExpression(QStringLiteral("[ ;]")), Qt::SkipEmptyParts))
        out.append(QRegularExpression(QRegularExpression::wildcardToRegularExpression(wildcard),
            QRegularExpression::CaseInsensitiveOption));
    return out;
}

bool matchesAny(const QString& name, const QList<QRegularExpression>& wildcards)
{
    return std::any_of(wildcards.begin(), wildcards.end(),
        [&](const QRegularExpression& re) { return re.match(name).hasMatch(); });
}

bool isSongName(const QString& name)
{
    return matchesAny(name, songWildcards());
}

QList<NamedPath> listFolder(const QByteArray& folder, const QList<QRegularExpression>& wildcards)
{
    std::vector<Listed> files;
    DIR* dir = folder.isEmpty() ? nullptr : ::opendir(folder.constData());
    if (dir != nullptr) {
        while (const dirent* entry = ::readdir(dir)) {
            const QByteArray name(entry->d_name);
            // Hidden files stay out, as the list leaves them out by default.
            if (name.startsWith('.'))
                continue;
            const QString text = displayName(name);
            if (matchesAny(text, wildcards) && isRegularFile(::dirfd(dir), *entry))
                files.push_back({ text.toLower(), { text, bytesToKeep(text, name) } });
        }
        ::closedir(dir);
    }
    std::sort(files.begin(), files.end(), [](const Listed& a, const Listed& b) {
        return a.key != b.key ? a.key < b.key : a.entry.bytes() < b.entry.bytes();
    });
    QList<NamedPath> entries;
    entries.reserve(qsizetype(files.size()));
    for (Listed& file : files)
        entries.append(std::move(file.entry));
    return entries;
}

QList<NamedPath> songsIn(const QByteArray& folder)
{
    QList<NamedPath> songs = listFolder(folder, songWildcards());
    for (NamedPath& song : songs)
        song = NamedPath::fromBytes(joinPath(folder, song.bytes()));
    return songs;
}

} // namespace sequora::platform
