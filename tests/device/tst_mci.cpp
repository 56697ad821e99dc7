// The MCI device over the engine on a manual clock: transport replies in tenths of a
// second, reply buffers, result codes of refused commands, and the command log.

#include "common/SmfWriter.h"
#include "platform/System.h"
#include "platform/mci/mci.h"
#include "platform/midi/transport/Sequencer.h"

#include <QtTest>

#include <cstring>
#include <memory>

using namespace sequora::platform;
namespace engine = sequora::midi::engine;

namespace {

// At 480 ticks per quarter and 480,000 us per quarter one tick is one millisecond.
void writeSong(const std::filesystem::path& path, uint32_t lengthMs)
{
    sequora::test::SmfWriter smf(0, 480);
    smf.addTrack()
        .tempo(0, 480000)
        .programChange(0, 0, 0)
        .noteOn(0, 0, 60, 100)
        .noteOff(lengthMs / 2, 0, 60)
        .endOfTrack(lengthMs - lengthMs / 2);
    smf.writeFile(path);
}

constexpr uint32_t kSongMs = 12345; // 123 tenths, not a whole number of them

} // namespace

class TestMci : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void transportReportsTenths();
    void playRangeAndEnd();
    void replyStaysWithinCapacity();
    void refusedCommands_data();
    void refusedCommands();
    void openRefusesBadFiles();
    void aliasRules();
    void openByShortPathToken();
    void logRecordsEveryCommand();

private:
    MCIERROR send(const QByteArray& command);
    QByteArray status(const char* item, const char* alias = "m");
    std::string pathOf(const char* name) const { return m_dir.filePath(name).toStdString(); }

    QTemporaryDir m_dir;
    std::string m_song;
};

MCIERROR TestMci::send(const QByteArray& command)
{
    return mciSendStringA(command.constData(), nullptr, 0, nullptr);
}

QByteArray TestMci::status(const char* item, const char* alias)
{
    char reply[64] = {};
    const QByteArray command = QByteArray("status ") + alias + " " + item;
    if (mciSendStringA(command.constData(), reply, sizeof reply, nullptr) != kMciOk)
        return "error";
    return reply;
}

void TestMci::initTestCase()
{
    engine::useManualClock();
    QVERIFY(m_dir.isValid());
    m_song = pathOf("song.mid");
    writeSong(m_song, kSongMs);
}

void TestMci::cleanup()
{
    for (const char* alias : { "m", "other" })
        send(QByteArray("close ") + alias);
    qunsetenv("SEQUORA_MCI_LOG");
}

void TestMci::transportReportsTenths()
{
    QCOMPARE(send(("open " + m_song + " type sequencer alias m").c_str()), kMciOk);
    QCOMPARE(status("mode"), QByteArray("stopped"));
    QCOMPARE(status("position"), QByteArray("0"));
    QCOMPARE(status("length"), QByteArray("123"));

    QCOMPARE(send("play m"), kMciOk);
    QCOMPARE(status("mode"), QByteArray("playing"));
    engine::advanceManualClock(1099);
    QCOMPARE(status("position"), QByteArray("10")); // floor, not rounded

    // Pause and stop keep the position; both continue from it.
    QCOMPARE(send("pause m"), kMciOk);
    QCOMPARE(status("mode"), QByteArray("paused"));
    engine::advanceManualClock(3000);
    QCOMPARE(status("position"), QByteArray("10"));
    QCOMPARE(send("resume m"), kMciOk);
    engine::advanceManualClock(1);
    QCOMPARE(status("position"), QByteArray("11"));
    QCOMPARE(send("stop m "), kMciOk);
    QCOMPARE(status("mode"), QByteArray("stopped"));
    engine::advanceManualClock(3000);
    QCOMPARE(status("position"), QByteArray("11"));
    QCOMPARE(send("play m"), kMciOk);
    engine::advanceManualClock(1000);
    QCOMPARE(status("position"), QByteArray("21"));

    // Resume does not start a device that is not paused.
    QCOMPARE(send("stop m"), kMciOk);
    QCOMPARE(send("resume m"), kMciOk);
    QCOMPARE(status("mode"), QByteArray("stopped"));

    // A seek leaves the device stopped, wherever it was going.
    QCOMPARE(send("play m"), kMciOk);
    QCOMPARE(send("seek m to 50"), kMciOk);
    QCOMPARE(status("mode"), QByteArray("stopped"));
    QCOMPARE(status("position"), QByteArray("50"));
    QCOMPARE(send("seek m to END"), kMciOk);
    QCOMPARE(status("position"), status("length"));
    QCOMPARE(send("seek m to START"), kMciOk);
    QCOMPARE(status("position"), QByteArray("0"));
    QCOMPARE(send("seek m to 123"), kMciOk);
    QCOMPARE(send("seek m to 124"), kMciErrOutOfRange);
    QCOMPARE(status("position"), QByteArray("123"));
}

