#pragma once
// The playlist editor. It edits a copy of the player's Playlist in its list PlayList,
// finds MIDI files through the drive, folder and file lists or the open dialog, and
// hands the copy back to the player window on OK.

#include "playlist/ListBox.h"

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

class QPushButton;
class DirList;
class DriveList;
class FileList;
class PlaylistHolder;

class Form2 : public QWidget {
    Q_OBJECT

public:
    /// The most entries a Playlist holds: positions and counts are 16-bit.
    static constexpr int kMaxEntries = 32767;
    /// The Playlist's scrollable width in pixels.
    static constexpr int kPlayListExtent = 500;

    /// A top-level window with no owner, closed for good (deleted) by Cancel or the
    /// close box, and with the holder's window. The browsing lists start at the
    /// program's current folder.
    explicit Form2(PlaylistHolder& holder);
    ~Form2() override;

    /// The entry for file name in folder: a folder that ends in "/" (a root) is followed
    /// directly by the name, any other folder by "/" and the name.
    static QString formEntry(const QString& folder, const QString& name);
    /// The same from the folder's and the name's bytes: the entry's text shows them
    /// decoded, and the entry carries the path's bytes.
    static ListBox::Entry formEntry(const QByteArray& folder, const QByteArray& name);

    /// Copies the player's Playlist in.
    void Form_Load();

    /// Inserts entries before row of the Playlist (at the end past it) in one go, or
    /// refuses them all with a message when the Playlist would pass kMaxEntries.
    bool insertEntries(int row, const QList<ListBox::Entry>& entries);

    // Controls, named as in the layout (each also its objectName).
    ListBox* PlayList = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command3 = nullptr;
    DriveList* drvList = nullptr;
    DirList* dirList = nullptr;
    FileList* filList = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command4 = nullptr;
    QPushButton* Command5 = nullptr;
    QPushButton* Command6 = nullptr;
    QPushButton* Command7 = nullptr;
    QPushButton* Command8 = nullptr;
    QPushButton* Command9 = nullptr;
    QWidget* Line1 = nullptr;
    QWidget* Line2 = nullptr;

    // Event procedures.
    void Command1_Click();
    void Command7_Click();
    void Command4_Click();
    void Command5_Click();
    void Command9_Click();
    void Command8_Click();
    void Command2_Click();
    void Command3_Click();
    void filList_DblClick();
    void dirList_Change();
    void drvList_Change();
    void Command6_Click();

private:
    void buildLayout();
    void buildBrowsers();
    void connectEvents();
    void centreOnScreen();
    /// insertEntries at the end.
    bool appendEntries(const QList<ListBox::Entry>& entries);
    bool eventFilter(QObject* watched, QEvent* event) override;

    PlaylistHolder* m_holder = nullptr;
    QPointer<QWidget> m_holderWindow;
};
