#pragma once
// Helpers for playlist editor tests: files in real temporary folders, the editor opened
// from a player window, and rows of the folder list found by path.

#include "player/Form1.h"
#include "playlist/DirList.h"
#include "playlist/Form2.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTest>
#include <QTreeWidgetItemIterator>

namespace sequora::test {

/// Creates an empty file (and its folder) at dir/relative; returns its full path.
inline QString touch(const QString& dir, const QString& relative)
{
    const QString path = QDir(dir).filePath(relative);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    return path;
}

/// Opens the editor from the player window, as the menu item does.
inline Form2& openEditor(Form1& player)
{
    player.mnuFileList_Click();
    Form2* editor = player.editor();
    Q_ASSERT(editor != nullptr);
    return *editor;
}

/// The folder list's row showing folder, or null.
inline QTreeWidgetItem* folderRow(DirList& list, const QString& folder)
{
    for (QTreeWidgetItemIterator it(&list); *it != nullptr; ++it) {
        if (DirList::folderOf(*it) == folder)
            return *it;
    }
    return nullptr;
}

/// Opens folder's row with a double click, as the user does. False if it is not shown.
inline bool doubleClickFolder(DirList& list, const QString& folder)
{
    QTreeWidgetItem* row = folderRow(list, folder);
    if (row == nullptr)
        return false;
    list.scrollToItem(row);
    // Deep rows are indented past the right edge: click the part that shows.
    const QRect shown = list.visualItemRect(row).intersected(list.viewport()->rect());
    if (shown.isEmpty())
        return false;
    const QPoint centre = shown.center();
    // A widget double click is press, release, then the double click itself.
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, centre);
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, centre);
    return true;
}

/// Restores the program's current folder when it goes out of scope.
class CurrentFolderGuard {
public:
    CurrentFolderGuard() = default;
    ~CurrentFolderGuard() { QDir::setCurrent(m_saved); }
    CurrentFolderGuard(const CurrentFolderGuard&) = delete;
    CurrentFolderGuard& operator=(const CurrentFolderGuard&) = delete;

private:
    QString m_saved = QDir::currentPath();
};

} // namespace sequora::test
