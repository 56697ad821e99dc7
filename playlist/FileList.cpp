#include "playlist/FileList.h"

#include "platform/SongFiles.h"

#include <QFile>

FileList::FileList(QWidget* parent)
    : ListBox(parent)
{
    setPattern(sequora::platform::kSongPattern);
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
    m_wildcards = sequora::platform::wildcards(pattern);
    refresh();
}

void FileList::refresh()
{
    const QList<Entry> entries = sequora::platform::listFolder(m_path, m_wildcards);
    setUpdatesEnabled(false);
    clear();
    addEntries(entries);
    setUpdatesEnabled(true);
}
