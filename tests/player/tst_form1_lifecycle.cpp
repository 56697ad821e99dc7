// Start-up and the end of the program: the commands the device gets when the window
// closes or the program exits, silence before the window goes, the other windows going
// with it, and a second copy of the real program refused.

#include "PlayerTestKit.h"

#include "info/frmAbout.h"
#include "info/frmRead.h"
#include "platform/midi/transport/Sequencer.h"
#include "playlist/Form2.h"

#include <QDir>
#include <QEvent>
#include <QProcess>
#include <QTest>

#include <memory>

using namespace sequora::test;
namespace engine = sequora::midi::engine;

namespace {

const QByteArray kStop("stop midifile ");
const QByteArray kClose("close midifile");

// Notes the device's transport state at the moment the window is hidden.
class HideWatch : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Hide) {
            seen = true;
            stateAtHide = engine::sequencer().state();
        }
        return QObject::eventFilter(watched, event);
    }
    bool seen = false;
    sequora::midi::TransportState stateAtHide = sequora::midi::TransportState::Playing;
};

} // namespace

class tst_Form1Lifecycle : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_log = logInto(m_dir);
        m_song = writeSong(m_dir, QStringLiteral("song one.mid"), 600);
    }

    void init()
    {
        QFile::remove(m_log);
        m_form = std::make_unique<Form1>();
        QVERIFY(m_form->Form_Load());
    }

    void cleanup() { m_form.reset(); }

    void closingBeforeAnyTrackCreatesStopsAndReleases()
    {
        m_form->show();
        QVERIFY(m_form->close());
        QCOMPARE(commands(), (QList<QByteArray>{kStop, kClose, kStop, kStop, kClose}));
        QVERIFY(!m_form->isVisible());

        // A second close (the application tearing down) sends nothing more.
        m_form->close();
        QCOMPARE(commands().size(), 5);
    }

    void exitRunsShutdownTwice()
    {
        m_form->show();
        m_form->mnuFileExit->trigger();
        const QList<QByteArray> once = {kStop, kClose, kStop, kStop, kClose};
        QCOMPARE(commands(), once + once);
        QVERIFY(!m_form->isVisible());

        // An exit arriving once the program is ending (a desktop's quit queued behind
        // the close) sends nothing after the closing sequence.
        m_form->mnuFileExit_Click();
        QCOMPARE(commands(), once + once);
    }

    void firstSelectionCreatesTheDeviceThenOpens()
    {
        m_form->Combo1->addItem(m_song);
        m_form->selectEntry(0);
        const QList<QByteArray> sent = commands();
        QCOMPARE(sent.size(), 6);
        QCOMPARE(sent.mid(0, 5), (QList<QByteArray>{kStop, kClose, "status midifile mode", kStop, kClose}));
        // The path has a blank; it reaches the device as one token.
        QVERIFY(sent.at(5).startsWith("open "));
        QVERIFY(sent.at(5).endsWith(" type sequencer alias midifile"));
        const QByteArray token = sent.at(5).mid(5, sent.at(5).size() - 5 - 30);
        QVERIFY(!token.isEmpty());
        QVERIFY(!token.contains(' '));
        QCOMPARE(codes().last(), 0u);
        QCOMPARE(m_form->Timer1->interval(), 10);
        QVERIFY(m_form->Timer1->isActive());
    }

    void closingWhilePlayingSilencesBeforeTheWindowGoes()
    {
        m_form->Combo1->addItem(m_song);
        m_form->selectEntry(0);
        m_form->Command3_Click();
        engine::advanceManualClock(1000);
        QCOMPARE(engine::sequencer().state(), sequora::midi::TransportState::Playing);

        m_form->show();
        HideWatch watch;
        m_form->installEventFilter(&watch);
        QFile::remove(m_log);
        m_form->close();
        QVERIFY(watch.seen);
        QVERIFY(watch.stateAtHide != sequora::midi::TransportState::Playing);
        QCOMPARE(commands().first(), kStop);
        QCOMPARE(engine::sequencer().state(), sequora::midi::TransportState::Closed);
        m_form->removeEventFilter(&watch);
    }

    void otherWindowsCloseWithThePlayer()
    {
        CaughtBoxes boxes;
        m_form->show();
        m_form->mnuFileList_Click();
        m_form->mnuHelpAbout_Click();
        m_form->mnuHelpRead_Click();
        QVERIFY(m_form->editor());
        QVERIFY(m_form->aboutWindow());
        QVERIFY(m_form->readmeWindow());

        m_form->close();
        QVERIFY(!m_form->editor());
        QVERIFY(!m_form->aboutWindow());
        QVERIFY(!m_form->readmeWindow());
        QVERIFY(boxes.texts.isEmpty());
    }

    void timerStopsWithTheWindow()
    {
        m_form->Combo1->addItem(m_song);
        m_form->selectEntry(0);
        m_form->close();
        QVERIFY(!m_form->Timer1->isActive());
        // Ticks after the end would make a new device.
        QFile::remove(m_log);
        QTest::qWait(50);
        QVERIFY(!QFile::exists(m_log));
    }

    void secondCopyOfTheProgramIsRefused()
    {
        const QString program = QDir(QCoreApplication::applicationDirPath()).filePath("sequora");
        if (!QFileInfo::exists(program))
            QSKIP("the sequora program is not built next to the tests");

        QTemporaryDir runtime; // a private per-user folder for the lock
        QVERIFY(runtime.isValid());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", runtime.path());
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("SEQUORA_MIDI_OUT", "null");
        env.insert("SEQUORA_TEST_AUTOCLOSE_MESSAGES", "1");
        env.remove("SEQUORA_MCI_LOG");

        QProcess first;
        first.setProcessEnvironment(env);
        first.start(program, {});
        QVERIFY(first.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(!QDir(runtime.path()).entryList({"*.lock"}, QDir::Files).isEmpty(), 10000);

        const auto runSecond = [&](QByteArray* err) {
            QProcess second;
            second.setProcessEnvironment(env);
            second.start(program, {});
            const bool ended = second.waitForFinished(10000);
            *err = second.readAllStandardError();
            if (!ended)
                second.kill();
            return ended && second.exitStatus() == QProcess::NormalExit && second.exitCode() == 0;
        };

        QByteArray err;
        QVERIFY2(runSecond(&err), err.constData());
        QCOMPARE(err.count("Sequora: 既に起動されています"), 1);
        QCOMPARE(first.state(), QProcess::Running);

        // A copy that died without cleaning up leaves a stale lock: the next one starts.
        first.kill();
        QVERIFY(first.waitForFinished(5000));
        QProcess third;
        third.setProcessEnvironment(env);
        third.start(program, {});
        QVERIFY(third.waitForStarted());
        QVERIFY2(!third.waitForFinished(1500), third.readAllStandardError().constData());
        // A logout's SIGTERM closes it as the close box would.
        third.terminate();
        QVERIFY(third.waitForFinished(5000));
        QCOMPARE(third.exitStatus(), QProcess::NormalExit);
        QCOMPARE(third.exitCode(), 0);
    }

private:
    QList<QByteArray> commands() const { return loggedCommands(m_log); }
    QList<uint> codes() const
    {
        QList<uint> out;
        for (const QByteArray& line : logLines(m_log))
            out << line.split('\t').value(1).toUInt();
        return out;
    }

    QTemporaryDir m_dir;
    QString m_log;
    QString m_song;
    std::unique_ptr<Form1> m_form;
};

QTEST_MAIN(tst_Form1Lifecycle)
#include "tst_form1_lifecycle.moc"
