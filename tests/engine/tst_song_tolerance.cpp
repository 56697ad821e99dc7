// Damaged and hostile input: what is tolerated (played as far as it goes), what is
// refused (with a status and a message, quickly, without huge allocations), special
// files that must never be opened for reading, awkward file names, and the corpus.

#include "common/SmfWriter.h"
#include "platform/midi/file/Song.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

using namespace sequora::midi;
using namespace sequora::test;
namespace fs = std::filesystem;

Q_DECLARE_METATYPE(sequora::midi::ReadStatus)

namespace {

constexpr int kNotes = 4;
constexpr qint64 kQuickMs = 1000; // refusals must not read or wait

// Tempo track plus a track of kNotes notes, one per quarter, ending a beat after the last.
SmfWriter baseSong(bool endOfTrack = true)
{
    SmfWriter smf(1, 480);
    smf.addTrack().tempo(0, 400000);
    SmfTrack& t = smf.addTrack();
    for (int i = 0; i < kNotes; ++i)
        t.noteOn(i == 0 ? 0 : 240, 0, 60 + i, 90).noteOff(240, 0, 60 + i);
    if (endOfTrack)
        t.endOfTrack(480);
    else
        t.omitEndOfTrack();
    return smf;
}

QByteArray qbytes(const Bytes& b) { return QByteArray(reinterpret_cast<const char*>(b.data()), qsizetype(b.size())); }
Bytes bytesOf(const QByteArray& q) { return Bytes(q.begin(), q.end()); }

} // namespace

