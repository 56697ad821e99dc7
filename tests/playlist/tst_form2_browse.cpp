// The editor's drive, folder and file lists and the open dialog, on real folders.

#include "player/PlayerTestKit.h"
#include "playlist/DriveList.h"
#include "playlist/EditorTestKit.h"
#include "playlist/FileList.h"
#include "playlist/ListBox.h"
#include "playlist/modCmOpen.h"

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QListView>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

using namespace sequora::test;

class tst_Form2Browse : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void listsStartAtCurrentFolder();
    void openingFoldersRefreshesFiles();
    void foldersThatCannotBeOpened();
    void driveChangeOpensVolume();
    void unreadableVolumeIsSetBackSilently();
    void openDialogAddsChosenPath();
    void realDialogMatchesAnyCase();
    void mountedVolumesHoldRoot();

private:
    QString folder(const QString& relative) const { return m_dir->filePath(relative); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<CurrentFolderGuard> m_folder;
    std::unique_ptr<CaughtBoxes> m_boxes;
    std::unique_ptr<Form1> m_player;
    Form2* m_editor = nullptr;
};

void tst_Form2Browse::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    for (const char* name : { "b.mid", "A.MID", "c.Mid", "d.txt", "e.midi", "f.mid.txt",
             ".hidden.mid", "sub/x.mid", "sub/deeper/y.mid", "Zed/z.mid", ".secret/s.mid" })
        touch(m_dir->path(), QLatin1String(name));
    QDir().mkpath(folder("folder.mid"));
    m_folder = std::make_unique<CurrentFolderGuard>();
    QDir::setCurrent(m_dir->path());
    m_boxes = std::make_unique<CaughtBoxes>();
    m_player = std::make_unique<Form1>();
    m_editor = &openEditor(*m_player);
    QVERIFY(QTest::qWaitForWindowExposed(m_editor));
}

void tst_Form2Browse::cleanup()
{
    modCmOpen::setOpenDialogHook({});
    QVERIFY2(m_boxes->texts.isEmpty(), qPrintable(m_boxes->texts.join('\n')));
    m_player.reset();
    m_boxes.reset();
    m_folder.reset();
    m_dir.reset();
}

void tst_Form2Browse::listsStartAtCurrentFolder()
{
    QCOMPARE(m_editor->dirList->path(), m_dir->path());
    QCOMPARE(m_editor->filList->path(), m_dir->path());
    QCOMPARE(m_editor->drvList->drive(), m_editor->drvList->driveOf(m_dir->path()));
    QCOMPARE(m_editor->dirList->root(), m_editor->drvList->drive());
    // The open folder's subfolders are shown, hidden ones not.
    QVERIFY(folderRow(*m_editor->dirList, folder("sub")) != nullptr);
    QVERIFY(folderRow(*m_editor->dirList, folder("Zed")) != nullptr);
    QVERIFY(folderRow(*m_editor->dirList, folder(".secret")) == nullptr);
    QVERIFY(folderRow(*m_editor->dirList, folder("sub/deeper")) == nullptr);
    // MIDI files in any letter case, sorted by name regardless of case; no other types,
    // no hidden files, no folders.
    QCOMPARE(m_editor->filList->entries(), (QStringList { "A.MID", "b.mid", "c.Mid" }));
    QCOMPARE(m_editor->filList->listIndex(), -1);
}

void tst_Form2Browse::openingFoldersRefreshesFiles()
{
    DirList& dirs = *m_editor->dirList;
    QVERIFY(doubleClickFolder(dirs, folder("sub")));
    QCOMPARE(dirs.path(), folder("sub"));
    QCOMPARE(m_editor->filList->path(), folder("sub"));
    QCOMPARE(m_editor->filList->entries(), QStringList { "x.mid" });

    // An entry from a subfolder gets one separator.
    m_editor->filList->setListIndex(0);
    m_editor->Command1_Click();
    QCOMPARE(m_editor->PlayList->entries(), QStringList { folder("sub/x.mid") });

    QVERIFY(doubleClickFolder(dirs, folder("sub/deeper")));
    QCOMPARE(m_editor->filList->entries(), QStringList { "y.mid" });
    QVERIFY(folderRow(dirs, m_dir->path()) != nullptr); // ancestors stay reachable
    QVERIFY(doubleClickFolder(dirs, m_dir->path()));
    QCOMPARE(dirs.path(), m_dir->path());
    QCOMPARE(m_editor->filList->entries(), (QStringList { "A.MID", "b.mid", "c.Mid" }));

    // Files that appeared meanwhile show when the folder is opened again.
    touch(m_dir->path(), "new.MID");
    QVERIFY(doubleClickFolder(dirs, folder("sub")));
    QVERIFY(doubleClickFolder(dirs, m_dir->path()));
    QVERIFY(m_editor->filList->entries().contains("new.MID"));
}

