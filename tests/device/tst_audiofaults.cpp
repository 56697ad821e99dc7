// Sound that is not there or goes away: the device started with no audio server and no
// sound card plays on silently, and one whose audio server dies in the middle of a song
// carries on on its own clock. Each says so once on standard error. Driven from the
// outside through sequora-mci, with the real output choice (no test output forced).

#include "common/SmfWriter.h"

#include "platform/System.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using sequora::test::SmfWriter;

namespace {

constexpr int kSongSeconds = 60;
const char* const kSmallSoundfont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
// The silent clock takes over within half a second of the server's last period, and
// counts the time the server was gone, so the position does not stand still.
constexpr int kTakeOverMs = 500;

QStringList lines(const QByteArray& text)
{
    QStringList out = QString::fromUtf8(text).split('\n', Qt::SkipEmptyParts);
    return out;
}

// The reply of an "N<TAB>reply" line of sequora-mci.
QString replyOf(const QString& line)
{
    return line.section('\t', 1);
}

} // namespace

class tst_AudioFaults : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void noAudioServerPlaysSilently();
    void losingTheAudioServerWhilePlaying();

private:
    /// sequora-mci's environment with no output chosen, no ALSA device, and PulseAudio
    /// looked for only at `pulseServer` (never started on demand).
    QProcessEnvironment environment(const QString& pulseServer) const;
    std::string openCommand() const;

    QTemporaryDir m_dir;
    QString m_tool;
    QString m_song;
};

void tst_AudioFaults::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_tool = QCoreApplication::applicationDirPath() + "/sequora-mci";
    if (!QFile::exists(m_tool))
        QSKIP("sequora-mci is not built");
    SmfWriter smf(0, 500); // a tick is a millisecond
    auto& track = smf.addTrack();
    for (int s = 0; s < kSongSeconds; ++s)
        track.noteOn(s == 0 ? 0 : 500, 0, 60 + s % 12, 80).noteOff(500, 0, 60 + s % 12);
    track.endOfTrack(0);
    m_song = m_dir.filePath("song.mid");
    smf.writeFile(m_song.toStdString());

    QFile alsa(m_dir.filePath("asound.conf")); // an ALSA that knows no device at all
    QVERIFY(alsa.open(QIODevice::WriteOnly));
    QFile pulse(m_dir.filePath("client.conf"));
    QVERIFY(pulse.open(QIODevice::WriteOnly));
    pulse.write("autospawn = no\n");
}

QProcessEnvironment tst_AudioFaults::environment(const QString& pulseServer) const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("SEQUORA_MIDI_OUT");
    env.remove("SEQUORA_AUDIO_DRIVER");
    env.remove("SEQUORA_MCI_LOG");
    env.insert("ALSA_CONFIG_PATH", m_dir.filePath("asound.conf"));
    env.insert("PULSE_SERVER", pulseServer);
    env.insert("PULSE_CLIENTCONFIG", m_dir.filePath("client.conf"));
    env.insert("HOME", m_dir.path());
    if (QFile::exists(kSmallSoundfont))
        env.insert("SEQUORA_SOUNDFONT", kSmallSoundfont);
    return env;
}

std::string tst_AudioFaults::openCommand() const
{
    char word[512] = {};
    sequora::platform::GetShortPathNameA(m_song.toStdString().c_str(), word, sizeof word);
    return std::string("open ") + word + " type sequencer alias m";
}

void tst_AudioFaults::noAudioServerPlaysSilently()
{
    QProcess mci;
    mci.setProcessEnvironment(environment("unix:" + m_dir.filePath("no-server-here")));
    mci.start(m_tool,
        { QString::fromStdString(openCommand()), "play m", "wait 1500", "status m position",
            "status m mode", "close m" });
    QVERIFY(mci.waitForFinished(30000));
    const QStringList out = lines(mci.readAllStandardOutput());
    const QStringList err = lines(mci.readAllStandardError());
    QCOMPARE(mci.exitStatus(), QProcess::NormalExit);
    QCOMPARE(mci.exitCode(), 0);
    QCOMPARE(out.size(), 5);
    // The clock ran without any sound device: about 15 tenths went by.
    const int position = replyOf(out[2]).toInt();
    QVERIFY2(position >= 10 && position <= 25, qPrintable(out[2]));
    QCOMPARE(replyOf(out[3]), QStringLiteral("playing"));
    // One line says why it is silent; nothing else is printed (no library chatter).
    QCOMPARE(err.size(), 1);
    QVERIFY2(err[0].startsWith("sequora: no sound (") && err[0].endsWith("playing silently"),
        qPrintable(err[0]));
}

