// Sound that is not there or goes away: the device started with no audio server and no
// sound card plays on silently, and one whose audio server dies in the middle of a song
// carries on on its own clock. Each says so once on standard error. When the server comes
// back, so does the sound, mid-song (a held note at once) and between songs, and that too
// is said once. While nothing plays, the stream rests, and play wakes it. Driven from the
// outside through sequora-mci, with the real output choice (no test output forced),
// against private servers of the test's own: PulseAudio with a null sink whose monitor is
// recorded (also reached through ALSA's PulseAudio plugin), and JACK on its dummy driver.

#include "common/PulseSink.h"
#include "common/SmfWriter.h"

#include "platform/System.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <signal.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

using sequora::test::PulseServer;
using sequora::test::SinkMonitor;
using sequora::test::SmfWriter;
using sequora::test::stopProcess;

namespace {

constexpr int kSongSeconds = 60;
const char* const kSmallSoundfont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
// The silent clock takes over within half a second of the server's last period, and
// counts the time the server was gone, so the position does not stand still.
constexpr int kTakeOverMs = 500;
// Deadlines for what a busy machine may take long to do; nothing is timed against them.
constexpr int kDeadlineMs = 30000;
// A 20 ms block of the sink's monitor this loud (about -30 dBFS) is sound, not silence.
constexpr int kHeardPeak = 1000;
// Once the output says the sound is back, a note held at the clock's position is heard
// within this long: struck again at once, not at its next note-on.
constexpr int kStruckAgainMs = 3000;
// A sustained pad (General MIDI's warm pad) and the key it holds.
constexpr int kPadProgram = 89;
constexpr int kPadKey = 60;

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

/// sequora-mci reading its commands from standard input, as a session would give them.
class Mci {
public:
    ~Mci() { stopProcess(m_process); }
    bool start(const QString& tool, const QProcessEnvironment& env)
    {
        m_process.setProcessEnvironment(env);
        m_process.start(tool, {});
        return m_process.waitForStarted(5000);
    }
    /// Sends @p commands (lines) and returns the next @p replies replies.
    QStringList ask(const QString& commands, int replies)
    {
        m_process.write(commands.toUtf8());
        QStringList got;
        QElapsedTimer t;
        t.start();
        while (got.size() < replies && t.elapsed() < kDeadlineMs) {
            m_process.waitForReadyRead(1000);
            while (m_process.canReadLine())
                got << QString::fromUtf8(m_process.readLine()).chopped(1);
        }
        return got;
    }
    int position()
    {
        const QStringList got = ask("status m position\n", 1);
        return got.size() == 1 ? replyOf(got[0]).toInt() : -1;
    }
    QString mode()
    {
        const QStringList got = ask("status m mode\n", 1);
        return got.size() == 1 ? replyOf(got[0]) : QString();
    }
    /// The lines on standard error so far.
    QStringList errors()
    {
        m_errors += m_process.readAllStandardError();
        return lines(m_errors);
    }
    /// Waits until @p times lines on standard error contain @p part.
    bool waitForError(const QString& part, int ms, int times = 1)
    {
        QElapsedTimer t;
        t.start();
        for (;;) {
            const QStringList err = errors();
            if (std::count_if(
                    err.begin(), err.end(), [&](const QString& l) { return l.contains(part); })
                >= times)
                return true;
            if (t.elapsed() >= ms)
                return false;
            QTest::qWait(50);
        }
    }
    /// Waits until the position has moved on by @p tenths.
    bool movesOn(int tenths)
    {
        const int from = position();
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < kDeadlineMs) {
            QTest::qWait(200);
            if (position() >= from + tenths)
                return true;
        }
        return false;
    }
    /// Closes the device and the tool; true when it ended well.
    bool finish()
    {
        m_process.write("close m\n");
        m_process.closeWriteChannel();
        return m_process.waitForFinished(kDeadlineMs)
            && m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
    }
    qint64 pid() const { return m_process.processId(); }

private:
    QProcess m_process;
    QByteArray m_errors;
};