class TestSongTolerance : public QObject {
    Q_OBJECT

private slots:
    void init();
    void damageIsTolerated_data();
    void damageIsTolerated();
    void refusedImages_data();
    void refusedImages();
    void refusedFiles();
    void fifoIsNeverOpened();
    void hugeSparseFilesAreRefusedQuickly();
    void tooManyEventsAreRefused();
    void unreadableFile();
    void awkwardFileNames();
    void corpus();

private:
    std::string path(const char* name) const { return m_dir->filePath(QString::fromUtf8(name)).toStdString(); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestSongTolerance::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestSongTolerance::damageIsTolerated_data()
{
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<int>("events");
    QTest::addColumn<qint64>("lengthUs"); // -1: do not check
    const Bytes good = baseSong().bytes();
    const qint64 fullLength = 1800000; // 4.5 quarters at 0.4 s
    const Bytes noEnd = baseSong(false).bytes();
    const std::size_t lastTrack = 2;
    const uint32_t lastTrackLength = uint32_t(good.size() - chunkOffset(good, lastTrack) - 8);

    QTest::newRow("no End-of-Track") << qbytes(noEnd) << 2 * kNotes << qint64(2 * kNotes - 1) * 200000;
    QTest::newRow("last byte missing") << qbytes(truncated(good, 1)) << 2 * kNotes << fullLength;
    QTest::newRow("cut inside the last note-off")
        << qbytes(truncated(good, 7)) << 2 * kNotes - 1 << qint64(-1);
    QTest::newRow("track longer than the file")
        << qbytes(withChunkLength(good, lastTrack, lastTrackLength + 1000)) << 2 * kNotes << fullLength;
    QTest::newRow("track length 0xFFFFFFFF")
        << qbytes(withChunkLength(good, lastTrack, 0xFFFFFFFFu)) << 2 * kNotes << fullLength;
    QTest::newRow("first track length 0xFFFFFFFF")
        << qbytes(withChunkLength(good, 1, 0xFFFFFFFFu)) << 0 << qint64(0);
    QTest::newRow("header declares more tracks")
        << qbytes(baseSong().trackCount(9).bytes()) << 2 * kNotes << fullLength;

    SmfWriter stray(0, 480);
    stray.addTrack().raw({0x00, 0x3C, 0x00, 0xF2, 0x10, 0x20}).noteOn(0, 0, 60, 90).noteOff(480, 0, 60);
    QTest::newRow("stray data and system bytes") << qbytes(stray.bytes()) << 2 << qint64(500000);
    SmfWriter format3(3, 480);
    format3.addTrack().noteOn(0, 0, 60, 90).noteOff(480, 0, 60);
    QTest::newRow("unknown format") << qbytes(format3.bytes()) << 2 << qint64(500000);
    SmfWriter shortSysex(0, 480);
    shortSysex.addTrack().noteOn(0, 0, 60, 90).raw({0x00, 0xF0, 0x7F, 0x01});
    QTest::newRow("SysEx running past the end") << qbytes(shortSysex.bytes()) << 1 << qint64(-1);
}

void TestSongTolerance::damageIsTolerated()
{
    QFETCH(QByteArray, image);
    QFETCH(int, events);
    QFETCH(qint64, lengthUs);
    Song song;
    const ReadResult r = Song::parse(bytesOf(image), song);
    QCOMPARE(r.status, ReadStatus::Repaired);
    QVERIFY(r.playable());
    QVERIFY(!r.message.empty());
    QCOMPARE(int(song.events().size()), events);
    if (lengthUs >= 0)
        QCOMPARE(song.lengthUs(), int64_t(lengthUs));
}

void TestSongTolerance::refusedImages_data()
{
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<ReadStatus>("status");
    const Bytes good = baseSong().bytes();
    auto patched = [&](std::size_t at, std::initializer_list<uint8_t> values) {
        Bytes b = good;
        std::copy(values.begin(), values.end(), b.begin() + at);
        return qbytes(b);
    };
    QTest::newRow("empty") << QByteArray() << ReadStatus::Empty;
    QTest::newRow("text") << QByteArray("This is not a song.\n") << ReadStatus::NotMidi;
    QTest::newRow("header cut short") << qbytes(truncated(good, good.size() - 10)) << ReadStatus::NotMidi;
    QTest::newRow("header length 2") << patched(4, {0, 0, 0, 2}) << ReadStatus::NotMidi;
    QTest::newRow("header length 0xFFFFFFFF") << patched(4, {0xFF, 0xFF, 0xFF, 0xFF}) << ReadStatus::NoTracks;
    QTest::newRow("no tracks declared") << patched(10, {0, 0}) << ReadStatus::NoTracks;
    QTest::newRow("header only") << qbytes(Bytes(good.begin(), good.begin() + 14)) << ReadStatus::NoTracks;
    SmfWriter noTrack(1, 480);
    noTrack.trackCount(1).addChunk("XTRA", {1, 2, 3});
    QTest::newRow("no MTrk chunk") << qbytes(noTrack.bytes()) << ReadStatus::NoTracks;
    QTest::newRow("division 0") << patched(12, {0, 0}) << ReadStatus::BadDivision;
    QTest::newRow("SMPTE 23 fps") << patched(12, {uint8_t(-23), 40}) << ReadStatus::BadDivision;
    QTest::newRow("SMPTE 0 ticks per frame") << patched(12, {uint8_t(-25), 0}) << ReadStatus::BadDivision;
    Bytes wave = wrappedRmid(good);
    std::copy_n("WAVE", 4, wave.begin() + 8);
    QTest::newRow("RIFF WAVE") << qbytes(wave) << ReadStatus::NotMidi;
    Bytes noData = wrappedRmid(good);
    std::copy_n("junk", 4, noData.begin() + 12);
    noData.resize(40);
    QTest::newRow("RMID without data") << qbytes(noData) << ReadStatus::NotMidi;
}

void TestSongTolerance::refusedImages()
{
    QFETCH(QByteArray, image);
    QFETCH(ReadStatus, status);
    Song song = Song::fromEvents({MidiEvent{}}, {1}, 5); // the old content must go
    const ReadResult r = Song::parse(bytesOf(image), song);
    QCOMPARE(r.status, status);
    QVERIFY(!r.playable());
    QVERIFY(!r.message.empty());
    QVERIFY(song.events().empty());
    QVERIFY(song.sysexData().empty());
    QCOMPARE(song.lengthUs(), int64_t(0));
    QCOMPARE(song.trackCount(), 0);
}

void TestSongTolerance::refusedFiles()
{
    Song song;
    QCOMPARE(Song::load(path("missing.mid"), song).status, ReadStatus::NotFound);
    QCOMPARE(Song::load(path("missing-dir/a.mid"), song).status, ReadStatus::NotFound);
    QCOMPARE(Song::load("", song).status, ReadStatus::NotFound);

    QVERIFY(QDir(m_dir->path()).mkdir("x.mid"));
    const ReadResult dir = Song::load(path("x.mid"), song);
    QCOMPARE(dir.status, ReadStatus::NotRegularFile);
    QVERIFY(!dir.message.empty());

    fs::create_symlink("/dev/zero", path("zero.mid"));
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(Song::load(path("zero.mid"), song).status, ReadStatus::NotRegularFile);
    QVERIFY(timer.elapsed() < kQuickMs);
    fs::create_symlink(path("nowhere.mid"), path("dangling.mid"));
    QCOMPARE(Song::load(path("dangling.mid"), song).status, ReadStatus::NotFound);

    SmfWriter::writeBytes(path("empty.mid"), {});
    QCOMPARE(Song::load(path("empty.mid"), song).status, ReadStatus::Empty);

    // A link to a good file is just that file.
    baseSong().writeFile(path("good.mid"));
    fs::create_symlink(path("good.mid"), path("link.mid"));
    QCOMPARE(Song::load(path("link.mid"), song).status, ReadStatus::Complete);
    QCOMPARE(int(song.events().size()), 2 * kNotes);
}

void TestSongTolerance::fifoIsNeverOpened()
{
    const std::string fifo = path("pipe.mid");
    QCOMPARE(::mkfifo(fifo.c_str(), 0600), 0);
    auto pending = std::async(std::launch::async, [&] {
        Song song;
        return Song::load(fifo, song).status;
    });
    if (pending.wait_for(std::chrono::milliseconds(kQuickMs * 5)) != std::future_status::ready) {
        // The reader blocked in open(): give it a writer so the test can end.
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
        pending.wait();
        QFAIL("a FIFO was opened for reading");
    }
    QCOMPARE(pending.get(), ReadStatus::NotRegularFile);
}

void TestSongTolerance::hugeSparseFilesAreRefusedQuickly()
{
    struct Case {
        const char* name;
        uint64_t size;
        ReadStatus status;
    };
    const Case cases[] = {
        {"4gib.mid", 4ull << 30, ReadStatus::TooLarge},
        {"one-too-many.mid", Song::kMaxFileSize + 1, ReadStatus::TooLarge},
        {"at-the-limit.mid", Song::kMaxFileSize, ReadStatus::NotMidi}, // read, then refused
    };
    for (const Case& c : cases) {
        const std::string file = path(c.name);
        SmfWriter::writeBytes(file, {});
        std::error_code ec;
        fs::resize_file(file, c.size, ec);
        if (ec)
            QSKIP("no sparse files here");
        QElapsedTimer timer;
        timer.start();
        Song song;
        QCOMPARE(Song::load(file, song).status, c.status);
        QVERIFY2(timer.elapsed() < kQuickMs, c.name);
        fs::remove(file);
    }
}

void TestSongTolerance::tooManyEventsAreRefused()
{
    // Within the size limit a file can still hold tens of millions of two-byte events
    // (running status); reading them all would take gigabytes.
    const std::size_t events = Song::kMaxEvents + 1;
    Bytes track{0x00, 0xC0, 0x01};
    track.reserve(2 * events + 8);
    for (std::size_t i = 1; i < events; ++i)
        track.insert(track.end(), {0x00, 0x01});
    track.insert(track.end(), {0x00, 0xFF, 0x2F, 0x00});
    Bytes image = SmfWriter(0, 96).bytes();
    image[11] = 1; // one track
    image.insert(image.end(), {'M', 'T', 'r', 'k'});
    appendBe32(image, uint32_t(track.size()));
    image.insert(image.end(), track.begin(), track.end());
    Song song;
    const ReadResult r = Song::parse(image, song);
    QCOMPARE(r.status, ReadStatus::TooLarge);
    QVERIFY(song.events().empty());
}

void TestSongTolerance::unreadableFile()
{
    baseSong().writeFile(path("locked.mid"));
    fs::permissions(path("locked.mid"), fs::perms::none);
    if (::access(path("locked.mid").c_str(), R_OK) == 0)
        QSKIP("permissions do not apply to this user (root)");
    Song song;
    const ReadResult r = Song::load(path("locked.mid"), song);
    QCOMPARE(r.status, ReadStatus::Unreadable);
    QVERIFY(!r.message.empty());
}

void TestSongTolerance::awkwardFileNames()
{
    for (const char* name : {"èmpty song ﾃｽﾄ 曲.mid", "  blanks  in name .mid", "100% \"quoted\".MID"}) {
        baseSong().writeFile(path(name));
        Song song;
        const ReadResult r = Song::load(path(name), song);
        QVERIFY2(r.status == ReadStatus::Complete, name);
        QCOMPARE(int(song.events().size()), 2 * kNotes);
    }
}

void TestSongTolerance::corpus()
{
    const QByteArray root = qgetenv("SEQUORA_TEST_SOURCE_DIR");
    if (root.isEmpty())
        QSKIP("SEQUORA_TEST_SOURCE_DIR not set (run through CTest)");
    const QDir corpus(QString::fromLocal8Bit(root) + "/tests/corpus");
    int seen = 0;
    for (const bool valid : {true, false}) {
        const QDir dir(corpus.filePath(valid ? "valid" : "invalid"));
        for (const QString& name : dir.entryList(QDir::Files, QDir::Name)) {
            Song song;
            const ReadResult r = Song::load(dir.filePath(name).toStdString(), song);
            QVERIFY2(r.playable() == valid, qPrintable(name + ": " + QString::fromStdString(r.message)));
            QVERIFY2(!r.message.empty(), qPrintable(name));
            if (valid) {
                QVERIFY2(!song.events().empty() && song.lengthUs() > 0, qPrintable(name));
                QVERIFY(song.events().back().timeUs <= song.lengthUs());
            }
            ++seen;
        }
    }
    QVERIFY2(seen >= 10, "the corpus is missing");
}

QTEST_APPLESS_MAIN(TestSongTolerance)
#include "tst_song_tolerance.moc"
