// File and folder names in any code page, on real files: listed and shown decoded, added,
// moved, handed over and opened by the device byte for byte; and the song patterns.

#include "platform/System.h"
#include "player/MprisState.h"
#include "player/PlayerTestKit.h"
#include "playlist/EditorTestKit.h"
#include "playlist/FileList.h"
#include "playlist/ListBox.h"
#include "playlist/modCmOpen.h"

#include <QApplication>
#include <QFileDialog>
#include <QListView>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace sequora::test;

namespace {

constexpr int64_t kPlainUnits = 20;
constexpr int64_t kOddUnits = 30;
constexpr int64_t kAlikeUnits = 40;

// A song of units tenths of a second at raw path bytes.
void writeSongAt(const QByteArray& path, int64_t units)
{
    SmfWriter smf(0, 500);
    smf.addTrack().noteOn(0, 0, 60, 90).noteOff(uint32_t(units * kMsPerUnit), 0, 60).endOfTrack(0);
    smf.writeFile(path.toStdString());
}

// The bytes of the file the device's last open command named.
QByteArray lastOpened(const QString& log)
{
    QByteArray token;
    for (const QByteArray& command : loggedCommands(log)) {
        if (command.startsWith("open "))
            token = command.split(' ').value(1);
    }
    return QByteArray::fromStdString(sequora::platform::resolveShortPath(token.toStdString()));
}

} // namespace

class tst_Names : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { m_log = logInto(m_logDir); }
    void init();
    void cleanup();

    void nameTravelsToTheDevice_data();
    void nameTravelsToTheDevice();
    void namesThatReadAlikeOpenTheirOwnFiles();
    void startFolderAsTheProcessHasIt();
    void karaokeAndRiffFilesAreListed();

private:
    QByteArray root() const { return QFile::encodeName(m_dir->path()); }

    QTemporaryDir m_logDir;
    QString m_log;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<CurrentFolderGuard> m_folder;
    std::unique_ptr<CaughtBoxes> m_boxes;
    std::unique_ptr<Form1> m_player;
};

void tst_Names::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_folder = std::make_unique<CurrentFolderGuard>();
    QDir::setCurrent(m_dir->path());
    m_boxes = std::make_unique<CaughtBoxes>();
    m_player = std::make_unique<Form1>();
}

void tst_Names::cleanup()
{
    modCmOpen::setOpenDialogHook({});
    m_player.reset();
    QVERIFY2(m_boxes->texts.isEmpty(), qPrintable(m_boxes->texts.join('\n')));
    m_boxes.reset();
    m_folder.reset();
    m_dir.reset();
}

void tst_Names::nameTravelsToTheDevice_data()
{
    QTest::addColumn<QByteArray>("folder"); // under the temporary folder; empty: none
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("shownFolder");
    QTest::addColumn<QString>("shownName");
    QTest::newRow("utf-8") << QByteArray() << QByteArray("テスト曲.mid") << QString()
                           << "テスト曲.mid";
    QTest::newRow("cp932 5c trail")
        << QByteArray() << QByteArray("\x95\x5C\x83\x5C.mid") << QString() << "表ソ.mid";
    QTest::newRow("cp932 kana") << QByteArray() << QByteArray("\x83\x65\x83\x58\x83\x67sjis.mid")
                                << QString() << "テストsjis.mid";
    QTest::newRow("euc-jp kanji") << QByteArray() << QByteArray("\xC5\xEC\xB5\xFE.mid") << QString()
                                  << "東京.mid";
    QTest::newRow("euc-jp kana only")
        << QByteArray() << QByteArray("\xA5\xC6\xA5\xB9\xA5\xC8.KAR") << QString() << "テスト.KAR";
    // Windows-1252, its undefined byte shown as a mark.
    QTest::newRow("undecodable") << QByteArray() << QByteArray("\x80\xFF\x81.rmi") << QString()
                                 << QString::fromUtf8("€ÿ\uFFFD.rmi");
    // フォルダ in CP932, then a UTF-8 folder inside it, then the song.
    QTest::newRow("cp932 folder") << QByteArray("\x83\x74\x83\x48\x83\x8B\x83\x5F/曲")
                                  << QByteArray("\x95\x5C.mid") << "フォルダ/曲"
                                  << "表.mid";
}

