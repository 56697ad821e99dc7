// The desktop entry and the MIME definition as a desktop sees them once installed (here
// into a private data folder): "Open with" offers the player for MIDI files, .rmi files
// are MIDI, and launching the entry with a file, as a file manager does, plays it.

#include "BusSession.h"
#include "PlayerTestKit.h"

using namespace sequora::test;

namespace {

QString run(const QString& program, const QStringList& args, const QProcessEnvironment& env,
    int* exitCode = nullptr)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForFinished(20000)) {
        p.kill();
        p.waitForFinished();
    }
    if (exitCode != nullptr)
        *exitCode = p.exitCode();
    return QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
}

} // namespace

class tst_DesktopEntry : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        for (const char* tool : { "gio", "update-desktop-database", "update-mime-database" }) {
            if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
                QSKIP(qPrintable(QStringLiteral("not installed: ") + QLatin1String(tool)));
        }
        if (!QFileInfo::exists(BusSession::program()))
            QSKIP("the sequora program is not built next to the tests");
        const QString source = qEnvironmentVariable("SEQUORA_TEST_SOURCE_DIR");
        QVERIFY(!source.isEmpty());
        QVERIFY(m_data.isValid() && m_songs.isValid());

        // The entry as installed, its program the one built here.
        QDir(m_data.path()).mkpath(QStringLiteral("applications"));
        QDir(m_data.path()).mkpath(QStringLiteral("mime/packages"));
        QFile entry(source + QStringLiteral("/resources/sequora.desktop"));
        QVERIFY(entry.open(QIODevice::ReadOnly));
        QString text = QString::fromUtf8(entry.readAll());
        m_entryText = text;
        text.replace(
            QStringLiteral("Exec=sequora"), QStringLiteral("Exec=") + BusSession::program());
        m_entry = m_data.filePath(QStringLiteral("applications/sequora.desktop"));
        QFile installed(m_entry);
        QVERIFY(installed.open(QIODevice::WriteOnly));
        installed.write(text.toUtf8());
        installed.close();
        QVERIFY(QFile::copy(source + QStringLiteral("/resources/sequora-mime.xml"),
            m_data.filePath(QStringLiteral("mime/packages/sequora.xml"))));

        m_env = QProcessEnvironment::systemEnvironment();
        m_env.insert(
            QStringLiteral("XDG_DATA_DIRS"), m_data.path() + QStringLiteral(":/usr/share"));
        m_env.insert(QStringLiteral("XDG_DATA_HOME"), m_data.filePath(QStringLiteral("home")));
        int code = -1;
        run(QStringLiteral("update-mime-database"), { m_data.filePath(QStringLiteral("mime")) },
            m_env, &code);
        QCOMPARE(code, 0);
        run(QStringLiteral("update-desktop-database"),
            { m_data.filePath(QStringLiteral("applications")) }, m_env, &code);
        QCOMPARE(code, 0);
        writeSong(m_songs, QStringLiteral("song.mid"), 3000);
    }

    void entryTakesFilesAndOffersEnqueue()
    {
        QVERIFY(m_entryText.contains(QStringLiteral("\nMimeType=audio/midi;audio/x-midi;\n")));
        QVERIFY(m_entryText.contains(QStringLiteral("\nExec=sequora %F\n")));
        QVERIFY(m_entryText.contains(QStringLiteral("\nName[ja]=再生ﾘｽﾄに追加\n")));
        QVERIFY(m_entryText.contains(QStringLiteral("\nExec=sequora --enqueue %F\n")));
    }

    void openWithOffersThePlayer()
    {
        const QString offered = run(
            QStringLiteral("gio"), { QStringLiteral("mime"), QStringLiteral("audio/midi") }, m_env);
        QVERIFY2(offered.contains(QStringLiteral("sequora.desktop")), qPrintable(offered));
    }

    void rmiIsMidi()
    {
        const QString rmi = m_songs.filePath(QStringLiteral("song.rmi"));
        QFile file(rmi);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("RIFF\x10\0\0\0RMIDdata\0\0\0\0", 20));
        file.close();
        const QString type = run(QStringLiteral("gio"),
            { QStringLiteral("info"), QStringLiteral("-a"),
                QStringLiteral("standard::content-type"), rmi },
            m_env);
        QVERIFY2(type.contains(QStringLiteral("audio/midi")), qPrintable(type));
    }

    void launchedWithAFileItPlays()
    {
        BusSession session;
        const QString why = session.start();
        if (!why.isEmpty())
            QSKIP(qPrintable(why));
        QProcessEnvironment env = session.environment();
        env.insert(QStringLiteral("XDG_DATA_DIRS"), m_env.value(QStringLiteral("XDG_DATA_DIRS")));
        const QString log = m_songs.filePath(QStringLiteral("mci.log"));
        env.insert(QStringLiteral("SEQUORA_MCI_LOG"), log);
        QProcess launcher;
        launcher.setProcessEnvironment(env);
        launcher.setWorkingDirectory(m_songs.path());
        launcher.start(QStringLiteral("gio"),
            { QStringLiteral("launch"), m_entry, m_songs.filePath(QStringLiteral("song.mid")) });
        QVERIFY(launcher.waitForFinished(20000));
        QCOMPARE(launcher.exitCode(), 0);
        QVERIFY(session.waitForPlayer());
        QTRY_VERIFY_WITH_TIMEOUT(loggedCommands(log).contains("play midifile"), 10000);
        bool openedSong = false;
        for (const QByteArray& command : loggedCommands(log))
            openedSong |= command.startsWith("open ") && command.contains("song.mid");
        QVERIFY(openedSong);
        // The player gio started is not a child of ours: end it through the bus.
        QDBusMessage quit
            = QDBusMessage::createMethodCall(QStringLiteral("org.mpris.MediaPlayer2.sequora"),
                QStringLiteral("/org/mpris/MediaPlayer2"), QStringLiteral("org.mpris.MediaPlayer2"),
                QStringLiteral("Quit"));
        session.bus().call(quit);
        QTRY_VERIFY_WITH_TIMEOUT(!session.playerOnBus(), 10000);
    }

private:
    QTemporaryDir m_data;
    QTemporaryDir m_songs;
    QString m_entry;
    QString m_entryText;
    QProcessEnvironment m_env;
};

QTEST_MAIN(tst_DesktopEntry)
#include "tst_desktop_entry.moc"