/// Context switches so far of the process's threads named @p name (an audio driver's
/// thread): it switches at least once a period while it streams, never while it rests.
qint64 switchesOf(qint64 pid, const QString& name)
{
    qint64 sum = 0;
    const QString tasks = QString("/proc/%1/task").arg(pid);
    for (const QString& tid : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks + "/" + tid + "/comm");
        if (!comm.open(QIODevice::ReadOnly) || QString::fromUtf8(comm.readAll()).trimmed() != name)
            continue;
        QFile status(tasks + "/" + tid + "/status");
        if (!status.open(QIODevice::ReadOnly))
            continue;
        for (const QString& line : lines(status.readAll())) {
            if (line.startsWith("voluntary_ctxt_switches:")
                || line.startsWith("nonvoluntary_ctxt_switches:"))
                sum += line.section(':', 1).trimmed().toLongLong();
        }
    }
    return sum;
}

/// Waits until a whole second goes by with the thread named @p name switching at most
/// once: it rests.
bool rests(qint64 pid, const QString& name)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < kDeadlineMs) {
        const qint64 before = switchesOf(pid, name);
        QTest::qWait(1000);
        if (switchesOf(pid, name) - before <= 1)
            return true;
    }
    return false;
}

/// The peak of the 16-bit samples of a WAV file, -1 if it cannot be read.
int wavPeak(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray wav = f.readAll();
    qsizetype at = 12;
    while (at + 8 <= wav.size()) {
        const QByteArray id = wav.mid(at, 4);
        quint32 size = 0;
        std::memcpy(&size, wav.constData() + at + 4, 4);
        if (id == "data") {
            int peak = 0;
            const qsizetype end = std::min<qsizetype>(wav.size(), at + 8 + size);
            for (qsizetype i = at + 8; i + 1 < end; i += 2) {
                const auto v = static_cast<int16_t>(uint8_t(wav[i]) | uint8_t(wav[i + 1]) << 8);
                peak = std::max(peak, std::abs(int(v)));
            }
            return peak;
        }
        at += 8 + size + (size & 1);
    }
    return -1;
}

} // namespace

class tst_AudioFaults : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void noAudioServerPlaysSilently();
    void losingTheAudioServerWhilePlaying();
    void soundComesBackMidSong_data();
    void soundComesBackMidSong();
    void soundComesBackBetweenSongs();
    void heldNoteSoundsAgainAtOnce_data();
    void heldNoteSoundsAgainAtOnce();
    void aLongLossEndsWithoutABurst();
    void aHungServerHoldsUpNoCommand();
    void restingStreamWakesOnPlay_data();
    void restingStreamWakesOnPlay();
    void jackRestsWithoutWaitingAndComesBack();

