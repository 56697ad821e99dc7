#include "playlist/FileList.h"

#include <QDir>

FileList::FileList(QWidget* parent)
    : ListBox(parent)
{
}

void FileList::setPath(const QString& folder)
{
    m_path = folder;
    refresh();
}

void FileList::setPattern(const QString& pattern)
{
    m_pattern = pattern;
    refresh();
}

void FileList::refresh()
{
    QStringList names;
    if (!m_path.isEmpty()) {
        // Without QDir::CaseSensitive the pattern matches "A.MID" as well as "a.mid";
        // without QDir::Hidden and QDir::System hidden files and devices stay out.
        const QDir dir(m_path, m_pattern, QDir::Name | QDir::IgnoreCase, QDir::Files);
        names = dir.entryList();
    }
    setUpdatesEnabled(false);
    clear();
    addItems(names);
    setUpdatesEnabled(true);
}
