#include "playlist/FileList.h"

#include "platform/FileNames.h"

#include <QFile>

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <vector>

namespace {

// Standard MIDI Files all three: karaoke files and RIFF-wrapped ones are read as songs.
const QString kSongPattern = QStringLiteral("*.mid *.kar *.rmi");

struct Listed {
    QString key; ///< lower case, for the order
    ListBox::Entry entry;
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

} // namespace

FileList::FileList(QWidget* parent)
    : ListBox(parent)
{
    setPattern(kSongPattern);
}

QString FileList::path() const
{
    return sequora::platform::displayPath(m_path);
}

void FileList::setPath(const QString& folder)
{
    setNativePath(QFile::encodeName(folder));
}

void FileList::setNativePath(const QByteArray& folder)
{
    m_path = folder;
    refresh();
}

void FileList::setPattern(const QString& pattern)
{
    m_pattern = pattern;
    m_wildcards.clear();
    for (const QString& wildcard :
        pattern.split(QRegularExpression(QStringLiteral("[ ;]")), Qt::SkipEmptyParts))
        m_wildcards.append(
            QRegularExpression(QRegularExpression::wildcardToRegularExpression(wildcard),
                QRegularExpression::CaseInsensitiveOption));
    refresh();
}

bool FileList::matches(const QString& name) const
{
    return std::any_of(m_wildcards.begin(), m_wildcards.end(),
        [&](const QRegularExpression& re) { return re.match(name).hasMatch(); });
}

void FileList::refresh()
{
    std::vector<Listed> files;
    DIR* folder = m_path.isEmpty() ? nullptr : ::opendir(m_path.constData());
    if (folder != nullptr) {
        while (const dirent* entry = ::readdir(folder)) {
            const QByteArray name(entry->d_name);
            // Hidden files stay out, as the list leaves them out by default.
            if (name.startsWith('.'))
                continue;
            const QString text = sequora::platform::displayName(name);
            if (matches(text) && isRegularFile(::dirfd(folder), *entry))
                files.push_back(
                    { text.toLower(), { text, sequora::platform::bytesToKeep(text, name) } });
        }
        ::closedir(folder);
    }
    // By name regardless of case; two names shown alike keep a fixed order by their bytes.
    std::sort(files.begin(), files.end(), [](const Listed& a, const Listed& b) {
        return a.key != b.key ? a.key < b.key : a.entry.bytes() < b.entry.bytes();
    });
    QList<Entry> entries;
    entries.reserve(qsizetype(files.size()));
    for (Listed& file : files)
        entries.append(std::move(file.entry));
    setUpdatesEnabled(false);
    clear();
    addEntries(entries);
    setUpdatesEnabled(true);
}
