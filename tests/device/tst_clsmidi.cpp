// The device class as the device sees it: the command strings it sends, read back
// from the command log, and what its getters make of the replies.

#include "common/SmfWriter.h"
#include "platform/mci/mci.h"
#include "platform/midi/transport/Sequencer.h"
#include "sequencer/clsMIDI.h"

#include <QtTest>

#include <memory>

namespace engine = sequora::midi::engine;

namespace {

struct LogEntry {
    QByteArray command;
    uint code = 0;
    QByteArray reply;
};

// At 480 ticks per quarter and 480,000 us per quarter one tick is one millisecond.
void writeSong(const std::filesystem::path& path, uint32_t lengthMs)
{
    sequora::test::SmfWriter smf(0, 480);
    smf.addTrack().tempo(0, 480000).noteOn(0, 0, 60, 100).noteOff(lengthMs, 0, 60);
    smf.writeFile(path);
}

const QByteArray kStop("stop midifile ");
const QByteArray kClose("close midifile");
const QByteArray kPlay("play midifile");
const QByteArray kRestart("play midifile from 0");
const QByteArray kModePoll("status midifile mode");

} // namespace

class TestClsMidi : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void creationAndReleaseCloseTheDevice();
    void fileNameOpensOneToken_data();
    void fileNameOpensOneToken();
    void missingFileLeavesDeviceClosed();
    void pauseThenPlayContinues();
    void positionLetPassesTextUnchanged_data();
    void positionLetPassesTextUnchanged();
    void resumeRestartsPlaybackOnNt();
    void playLoopRestartsUntilStopM();
    void playLoopEndsAfterPlayAtTheNaturalEnd();
    void playLoopSurvivesReleaseOfItsInstance();

private:
    QList<LogEntry> log() const;
    QList<QByteArray> commands() const;
    std::string songPath(const char* name, uint32_t lengthMs);

    QTemporaryDir m_dir;
    QString m_logPath;
};

void TestClsMidi::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_logPath = m_dir.filePath("mci.log");
    qputenv("SEQUORA_MCI_LOG", m_logPath.toLocal8Bit());
    engine::useManualClock();
}

void TestClsMidi::init()
{
    QFile::remove(m_logPath);
}

QList<LogEntry> TestClsMidi::log() const
{
    QFile file(m_logPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<LogEntry> entries;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.isEmpty())
            continue;
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() != 3)
            return {};
        entries.push_back({ fields[0].mid(1, fields[0].size() - 2), fields[1].toUInt(),
            fields[2].mid(1, fields[2].size() - 2) });
    }
    return entries;
}

QList<QByteArray> TestClsMidi::commands() const
{
    QList<QByteArray> out;
    for (const LogEntry& e : log())
        out.push_back(e.command);
    return out;
}

std::string TestClsMidi::songPath(const char* name, uint32_t lengthMs)
{
    const std::string path = m_dir.filePath(QString::fromUtf8(name)).toStdString();
    writeSong(path, lengthMs);
    return path;
}

void TestClsMidi::creationAndReleaseCloseTheDevice()
{
    {
        clsMIDI device;
        QCOMPARE(commands(), (QList<QByteArray> { kStop, kClose }));
        // Nothing open yet: the queries fail and give empty text, the length 0.
        QCOMPARE(device.Mode(), std::string());
        QCOMPARE(device.Position(), std::string());
        QCOMPARE(device.Length(), 0);
        QFile::remove(m_logPath);
    }
    QCOMPARE(commands(), (QList<QByteArray> { kStop, kClose }));

    // A device left open by an earlier instance is closed by the next one.
    auto first = std::make_unique<clsMIDI>();
    first->FileName(songPath("left.mid", 3000));
    QCOMPARE(first->Mode(), std::string("STOPPED"));
    clsMIDI second;
    QCOMPARE(second.Mode(), std::string());
}

void TestClsMidi::fileNameOpensOneToken_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::newRow("plain") << QByteArray("plain.mid");
    QTest::newRow("blanks") << QByteArray("My  Song 2.mid");
    QTest::newRow("non-ASCII") << QByteArray("\xe6\x9b\xb2\xef\xbd\xb1 \xc3\xa8mpty.mid");
    QTest::newRow("quotes and percent") << QByteArray("\"quoted\" 50%.mid");
}