private:
    /// sequora-mci's environment with no output chosen (or @p driver), an ALSA that knows
    /// no device at all (or reaches PulseAudio through its plugin), and PulseAudio looked
    /// for only at `pulseServer` (never started on demand).
    QProcessEnvironment environment(const QString& pulseServer, const QString& driver = {}) const;
    std::string openCommand(const QString& song) const;
    /// PulseAudio's server and parec are here.
    bool havePulse() const;
    /// ALSA can reach PulseAudio: the paced ALSA device this machine has without a card.
    bool haveAlsaPulsePlugin() const;

    QTemporaryDir m_dir;
    QString m_tool;
    QString m_song; ///< a note a second
    QString m_dense; ///< a short note every 100 ms, so a moment of sound is never far
    QString m_dense2;
    QString m_pad; ///< one note held by its key for the whole song
    QString m_pedalPad; ///< one note let go at once and held by the sustain pedal
    QString m_swarm; ///< short quiet notes, 250 a second
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

    SmfWriter dense(0, 500);
    auto& notes = dense.addTrack();
    for (int i = 0; i < kSongSeconds * 10; ++i)
        notes.noteOn(i == 0 ? 0 : 20, 0, 60 + (i * 5) % 24, 100).noteOff(80, 0, 60 + (i * 5) % 24);
    notes.endOfTrack(0);
    m_dense = m_dir.filePath("dense.mid");
    dense.writeFile(m_dense.toStdString());
    m_dense2 = m_dir.filePath("dense2.mid");
    dense.writeFile(m_dense2.toStdString());

    // Nothing is struck after the first moment: any sound after the server's return is
    // the held note struck again.
    for (const bool pedal : { false, true }) {
        SmfWriter pad(0, 500);
        auto& held = pad.addTrack();
        held.programChange(0, 0, kPadProgram);
        if (pedal)
            held.controller(0, 0, 64, 127).noteOn(0, 0, kPadKey, 100).noteOff(100, 0, kPadKey);
        else
            held.noteOn(0, 0, kPadKey, 100).noteOff(kSongSeconds * 1000, 0, kPadKey);
        held.endOfTrack(pedal ? kSongSeconds * 1000 : 0);
        (pedal ? m_pedalPad : m_pad) = m_dir.filePath(pedal ? "pedal-pad.mid" : "pad.mid");
        pad.writeFile((pedal ? m_pedalPad : m_pad).toStdString());
    }
    // A quiet piano note every 4 ms, each 40 ms long (the one let go is ten notes back): a
    // long loss hands the synthesiser thousands.
    SmfWriter swarm(0, 500);
    auto& fast = swarm.addTrack();
    for (int i = 0; i < kSongSeconds * 250; ++i)
        fast.noteOn(i == 0 ? 0 : 4, 0, 48 + (i * 7) % 36, 40).noteOff(0, 0, 48 + (i * 7 + 2) % 36);
    fast.endOfTrack(40);
    m_swarm = m_dir.filePath("swarm.mid");
    swarm.writeFile(m_swarm.toStdString());

    QFile alsa(m_dir.filePath("asound.conf")); // an ALSA that knows no device at all
    QVERIFY(alsa.open(QIODevice::WriteOnly));
    QFile alsaPulse(m_dir.filePath("asound-pulse.conf"));
    QVERIFY(alsaPulse.open(QIODevice::WriteOnly));
    alsaPulse.write("pcm.!default { type pulse }\nctl.!default { type pulse }\n");
    QFile pulse(m_dir.filePath("client.conf"));
    QVERIFY(pulse.open(QIODevice::WriteOnly));
    pulse.write("autospawn = no\n");
}

QProcessEnvironment tst_AudioFaults::environment(
    const QString& pulseServer, const QString& driver) const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("SEQUORA_MIDI_OUT");
    env.remove("SEQUORA_AUDIO_DRIVER");
    env.remove("SEQUORA_MCI_LOG");
    if (!driver.isEmpty())
        env.insert("SEQUORA_AUDIO_DRIVER", driver);
    env.insert(
        "ALSA_CONFIG_PATH", m_dir.filePath(driver == "alsa" ? "asound-pulse.conf" : "asound.conf"));
    env.insert("PULSE_SERVER", pulseServer);
    env.insert("PULSE_CLIENTCONFIG", m_dir.filePath("client.conf"));
    env.insert("HOME", m_dir.path());
    if (QFile::exists(kSmallSoundfont))
        env.insert("SEQUORA_SOUNDFONT", kSmallSoundfont);
    return env;
}

std::string tst_AudioFaults::openCommand(const QString& song) const
{
    char word[512] = {};
    sequora::platform::GetShortPathNameA(song.toStdString().c_str(), word, sizeof word);
    return std::string("open ") + word + " type sequencer alias m";
}

bool tst_AudioFaults::havePulse() const
{
    return !QStandardPaths::findExecutable("pulseaudio").isEmpty()
        && !QStandardPaths::findExecutable("parec").isEmpty();
}

bool tst_AudioFaults::haveAlsaPulsePlugin() const
{
    for (const QString& dir : { QStringLiteral("/usr/lib"), QStringLiteral("/usr/lib64") }) {
        QStringList places { dir + "/alsa-lib" };
        for (const QString& arch : QDir(dir).entryList({ "*-linux-gnu*" }, QDir::Dirs))
            places << dir + "/" + arch + "/alsa-lib";
        for (const QString& place : places) {
            if (QFile::exists(place + "/libasound_module_pcm_pulse.so"))
                return true;
        }
    }
    return false;
}