void tst_Form2Browse::foldersThatCannotBeOpened()
{
    DirList& dirs = *m_editor->dirList;
    // A folder that goes away after it was listed: opening it changes nothing.
    QDir(folder("Zed")).removeRecursively();
    QVERIFY(doubleClickFolder(dirs, folder("Zed")));
    QCOMPARE(dirs.path(), m_dir->path());
    QCOMPARE(m_editor->filList->count(), 3);

    // A link back to its own folder opens like any folder, one level at a time.
    QVERIFY(QFile::link(m_dir->path(), folder("loop")));
    QVERIFY(doubleClickFolder(dirs, dirs.path())); // reread: the link shows
    QString inside = m_dir->path();
    for (int i = 0; i < 20; ++i) {
        inside += "/loop";
        QVERIFY2(doubleClickFolder(dirs, inside), qPrintable(inside));
        QCOMPARE(dirs.path(), inside);
    }
    QCOMPARE(m_editor->filList->entries(), (QStringList { "A.MID", "b.mid", "c.Mid" }));
    m_editor->filList->setListIndex(0);
    m_editor->Command1_Click();
    QCOMPARE(m_editor->PlayList->listText(0), inside + "/A.MID");

    // A link to nowhere is no folder.
    QVERIFY(QFile::link(folder("nowhere"), folder("dead")));
    QVERIFY(!dirs.setPath(folder("dead")));
    QCOMPARE(dirs.path(), inside);
    // Nor is a link to a device, though the folder listing lets it through.
    QVERIFY(QFile::link("/dev/null", folder("device")));
    QVERIFY(dirs.setPath(m_dir->path()));
    QVERIFY(folderRow(dirs, folder("loop")) != nullptr);
    QVERIFY(folderRow(dirs, folder("device")) == nullptr);
    QVERIFY(folderRow(dirs, folder("dead")) == nullptr);
}

void tst_Form2Browse::driveChangeOpensVolume()
{
    DriveList& drives = *m_editor->drvList;
    const QString home = drives.drive();
    const QString volume = folder("sub");
    drives.setVolumes(drives.volumes() << DriveList::Volume { volume, "USB" });
    QCOMPARE(drives.itemText(drives.count() - 1), volume + " [USB]");

    drives.setDrive(volume);
    QCOMPARE(drives.drive(), volume);
    QCOMPARE(m_editor->dirList->root(), volume);
    QCOMPARE(m_editor->dirList->path(), volume);
    QCOMPARE(m_editor->filList->entries(), QStringList { "x.mid" });
    // The volume's root is its tree's top: nothing above it is listed.
    QVERIFY(folderRow(*m_editor->dirList, m_dir->path()) == nullptr);
    QVERIFY(doubleClickFolder(*m_editor->dirList, folder("sub/deeper")));

    // Browsing remembers nothing and moves nothing: the first volume opens at the
    // program's current folder again, the second at its root.
    drives.setDrive(home);
    QCOMPARE(m_editor->dirList->path(), m_dir->path());
    QCOMPARE(m_editor->filList->path(), m_dir->path());
    drives.setDrive(volume);
    QCOMPARE(m_editor->dirList->path(), volume);
    QCOMPARE(QDir::currentPath(), m_dir->path());

    // Once the current folder lies on the second volume, that volume opens there and
    // the first at its root.
    QDir::setCurrent(folder("sub/deeper"));
    drives.setDrive(home);
    QCOMPARE(m_editor->dirList->path(), home);
    drives.setDrive(volume);
    QCOMPARE(m_editor->dirList->path(), folder("sub/deeper"));
    QCOMPARE(m_editor->filList->entries(), QStringList { "y.mid" });
}

void tst_Form2Browse::unreadableVolumeIsSetBackSilently()
{
    DriveList& drives = *m_editor->drvList;
    const QString home = drives.drive();
    const QString gone = folder("no-medium");
    drives.setVolumes(drives.volumes() << DriveList::Volume { gone, "CD" });
    QVERIFY(doubleClickFolder(*m_editor->dirList, folder("Zed")));
    QSignalSpy changes(&drives, &DriveList::driveChanged);

    // Chosen as a user would, from the drop-down.
    drives.setCurrentIndex(drives.count() - 1);
    emit drives.activated(drives.count() - 1);
    QCOMPARE(drives.drive(), home);
    QCOMPARE(drives.itemText(drives.currentIndex()).section(' ', 0, 0), home);
    QCOMPARE(changes.count(), 2); // the choice, and the quiet way back
    // The folder the user was in stays shown.
    QCOMPARE(m_editor->dirList->path(), folder("Zed"));
    QCOMPARE(m_editor->filList->entries(), QStringList { "z.mid" });
    // cleanup() checks that no message was shown.
}