void TestClsMidi::fileNameOpensOneToken()
{
    QFETCH(QByteArray, name);
    const std::string path = songPath(name.constData(), 4321);
    clsMIDI device;
    QFile::remove(m_logPath);

    device.FileName(path);
    const QList<LogEntry> entries = log();
    QCOMPARE(entries.size(), 3);
    QCOMPARE(entries[0].command, kStop);
    QCOMPARE(entries[1].command, kClose);
    const QByteArray open = entries[2].command;
    QVERIFY(open.startsWith("open "));
    QVERIFY(open.endsWith(" type sequencer alias midifile"));
    const QByteArray token = open.mid(5, open.size() - 5 - 30);
    QVERIFY(!token.isEmpty());
    QVERIFY2(!token.contains(' ') && !token.contains('"'), token.constData());
    QCOMPARE(entries[2].code, sequora::platform::kMciOk);

    QCOMPARE(device.FileName(), path); // as assigned, not the token
    QCOMPARE(device.Mode(), std::string("STOPPED"));
    QCOMPARE(device.Position(), std::string("0"));
    QCOMPARE(device.Length(), 43);
}

void TestClsMidi::missingFileLeavesDeviceClosed()
{
    clsMIDI device;
    device.FileName(songPath("there.mid", 2000));
    QFile::remove(m_logPath);

    const std::string missing = m_dir.filePath("not here.mid").toStdString();
    device.FileName(missing);
    const QList<LogEntry> entries = log();
    QCOMPARE(entries.size(), 3);
    QCOMPARE(entries[2].command, QByteArray("open  type sequencer alias midifile"));
    QVERIFY(entries[2].code != sequora::platform::kMciOk);

    QCOMPARE(device.FileName(), missing);
    QCOMPARE(device.Mode(), std::string());
    QCOMPARE(device.Position(), std::string());
    QCOMPARE(device.Length(), 0);
}

void TestClsMidi::pauseThenPlayContinues()
{
    clsMIDI device;
    device.FileName(songPath("pause.mid", 10000));
    QFile::remove(m_logPath);

    device.Play();
    QCOMPARE(device.Mode(), std::string("PLAYING"));
    engine::advanceManualClock(2000);
    device.Pause();
    QCOMPARE(device.Mode(), std::string("PAUSED"));
    engine::advanceManualClock(1500);
    QCOMPARE(device.Position(), std::string("20"));
    device.Play();
    engine::advanceManualClock(500);
    QCOMPARE(device.Position(), std::string("25"));

    device.StopM();
    QCOMPARE(device.Mode(), std::string("STOPPED"));
    QCOMPARE(device.Position(), std::string("25"));

    const QList<QByteArray> sent = commands();
    const QList<QByteArray> expected { kStop, kPlay, kModePoll, "pause midifile ", kModePoll,
        "status midifile position", kStop, kPlay, "status midifile position", kStop, kModePoll,
        "status midifile position" };
    QCOMPARE(sent, expected);
}

void TestClsMidi::positionLetPassesTextUnchanged_data()
{
    QTest::addColumn<QByteArray>("where");
    QTest::addColumn<QByteArray>("position"); // empty: equal to the length
    QTest::newRow("START") << QByteArray("START") << QByteArray("0");
    QTest::newRow("END") << QByteArray("END") << QByteArray();
    QTest::newRow("digits") << QByteArray("37") << QByteArray("37");
}

void TestClsMidi::positionLetPassesTextUnchanged()
{
    QFETCH(QByteArray, where);
    QFETCH(QByteArray, position);

    clsMIDI device;
    device.FileName(songPath("seek.mid", 8765));
    device.Play();
    engine::advanceManualClock(1234);
    QFile::remove(m_logPath);

    device.Position(where.toStdString());
    const QList<LogEntry> entries = log();
    QCOMPARE(entries.size(), 1);
    QCOMPARE(entries[0].command, "seek midifile to " + where);
    QCOMPARE(entries[0].code, sequora::platform::kMciOk);

    const std::string expected
        = position.isEmpty() ? std::to_string(device.Length()) : position.toStdString();
    QCOMPARE(device.Position(), expected);
    QVERIFY(device.Mode() != "PLAYING"); // a seek leaves the device not playing
}

