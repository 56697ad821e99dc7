// The listener's settings as device commands, over the engine on a manual clock: set and
// status of tempo, key, mute and solo with their replies and the codes of refused ones
// (which change nothing), what the parts then sound as the engine publishes them, the
// position and length in the listener's time, and the settings kept from song to song.

#include "common/SmfWriter.h"
#include "platform/mci/mci.h"
#include "platform/midi/transport/Sequencer.h"

#include <QtTest>

using namespace sequora::platform;
namespace engine = sequora::midi::engine;
using sequora::midi::PartsView;
using sequora::midi::PartView;

namespace {

// At 480 ticks per quarter and 480,000 us per quarter one tick is one millisecond. Part 1
// holds C4 for 10 s, part 2 plays E4 every second, part 10 a snare every 100 ms.
void writeSong(const std::filesystem::path& path)
{
    sequora::test::SmfWriter smf(1, 480);
    smf.addTrack().tempo(0, 480000).endOfTrack(0);
    smf.addTrack().programChange(0, 0, 0).noteOn(0, 0, 60, 100).noteOff(10000, 0, 60);
    auto& second = smf.addTrack().programChange(0, 1, 24);
    for (int i = 0; i < 10; ++i)
        second.noteOn(i == 0 ? 0 : 500, 1, 64, 90).noteOff(500, 1, 64);
    auto& drums = smf.addTrack();
    for (int i = 0; i < 100; ++i)
        drums.noteOn(i == 0 ? 0 : 90, 9, 38, 110).noteOff(10, 9, 38);
    smf.writeFile(path);
}

// A song for two ports: part 4 holds C4, and part 20 (the same channel on the second
// port) holds G4, each for 10 s.
void writeTwoPortSong(const std::filesystem::path& path)
{
    sequora::test::SmfWriter smf(1, 480);
    smf.addTrack().tempo(0, 480000).endOfTrack(0);
    smf.addTrack()
        .meta(0, 0x21, { 0 })
        .programChange(0, 3, 0)
        .noteOn(0, 3, 60, 100)
        .noteOff(10000, 3, 60);
    smf.addTrack()
        .meta(0, 0x21, { 1 })
        .programChange(0, 3, 40)
        .noteOn(0, 3, 67, 100)
        .noteOff(10000, 3, 67);
    smf.writeFile(path);
}

QByteArray run(const QByteArray& command, MCIERROR* code = nullptr)
{
    char reply[64] = {};
    const MCIERROR result = mciSendStringA(command.constData(), reply, sizeof reply, nullptr);
    if (code)
        *code = result;
    return result == kMciOk ? QByteArray(reply) : QByteArray::number(result);
}

PartsView parts()
{
    PartsView view;
    [&] { QVERIFY(engine::sequencer().readParts(view)); }();
    return view;
}

} // namespace