void tst_Form2Browse::openDialogAddsChosenPath()
{
    QTemporaryDir elsewhere;
    const QString chosen = touch(elsewhere.path(), "Other Song.MID");
    QStringList initDirs;
    QString answer;
    modCmOpen::setOpenDialogHook([&](QWidget* owner, const QString& filter, const QString& dir) {
        [&] {
            QCOMPARE(owner, static_cast<QWidget*>(m_editor));
            QCOMPARE(filter, QStringLiteral("MIDIﾌｧｲﾙ(*.mid *.kar *.rmi)"));
        }();
        initDirs << dir;
        return answer;
    });

    m_editor->Command6_Click(); // cancelled
    QCOMPARE(m_editor->PlayList->count(), 0);
    QCOMPARE(QDir::currentPath(), m_dir->path());

    answer = chosen;
    m_editor->Command6_Click();
    m_editor->Command6_Click(); // the same file again is added again
    QCOMPARE(m_editor->PlayList->entries(), QStringList(2, chosen));
    QCOMPARE(initDirs, (QStringList { m_dir->path(), m_dir->path(), elsewhere.path() }));
    QCOMPARE(QDir::currentPath(), elsewhere.path());
    // Browsing never moves the program's folder; the dialog did, the lists did not.
    QCOMPARE(m_editor->dirList->path(), m_dir->path());

    // A newly loaded editor starts where the dialog left the program.
    m_editor->Command3_Click();
    QTRY_VERIFY(m_player->editor().isNull());
    m_editor = &openEditor(*m_player);
    QCOMPARE(m_editor->dirList->path(), elsewhere.path());
    QCOMPARE(m_editor->filList->entries(), QStringList { "Other Song.MID" });
}

void tst_Form2Browse::realDialogMatchesAnyCase()
{
    // Drive Qt's own dialog: wait until it has listed the folder, read what it shows,
    // then choose the upper-case file.
    QStringList shown;
    QTimer poll;
    QElapsedTimer waited;
    waited.start();
    connect(&poll, &QTimer::timeout, this, [&] {
        QFileDialog* dialog = nullptr;
        for (QWidget* window : QApplication::topLevelWidgets()) {
            auto* candidate = qobject_cast<QFileDialog*>(window);
            if (candidate != nullptr && candidate->isVisible())
                dialog = candidate;
        }
        if (dialog == nullptr)
            return;
        if (waited.elapsed() > 10000) { // fail, do not hang
            dialog->reject();
            return;
        }
        auto* view = dialog->findChild<QListView*>(QStringLiteral("listView"));
        const int rows = view->model()->rowCount(view->rootIndex());
        if (rows < 6 && waited.elapsed() < 5000) // three files and three folders
            return;
        shown.clear();
        for (int i = 0; i < rows; ++i)
            shown << view->model()->index(i, 0, view->rootIndex()).data().toString();
        // Typed, as a user would: selectFile() leaves a focused name field alone.
        dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText("A.MID");
        static_cast<QDialog*>(dialog)->accept(); // as the Open button does
    });
    poll.start(20);

    m_editor->Command6_Click();
    poll.stop();
    QCOMPARE(m_editor->dirList->path(), m_dir->path());
    shown.sort(Qt::CaseInsensitive);
    QCOMPARE(shown, (QStringList { "A.MID", "b.mid", "c.Mid", "folder.mid", "sub", "Zed" }));
    QCOMPARE(m_editor->PlayList->entries(), QStringList { folder("A.MID") });
}

void tst_Form2Browse::mountedVolumesHoldRoot()
{
    const QList<DriveList::Volume> volumes = DriveList::mountedVolumes();
    QVERIFY(!volumes.isEmpty());
    QCOMPARE(volumes.first().root, QStringLiteral("/"));
    for (const DriveList::Volume& volume : volumes) {
        QVERIFY2(QFileInfo(volume.root).isDir(), qPrintable(volume.root));
        QVERIFY2(!volume.root.startsWith("/proc") && !volume.root.startsWith("/sys")
                && !volume.root.startsWith("/dev"),
            qPrintable(volume.root));
    }
}

QTEST_MAIN(tst_Form2Browse)
#include "tst_form2_browse.moc"
