// The editor's drive, folder and file lists and its open-named-file command.

#include "playlist/Form2.h"

#include "platform/FileNames.h"
#include "playlist/DirList.h"
#include "playlist/DriveList.h"
#include "playlist/FileList.h"
#include "playlist/ListBox.h"
#include "playlist/modCmOpen.h"

#include <QDir>

using sequora::platform::currentFolder;

// The lists pass folders on as bytes: a folder name in any code page opens.

void Form2::buildBrowsers()
{
    // All three start at the program's current folder.
    const QByteArray start = currentFolder();
    {
        const QSignalBlocker quiet(drvList);
        drvList->setNativeDrive(start);
    }
    if (!dirList->openNative(drvList->nativeDrive(), start))
        dirList->openNative(drvList->nativeDrive(), drvList->nativeDrive());
    filList->setNativePath(dirList->nativePath());
}

void Form2::dirList_Change()
{
    filList->setNativePath(dirList->nativePath());
}

void Form2::drvList_Change()
{
    const QByteArray volume = drvList->nativeDrive();
    // The volume already open in the folder list: only the way back from one that
    // could not be read lands here, and the folder still shown stays.
    if (sequora::platform::cleanPath(volume) == dirList->nativeRoot())
        return;
    // Browsing remembers nothing: a volume opens at the program's current folder when
    // that lies on it, else at its root.
    const QByteArray current = currentFolder();
    const QByteArray folder = drvList->nativeDriveOf(current) == volume ? current : volume;
    if (dirList->openNative(volume, folder))
        return;
    if (folder != volume && dirList->openNative(volume, volume))
        return;
    // A volume that cannot be read: quietly back to the one still shown. That is a
    // drive change again, which finds that volume open and leaves it so.
    drvList->setNativeDrive(dirList->nativeRoot());
}

void Form2::Command6_Click()
{
    const QString path
        = modCmOpen::ShowOpenDialog(this, modCmOpen::kMidiFilter, QDir::currentPath());
    // The dialog sees only names Qt can read: its answer's text names its file.
    if (!path.isEmpty())
        appendEntries({ { path, {} } });
}
