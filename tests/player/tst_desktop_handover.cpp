// The real program started more than once on a session bus of its own: a second start
// hands its files to the player that runs and ends, two starts at once give one player
// with every file, a killed player keeps no one out, and the media controls' OpenUri
// plays a file or refuses a bad URI. Players run headless, each with its device log.

#include "BusSession.h"
#include "PlayerTestKit.h"

#include <QDBusMessage>
#include <QUrl>

using namespace sequora::test;

namespace {

const QString kAlreadyRunning = QStringLiteral("既に起動されています");
// A second start waits for nothing but the bus's answer.
constexpr int kHandOverMs = 5000;

QList<QByteArray> opened(const QString& log)
{
    QList<QByteArray> files;
    for (const QByteArray& command : loggedCommands(log)) {
        if (command.startsWith("open "))
            files << command.split(' ').value(1);
    }
    return files;
}

// The names of the files opened, each once, sorted.
QStringList openedNames(const QString& log)
{
    QStringList names;
    for (const QByteArray& file : opened(log))
        names << QFileInfo(QString::fromUtf8(file)).fileName();
    names.removeDuplicates();
    names.sort();
    return names;
}

bool plays(const QString& log)
{
    return loggedCommands(log).contains("play midifile");
}

} // namespace

class tst_DesktopHandover : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!QFileInfo::exists(BusSession::program()))
            QSKIP("the sequora program is not built next to the tests");
        QVERIFY(m_songs.isValid());
        for (const char* name : { "a.mid", "b.mid", "c.mid" })
            writeSong(m_songs, QString::fromLatin1(name), 6000);
        writeBroken(m_songs, QStringLiteral("notes.txt"));
    }

    void secondStartHandsItsFilesOver()
    {
        BusSession session;
        const QString why = session.start();
        if (!why.isEmpty())
            QSKIP(qPrintable(why));
        const QString log = m_songs.filePath(QStringLiteral("first.log"));
        QProcess& first = session.launch({}, m_songs.path(), log);
        QVERIFY(session.waitForPlayer());

        // With a file: handed over, and the second start ends at once.
        QElapsedTimer took;
        took.start();
        QProcess& second = session.launch({ QStringLiteral("b.mid") }, m_songs.path(),
            m_songs.filePath(QStringLiteral("second.log")));
        QVERIFY(second.waitForFinished(kHandOverMs));
        qInfo("hand-over took %lld ms", took.elapsed());
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(plays(log), 10000);
        QCOMPARE(opened(log).size(), 1);
        QVERIFY(opened(log).first().endsWith("b.mid"));
        // The second start never made a device of its own.
        QVERIFY(!QFileInfo::exists(m_songs.filePath(QStringLiteral("second.log"))));

        // --enqueue: appended, and the song plays on; the next track is the new one.
        QProcess& third = session.launch({ QStringLiteral("--enqueue"), QStringLiteral("c.mid") },
            m_songs.path(), m_songs.filePath(QStringLiteral("third.log")));
        QVERIFY(third.waitForFinished(kHandOverMs));
        QCOMPARE(third.exitCode(), 0);
        QTest::qWait(500);
        QCOMPARE(opened(log).size(), 1);
        QVERIFY(callPlayer(session, QStringLiteral("Next")).type() == QDBusMessage::ReplyMessage);
        QTRY_COMPARE_WITH_TIMEOUT(openedNames(log), (QStringList { "b.mid", "c.mid" }), 10000);
        QVERIFY(opened(log).last().endsWith("c.mid"));

        // Without files: the message, and no second player.
        QProcess& fourth = session.launch({}, m_songs.path(), m_songs.filePath("fourth.log"));
        QVERIFY(fourth.waitForFinished(kHandOverMs));
        QCOMPARE(fourth.exitCode(), 0);
        QVERIFY(QString::fromUtf8(fourth.readAllStandardError()).contains(kAlreadyRunning));
        QCOMPARE(session.running(), 1);
        QCOMPARE(first.state(), QProcess::Running);
    }

    void twoStartsAtOnceGiveOnePlayerWithEveryFile()
    {
        BusSession session;
        const QString why = session.start();
        if (!why.isEmpty())
            QSKIP(qPrintable(why));
        const QString logA = m_songs.filePath(QStringLiteral("a.log"));
        const QString logB = m_songs.filePath(QStringLiteral("b.log"));
        QFile::remove(logA);
        QFile::remove(logB);
        QProcess& a = session.launch({ QStringLiteral("a.mid") }, m_songs.path(), logA);
        QProcess& b = session.launch({ QStringLiteral("b.mid") }, m_songs.path(), logB);
        QVERIFY(session.waitForPlayer());
        // One of them hands over and ends; the other plays both.
        QTRY_COMPARE_WITH_TIMEOUT(session.running(), 1, 10000);
        QProcess& ended = a.state() == QProcess::NotRunning ? a : b;
        QCOMPARE(ended.exitCode(), 0);
        const QString log = &ended == &a ? logB : logA;
        QTRY_VERIFY_WITH_TIMEOUT(plays(log), 10000);
        QVERIFY(callPlayer(session, QStringLiteral("Next")).type() == QDBusMessage::ReplyMessage);
        QTRY_COMPARE_WITH_TIMEOUT(openedNames(log), (QStringList { "a.mid", "b.mid" }), 10000);
    }

    void killedPlayerKeepsNoOneOut()
    {
        BusSession session;
        const QString why = session.start();
        if (!why.isEmpty())
            QSKIP(qPrintable(why));
        QProcess& first = session.launch({}, m_songs.path(), m_songs.filePath("killed.log"));
        QVERIFY(session.waitForPlayer());
        first.kill(); // SIGKILL: no closing steps, the lock file left behind
        QVERIFY(first.waitForFinished(5000));

        const QString log = m_songs.filePath(QStringLiteral("after.log"));
        QFile::remove(log);
        QProcess& next = session.launch({ QStringLiteral("a.mid") }, m_songs.path(), log);
        QVERIFY(session.waitForPlayer());
        QTRY_VERIFY_WITH_TIMEOUT(plays(log), 10000);
        QCOMPARE(next.state(), QProcess::Running);
    }

    void openUriPlaysAndBadUrisAreRefused()
    {
        BusSession session;
        const QString why = session.start();
        if (!why.isEmpty())
            QSKIP(qPrintable(why));
        const QString log = m_songs.filePath(QStringLiteral("uri.log"));
        QFile::remove(log);
        session.launch({}, m_songs.path(), log);
        QVERIFY(session.waitForPlayer());

        for (const QString& bad : { QStringLiteral("http://example.org/a.mid"),
                 QStringLiteral("file://elsewhere.example/a.mid"),
                 QUrl::fromLocalFile(m_songs.filePath(QStringLiteral("missing.mid"))).toString(),
                 QUrl::fromLocalFile(m_songs.filePath(QStringLiteral("notes.txt"))).toString() }) {
            const QDBusMessage reply = callPlayer(session, QStringLiteral("OpenUri"), { bad });
            QVERIFY2(reply.type() == QDBusMessage::ErrorMessage, qPrintable(bad));
        }
        QTest::qWait(300);
        QVERIFY(opened(log).isEmpty());

        const QString good
            = QUrl::fromLocalFile(m_songs.filePath(QStringLiteral("c.mid"))).toString();
        if (!QStandardPaths::findExecutable(QStringLiteral("playerctl")).isEmpty()) {
            QProcess client;
            client.setProcessEnvironment(session.environment());
            client.start(QStringLiteral("playerctl"),
                { QStringLiteral("--player=sequora"), QStringLiteral("open"), good });
            QVERIFY(client.waitForFinished(10000));
            QCOMPARE(client.exitCode(), 0);
        } else {
            QCOMPARE(callPlayer(session, QStringLiteral("OpenUri"), { good }).type(),
                QDBusMessage::ReplyMessage);
        }
        QTRY_VERIFY_WITH_TIMEOUT(plays(log), 10000);
        QVERIFY(opened(log).first().endsWith("c.mid"));
    }

private:
    static QDBusMessage callPlayer(
        BusSession& session, const QString& method, const QVariantList& args = {})
    {
        QDBusMessage call
            = QDBusMessage::createMethodCall(QStringLiteral("org.mpris.MediaPlayer2.sequora"),
                QStringLiteral("/org/mpris/MediaPlayer2"),
                QStringLiteral("org.mpris.MediaPlayer2.Player"), method);
        call.setArguments(args);
        return session.bus().call(call, QDBus::Block, 10000);
    }

    QTemporaryDir m_songs;
};

QTEST_MAIN(tst_DesktopHandover)
#include "tst_desktop_handover.moc"