void TestClsMidi::resumeRestartsPlaybackOnNt()
{
    clsMIDI device;
    device.FileName(songPath("resume.mid", 5000));
    device.Play();
    engine::advanceManualClock(1000);
    device.Pause();
    QFile::remove(m_logPath);

    device.ResumeM();
    QCOMPARE(commands(), (QList<QByteArray> { kStop, kPlay }));
    engine::advanceManualClock(300);
    QCOMPARE(device.Position(), std::string("13"));
    QCOMPARE(device.Mode(), std::string("PLAYING"));
}

void TestClsMidi::playLoopRestartsUntilStopM()
{
    clsMIDI device;
    device.FileName(songPath("loop.mid", 500));
    QFile::remove(m_logPath);

    // The loop hands control to this timer on every pass: the song runs on, and after
    // the second restart a pause is held for a while, then StopM ends the loop.
    int restarts = 0;
    int pausedTicks = 0;
    bool stopped = false;
    QTimer driver;
    driver.setInterval(2);
    connect(&driver, &QTimer::timeout, this, [&] {
        restarts = int(commands().count(kRestart));
        if (stopped)
            return;
        if (restarts < 2) {
            engine::advanceManualClock(100);
        } else if (pausedTicks == 0) {
            device.Pause();
            pausedTicks = 1;
        } else if (pausedTicks < 20) {
            engine::advanceManualClock(1000);
            ++pausedTicks;
        } else {
            device.StopM();
            stopped = true;
        }
    });
    driver.start();
    QElapsedTimer clock;
    clock.start();
    // A loop that never ends would hang here; the ctest timeout is the backstop.
    device.PlayLoop();
    const qint64 elapsedMs = clock.elapsed();
    driver.stop();

    QVERIFY(stopped);
    const QList<LogEntry> entries = log();
    QCOMPARE(entries.first().command, kPlay);
    QCOMPARE(commands().count(kRestart), 2); // none while paused
    QCOMPARE(entries.last().command, kModePoll);
    QCOMPARE(entries.last().reply, QByteArray("stopped"));

    // Every restart follows a poll that saw the end of the piece.
    for (int i = 1; i < entries.size(); ++i) {
        if (entries[i].command == kRestart)
            QCOMPARE(entries[i - 1].reply, QByteArray("stopped"));
    }
    // The loop waits between polls instead of spinning.
    const qint64 polls = commands().count(kModePoll);
    QVERIFY2(polls <= elapsedMs / 5 + 2,
        qPrintable(QString("%1 polls in %2 ms").arg(polls).arg(elapsedMs)));
}

void TestClsMidi::playLoopEndsAfterPlayAtTheNaturalEnd()
{
    clsMIDI device;
    device.FileName(songPath("once.mid", 1000));
    QFile::remove(m_logPath);

    bool played = false;
    QTimer driver;
    driver.setInterval(2);
    connect(&driver, &QTimer::timeout, this, [&] {
        if (!played) {
            device.Play(); // clears repeat-play; the piece goes on to its end
            played = true;
        }
        engine::advanceManualClock(100);
    });
    driver.start();
    device.PlayLoop();
    driver.stop();

    QVERIFY(played);
    QCOMPARE(commands().count(kRestart), 0);
    QCOMPARE(device.Position(), std::to_string(device.Length()));
}

void TestClsMidi::playLoopSurvivesReleaseOfItsInstance()
{
    auto device = std::make_unique<clsMIDI>();
    device->FileName(songPath("release.mid", 3000));
    QFile::remove(m_logPath);

    QTimer::singleShot(20, this, [&] { device.reset(); });
    device->PlayLoop();

    QVERIFY(!device);
    const QList<QByteArray> sent = commands();
    QVERIFY(sent.size() >= 3);
    QCOMPARE(sent.mid(sent.size() - 2), (QList<QByteArray> { kStop, kClose }));
    QCOMPARE(sequora::platform::mciSendStringA("status midifile mode", nullptr, 0, nullptr),
        sequora::platform::kMciErrInvalidDeviceName);
}

QTEST_GUILESS_MAIN(TestClsMidi)
#include "tst_clsmidi.moc"
