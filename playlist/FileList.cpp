#include "playlist/FileList.h"

#include <QDir>
#include <QFileInfo>

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
        // A link to a device still passes QDir's filter: list only what is a regular
        // file once links are followed.
        const QFileInfoList files = dir.entryInfoList();
        names.reserve(files.size());
        for (const QFileInfo& file : files) {
            if (file.isFile())
                names.append(file.fileName());
        }
    }
    setUpdatesEnabled(false);
    clear();
    addItems(names);
    setUpdatesEnabled(true);
}
