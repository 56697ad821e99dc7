// Closing the player from inside every event loop that can run below a handler (the
// open dialog and its own message box, the program's message boxes, PlayLoop) and with
// the other windows open. The program must end whole: its main loop returns 0, the
// device's closing sequence is the last thing in the log, and no window is left.

#include "PlayerTestKit.h"

#include "info/frmAbout.h"
#include "info/frmRead.h"
#include "platform/desktop/QtTranslation.h"
#include "platform/desktop/TerminationSignals.h"
#include "platform/midi/transport/Sequencer.h"
#include "playlist/EditorTestKit.h"
#include "playlist/Form2.h"
#include "playlist/ListBox.h"
#include "playlist/modCmOpen.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include <csignal>
#include <functional>
#include <memory>

using namespace sequora::test;

namespace {

const QByteArray kStop("stop midifile ");
const QByteArray kClose("close midifile");
// With a track loaded, closing the window stops the device and releases it; the exit
// item does that and then closes the window, which does it again on a new device.
const QList<QByteArray> kCloseSequence { kStop, kStop, kClose };
const QList<QByteArray> kExitSequence
    = QList<QByteArray> { kStop, kStop, kClose, kStop, kClose } + kCloseSequence;

template <typename Window> Window* shown()
{
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (auto* w = qobject_cast<Window*>(window); w != nullptr && w->isVisible())
            return w;
    }
    return nullptr;
}

QString boxText()
{
    const QMessageBox* box = shown<QMessageBox>();
    return box != nullptr ? box->text() : QString();
}

} // namespace

class tst_Shutdown : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_log = logInto(m_dir);
        m_song = writeSong(m_dir, QStringLiteral("song.mid"), 10);
        // As the program does before its first window.
        QVERIFY(sequora::platform::installQtTranslation());
    }

    void init()
    {
        m_form = std::make_unique<Form1>();
        QVERIFY(m_form->Form_Load());
        m_form->show();
        // The empty second entry is what the monitor cannot move on to.
        setPlaylist(*m_form, { m_song, QString() });
    }

    void cleanup()
    {
        modCmOpen::setOpenDialogHook({});
        m_form.reset();
    }

    void closingFromInsideANestedLoop_data();
    void closingFromInsideANestedLoop();
    void qtTextsAreJapanese();

private:
    QList<QByteArray> commands() const { return loggedCommands(m_log); }

    QTemporaryDir m_dir;
    QString m_log;
    QString m_song;
    std::unique_ptr<Form1> m_form;
};

void tst_Shutdown::closingFromInsideANestedLoop_data()
{
    QTest::addColumn<QString>("inside");
    QTest::addColumn<QString>("by");
    for (const char* inside : { "open dialog", "open dialog's message box", "monitor's message box",
             "playlist full", "system information", "PlayLoop", "other windows, editor hidden" }) {
        for (const char* by : { "close box", "exit item", "SIGTERM" })
            QTest::addRow("%s, %s", inside, by) << QString::fromLatin1(inside) << QString::fromLatin1(by);
    }
}

