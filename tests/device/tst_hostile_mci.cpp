// Hostile files handed to the sequencer device, as command strings and through the
// device class: refused at once with the right code, the alias left free, nothing
// opened that could block, and no memory kept per refusal.

#include "player/HostileFiles.h"

#include "platform/System.h"
#include "platform/mci/mci.h"
#include "platform/midi/transport/Sequencer.h"
#include "sequencer/clsMIDI.h"

#include <QElapsedTimer>
#include <QTest>

using namespace sequora::platform;
using namespace sequora::test;

namespace {

constexpr qint64 kQuickMs = 1000;
constexpr int kRefusals = 20000;
constexpr qint64 kAllowedGrowthKb = 1024;

MCIERROR send(const std::string& command)
{
    char reply[64] = {};
    return mciSendStringA(command.c_str(), reply, sizeof reply, nullptr);
}

std::string quoted(const QString& path)
{
    return "\"" + nativePath(path) + "\"";
}

// The one-word form the device class sends, or empty text when there is none.
std::string token(const QString& path)
{
    char buffer[512] = {};
    GetShortPathNameA(nativePath(path).c_str(), buffer, sizeof buffer);
    return buffer;
}

} // namespace

class tst_HostileMci : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void refusedAtOnce_data();
    void refusedAtOnce();
    void aSongWithAnEndlessTrackPlays();
    void aLongJapanesePathOpens();
    void refusalsKeepNothing();

private:
    QTemporaryDir m_dir;
    QString m_good;
    QString m_fifo;
};

void tst_HostileMci::initTestCase()
{
    QVERIFY(m_dir.isValid());
    sequora::midi::engine::useManualClock();
    SmfWriter smf(0, 500);
    smf.addTrack().noteOn(0, 0, 60, 90).noteOff(2000, 0, 60).endOfTrack(0);
    m_good = m_dir.filePath("good.mid");
    smf.writeFile(nativePath(m_good));
    m_fifo = makeFifo(m_dir, "pipe.mid");
    QVERIFY(!m_fifo.isEmpty());
}

void tst_HostileMci::cleanup()
{
    send("close m");
    send("close midifile");
}

void tst_HostileMci::refusedAtOnce_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<uint>("code");
    const uint invalid = kMciErrInvalidFile;
    const uint missing = kMciErrFileNotFound;
    QString sparse = makeSparse(m_dir, "4gib.mid", 4ull << 30);
    if (sparse.isEmpty())
        qWarning("no sparse files here: the 4 GiB row reads an empty file");
    QTest::newRow("empty") << makeEmpty(m_dir, "empty.mid") << invalid;
    QTest::newRow("4 GiB") << (sparse.isEmpty() ? makeEmpty(m_dir, "4gib.mid") : sparse) << invalid;
    QTest::newRow("FIFO") << m_fifo << invalid;
    QTest::newRow("/dev/zero behind a link") << makeLink(m_dir, "zero.mid", "/dev/zero") << invalid;
    QTest::newRow("folder") << makeFolder(m_dir, "x.mid") << invalid;
    QTest::newRow("link onto itself")
        << makeLink(m_dir, "self.mid", m_dir.filePath("self.mid")) << missing;
    QTest::newRow("deleted") << m_dir.filePath("deleted.mid") << missing;
}

void tst_HostileMci::refusedAtOnce()
{
    QFETCH(QString, path);
    QFETCH(uint, code);
    QVERIFY(!path.isEmpty());
    FifoWatch watch(m_fifo);

    // As a command string, by its full path.
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(uint(send("open " + quoted(path) + " type sequencer alias m")), code);
    QVERIFY(timer.elapsed() < kQuickMs);
    QCOMPARE(send("status m mode"), kMciErrInvalidDeviceName);
    QCOMPARE(send("open " + quoted(m_good) + " type sequencer alias m"), kMciOk);
    QCOMPARE(send("close m"), kMciOk);

    // By the one-word form, when the path has one (what is gone has none).
    const std::string word = token(path);
    if (!word.empty())
        QCOMPARE(uint(send("open " + word + " type sequencer alias m")), code);

    // Through the device class: no answers, and the next file opens as usual.
    {
        clsMIDI device;
        device.FileName(nativePath(path));
        QCOMPARE(device.Mode(), std::string());
        QCOMPARE(device.Position(), std::string());
        QCOMPARE(device.Length(), 0);
        device.Play();
        QCOMPARE(device.Mode(), std::string());
        device.FileName(nativePath(m_good));
        QCOMPARE(device.Mode(), std::string("STOPPED"));
        QCOMPARE(device.Length(), 20);
    }
    QVERIFY(timer.elapsed() < 3 * kQuickMs);
    QVERIFY2(!watch.blocked(), "the FIFO was opened for reading");
}

