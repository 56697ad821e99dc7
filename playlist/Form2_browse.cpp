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
    filList->setPath(dirList->path());
}

void Form2::dirList_Change()
{
    filList->setPath(dirList->path());
}

void Form2::drvList_Change()
{
    const QString volume = drvList->drive();
    // The volume already open in the folder list: only the way back from one that
    // could not be read lands here, and the folder still shown stays.
    if (QDir::cleanPath(volume) == dirList->root())
        return;
    // Browsing remembers nothing: a volume opens at the program's current folder when
    // that lies on it, else at its root.
    const QString current = QDir::currentPath();
    const QString folder = drvList->driveOf(current) == volume ? current : volume;
    if (dirList->open(volume, folder))
        return;
    if (folder != volume && dirList->open(volume, volume))
        return;
    // A volume that cannot be read: quietly back to the one still shown. That is a
    // drive change again, which finds that volume open and leaves it so.
    drvList->setDrive(dirList->root());
}

void Form2::Command6_Click()
{
    const QString path
        = modCmOpen::ShowOpenDialog(this, modCmOpen::kMidiFilter, QDir::currentPath());
    if (!path.isEmpty())
        appendEntries({ path });
}
