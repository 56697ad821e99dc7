// Hostile folders met in the playlist editor: special files, links that loop or lead
// nowhere, folders named like songs, a folder that vanishes or cannot be read, and an
// awkward file name carried from the file list all the way to the device.

#include "HostileFiles.h"
#include "PlayerTestKit.h"
#include "playlist/DriveList.h"
#include "playlist/EditorTestKit.h"
#include "playlist/FileList.h"
#include "playlist/ListBox.h"
#include "playlist/modCmOpen.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QTest>

#include <memory>
#include <unistd.h>

using namespace sequora::test;

namespace {

// Listing a folder reads names and types only: no file is opened, nothing waits.
constexpr qint64 kQuickListingMs = 2000;

QStringList sorted(QStringList names)
{
    names.sort(Qt::CaseInsensitive);
    return names;
}

// Subfolders the folder list shows under its open folder.
QStringList shownSubfolders(DirList& list)
{
    QStringList names;
    QTreeWidgetItem* open = folderRow(list, list.path());
    for (int i = 0; open != nullptr && i < open->childCount(); ++i)
        names << open->child(i)->text(0);
    return names;
}

} // namespace

class tst_HostileEditor : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { keepApartFromOtherCopies(); }
    void init();
    void cleanup();

    void listsShowSongsAndFoldersOnly();
    void addingEverythingPlaysWhatCanBePlayed();
    void theOpenDialogNeverOpensAPipe();
    void aFolderRemovedWhileShown();
    void aFolderThatCannotBeRead();
    void anAwkwardNameTravelsTheWholeWay();

private:
    /// Opens the editor at folder, as a user starting the program there would.
    Form2& openEditorAt(const QString& folder);

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_fifo;
    std::unique_ptr<CurrentFolderGuard> m_folder;
    std::unique_ptr<CaughtBoxes> m_boxes;
    std::unique_ptr<Form1> m_player;
};

void tst_HostileEditor::init()
{
    sequora::midi::engine::useManualClock();
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    writeSong(*m_dir, "good.mid", 20);
    writeSong(*m_dir, "Loud.MID", 20);
    makeEmpty(*m_dir, "empty.mid");
    if (makeSparse(*m_dir, "4gib.mid", 4ull << 30).isEmpty())
        makeEmpty(*m_dir, "4gib.mid");
    m_fifo = makeFifo(*m_dir, "pipe.mid");
    QVERIFY(!m_fifo.isEmpty());
    QVERIFY(!makeLink(*m_dir, "zero.mid", "/dev/zero").isEmpty());
    QVERIFY(!makeFolder(*m_dir, "x.mid").isEmpty());
    QVERIFY(!makeFolder(*m_dir, "sub").isEmpty());
    // Links that loop: onto themselves, in a ring, and a folder link into its own folder.
    QVERIFY(!makeLink(*m_dir, "self.mid", m_dir->filePath("self.mid")).isEmpty());
    QVERIFY(!makeLink(*m_dir, "ring1.mid", m_dir->filePath("ring2.mid")).isEmpty());
    QVERIFY(!makeLink(*m_dir, "ring2.mid", m_dir->filePath("ring1.mid")).isEmpty());
    QVERIFY(!makeLink(*m_dir, "selfdir", m_dir->filePath("selfdir")).isEmpty());
    QVERIFY(!makeLink(*m_dir, "back", m_dir->path()).isEmpty());
    QVERIFY(!makeLink(*m_dir, "dangling.mid", m_dir->filePath("nowhere.mid")).isEmpty());

    m_folder = std::make_unique<CurrentFolderGuard>();
    m_boxes = std::make_unique<CaughtBoxes>();
    m_player = std::make_unique<Form1>();
    QVERIFY(m_player->Form_Load());
}

void tst_HostileEditor::cleanup()
{
    modCmOpen::setOpenDialogHook({});
    m_player.reset();
    QVERIFY2(m_boxes->texts.isEmpty(), qPrintable(m_boxes->texts.join('\n')));
    m_boxes.reset();
    m_folder.reset();
    m_dir.reset();
}

Form2& tst_HostileEditor::openEditorAt(const QString& folder)
{
    QDir::setCurrent(folder);
    return openEditor(*m_player);
}