void tst_AudioFaults::losingTheAudioServerWhilePlaying()
{
    const QString pulseaudio = QStandardPaths::findExecutable("pulseaudio");
    if (pulseaudio.isEmpty())
        QSKIP("PulseAudio is not installed: the lost-server path cannot be driven here");

    // A private server of our own: its own runtime folder and socket, a null sink, and
    // no other client (the desktop's server, if any, is never touched).
    const QString runtime = m_dir.filePath("pulse-runtime");
    QVERIFY(QDir().mkpath(runtime));
    QFile::setPermissions(
        runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QString socket = m_dir.filePath("pulse-socket");
    QProcess server;
    QProcessEnvironment serverEnv = QProcessEnvironment::systemEnvironment();
    serverEnv.insert("HOME", m_dir.path());
    serverEnv.insert("XDG_RUNTIME_DIR", runtime);
    serverEnv.insert("XDG_CONFIG_HOME", m_dir.filePath("pulse-config"));
    serverEnv.insert("PULSE_RUNTIME_PATH", runtime);
    serverEnv.insert("PULSE_STATE_PATH", m_dir.filePath("pulse-state"));
    server.setProcessEnvironment(serverEnv);
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(pulseaudio,
        { "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no", "--disable-shm=yes",
            "--log-target=stderr", "--log-level=error", "-L", "module-null-sink", "-L",
            "module-native-protocol-unix auth-anonymous=1 socket=" + socket });
    QVERIFY(server.waitForStarted(5000));
    QElapsedTimer waited;
    waited.start();
    while (
        !QFile::exists(socket) && server.state() == QProcess::Running && waited.elapsed() < 10000)
        QTest::qWait(50);
    if (!QFile::exists(socket)) {
        server.kill();
        server.waitForFinished();
        QSKIP("a private PulseAudio server could not be started here");
    }

    QProcess mci;
    mci.setProcessEnvironment(environment("unix:" + socket));
    mci.start(m_tool, {});
    QVERIFY(mci.waitForStarted(5000));
    const auto ask = [&](const QString& commands, int replies) {
        mci.write(commands.toUtf8());
        QStringList got;
        QElapsedTimer t;
        t.start();
        while (got.size() < replies && t.elapsed() < 30000) {
            mci.waitForReadyRead(1000);
            while (mci.canReadLine())
                got << QString::fromUtf8(mci.readLine()).chopped(1);
        }
        return got;
    };

    // Playing through the server: its sink's clock moves the song on (once the stream
    // has started, which can take a moment on a busy machine). Loaded and waiting first,
    // the output rests its stream; play must wake it.
    QCOMPARE(ask(QString::fromStdString(openCommand()) + "\nwait 1500\nplay m\n", 2).size(), 2);
    int heard = 0;
    for (int i = 0; i < 20 && heard < 5; ++i) {
        const QStringList got = ask("wait 500\nstatus m position\n", 1);
        QCOMPARE(got.size(), 1);
        heard = replyOf(got[0]).toInt();
    }
    QVERIFY2(heard >= 5, "the song did not move while the server was there");
    const QByteArray early = mci.readAllStandardError();
    QVERIFY2(
        early.isEmpty(), qPrintable("the output fell back while the server was there: " + early));

    // The server dies. The song goes on silently on the output's own clock, taking over
    // within half a second: by then the position has moved on as if nothing happened.
    const QStringList before = ask("status m position\n", 1);
    QCOMPARE(before.size(), 1);
    const int p0 = replyOf(before[0]).toInt();
    server.kill();
    QVERIFY(server.waitForFinished(5000));
    const QStringList after
        = ask(QStringLiteral("wait %1\nstatus m position\nwait 1000\nstatus m position\n"
                             "status m mode\n")
                  .arg(kTakeOverMs),
            3);
    QCOMPARE(after.size(), 3);
    const int p1 = replyOf(after[0]).toInt();
    const int p2 = replyOf(after[1]).toInt();
    QVERIFY2(p1 - p0 >= 3, qPrintable(QString::number(p0) + " | " + after.join(" | ")));
    QVERIFY2(p2 - p1 >= 7 && p2 - p1 <= 13, qPrintable(after.join(" | "))); // a second
    QCOMPARE(replyOf(after[2]), QStringLiteral("playing"));

    mci.write("close m\n");
    mci.closeWriteChannel();
    QVERIFY(mci.waitForFinished(10000));
    QCOMPARE(mci.exitStatus(), QProcess::NormalExit);
    QCOMPARE(mci.exitCode(), 0);
    const QStringList err = lines(mci.readAllStandardError());
    QCOMPARE(err.size(), 1);
    QVERIFY2(err[0].contains("stopped; playing on silently"), qPrintable(err[0]));
}

QTEST_GUILESS_MAIN(tst_AudioFaults)
#include "tst_audiofaults.moc"