class TestMciListener : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        engine::useManualClock();
        QVERIFY(m_dir.isValid());
        m_song = m_dir.filePath(QStringLiteral("song.mid")).toUtf8();
        writeSong(m_song.toStdString());
        m_twoPorts = m_dir.filePath(QStringLiteral("ports.mid")).toUtf8();
        writeTwoPortSong(m_twoPorts.toStdString());
    }

    void init() { QCOMPARE(run("open " + m_song + " type sequencer alias m"), QByteArray()); }

    void cleanup()
    {
        for (const char* command : { "set m tempo 100", "set m transpose 0",
                 "set m part all mute off", "set m part all solo off", "close m" })
            run(command);
    }

    // Each line: a command and what it answers, the reply or the refusal's code.
    void commands_data()
    {
        QTest::addColumn<QStringList>("script");
        QTest::newRow("as it opens")
            << QStringList { "status m tempo => 100", "status m transpose => 0",
                   "status m part 1 mute => false", "status m part 16 solo => false" };
        QTest::newRow("tempo") << QStringList { "set m tempo 50 => ", "status m tempo => 50",
            "SET M TEMPO 200 => ", "status m tempo => 200", "status m length => 50" };
        QTest::newRow("tempo out of range changes nothing") << QStringList { "set m tempo 150 => ",
            "set m tempo 49 => 282", "set m tempo 201 => 282", "set m tempo 4294967295 => 282",
            "set m tempo 4294967296 => 270", "set m tempo -80 => 270", "set m tempo fast => 270",
            "set m tempo => 273", "status m tempo => 150" };
        QTest::newRow("key") << QStringList { "set m transpose -12 => ",
            "status m transpose => -12", "set m transpose +12 => ", "status m transpose => 12",
            "set m transpose 3 => ", "status m transpose => 3" };
        QTest::newRow("key out of range changes nothing") << QStringList { "set m transpose -2 => ",
            "set m transpose -13 => 282", "set m transpose 13 => 282", "set m transpose - => 270",
            "set m transpose 1.5 => 270", "set m transpose => 273", "status m transpose => -2" };
        QTest::newRow("mute and solo") << QStringList { "set m part 2 mute on => ",
            "set m part 1 solo on => ", "set m part 10 solo on => ", "status m part 2 mute => true",
            "status m part 1 solo => true", "status m part 10 solo => true",
            "status m part 2 solo => false", "set m part 2 mute off => ",
            "status m part 2 mute => false", "set m part all solo off => ",
            "status m part 10 solo => false" };
        QTest::newRow("parts the song does not have")
            << QStringList { "set m part 3 mute on => ", "set m part 0 mute on => 282",
                   "set m part 17 solo on => 282", "status m part 33 mute => 282",
                   "status m part 0 solo => 282", "status m part 3 mute => true",
                   "set m part all solo on => ", "status m part 16 solo => true" };
        QTest::newRow("not the words of set") << QStringList { "set m part 3 mute maybe => 259",
            "set m part 3 loud on => 259", "set m part 3 => 273", "set m part => 273",
            "set m part x mute on => 270", "set m volume 3 => 259",
            "set m tempo 80 transpose 2 => 259", "set m => 273", "set nobody tempo 80 => 263",
            "status m part all mute => 270", "status m part 3 => 273",
            "status m part 3 mute on => 259", "status m tempo => 100" };
    }

    void commands()
    {
        QFETCH(QStringList, script);
        for (const QString& line : script) {
            const QStringList parts = line.split(QStringLiteral(" => "));
            QCOMPARE(QString::fromUtf8(run(parts[0].toUtf8())), parts.value(1));
        }
    }

    void partsSoundAsSet()
    {
        QCOMPARE(run("play m"), QByteArray());
        engine::advanceManualClock(1050);
        PartsView view = parts();
        QVERIFY(
            view.parts[0].keyDown(60) && view.parts[1].keyDown(64) && view.parts[9].keyDown(38));

        // A key up: the melodic parts move at their next note, drums stay; the held note
        // keeps the pitch it was struck at.
        QCOMPARE(run("set m transpose 2"), QByteArray());
        engine::advanceManualClock(1000);
        view = parts();
        QCOMPARE(int(view.transpose), 2);
        QVERIFY(view.parts[0].keyDown(60) && !view.parts[0].keyDown(62));
        QVERIFY(view.parts[1].keyDown(66) && !view.parts[1].keyDown(64));
        QVERIFY(view.parts[9].keyDown(38));

        // Mute part 1: silent at once. Unmuted, its held note is struck again in the key
        // now set.
        QCOMPARE(run("set m part 1 mute on"), QByteArray());
        engine::advanceManualClock(1);
        view = parts();
        QVERIFY(view.parts[0].has(PartView::Muted)
            && view.parts[0].keys == (std::array<uint64_t, 2> {}));
        QCOMPARE(int(view.parts[0].level), 0);
        QCOMPARE(run("set m part 1 mute off"), QByteArray());
        engine::advanceManualClock(1);
        view = parts();
        QVERIFY(view.parts[0].keyDown(62) && !view.parts[0].keyDown(60));

        // Solo parts 1 and 2: the drums fall silent.
        QCOMPARE(run("set m part 1 solo on"), QByteArray());
        QCOMPARE(run("set m part 2 solo on"), QByteArray());
        engine::advanceManualClock(300);
        view = parts();
        QVERIFY(view.parts[9].has(PartView::Silenced) && !view.parts[9].keyDown(38));
        QVERIFY(view.parts[0].keyDown(62) && !view.parts[0].has(PartView::Silenced));

        // Half the tempo: the position and length double, and the song moves on half
        // as fast.
        const int position = run("status m position").toInt();
        QCOMPARE(position, 23);
        QCOMPARE(run("set m tempo 50"), QByteArray());
        QCOMPARE(run("status m position").toInt(), 47);
        QCOMPARE(run("status m length").toInt(), 200);
        engine::advanceManualClock(1000);
        QCOMPARE(run("status m position").toInt(), 57);
        QCOMPARE(run("seek m to end"), QByteArray());
        QCOMPARE(run("status m position").toInt(), 200);
        QCOMPARE(run("play m from 40 to 60"), QByteArray());
        engine::advanceManualClock(3000);
        QCOMPARE(run("status m position").toInt(), 60);
        QCOMPARE(run("status m mode"), QByteArray("stopped"));

        // The next song plays as set, until changed.
        QCOMPARE(run("close m"), QByteArray());
        QCOMPARE(run("open " + m_song + " alias m"), QByteArray());
        QCOMPARE(run("status m tempo"), QByteArray("50"));
        QCOMPARE(run("status m transpose"), QByteArray("2"));
        QCOMPARE(run("status m part 2 solo"), QByteArray("true"));
        QCOMPARE(run("status m length").toInt(), 200);
    }

    // A second port's parts are parts 17-32: each its own, muted on its own.
    void secondPortPartsMuteApart()
    {
        QCOMPARE(run("close m"), QByteArray());
        QCOMPARE(run("open " + m_twoPorts + " alias m"), QByteArray());
        QCOMPARE(run("status m part 32 mute"), QByteArray("false"));
        QCOMPARE(run("status m part 33 mute"), QByteArray("282"));
        QCOMPARE(run("play m"), QByteArray());
        engine::advanceManualClock(500);
        PartsView view = parts();
        QCOMPARE(int(view.partCount), 32);
        QVERIFY(view.parts[3].keyDown(60) && !view.parts[3].keyDown(67));
        QVERIFY(view.parts[19].keyDown(67) && !view.parts[19].keyDown(60));

        QCOMPARE(run("set m part 20 mute on"), QByteArray());
        engine::advanceManualClock(1);
        view = parts();
        QVERIFY(view.parts[19].has(PartView::Muted) && !view.parts[19].keyDown(67));
        QVERIFY(!view.parts[3].has(PartView::Muted) && view.parts[3].keyDown(60));
        QCOMPARE(run("status m part 4 mute"), QByteArray("false"));

        // Back to a one-port song: 16 parts again, part 20 no longer there.
        QCOMPARE(run("close m"), QByteArray());
        QCOMPARE(run("open " + m_song + " alias m"), QByteArray());
        QCOMPARE(run("status m part 20 mute"), QByteArray("282"));
    }

private:
    QTemporaryDir m_dir;
    QByteArray m_song;
    QByteArray m_twoPorts;
};

QTEST_GUILESS_MAIN(TestMciListener)
#include "tst_mci_listener.moc"