void tst_Shutdown::closingFromInsideANestedLoop()
{
    QFETCH(QString, inside);
    QFETCH(QString, by);
    Form1& form = *m_form;
    QVERIFY(sequora::platform::closeOnTerminationSignals(form));

    // `open` runs as the main loop's first event and does not return until the player
    // has closed; `isOpen` says when to close it, from an event inside that loop.
    std::function<void()> open;
    std::function<bool()> isOpen;
    bool playLoopReturned = false;
    if (inside == "open dialog") {
        open = [&] { openEditor(form).Command6->click(); };
        isOpen = [] { return shown<QFileDialog>() != nullptr; };
    } else if (inside == "open dialog's message box") {
        open = [&] { openEditor(form).Command6->click(); };
        isOpen = [] {
            // A name that is not there makes the dialog warn from a box of its own.
            if (QFileDialog* dialog = shown<QFileDialog>();
                dialog != nullptr && !shown<QMessageBox>()) {
                // Typed as a user would: selectFile forgets a name it was given before.
                if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                    name->setText(QStringLiteral("no such song.mid"));
                QMetaObject::invokeMethod(dialog, &QDialog::accept, Qt::QueuedConnection);
            }
            return shown<QMessageBox>() != nullptr;
        };
    } else if (inside == "monitor's message box") {
        open = [&] {
            form.Command3_Click();
            advance(form, 2000);
        };
        isOpen = [] { return boxText() == QStringLiteral("予期せぬエラーが起こりました。"); };
    } else if (inside == "playlist full") {
        open = [&] {
            Form2& editor = openEditor(form);
            editor.PlayList->addItems(
                QStringList(Form2::kMaxEntries - editor.PlayList->count(), m_song));
            modCmOpen::setOpenDialogHook(
                [&](QWidget*, const QString&, const QString&) { return m_song; });
            editor.Command6->click();
        };
        isOpen = [] { return !boxText().isEmpty(); };
    } else if (inside == "system information") {
        open = [&] {
            form.mnuHelpAbout_Click();
            form.aboutWindow()->cmdSysInfo->click();
        };
        isOpen = [] { return boxText() == QStringLiteral("現時点ではｼｽﾃﾑ情報を使用できません"); };
    } else if (inside == "PlayLoop") {
        open = [&] {
            form.device().PlayLoop();
            playLoopReturned = true;
        };
        isOpen = [&] { return commands().contains("status midifile mode"); };
    } else {
        open = [&] {
            openEditor(form).Command2_Click();
            form.mnuHelpAbout_Click();
            form.mnuHelpRead_Click();
        };
        isOpen = [&] { return form.readmeWindow() != nullptr && form.readmeWindow()->isVisible(); };
    }

    QFile::remove(m_log);
    QPointer<Form2> editor;
    QPointer<frmAbout> about;
    QPointer<frmRead> readme;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        if (!isOpen())
            return;
        poll.stop();
        editor = form.editor();
        about = form.aboutWindow();
        readme = form.readmeWindow();
        if (by == "exit item")
            form.mnuFileExit_Click();
        else if (by == "SIGTERM")
            std::raise(SIGTERM);
        else
            form.close();
    });
    poll.start(10);
    QTimer::singleShot(0, this, open);
    bool hung = false;
    QTimer::singleShot(10000, this, [&] {
        hung = true;
        QCoreApplication::exit(1);
    });

    const int rc = QApplication::exec();
    QCOMPARE(rc, 0);
    QVERIFY(!hung);
    QVERIFY2(!poll.isActive(), "never closed: the loop did not open");
    for (const QWidget* window : QApplication::topLevelWidgets())
        QVERIFY2(!window->isVisible(), qPrintable(window->windowTitle()));
    const QList<QByteArray> sent = commands();
    const QList<QByteArray> expected = by == "exit item" ? kExitSequence : kCloseSequence;
    QVERIFY2(sent.size() >= expected.size(), sent.join('|').constData());
    QCOMPARE(sent.mid(sent.size() - expected.size()), expected);
    if (inside == "PlayLoop")
        QVERIFY(playLoopReturned);

    // The windows kept until the loops had returned go with the player.
    m_form.reset();
    QVERIFY(editor.isNull() && about.isNull() && readme.isNull());
}

void tst_Shutdown::qtTextsAreJapanese()
{
    QStringList texts;
    QTimer::singleShot(0, this, [&] {
        QFileDialog* dialog = shown<QFileDialog>();
        QVERIFY(dialog != nullptr);
        texts << dialog->windowTitle();
        for (const QAbstractButton* button : dialog->findChild<QDialogButtonBox*>()->buttons())
            texts << button->text();
        dialog->reject();
    });
    QCOMPARE(
        modCmOpen::ShowOpenDialog(m_form.get(), modCmOpen::kMidiFilter, m_dir.path()), QString());
    QCOMPARE(texts, (QStringList { "開く", "開く(&O)", "キャンセル" }));
}

QTEST_MAIN(tst_Shutdown)
#include "tst_shutdown.moc"