void tst_AudioFaults::noAudioServerPlaysSilently()
{
    QProcess mci;
    mci.setProcessEnvironment(environment("unix:" + m_dir.filePath("no-server-here")));
    mci.start(m_tool,
        { QString::fromStdString(openCommand(m_song)), "play m", "wait 1500", "status m position",
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
    if (QStandardPaths::findExecutable("pulseaudio").isEmpty())
        QSKIP("PulseAudio is not installed: the lost-server path cannot be driven here");
    PulseServer server(m_dir.filePath("lost"));
    if (!server.start())
        QSKIP("a private PulseAudio server could not be started here");

    Mci mci;
    QVERIFY(mci.start(m_tool, environment(server.address())));
    // Playing through the server: its sink's clock moves the song on (once the stream
    // has started, which can take a moment on a busy machine). Loaded and waiting first,
    // the output rests its stream; play must wake it.
    QCOMPARE(
        mci.ask(QString::fromStdString(openCommand(m_song)) + "\nwait 1500\nplay m\n", 2).size(),
        2);
    int heard = 0;
    for (int i = 0; i < 20 && heard < 5; ++i) {
        const QStringList got = mci.ask("wait 500\nstatus m position\n", 1);
        QCOMPARE(got.size(), 1);
        heard = replyOf(got[0]).toInt();
    }
    QVERIFY2(heard >= 5, "the song did not move while the server was there");
    const QStringList early = mci.errors();
    QVERIFY2(early.isEmpty(),
        qPrintable("the output fell back while the server was there: " + early.join(" | ")));

    // The server dies. The song goes on silently on the output's own clock, taking over
    // within half a second: by then the position has moved on as if nothing happened.
    const int p0 = mci.position();
    server.kill();
    const QStringList after
        = mci.ask(QStringLiteral("wait %1\nstatus m position\nwait 1000\nstatus m position\n"
                                 "status m mode\n")
                      .arg(kTakeOverMs),
            3);
    QCOMPARE(after.size(), 3);
    const int p1 = replyOf(after[0]).toInt();
    const int p2 = replyOf(after[1]).toInt();
    QVERIFY2(p1 - p0 >= 3, qPrintable(QString::number(p0) + " | " + after.join(" | ")));
    QVERIFY2(p2 - p1 >= 7 && p2 - p1 <= 13, qPrintable(after.join(" | "))); // a second
    QCOMPARE(replyOf(after[2]), QStringLiteral("playing"));

    // Trying the server again and again while it is gone says nothing more.
    QTest::qWait(1500);
    QVERIFY(mci.finish());
    const QStringList err = mci.errors();
    QCOMPARE(err.size(), 1);
    QVERIFY2(err[0].contains("stopped; playing on silently"), qPrintable(err[0]));
}

void tst_AudioFaults::soundComesBackMidSong_data()
{
    QTest::addColumn<QString>("driver");
    QTest::newRow("pulseaudio") << QStringLiteral("pulseaudio");
    QTest::newRow("alsa through its PulseAudio plugin") << QStringLiteral("alsa");
}

void tst_AudioFaults::soundComesBackMidSong()
{
    QFETCH(QString, driver);
    if (!havePulse())
        QSKIP("PulseAudio (server and parec) is not installed");
    if (driver == "alsa" && !haveAlsaPulsePlugin())
        QSKIP("ALSA's PulseAudio plugin (libasound2-plugins) is not installed");
    PulseServer server(m_dir.filePath("mid-" + driver));
    if (!server.start())
        QSKIP("a private PulseAudio server could not be started here");
    SinkMonitor monitor;
    QVERIFY(monitor.start(server.address()));

    Mci mci;
    QVERIFY(mci.start(m_tool, environment(server.address(), driver)));
    QCOMPARE(mci.ask(QString::fromStdString(openCommand(m_dense)) + "\nplay m\n", 2).size(), 2);
    QVERIFY2(monitor.heard(kDeadlineMs), "no sound while the server was there");
    QVERIFY2(mci.errors().isEmpty(), qPrintable(mci.errors().join(" | ")));

    // The server goes away: the song plays on, silently.
    server.kill();
    monitor.stop();
    QVERIFY2(mci.waitForError("stopped; playing on silently", kDeadlineMs),
        qPrintable(mci.errors().join(" | ")));
    QVERIFY(mci.movesOn(5));

    // It comes back: so does the sound, with no command given, at the position the clock
    // has reached (it does not go back, and goes on).
    QVERIFY(server.start());
    QVERIFY(monitor.start(server.address()));
    const int atReturn = mci.position();
    QVERIFY2(monitor.heard(kDeadlineMs), "the sound did not come back with the server");
    QVERIFY2(mci.waitForError("is back", kDeadlineMs), qPrintable(mci.errors().join(" | ")));
    QVERIFY(mci.position() >= atReturn);
    QVERIFY(mci.movesOn(5));
    QCOMPARE(mci.mode(), QStringLiteral("playing"));
    monitor.skip();
    QVERIFY2(monitor.heard(kDeadlineMs), "the sound went again");

    QVERIFY(mci.finish());
    // One line when the sound went and one when it came back, however many tries it took.
    const QStringList err = mci.errors();
    QCOMPARE(err.size(), 2);
    QVERIFY2(err[0].contains("(" + driver + ") stopped; playing on silently"), qPrintable(err[0]));
    QVERIFY2(err[1].contains("(" + driver + ") is back"), qPrintable(err[1]));
}

void tst_AudioFaults::soundComesBackBetweenSongs()
{
    if (!havePulse())
        QSKIP("PulseAudio (server and parec) is not installed");
    PulseServer server(m_dir.filePath("between"));
    if (!server.start())
        QSKIP("a private PulseAudio server could not be started here");
    SinkMonitor monitor;
    QVERIFY(monitor.start(server.address()));
    Mci mci;
    QVERIFY(mci.start(m_tool, environment(server.address())));
    QCOMPARE(mci.ask(QString::fromStdString(openCommand(m_dense)) + "\nplay m\n", 2).size(), 2);
    QVERIFY2(monitor.heard(kDeadlineMs), "no sound while the server was there");

    // Stopped and resting when the server goes away and comes back: the next song sounds.
    QCOMPARE(mci.ask("stop m\n", 1).size(), 1);
    QTest::qWait(1000);
    server.kill();
    monitor.stop();
    QTest::qWait(500);
    QVERIFY(server.start());
    QVERIFY(monitor.start(server.address()));
    QCOMPARE(mci.ask("close m\n" + QString::fromStdString(openCommand(m_dense2)) + "\nplay m\n", 3)
                 .size(),
        3);
    QVERIFY2(monitor.heard(kDeadlineMs), "the next song after the server's return was silent");
    QVERIFY2(mci.waitForError("is back", kDeadlineMs), qPrintable(mci.errors().join(" | ")));

    // Lost while playing, stopped on the silent clock, the server back meanwhile: the
    // next open and play sound.
    server.kill();
    monitor.stop();
    QVERIFY(mci.waitForError("stopped; playing on silently", kDeadlineMs, 2));
    QCOMPARE(mci.ask("stop m\n", 1).size(), 1);
    QVERIFY(server.start());
    QVERIFY(monitor.start(server.address()));
    QCOMPARE(mci.ask("close m\n" + QString::fromStdString(openCommand(m_dense)) + "\nplay m\n", 3)
                 .size(),
        3);
    QVERIFY2(monitor.heard(kDeadlineMs), "the next song after the server's return was silent");
    QVERIFY(mci.movesOn(5));

    QVERIFY(mci.finish());
    const QStringList err = mci.errors();
    QCOMPARE(err.size(), 4);
    for (int i = 0; i < 4; i += 2) {
        QVERIFY2(err[i].contains("stopped; playing on silently"), qPrintable(err.join(" | ")));
        QVERIFY2(err[i + 1].contains("is back"), qPrintable(err.join(" | ")));
    }
}

void tst_AudioFaults::heldNoteSoundsAgainAtOnce_data()
{
    QTest::addColumn<QString>("song");
    QTest::addColumn<bool>("openedWhileAway");
    QTest::newRow("held across the loss") << m_pad << false;
    QTest::newRow("begun while the sound was away") << m_pad << true;
    QTest::newRow("held by the pedal, begun while away") << m_pedalPad << true;
}

void tst_AudioFaults::heldNoteSoundsAgainAtOnce()
{
    QFETCH(QString, song);
    QFETCH(bool, openedWhileAway);
    if (!havePulse())
        QSKIP("PulseAudio (server and parec) is not installed");
    static int row = 0; // the tags have blanks, which the server's socket path may not
    PulseServer server(m_dir.filePath(QStringLiteral("held-%1").arg(++row)));
    if (!server.start())
        QSKIP("a private PulseAudio server could not be started here");
    SinkMonitor monitor;
    QVERIFY(monitor.start(server.address()));
    Mci mci;
    QVERIFY(mci.start(m_tool, environment(server.address())));
    const QString first = openedWhileAway ? m_dense : song;
    QCOMPARE(mci.ask(QString::fromStdString(openCommand(first)) + "\nplay m\n", 2).size(), 2);
    QVERIFY2(monitor.heard(kDeadlineMs), "no sound while the server was there");

    server.kill();
    monitor.stop();
    QVERIFY2(mci.waitForError("stopped; playing on silently", kDeadlineMs),
        qPrintable(mci.errors().join(" | ")));
    if (openedWhileAway) {
        QCOMPARE(mci.ask("close m\n" + QString::fromStdString(openCommand(song)) + "\nplay m\n", 3)
                     .size(),
            3);
    }
    QVERIFY(mci.movesOn(5));

    // The server comes back in the middle of the held note: it sounds at once, and goes on.
    QVERIFY(server.start());
    QVERIFY(monitor.start(server.address()));
    QVERIFY2(mci.waitForError("is back", kDeadlineMs), qPrintable(mci.errors().join(" | ")));
    QVERIFY2(monitor.heard(kStruckAgainMs), "the held note stayed silent after the return");
    QTest::qWait(2000);
    monitor.skip();
    QVERIFY2(monitor.heard(1000), "the held note did not go on sounding");
    QCOMPARE(mci.mode(), QStringLiteral("playing"));

    // Stopped, it is silent: nothing left sounding that the transport does not know of.
    QCOMPARE(mci.ask("stop m\n", 1).size(), 1);
    QTest::qWait(500);
    monitor.skip();
    QVERIFY2(!monitor.heard(1000), "a note sounds on after stop");
    QVERIFY(mci.finish());
    QCOMPARE(mci.errors().size(), 2);
}

void tst_AudioFaults::aLongLossEndsWithoutABurst()
{
    if (!havePulse())
        QSKIP("PulseAudio (server and parec) is not installed");
    PulseServer server(m_dir.filePath("swarm"));
    if (!server.start())
        QSKIP("a private PulseAudio server could not be started here");
    SinkMonitor monitor;
    QVERIFY(monitor.start(server.address()));
    Mci mci;
    QVERIFY(mci.start(m_tool, environment(server.address())));
    QCOMPARE(mci.ask(QString::fromStdString(openCommand(m_swarm)) + "\nplay m\n", 2).size(), 2);
    QVERIFY2(monitor.heard(kDeadlineMs), "no sound while the server was there");
    const int playing = monitor.loudest(2000);

    // Thousands of notes go by while the sound is away. When it comes back the song goes on
    // as loud as it was: none of them was left in the synthesiser to start all at once.
    server.kill();
    monitor.stop();
    QVERIFY2(mci.waitForError("stopped; playing on silently", kDeadlineMs),
        qPrintable(mci.errors().join(" | ")));
    QVERIFY(mci.movesOn(80));
    QVERIFY(server.start());
    QVERIFY(monitor.start(server.address()));
    QVERIFY2(mci.waitForError("is back", kDeadlineMs), qPrintable(mci.errors().join(" | ")));
    const int back = monitor.loudest(2000);
    QVERIFY2(back > kHeardPeak && back < 2 * playing,
        qPrintable(QStringLiteral("%1 playing, %2 back").arg(playing).arg(back)));
    QVERIFY(mci.finish());
    QCOMPARE(mci.errors().size(), 2);
}

void tst_AudioFaults::aHungServerHoldsUpNoCommand()
{
    if (!havePulse())
        QSKIP("PulseAudio (server and parec) is not installed");
    PulseServer server(m_dir.filePath("hung"));
    if (!server.start())
        QSKIP("a private PulseAudio server could not be started here");
    SinkMonitor monitor;
    QVERIFY(monitor.start(server.address()));
    Mci mci;
    QVERIFY(mci.start(m_tool, environment(server.address())));
    QCOMPARE(mci.ask(QString::fromStdString(openCommand(m_dense)) + "\nplay m\n", 2).size(), 2);
    QVERIFY2(monitor.heard(kDeadlineMs), "no sound while the server was there");

    // The server hangs: a stream to it, old or new, may block whoever waits for it, and
    // the output tries to open one again and again. Every command is still answered.
    server.hang(true);
    QVERIFY(mci.waitForError("stopped; playing on silently", kDeadlineMs));
    QVERIFY(mci.movesOn(5));
    QCOMPARE(mci.ask("pause m\nplay m\nstop m\nseek m to 100\nplay m\n", 5).size(), 5);
    QVERIFY(mci.movesOn(5));
    QCOMPARE(mci.ask("close m\n" + QString::fromStdString(openCommand(m_dense2)) + "\nplay m\n", 3)
                 .size(),
        3);
    QVERIFY(mci.movesOn(5));

    // It comes to: so does the sound.
    server.hang(false);
    monitor.skip();
    QVERIFY2(monitor.heard(kDeadlineMs), "the sound did not come back with the server");
    QVERIFY2(mci.waitForError("is back", kDeadlineMs), qPrintable(mci.errors().join(" | ")));
    QVERIFY(mci.finish());
    QCOMPARE(mci.errors().size(), 2);
}

void tst_AudioFaults::restingStreamWakesOnPlay_data()
{
    QTest::addColumn<QString>("driver");
    QTest::addColumn<QString>("thread"); // the name FluidSynth gives its driver's thread
    QTest::newRow("pulseaudio") << QStringLiteral("pulseaudio") << QStringLiteral("pulse-audio");
    QTest::newRow("alsa through its PulseAudio plugin")
        << QStringLiteral("alsa") << QStringLiteral("alsa-audio");
}

void tst_AudioFaults::restingStreamWakesOnPlay()
{
    QFETCH(QString, driver);
    QFETCH(QString, thread);
    if (!havePulse())
        QSKIP("PulseAudio (server and parec) is not installed");
    if (driver == "alsa" && !haveAlsaPulsePlugin())
        QSKIP("ALSA's PulseAudio plugin (libasound2-plugins) is not installed");
    PulseServer server(m_dir.filePath("rest-" + driver));
    if (!server.start())
        QSKIP("a private PulseAudio server could not be started here");
    SinkMonitor monitor;
    QVERIFY(monitor.start(server.address()));
    Mci mci;
    QVERIFY(mci.start(m_tool, environment(server.address(), driver)));
    QCOMPARE(mci.ask(QString::fromStdString(openCommand(m_dense)) + "\n", 1).size(), 1);
    QVERIFY2(mci.errors().isEmpty(), qPrintable(mci.errors().join(" | ")));

    // Loaded and stopped: the driver's thread waits instead of streaming silence.
    QVERIFY2(rests(mci.pid(), thread), "the stream never rested while stopped");
    monitor.skip();
    QCOMPARE(mci.ask("play m\n", 1).size(), 1);
    QVERIFY2(monitor.heard(kDeadlineMs), "play did not wake the resting stream");
    const qint64 before = switchesOf(mci.pid(), thread);
    QVERIFY(mci.movesOn(10));
    QVERIFY2(switchesOf(mci.pid(), thread) - before >= 10, "the stream did not run while playing");

    // Paused, once the notes have died away: it rests again, and play wakes it again.
    QCOMPARE(mci.ask("pause m\n", 1).size(), 1);
    QVERIFY2(rests(mci.pid(), thread), "the stream never rested while paused");
    monitor.skip();
    QCOMPARE(mci.ask("play m\n", 1).size(), 1);
    QVERIFY2(monitor.heard(kDeadlineMs), "play did not wake the resting stream");
    QVERIFY(mci.movesOn(5));

    QVERIFY(mci.finish());
    QVERIFY2(mci.errors().isEmpty(), qPrintable(mci.errors().join(" | ")));
}

void tst_AudioFaults::jackRestsWithoutWaitingAndComesBack()
{
    const QString jackd = QStandardPaths::findExecutable("jackd");
    const QString jackRec = QStandardPaths::findExecutable("jack_rec");
    const QString jackWait = QStandardPaths::findExecutable("jack_wait");
    if (jackd.isEmpty() || jackRec.isEmpty() || jackWait.isEmpty())
        QSKIP("JACK (jackd2) is not installed");
    // A JACK server of the test's own, by name, on the dummy driver: the desktop's, if
    // any, is never touched. It is stopped with SIGTERM, which its clients see as the
    // server going away, as with SIGKILL; but a killed server stays in JACK's registry of
    // servers, which holds eight, so the name is always the same one.
    const QString name = QStringLiteral("sequora-test");
    const auto stopServer = [](QProcess& p) {
        p.terminate();
        if (!p.waitForFinished(kDeadlineMs))
            stopProcess(p);
    };
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("JACK_DEFAULT_SERVER", name);
    env.insert("JACK_NO_START_SERVER", "1");
    QProcess server;
    server.setProcessEnvironment(env);
    server.setStandardOutputFile(QProcess::nullDevice());
    server.setStandardErrorFile(QProcess::nullDevice());
    const auto startServer = [&] {
        server.start(
            jackd, { "-n", name, "--no-realtime", "-d", "dummy", "-r", "44100", "-p", "1024" });
        if (!server.waitForStarted(5000))
            return false;
        QProcess wait;
        wait.setProcessEnvironment(env);
        wait.start(jackWait, { "-s", name, "-w", "-t", "20" });
        return wait.waitForFinished(kDeadlineMs) && wait.exitCode() == 0
            && server.state() == QProcess::Running;
    };
    // What FluidSynth's left port plays, recorded for a second and a half.
    const auto recordedPeak = [&] {
        const QString wav = m_dir.filePath("jack.wav");
        QFile::remove(wav);
        QProcess rec;
        rec.setProcessEnvironment(env);
        rec.setProcessChannelMode(QProcess::MergedChannels);
        rec.start(jackRec, { "-f", wav, "-d", "1.5", "-b", "16", "fluidsynth:left" });
        if (!rec.waitForFinished(kDeadlineMs))
            return -1;
        return wavPeak(wav);
    };
    if (!startServer()) {
        stopServer(server);
        QSKIP("a private JACK server could not be started here");
    }

    Mci mci;
    QProcessEnvironment mciEnv = environment("unix:" + m_dir.filePath("no-server-here"), "jack");
    mciEnv.insert("JACK_DEFAULT_SERVER", name);
    QVERIFY(mci.start(m_tool, mciEnv));
    // Stopped for a while: the process callback rests without ever waiting (a JACK client
    // that blocks holds up the graph and is thrown out of it): it goes on returning every
    // cycle, about 43 times a second, and play wakes it.
    QCOMPARE(mci.ask(QString::fromStdString(openCommand(m_dense)) + "\n", 1).size(), 1);
    QTest::qWait(3000);
    const qint64 before = switchesOf(mci.pid(), QFileInfo(m_tool).fileName());
    QTest::qWait(1000);
    QVERIFY2(switchesOf(mci.pid(), QFileInfo(m_tool).fileName()) - before >= 10,
        "the JACK process callback stopped returning while resting");
    QCOMPARE(mci.ask("play m\n", 1).size(), 1);
    QVERIFY(mci.movesOn(5));
    QVERIFY2(recordedPeak() > kHeardPeak, "no sound from the JACK port");
    QVERIFY2(mci.errors().isEmpty(), qPrintable(mci.errors().join(" | ")));
    QCOMPARE(mci.ask("pause m\nwait 3000\nplay m\n", 2).size(), 2);
    QVERIFY(mci.movesOn(5));
    QVERIFY2(recordedPeak() > kHeardPeak, "no sound from the JACK port after a rest");
    QVERIFY2(mci.errors().isEmpty(), qPrintable(mci.errors().join(" | ")));

    // The JACK server goes away and comes back: so does the sound, said once each.
    stopServer(server);
    QVERIFY(mci.waitForError("stopped; playing on silently", kDeadlineMs));
    QVERIFY(mci.movesOn(5));
    QVERIFY(startServer());
    QVERIFY2(mci.waitForError("is back", kDeadlineMs), qPrintable(mci.errors().join(" | ")));
    QVERIFY(mci.movesOn(5));
    QVERIFY2(recordedPeak() > kHeardPeak, "no sound from the JACK port after the server's return");

    QVERIFY(mci.finish());
    stopServer(server);
    const QStringList err = mci.errors();
    QCOMPARE(err.size(), 2);
    QVERIFY2(err[0].contains("(jack) stopped; playing on silently"), qPrintable(err[0]));
    QVERIFY2(err[1].contains("(jack) is back"), qPrintable(err[1]));
}

QTEST_GUILESS_MAIN(tst_AudioFaults)
#include "tst_audiofaults.moc"