void tst_Names::nameTravelsToTheDevice()
{
    QFETCH(QByteArray, folder);
    QFETCH(QByteArray, name);
    QFETCH(QString, shownFolder);
    QFETCH(QString, shownName);
    QByteArray nativeFolder = root();
    QString listed = m_dir->path();
    for (const QByteArray& part : folder.split('/')) {
        if (part.isEmpty())
            continue;
        nativeFolder += '/' + part;
        QCOMPARE(::mkdir(nativeFolder.constData(), 0700), 0);
    }
    writeSongAt(nativeFolder + "/plain.mid", kPlainUnits);
    writeSongAt(nativeFolder + '/' + name, kOddUnits);

    // Opened folder by folder in the folder list, as the user goes down.
    Form2& editor = openEditor(*m_player);
    for (const QString& part : shownFolder.split('/', Qt::SkipEmptyParts)) {
        listed += '/' + part;
        QVERIFY2(doubleClickFolder(*editor.dirList, listed), qPrintable(listed));
    }
    QCOMPARE(editor.dirList->path(), listed);
    QCOMPARE(editor.dirList->nativePath(), nativeFolder);
    QStringList files { "plain.mid", shownName };
    files.sort(Qt::CaseInsensitive);
    QCOMPARE(editor.filList->entries(), files);

    // Added, moved to the top (with its bytes), handed over.
    editor.Command7_Click();
    const int odd = files.indexOf(shownName);
    editor.PlayList->setListIndex(odd);
    editor.Command9_Click();
    editor.Command8_Click();
    editor.Command9_Click();
    const QStringList entries { listed + '/' + shownName, listed + "/plain.mid" };
    QCOMPARE(editor.PlayList->entries(), entries);
    editor.Command2_Click();
    QCOMPARE(m_player->Combo1->itemText(0), entries[0]);
    QCOMPARE(m_player->Text1->text(), entries[0]);
    QCOMPARE(m_player->device().Length(), kOddUnits);
    QCOMPARE(lastOpened(m_log), nativeFolder + '/' + name);

    // On to the plain one and back, as the monitor and previous track load them.
    m_player->Command3_Click();
    play(*m_player, kOddUnits * kMsPerUnit + 200);
    QCOMPARE(track(*m_player), 2);
    QCOMPARE(m_player->device().Length(), kPlainUnits);
    m_player->Command9_Click();
    QCOMPARE(track(*m_player), 1);
    QCOMPARE(lastOpened(m_log), nativeFolder + '/' + name);
    QCOMPARE(m_player->device().Length(), kOddUnits);

    // The desktop's media controls name the real file.
    const QByteArray url
        = MprisState(*m_player).metadata().value("xesam:url").toString().toLatin1();
    QVERIFY(url.startsWith("file:///"));
    QCOMPARE(QByteArray::fromPercentEncoding(url.mid(7)), nativeFolder + '/' + name);
}

void tst_Names::namesThatReadAlikeOpenTheirOwnFiles()
{
    writeSongAt(root() + "/caf\xE9.mid", kOddUnits); // Latin-1
    writeSongAt(root() + "/caf\xC3\xA9.mid", kAlikeUnits); // UTF-8
    Form2& editor = openEditor(*m_player);
    QCOMPARE(editor.filList->entries(), QStringList(2, QStringLiteral("café.mid")));
    editor.Command7_Click();
    editor.Command2_Click();
    QCOMPARE(m_player->Combo1->itemText(0), m_player->Combo1->itemText(1));

    QSet<int64_t> lengths;
    QSet<QByteArray> opened;
    for (int i = 0; i < 2; ++i) {
        m_player->selectEntry(i);
        lengths << m_player->device().Length();
        opened << lastOpened(m_log);
    }
    QCOMPARE(lengths, (QSet<int64_t> { kOddUnits, kAlikeUnits }));
    QCOMPARE(opened, (QSet<QByteArray> { root() + "/caf\xE9.mid", root() + "/caf\xC3\xA9.mid" }));
}

void tst_Names::startFolderAsTheProcessHasIt()
{
    const QByteArray folder = root() + "/\x83\x74\x83\x48\x83\x8B\x83\x5F";
    QCOMPARE(::mkdir(folder.constData(), 0700), 0);
    writeSongAt(folder + "/\x83\x65.mid", kOddUnits);
    QCOMPARE(::chdir(folder.constData()), 0);
    Form2& editor = openEditor(*m_player);
    QCOMPARE(editor.dirList->nativePath(), folder);
    QCOMPARE(editor.dirList->path(), m_dir->path() + "/フォルダ");
    QCOMPARE(editor.filList->entries(), QStringList { "テ.mid" });
}

void tst_Names::karaokeAndRiffFilesAreListed()
{
    for (const char* name : { "a.KAR", "b.Rmi", "c.mid", "d.midi", "e.kar.txt", "f.rmid" })
        touch(m_dir->path(), QLatin1String(name));
    Form2& editor = openEditor(*m_player);
    const QStringList songs { "a.KAR", "b.Rmi", "c.mid" };
    QCOMPARE(editor.filList->entries(), songs);

    // Qt's own dialog takes the same patterns from its filter's text.
    QStringList shown;
    int polls = 0;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        ++polls;
        for (QWidget* window : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<QFileDialog*>(window);
            if (dialog == nullptr || !dialog->isVisible())
                continue;
            auto* view = dialog->findChild<QListView*>(QStringLiteral("listView"));
            shown.clear();
            for (int i = 0; i < view->model()->rowCount(view->rootIndex()); ++i)
                shown << view->model()->index(i, 0, view->rootIndex()).data().toString();
            // Once listed, a little longer for anything listed late; never hang.
            if ((shown.size() >= songs.size() && polls > 25) || polls > 250)
                dialog->reject();
        }
    });
    poll.start(20);
    editor.Command6_Click();
    poll.stop();
    shown.sort(Qt::CaseInsensitive);
    QCOMPARE(shown, songs);
}

QTEST_MAIN(tst_Names)
#include "tst_names.moc"
