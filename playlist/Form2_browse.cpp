// The editor's drive, folder and file lists and its open-named-file command.

#include "playlist/Form2.h"

#include "playlist/DirList.h"
#include "playlist/DriveList.h"
#include "playlist/FileList.h"
#include "playlist/ListBox.h"
#include "playlist/modCmOpen.h"

#include <QDir>

void Form2::buildBrowsers()
{
    // All three start at the program's current folder.
    const QString start = QDir::currentPath();
    {
        const QSignalBlocker quiet(drvList);
        drvList->setDrive(start);
    }
    if (!dirList->open(drvList->drive(), start))
        dirList->open(drvList->drive(), drvList->drive());
    m_volumeFolders.insert(drvList->drive(), dirList->path());
    filList->setPath(dirList->path());
}

void Form2::dirList_Change()
{
    m_volumeFolders.insert(dirList->root(), dirList->path());
    filList->setPath(dirList->path());
}

void Form2::drvList_Change()
{
    const QString volume = drvList->drive();
    // Back where the user was on that volume, or at its root the first time.
    const QString folder = m_volumeFolders.value(volume, volume);
    if (dirList->open(volume, folder))
        return;
    if (folder != volume && dirList->open(volume, volume))
        return;
    // A volume that cannot be read: quietly back to the one still shown. That is a
    // drive change again, which reopens the folder still shown and so succeeds.
    drvList->setDrive(dirList->root());
}

void Form2::Command6_Click()
{
    const QString path
        = modCmOpen::ShowOpenDialog(this, modCmOpen::kMidiFilter, QDir::currentPath());
    if (!path.isEmpty())
        appendEntries({ path });
}