void TestMci::playRangeAndEnd()
{
    QCOMPARE(send(("open " + m_song + " alias m").c_str()), kMciOk);

    QCOMPARE(send("play m from 20 to 40"), kMciOk);
    engine::advanceManualClock(1999);
    QCOMPARE(status("mode"), QByteArray("playing"));
    engine::advanceManualClock(500);
    QCOMPARE(status("mode"), QByteArray("stopped"));
    QCOMPARE(status("position"), QByteArray("40"));

    // Played to its end, the piece is stopped with position equal to length.
    QCOMPARE(send("play m from 120"), kMciOk);
    engine::advanceManualClock(1000);
    QCOMPARE(status("mode"), QByteArray("stopped"));
    QCOMPARE(status("position"), QByteArray("123"));
    QCOMPARE(status("length"), QByteArray("123"));

    // ... and "from 0" starts it over.
    QCOMPARE(send("play m from 0"), kMciOk);
    engine::advanceManualClock(700);
    QCOMPARE(status("position"), QByteArray("7"));
    QCOMPARE(status("mode"), QByteArray("playing"));

    QCOMPARE(send("play m from 124"), kMciErrOutOfRange);
    QCOMPARE(send("play m from 30 to 20"), kMciErrOutOfRange);
    QCOMPARE(send("play m to 200"), kMciErrOutOfRange);
    QCOMPARE(status("mode"), QByteArray("playing")); // refused commands change nothing
}

void TestMci::replyStaysWithinCapacity()
{
    QCOMPARE(send(("open " + m_song + " alias m").c_str()), kMciOk);

    char buffer[16];
    std::memset(buffer, '#', sizeof buffer);
    QCOMPARE(mciSendStringA("status m mode", buffer, 4, nullptr), kMciOk);
    QCOMPARE(QByteArray(buffer), QByteArray("sto"));
    QCOMPARE(buffer[4], '#');

    std::memset(buffer, '#', sizeof buffer);
    QCOMPARE(mciSendStringA("status m length", buffer, 1, nullptr), kMciOk);
    QCOMPARE(buffer[0], '\0');
    QCOMPARE(buffer[1], '#');

    std::memset(buffer, '#', sizeof buffer);
    QCOMPARE(mciSendStringA("status m length", buffer, 0, nullptr), kMciOk);
    QCOMPARE(buffer[0], '#');

    // Refused queries leave the buffer as it was.
    std::memset(buffer, '#', sizeof buffer);
    QCOMPARE(mciSendStringA("status nobody mode", buffer, sizeof buffer, nullptr),
        kMciErrInvalidDeviceName);
    QCOMPARE(mciSendStringA("status m volume", buffer, sizeof buffer, nullptr),
        kMciErrUnrecognizedKeyword);
    for (char c : buffer)
        QCOMPARE(c, '#');

    // A null command is refused like an empty one.
    QCOMPARE(mciSendStringA(nullptr, buffer, sizeof buffer, nullptr), kMciErrMissingCommandString);
}

void TestMci::refusedCommands_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<uint>("code");

    QTest::newRow("play unknown alias") << QByteArray("play nobody") << kMciErrInvalidDeviceName;
    QTest::newRow("stop unknown alias") << QByteArray("stop nobody ") << kMciErrInvalidDeviceName;
    QTest::newRow("close unknown alias") << QByteArray("close nobody") << kMciErrInvalidDeviceName;
    QTest::newRow("seek unknown alias")
        << QByteArray("seek nobody to END") << kMciErrInvalidDeviceName;
    QTest::newRow("status unknown alias")
        << QByteArray("status nobody mode") << kMciErrInvalidDeviceName;
    QTest::newRow("empty file name, as sent when there is no short path")
        << QByteArray("open  type sequencer alias midifile") << kMciErrMissingParameter;
    QTest::newRow("no such file") << QByteArray("open /no/such/file.mid alias m")
                                  << kMciErrFileNotFound;
    QTest::newRow("other device type")
        << QByteArray("open /no/such/file.wav type waveaudio alias m") << kMciErrInvalidDeviceName;
}