void tst_HostileMci::aSongWithAnEndlessTrackPlays()
{
    // Its track claims 4 GiB; the file holds a 3-second song, and that is what plays.
    const QString endless = makeEndlessTrackSong(m_dir, "endless.mid", 30);
    QCOMPARE(send("open " + quoted(endless) + " alias m"), kMciOk);
    char reply[16] = {};
    QCOMPARE(mciSendStringA("status m length", reply, sizeof reply, nullptr), kMciOk);
    QCOMPARE(QByteArray(reply), QByteArray("30"));
    QCOMPARE(send("play m"), kMciOk);
    sequora::midi::engine::advanceManualClock(3000);
    QCOMPARE(mciSendStringA("status m mode", reply, sizeof reply, nullptr), kMciOk);
    QCOMPARE(QByteArray(reply), QByteArray("stopped"));
    QCOMPARE(mciSendStringA("status m position", reply, sizeof reply, nullptr), kMciOk);
    QCOMPARE(QByteArray(reply), QByteArray("30"));

    // With nothing in it the same damage gives a song of no length: opened, over at once.
    const QString hollow = makeEndlessEmptyTrack(m_dir, "hollow.mid");
    send("close m");
    const MCIERROR code = send("open " + quoted(hollow) + " alias m");
    if (code != kMciOk) {
        QCOMPARE(code, kMciErrInvalidFile);
        return;
    }
    QCOMPARE(mciSendStringA("status m length", reply, sizeof reply, nullptr), kMciOk);
    QCOMPARE(QByteArray(reply), QByteArray("0"));
}

void tst_HostileMci::aLongJapanesePathOpens()
{
    // Three folder levels and a file name in Japanese: about 200 bytes, far from any
    // path limit, but each byte of a kana or kanji written as %XX would not fit the
    // device class's 512-byte buffer.
    const QString part = QStringLiteral("久石譲 となりのトトロ サウンドトラック");
    QDir().mkpath(m_dir.filePath(part + "/" + part + "/" + part));
    const QString path = m_dir.filePath(part + "/" + part + "/" + part + "/01 さんぽ.mid");
    QVERIFY(QFile::copy(m_good, path));
    QVERIFY(nativePath(path).size() > 512 / 3);

    const std::string word = token(path);
    QVERIFY(!word.empty());
    for (unsigned char c : word)
        QVERIFY(c > ' ' && c < 0x7F && c != '"');
    clsMIDI device;
    device.FileName(nativePath(path));
    QCOMPARE(device.Mode(), std::string("STOPPED"));
    QCOMPARE(device.Length(), 20);
    QCOMPARE(QString::fromStdString(device.FileName()), path);
}

void tst_HostileMci::refusalsKeepNothing()
{
    FifoWatch watch(m_fifo, std::chrono::minutes(5));
    const std::string good = "open " + quoted(m_good) + " alias m";
    QStringList refused { makeEmpty(m_dir, "empty2.mid"), m_fifo, m_dir.filePath("gone.mid"),
        makeFolder(m_dir, "dir.mid"), makeLink(m_dir, "zero2.mid", "/dev/zero") };
    {
        QFile text(m_dir.filePath("text.mid"));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write(QByteArray(4096, 'x'));
        refused << text.fileName();
    }
    std::vector<std::string> commands;
    for (const QString& path : refused)
        commands.push_back("open " + quoted(path) + " alias m");

    qint64 warm = 0;
    for (int i = 0; i < kRefusals; ++i) {
        QVERIFY(send(commands[std::size_t(i) % commands.size()]) != kMciOk);
        if (i % 10 == 0) {
            QCOMPARE(send(good), kMciOk);
            QCOMPARE(send("play m"), kMciOk);
            QCOMPARE(send("close m"), kMciOk);
        }
        if (i == kRefusals / 10)
            warm = processSizeKb();
    }
    const qint64 end = processSizeKb();
    qInfo("process size after %d refusals: %lld kB, after %d: %lld kB", kRefusals / 10, warm,
        kRefusals, end);
    QVERIFY(warm > 0);
    QVERIFY2(end - warm < kAllowedGrowthKb, "refused files leave memory behind");
    QVERIFY2(!watch.blocked(), "the FIFO was opened for reading");
}

QTEST_GUILESS_MAIN(tst_HostileMci)
#include "tst_hostile_mci.moc"