void tst_HostileEditor::listsShowSongsAndFoldersOnly()
{
    FifoWatch watch(m_fifo);
    QElapsedTimer timer;
    timer.start();
    Form2& editor = openEditorAt(m_dir->path());
    QVERIFY(QTest::qWaitForWindowExposed(&editor));
    QVERIFY(timer.elapsed() < kQuickListingMs);

    // Files only: no pipe, device, folder or link that leads nowhere, however named.
    QCOMPARE(sorted(editor.filList->entries()),
        (QStringList { "4gib.mid", "empty.mid", "good.mid", "Loud.MID" }));
    // Folders, the link back to this one among them; the loops are no folders.
    QCOMPARE(sorted(shownSubfolders(*editor.dirList)), (QStringList { "back", "sub", "x.mid" }));

    // Opening each shown folder, and trying the looping links by hand, ends at once.
    for (const char* name : { "x.mid", "back" }) {
        QVERIFY(doubleClickFolder(*editor.dirList, m_dir->filePath(name)));
        QCOMPARE(editor.dirList->path(), m_dir->filePath(name));
        QVERIFY(editor.dirList->setPath(m_dir->path()));
    }
    for (const char* name : { "selfdir", "self.mid", "ring1.mid", "dangling.mid" }) {
        QVERIFY2(!editor.dirList->setPath(m_dir->filePath(name)), name);
        QCOMPARE(editor.dirList->path(), m_dir->path());
    }
    QCOMPARE(editor.filList->count(), 4);
    QVERIFY(timer.elapsed() < 5 * kQuickListingMs);
    QVERIFY2(!watch.blocked(), "the FIFO was opened for reading");
}

void tst_HostileEditor::addingEverythingPlaysWhatCanBePlayed()
{
    FifoWatch watch(m_fifo);
    Form2& editor = openEditorAt(m_dir->path());
    editor.Command7_Click();
    // Entries whose files turned into something else after they were added: the
    // Playlist never checks its entries.
    for (const char* name : { "pipe.mid", "zero.mid", "x.mid", "self.mid" })
        editor.PlayList->addItem(m_dir->filePath(QLatin1String(name)));
    const int entries = editor.PlayList->count();
    editor.Command2_Click();
    Form1& form = *m_player;
    QCOMPARE(form.Combo1->count(), entries);

    // 4gib, empty, good, Loud, then the four special ones: the two songs play, the rest
    // are passed over, and the Playlist ends stopped on its first entry.
    form.Command3_Click();
    QList<int> played;
    for (int tick = 0; tick < 200 && !isLoaded(form); ++tick) {
        if (form.device().Mode() == "PLAYING" && !played.contains(track(form)))
            played << track(form);
        advance(form, 100);
    }
    QCOMPARE(played, (QList<int> { 3, 4 }));
    QVERIFY(isLoaded(form));
    QCOMPARE(track(form), 1);
    QVERIFY2(!watch.blocked(), "the FIFO was opened for reading");
}

void tst_HostileEditor::theOpenDialogNeverOpensAPipe()
{
    FifoWatch watch(m_fifo);
    Form2& editor = openEditorAt(m_dir->path());

    // Qt's own dialog, shown on the folder with the pipe in it: once it has listed the
    // folder the user types the pipe's name and presses Open.
    int polls = 0;
    bool listed = false;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        ++polls;
        QFileDialog* dialog = nullptr;
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (auto* candidate = qobject_cast<QFileDialog*>(window);
                candidate && candidate->isVisible())
                dialog = candidate;
        }
        if (dialog == nullptr)
            return;
        auto* view = dialog->findChild<QAbstractItemView*>(QStringLiteral("listView"));
        listed = listed || view->model()->rowCount(view->rootIndex()) > 0;
        if (!listed && polls < 250)
            return;
        dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText("pipe.mid");
        // A dialog that will not take the pipe is cancelled after a few tries.
        if (polls % 50 == 49)
            static_cast<QDialog*>(dialog)->reject();
        else
            static_cast<QDialog*>(dialog)->accept();
    });
    poll.start(20);
    editor.Command6_Click();
    poll.stop();
    QVERIFY(listed);
    QCOMPARE(editor.PlayList->count(), 0);

    // However the dialog answers, only an existing file is taken.
    for (const char* name : { "pipe.mid", "zero.mid", "x.mid", "self.mid", "dangling.mid" }) {
        const QString path = m_dir->filePath(QLatin1String(name));
        modCmOpen::setOpenDialogHook(
            [path](QWidget*, const QString&, const QString&) { return path; });
        editor.Command6_Click();
        QVERIFY2(editor.PlayList->count() == 0, name);
    }
    QVERIFY2(!watch.blocked(), "the FIFO was opened for reading");
}