void TestMci::refusedCommands()
{
    QFETCH(QByteArray, command);
    QFETCH(uint, code);
    QCOMPARE(send(command), code);
    // Nothing was opened by any of them.
    QCOMPARE(send("status m mode"), kMciErrInvalidDeviceName);
    QCOMPARE(send("status midifile mode"), kMciErrInvalidDeviceName);
}

void TestMci::openRefusesBadFiles()
{
    const std::string text = pathOf("notes.mid");
    sequora::test::SmfWriter::writeBytes(text, { 'h', 'e', 'l', 'l', 'o', '\n' });
    const std::string empty = pathOf("empty.mid");
    sequora::test::SmfWriter::writeBytes(empty, {});

    QCOMPARE(send(("open " + text + " alias m").c_str()), kMciErrInvalidFile);
    QCOMPARE(send(("open " + empty + " alias m").c_str()), kMciErrInvalidFile);
    QCOMPARE(send(("open " + m_dir.path().toStdString() + " alias m").c_str()), kMciErrInvalidFile);
    QCOMPARE(send("status m mode"), kMciErrInvalidDeviceName);

    // A refusal leaves the alias free for the next open.
    QCOMPARE(send(("open " + m_song + " alias m").c_str()), kMciOk);
}

void TestMci::aliasRules()
{
    QCOMPARE(send(("open " + m_song + " type sequencer alias MidiFile").c_str()), kMciOk);
    QCOMPARE(status("mode", "MIDIFILE"), QByteArray("stopped"));
    QCOMPARE(send(("open " + m_song + " alias midifile").c_str()), kMciErrDuplicateAlias);
    // The one sequencer is taken: another alias cannot open beside it.
    QCOMPARE(send(("open " + m_song + " alias other").c_str()), kMciErrSeqPortInUse);
    QCOMPARE(status("length", "midifile"), QByteArray("123"));

    QCOMPARE(send("CLOSE midiFILE"), kMciOk);
    QCOMPARE(send("status midifile mode"), kMciErrInvalidDeviceName);
    QCOMPARE(send("close midifile"), kMciErrInvalidDeviceName);
    QCOMPARE(send(("open " + m_song + " alias other").c_str()), kMciOk);
    QCOMPARE(status("position", "other"), QByteArray("0"));
}

void TestMci::openByShortPathToken()
{
    const QByteArray name("My Songs \xe6\x9b\xb2 \"100%\".mid");
    const std::string path = pathOf(name.constData());
    writeSong(path, 2500);

    char token[512] = {};
    QVERIFY(GetShortPathNameA(path.c_str(), token, sizeof token) > 0);
    QCOMPARE(send(QByteArray("open ") + token + " type sequencer alias m"), kMciOk);
    QCOMPARE(status("length"), QByteArray("25"));
    QCOMPARE(send("close m"), kMciOk);

    // Typed by hand, a path with blanks is quoted (a quote itself cannot be).
    const std::string typed = pathOf("Typed by \xe6\x89\x8b.mid");
    writeSong(typed, 1500);
    QCOMPARE(send(QByteArray("open \"") + typed.c_str() + "\" alias m"), kMciOk);
    QCOMPARE(status("length"), QByteArray("15"));
}

void TestMci::logRecordsEveryCommand()
{
    const QString logPath = m_dir.filePath("mci.log");
    QFile::remove(logPath);
    qputenv("SEQUORA_MCI_LOG", logPath.toLocal8Bit());

    send(("open " + m_song + " alias m").c_str());
    send("seek m to 42  ");
    char reply[15];
    mciSendStringA("status m position", reply, sizeof reply, nullptr);
    mciSendStringA("status m mode", reply, 4, nullptr);
    mciSendStringA("status nobody mode", reply, sizeof reply, nullptr);
    send("");

    QFile log(logPath);
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = log.readAll().split('\n');
    const QList<QByteArray> expected {
        QByteArray("\"open ") + m_song.c_str() + " alias m\"\t0\t\"\"",
        "\"seek m to 42  \"\t0\t\"\"",
        "\"status m position\"\t0\t\"42\"",
        "\"status m mode\"\t0\t\"sto\"", // what the caller's buffer received
        "\"status nobody mode\"\t263\t\"\"",
        "\"\"\t267\t\"\"",
        "",
    };
    QCOMPARE(lines, expected);
}

QTEST_GUILESS_MAIN(TestMci)
#include "tst_mci.moc"
