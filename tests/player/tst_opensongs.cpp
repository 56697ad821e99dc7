// Songs from outside the program reaching the player window: the command line's and a
// second start's requests, drops on the player and on the editor's Playlist, each refused
// or held while a box is up. The engine runs on the manual clock.

#include "PlayerTestKit.h"
#include "platform/desktop/ModalChildScope.h"
#include "playlist/EditorTestKit.h"
#include "playlist/ListBox.h"

#include <QDropEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QUrl>
#include <QtTest>

#include <memory>

using namespace sequora::test;
using sequora::platform::StartRequest;

namespace {

QStringList comboEntries(const Form1& form)
{
    QStringList entries;
    for (int i = 0; i < form.Combo1->count(); ++i)
        entries << QFileInfo(form.Combo1->itemText(i)).fileName();
    return entries;
}

std::unique_ptr<QMimeData> uriList(const QList<QByteArray>& uris)
{
    auto data = std::make_unique<QMimeData>();
    QByteArray list;
    for (const QByteArray& uri : uris)
        list += uri + "\r\n";
    data->setData(QStringLiteral("text/uri-list"), list);
    return data;
}

// What a drag and drop from a file manager sends, delivered at pos of target.
bool drop(QWidget& target, const QMimeData& data, QPoint pos = { 5, 5 })
{
    QDragEnterEvent enter(pos, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&target, &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent dropped(QPointF(pos), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&target, &dropped);
    return dropped.isAccepted();
}

} // namespace

class tst_OpenSongs : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_log = logInto(m_dir);
        for (const char* name : { "a.mid", "b.mid", "c.mid", "d.mid" })
            writeSong(m_dir, QString::fromLatin1(name), 600);
        QDir().mkpath(m_dir.filePath(QStringLiteral("folder")));
        writeSong(m_dir, QStringLiteral("folder/2.mid"), 600);
        writeSong(m_dir, QStringLiteral("folder/1.mid"), 600);
        writeBroken(m_dir, QStringLiteral("notes.txt"));
    }

    void init()
    {
        m_boxes = std::make_unique<CaughtBoxes>();
        m_form = std::make_unique<Form1>();
        QVERIFY(m_form->Form_Load());
    }

    void cleanup()
    {
        m_form.reset();
        m_boxes.reset();
    }

    void startReplacesAndPlays()
    {
        setPlaylist(*m_form, { m_dir.filePath(QStringLiteral("d.mid")) });
        m_form->openSongs(request({ "b.mid", "folder", "notes.txt" }));
        QCOMPARE(comboEntries(*m_form), (QStringList { "b.mid", "1.mid", "2.mid" }));
        QCOMPARE(track(*m_form), 1);
        QVERIFY(isPlaying(*m_form));
        QCOMPARE(m_form->Label1->text(), QStringLiteral("0"));
        // One box for what was skipped, naming it.
        QCOMPARE(m_boxes->texts.size(), 1);
        QVERIFY(m_boxes->texts.first().contains(QStringLiteral("notes.txt")));
    }

    void enqueueAppendsWithoutInterrupting()
    {
        m_form->openSongs(request({ "a.mid" }));
        play(*m_form, 2000);
        const int64_t before = position(*m_form);
        m_form->openSongs(request({ "--enqueue", "b.mid", "c.mid" }));
        QCOMPARE(comboEntries(*m_form), (QStringList { "a.mid", "b.mid", "c.mid" }));
        QCOMPARE(track(*m_form), 1);
        QVERIFY(isPlaying(*m_form));
        QVERIFY(position(*m_form) >= before);
        QVERIFY(m_boxes->texts.isEmpty());
    }

    void enqueueOnNothingLoadsWithoutPlaying()
    {
        m_form->openSongs(request({ "--enqueue", "c.mid" }));
        QCOMPARE(comboEntries(*m_form), QStringList { "c.mid" });
        QVERIFY(isLoaded(*m_form));
    }

    void startsMomentsApartMakeOnePlaylist()
    {
        // A file manager starting the program once a file: the second joins the first.
        m_form->openSongs(request({ "a.mid" }));
        m_form->openSongs(request({ "b.mid" }));
        QCOMPARE(comboEntries(*m_form), (QStringList { "a.mid", "b.mid" }));
        QCOMPARE(track(*m_form), 1);
        // A drop is the user's own choice: it replaces even then.
        const auto data = uriList({ fileUri("c.mid") });
        QVERIFY(drop(*m_form, *data));
        QCOMPARE(comboEntries(*m_form), QStringList { "c.mid" });
        QVERIFY(isPlaying(*m_form));
    }

    void hiddenEditorFollowsThePlaylist()
    {
        Form2& editor = openEditor(*m_form);
        editor.Command2_Click(); // OK with nothing: hidden
        QVERIFY(editor.isHidden());
        m_form->openSongs(request({ "a.mid", "b.mid" }));
        QCOMPARE(editor.PlayList->count(), 2);
    }

    void dropOnPlayerActsLikeCommandLine()
    {
        const auto data
            = uriList({ fileUri("b.mid"), fileUri("folder"), "http://example.org/x.mid" });
        QVERIFY(drop(*m_form, *data));
        QCOMPARE(comboEntries(*m_form), (QStringList { "b.mid", "1.mid", "2.mid" }));
        QVERIFY(isPlaying(*m_form));
        QCOMPARE(m_boxes->texts.size(), 1);
        QVERIFY(m_boxes->texts.first().contains(QStringLiteral("http://example.org/x.mid")));
    }

    void dropOnEditorInsertsAtThePoint()
    {
        Form2& editor = openEditor(*m_form);
        editor.PlayList->addEntries({ { m_dir.filePath(QStringLiteral("a.mid")), {} },
            { m_dir.filePath(QStringLiteral("d.mid")), {} } });
        editor.show();
        editor.PlayList->doItemsLayout();
        const QPoint onSecond
            = editor.PlayList->visualRect(editor.PlayList->model()->index(1, 0)).center();
        const auto data = uriList({ fileUri("b.mid"), fileUri("c.mid") });
        QVERIFY(drop(*editor.PlayList->viewport(), *data, onSecond));
        QStringList names;
        for (const QString& entry : editor.PlayList->entries())
            names << QFileInfo(entry).fileName();
        QCOMPARE(names, (QStringList { "a.mid", "b.mid", "c.mid", "d.mid" }));
        // Below the last row: at the end. Nothing reaches the player before OK.
        QVERIFY(drop(*editor.PlayList->viewport(), *uriList({ fileUri("a.mid") }),
            QPoint(5, editor.PlayList->viewport()->height() - 2)));
        QCOMPARE(editor.PlayList->count(), 5);
        QCOMPARE(m_form->Combo1->count(), 0);
    }

    void noDropNorRequestUnderABox_data()
    {
        QTest::addColumn<bool>("onEditor");
        QTest::newRow("player") << false;
        QTest::newRow("editor") << true;
    }

    void noDropNorRequestUnderABox()
    {
        QFETCH(bool, onEditor);
        QWidget* window = m_form.get();
        QWidget* target = m_form.get();
        if (onEditor) {
            Form2& editor = openEditor(*m_form);
            window = &editor;
            target = editor.PlayList->viewport();
        }
        // A window-modal box of that window, as MsgBox runs one.
        auto box = std::make_unique<QMessageBox>(QMessageBox::NoIcon, QStringLiteral("Sequora"),
            QStringLiteral("box"), QMessageBox::Ok, window);
        box->setWindowModality(Qt::WindowModal);
        auto scope = std::make_unique<sequora::platform::ModalChildScope>(*box);
        box->show();
        const auto data = uriList({ fileUri("a.mid") });
        QVERIFY(!drop(*target, *data));
        // A second start's request waits for the box instead of being lost.
        m_form->openSongs(request({ "b.mid" }));
        QCOMPARE(m_form->Combo1->count(), 0);
        QVERIFY(m_form->songsPending());
        box->hide();
        scope.reset();
        box.reset();
        QTRY_COMPARE(comboEntries(*m_form), QStringList { "b.mid" });
        QVERIFY(!m_form->songsPending());
    }

private:
    StartRequest request(const QList<QByteArray>& args) const
    {
        return sequora::platform::readArguments(args, QFile::encodeName(m_dir.path()));
    }
    QByteArray fileUri(const char* name) const
    {
        return QUrl::fromLocalFile(m_dir.filePath(QString::fromLatin1(name))).toEncoded();
    }

    QTemporaryDir m_dir;
    QString m_log;
    std::unique_ptr<CaughtBoxes> m_boxes;
    std::unique_ptr<Form1> m_form;
};

QTEST_MAIN(tst_OpenSongs)
#include "tst_opensongs.moc"