void tst_HostileEditor::aFolderRemovedWhileShown()
{
    const QString doomed = makeFolder(*m_dir, "doomed");
    writeSong(*m_dir, "doomed/one.mid", 20);
    writeSong(*m_dir, "doomed/two.mid", 20);
    Form2& editor = openEditorAt(doomed);
    QCOMPARE(editor.filList->count(), 2);

    // Gone (unplugged, deleted elsewhere) while the editor shows it.
    QDir::setCurrent(m_dir->path());
    QVERIFY(QDir(doomed).removeRecursively());
    QVERIFY(doubleClickFolder(*editor.dirList, doomed)); // reread: refused, nothing changes
    QCOMPARE(editor.dirList->path(), doomed);
    QCOMPARE(editor.filList->count(), 2);
    QVERIFY(!editor.dirList->setPath(doomed + "/deeper"));
    // The names still shown can be added; playing them passes them over.
    editor.Command7_Click();
    editor.Command2_Click();
    m_player->Command3_Click();
    for (int tick = 0; tick < 10 && !isLoaded(*m_player); ++tick)
        m_player->Timer1_Timer();
    QVERIFY(isLoaded(*m_player));
    QCOMPARE(track(*m_player), 1);

    // Going up out of it still works.
    m_player->mnuFileList_Click();
    QVERIFY(doubleClickFolder(*editor.dirList, m_dir->path()));
    QCOMPARE(editor.dirList->path(), m_dir->path());
    QCOMPARE(editor.filList->count(), 4);
}

void tst_HostileEditor::aFolderThatCannotBeRead()
{
    const QString locked = makeFolder(*m_dir, "locked");
    writeSong(*m_dir, "locked/inside.mid", 20);
    QVERIFY(QFile::setPermissions(locked, QFileDevice::Permissions()));
    const bool readable = ::access(QFile::encodeName(locked).constData(), R_OK | X_OK) == 0;
    if (readable) {
        QFile::setPermissions(
            locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QSKIP("this user reads every folder (root); the vanished folder test covers refusal");
    }
    Form2& editor = openEditorAt(m_dir->path());
    QVERIFY(doubleClickFolder(*editor.dirList, locked));
    QCOMPARE(editor.dirList->path(), m_dir->path());
    QCOMPARE(editor.filList->count(), 4);
    QFile::setPermissions(
        locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

void tst_HostileEditor::anAwkwardNameTravelsTheWholeWay()
{
    const QString folder = makeFolder(*m_dir, QStringLiteral("it's 50% \"odd\"\nfolder ä"));
    QVERIFY(!folder.isEmpty());
    QTemporaryDir scratch;
    const QString made = writeSong(scratch, "song.mid", 30);
    const QString song = folder + "/" + kAwkwardName;
    QVERIFY(QFile::rename(made, song));

    // Listed, chosen and added from the file list...
    Form2& editor = openEditorAt(folder);
    QCOMPARE(editor.filList->entries(), QStringList { kAwkwardName });
    editor.filList->setListIndex(0);
    editor.Command1_Click();
    // ... and once more through the open dialog.
    modCmOpen::setOpenDialogHook([song](QWidget*, const QString&, const QString&) { return song; });
    editor.Command6_Click();
    QCOMPARE(editor.PlayList->entries(), (QStringList { song, song }));
    editor.Command2_Click();

    // The player loads it through the device's one-word path, plays it to its end and
    // goes on to the next copy.
    Form1& form = *m_player;
    QCOMPARE(form.Text1->text(), song);
    QCOMPARE(QString::fromStdString(form.device().FileName()), song);
    QCOMPARE(form.device().Mode(), std::string("STOPPED"));
    QCOMPARE(form.device().Length(), 30);
    form.Command3_Click();
    play(form, 2000);
    QCOMPARE(position(form), 20);
    play(form, 1000);
    QCOMPARE(track(form), 2);
    QCOMPARE(form.device().Mode(), std::string("PLAYING"));
    QCOMPARE(form.device().Length(), 30);
}

QTEST_MAIN(tst_HostileEditor)
#include "tst_hostile_editor.moc"
