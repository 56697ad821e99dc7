// Reading well-formed files: times through the tempo map, SMPTE, formats, running
// status, SysEx, the RMID wrapper, event order; and the real songs on the system.

#include "common/SmfWriter.h"
#include "platform/midi/file/Song.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>

#include <algorithm>
#include <utility>
#include <vector>

using namespace sequora::midi;
using namespace sequora::test;

namespace {

Song parsed(const Bytes& bytes, ReadStatus expected = ReadStatus::Complete)
{
    Song song;
    const ReadResult r = Song::parse(bytes, song);
    if (r.status != expected)
        qWarning("unexpected read status: %s", r.message.c_str());
    return r.status == expected ? song : Song();
}

std::vector<int64_t> noteOnTimes(const Song& song)
{
    std::vector<int64_t> times;
    for (const MidiEvent& e : song.events())
        if ((e.status & 0xF0) == 0x90)
            times.push_back(e.timeUs);
    return times;
}

__extension__ typedef unsigned __int128 Exact;

} // namespace

class TestSong : public QObject {
    Q_OBJECT

private slots:
    void tempoChangesGiveExactTimes();
    void tempoInAnyTrackAppliesToAll();
    void longPieceWithManyTempoChangesHasNoDrift();
    void lengthIsLatestEndOfTrack();
    void smpteDivision_data();
    void smpteDivision();
    void formatTwoPlaysTracksInSequence();
    void equalTimesKeepTrackThenFileOrder();
    void mergeOrderAnyTrackCount_data();
    void mergeOrderAnyTrackCount();
    void runningStatusAcrossMetaAndSysex();
    void channelMessagesAndSysexPayloads();
    void metaEventsAreConsumed();
    void rmidWrapperReadsLikeThePlainFile();
    void unknownChunksAndLongHeaderAreSkipped();
    void realSongsArePlayable();
    void portPrefixes_data();
    void portPrefixes();
};

void TestSong::tempoChangesGiveExactTimes()
{
    SmfWriter smf(0, 480);
    smf.addTrack()
        .noteOn(0, 0, 60, 100) // 0
        .tempo(480, 250000) // 480 ticks at 120 bpm = 0.5 s
        .noteOn(480, 0, 62, 100) // + 480 at 240 bpm = 0.75 s
        .noteOn(40, 0, 64, 100) // + 40 * 250000 / 480 = 20833.33 us
        .tempo(0, 1000000)
        .noteOn(1, 0, 65, 100) // + 1 tick at 60 bpm = 2083.33 us
        .endOfTrack(479); // + 479 * 1e6 / 480
    const Song song = parsed(smf.bytes());
    const std::vector<int64_t> expected { 0, 750000, 770833, 772916 };
    QCOMPARE(noteOnTimes(song), expected);
    // 770833.33 + 1e6 exactly: the fractions of the segments add up before flooring.
    QCOMPARE(song.lengthUs(), int64_t(1770833));
}

void TestSong::tempoInAnyTrackAppliesToAll()
{
    SmfWriter smf(1, 96);
    smf.addTrack().noteOn(0, 0, 60, 90).noteOn(192, 0, 62, 90).noteOn(192, 0, 64, 90);
    smf.addTrack().tempo(96, 1000000).tempo(192, 250000); // the tempo lives in track 2
    const Song song = parsed(smf.bytes());
    // 96 ticks at 0.5 s + 96 at 1 s = 1.5 s; then 96 at 1 s + 96 at 0.25 s.
    const std::vector<int64_t> expected { 0, 1500000, 2750000 };
    QCOMPARE(noteOnTimes(song), expected);
}

void TestSong::longPieceWithManyTempoChangesHasNoDrift()
{
    // About 40 minutes, 600 tempo changes, and every segment ends on a fraction of a
    // microsecond: rounding per segment would be off by hundreds of microseconds.
    constexpr int kSegments = 600;
    constexpr int kDivision = 960;
    SmfWriter smf(1, kDivision);
    SmfTrack& conductor = smf.addTrack();
    SmfTrack& notes = smf.addTrack();
    Exact exact = 0; // microseconds * kDivision
    int64_t roundedEachSegment = 0;
    std::vector<int64_t> expectedOnsets;
    uint32_t previousLength = 0;
    for (int i = 0; i < kSegments; ++i) {
        const uint32_t length = 6000 + uint32_t(i * 37 % 2000) + 1;
        const uint32_t tempo = 400001 + uint32_t(i * 7919 % 300000);
        conductor.tempo(previousLength, tempo);
        // A note a third of the way into each segment.
        const uint32_t offset = length / 3;
        notes.noteOn(i == 0 ? offset : previousLength - previousLength / 3 + offset, 0, 60, 90);
        expectedOnsets.push_back(int64_t((exact + Exact(offset) * tempo) / kDivision));
        exact += Exact(length) * tempo;
        roundedEachSegment += int64_t(length) * tempo / kDivision;
        previousLength = length;
    }
    conductor.endOfTrack(previousLength);
    const Song song = parsed(smf.bytes());

    const int64_t expectedLength = int64_t(exact / kDivision);
    QVERIFY(expectedLength > 38LL * 60 * 1000000 && expectedLength < 42LL * 60 * 1000000);
    QVERIFY(expectedLength - roundedEachSegment > 100); // the test can tell drift apart
    QCOMPARE(song.lengthUs(), expectedLength);
    QCOMPARE(noteOnTimes(song), expectedOnsets);
}

void TestSong::lengthIsLatestEndOfTrack()
{
    SmfWriter smf(1, 480);
    smf.addTrack().noteOn(0, 0, 60, 90).noteOff(480, 0, 60).endOfTrack(480); // 1 s
    smf.addTrack().noteOn(0, 1, 64, 90).noteOff(240, 1, 64).endOfTrack(3480); // 3.875 s
    smf.addTrack().endOfTrack(960); // 1 s
    const Song song = parsed(smf.bytes());
    QCOMPARE(song.lengthUs(), int64_t(3875000)); // the trailing silence counts
    QCOMPARE(song.trackCount(), 3);
    QCOMPARE(song.events().back().timeUs, int64_t(500000));
}

void TestSong::smpteDivision_data()
{
    QTest::addColumn<int>("fps");
    QTest::addColumn<int>("ticksPerFrame");
    QTest::addColumn<uint32_t>("ticks");
    QTest::addColumn<qint64>("expectedUs");
    QTest::newRow("24 fps, 4 per frame: 96 ticks = 1 s") << 24 << 4 << 96u << qint64(1000000);
    QTest::newRow("25 fps, 40 per frame: ms ticks") << 25 << 40 << 1234u << qint64(1234000);
    QTest::newRow("29.97 fps, 100 per frame") << 29 << 100 << 2997u << qint64(999999);
    QTest::newRow("29.97 fps, one hour of frames") << 29 << 1 << 107892u << qint64(3599996400);
    QTest::newRow("30 fps, 80 per frame, a third") << 30 << 80 << 1u << qint64(416);
}

void TestSong::smpteDivision()
{
    QFETCH(int, fps);
    QFETCH(int, ticksPerFrame);
    QFETCH(uint32_t, ticks);
    QFETCH(qint64, expectedUs);
    SmfWriter smf = SmfWriter::smpte(0, fps, ticksPerFrame);
    // SMPTE time is absolute: a tempo event must change nothing.
    smf.addTrack().tempo(0, 250000).noteOn(ticks, 0, 60, 90).endOfTrack(ticks);
    const Song song = parsed(smf.bytes());
    QCOMPARE(noteOnTimes(song), std::vector<int64_t> { expectedUs });
    QCOMPARE(song.lengthUs(),
        int64_t(Exact(2 * ticks) * 1000000 * (fps == 29 ? 1001 : 1)
            / (uint64_t(fps == 29 ? 30000 : fps) * ticksPerFrame)));
}

void TestSong::formatTwoPlaysTracksInSequence()
{
    SmfWriter smf(2, 480);
    smf.addTrack().noteOn(0, 0, 60, 90).noteOff(480, 0, 60).endOfTrack(480); // 0..1 s
    smf.addTrack().tempo(0, 1000000).noteOn(0, 1, 62, 90).noteOff(480, 1, 62); // 1..2 s
    smf.addTrack().noteOn(240, 2, 64, 90).endOfTrack(240); // 2..3 s
    const Song song = parsed(smf.bytes());
    QCOMPARE(song.format(), 2);
    const std::vector<int64_t> expected { 0, 1000000, 2500000 };
    QCOMPARE(noteOnTimes(song), expected);
    QCOMPARE(song.lengthUs(), int64_t(3000000));
}

void TestSong::equalTimesKeepTrackThenFileOrder()
{
    SmfWriter smf(1, 480);
    smf.addTrack().controller(0, 0, 7, 1).controller(0, 0, 7, 2).controller(240, 0, 7, 5);
    smf.addTrack().controller(0, 0, 7, 3).controller(240, 0, 7, 6);
    smf.addTrack().controller(0, 0, 7, 4).controller(120, 0, 7, 9).controller(120, 0, 7, 7);
    const Song song = parsed(smf.bytes());
    std::vector<int> order;
    for (const MidiEvent& e : song.events())
        order.push_back(e.data2);
    QCOMPARE(order, (std::vector<int> { 1, 2, 3, 4, 9, 5, 6, 7 }));
}

void TestSong::mergeOrderAnyTrackCount_data()
{
    QTest::addColumn<int>("tracks");
    QTest::addColumn<int>("spread"); // ticks between events vary in 0..spread-1
    for (int tracks : { 1, 2, 7, 24, 25, 64 })
        for (int spread : { 1, 3, 200 })
            QTest::addRow("%d tracks, deltas below %d", tracks, spread) << tracks << spread;
}

void TestSong::mergeOrderAnyTrackCount()
{
    QFETCH(int, tracks);
    QFETCH(int, spread);
    struct Expected {
        int64_t tick;
        int track;
        int serial;
    };
    std::vector<Expected> expected;
    SmfWriter smf(1, 100);
    uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7FFF; };
    int serial = 0;
    for (int t = 0; t < tracks; ++t) {
        SmfTrack& track = smf.addTrack();
        int64_t tick = 0;
        for (int i = 0, n = 1 + int(next() % 60); i < n; ++i) {
            const uint32_t delta = next() % uint32_t(spread);
            tick += delta;
            // The serial number rides in two data bytes so the order can be read back.
            track.controller(delta, t % 16, serial >> 7 & 0x7F, serial & 0x7F);
            expected.push_back({ tick, t, serial++ });
        }
    }
    std::stable_sort(expected.begin(), expected.end(),
        [](const Expected& a, const Expected& b) { return a.tick < b.tick; });
    const Song song = parsed(smf.bytes());
    QCOMPARE(song.events().size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const MidiEvent& e = song.events()[i];
        QCOMPARE(int(e.data1) << 7 | e.data2, expected[i].serial);
        QCOMPARE(e.timeUs, expected[i].tick * 5000); // 120 bpm, 100 ticks per quarter
    }
}

void TestSong::runningStatusAcrossMetaAndSysex()
{
    SmfWriter smf(0, 480);
    smf.addTrack()
        .runningStatus()
        .runningAcrossMeta()
        .noteOn(0, 3, 60, 100)
        .noteOn(10, 3, 64, 101) // status omitted
        .text(0, 0x01, "verse")
        .noteOn(10, 3, 67, 102) // still omitted after a meta event
        .sysex(0, { 0x41, 0x10, 0x42, 0x12, 0xF7 })
        .noteOn(10, 3, 72, 103) // and after a SysEx event
        .programChange(0, 3, 5)
        .programChange(10, 3, 6);
    const Bytes bytes = smf.bytes();
    QCOMPARE(std::count(bytes.begin(), bytes.end(), uint8_t(0x93)), 1);
    const Song song = parsed(bytes);
    std::vector<std::vector<int>> seen;
    for (const MidiEvent& e : song.events())
        seen.push_back({ e.status, e.data1, e.data2 });
    const std::vector<std::vector<int>> expected { { 0x93, 60, 100 }, { 0x93, 64, 101 },
        { 0x93, 67, 102 }, { 0xF0, 0, 0 }, { 0x93, 72, 103 }, { 0xC3, 5, 0 }, { 0xC3, 6, 0 } };
    QCOMPARE(seen, expected);
}

void TestSong::channelMessagesAndSysexPayloads()
{
    Bytes longSysex { 0x43, 0x10, 0x4C };
    for (int i = 0; i < 200; ++i)
        longSysex.push_back(uint8_t(i & 0x7F));
    longSysex.push_back(0xF7);
    SmfWriter smf(0, 480);
    smf.addTrack()
        .sysex(0, { 0x7E, 0x7F, 0x09, 0x01, 0xF7 })
        .pitchBend(0, 1, 0x2ABC)
        .channelPressure(0, 2, 77)
        .polyPressure(0, 4, 60, 33)
        .sysex(0, longSysex) // its length needs two bytes
        .sysexEscape(0, { 0xF8 }); // F7: sent as is
    const Song song = parsed(smf.bytes());
    const auto& ev = song.events();
    QCOMPARE(ev.size(), size_t(6));
    auto payload = [&](const MidiEvent& e) {
        return Bytes(song.sysexData().begin() + e.sysexOffset,
            song.sysexData().begin() + e.sysexOffset + e.sysexLength);
    };
    QCOMPARE(ev[0].status, uint8_t(0xF0));
    QCOMPARE(payload(ev[0]), (Bytes { 0x7E, 0x7F, 0x09, 0x01, 0xF7 }));
    QCOMPARE(ev[1].status, uint8_t(0xE1));
    QCOMPARE(int(ev[1].data1 | ev[1].data2 << 7), 0x2ABC);
    QCOMPARE(ev[2].status, uint8_t(0xD2));
    QCOMPARE(ev[2].data1, uint8_t(77));
    QCOMPARE(ev[2].data2, uint8_t(0));
    QCOMPARE(ev[3].status, uint8_t(0xA4));
    QCOMPARE(payload(ev[4]), longSysex);
    QCOMPARE(ev[5].status, uint8_t(0xF7));
    QCOMPARE(payload(ev[5]), Bytes { 0xF8 });
}

void TestSong::metaEventsAreConsumed()
{
    SmfWriter smf(0, 480);
    SmfTrack& t = smf.addTrack();
    t.trackName(0, "piano")
        .timeSignature(0, 3, 2)
        .meta(0, 0x59, { 0xFD, 0x00 })
        .meta(0, 0x7F, { 0x00, 0x00, 0x41, 0x01 })
        .meta(0, 0x20, { 0x05 })
        .meta(0, 0x54, { 96, 0, 0, 0, 0 })
        .noteOn(0, 0, 60, 90)
        .text(100, 0x05, std::string(300, 'a'))
        .noteOff(20, 0, 60);
    const Song song = parsed(smf.bytes());
    QCOMPARE(song.events().size(), size_t(2));
    QCOMPARE(song.events()[1].timeUs, int64_t(125000));
    QVERIFY(song.sysexData().empty());
}

void TestSong::rmidWrapperReadsLikeThePlainFile()
{
    SmfWriter smf(1, 480);
    smf.addTrack().tempo(0, 600000);
    smf.addTrack().programChange(0, 0, 40).noteOn(0, 0, 60, 90).noteOff(481, 0, 60); // odd size
    const Bytes plain = smf.bytes();
    QVERIFY(plain.size() % 2 == 1);
    const Song a = parsed(plain);
    const Song b = parsed(wrappedRmid(plain));
    QCOMPARE(b.events().size(), size_t(3));
    QCOMPARE(b.lengthUs(), a.lengthUs());
    QCOMPARE(b.events().back().timeUs, a.events().back().timeUs);

    // Other RIFF chunks may come before the data chunk.
    Bytes withInfo = wrappedRmid(plain);
    const Bytes info { 'L', 'I', 'S', 'T', 3, 0, 0, 0, 'a', 'b', 'c', 0 };
    withInfo.insert(withInfo.begin() + 12, info.begin(), info.end());
    QCOMPARE(parsed(withInfo).events().size(), size_t(3));
}

void TestSong::unknownChunksAndLongHeaderAreSkipped()
{
    SmfWriter smf(1, 480);
    smf.headerExtra({ 0, 0, 0, 0 });
    smf.addChunk("XFIH", { 1, 2, 3, 4, 5 });
    smf.addTrack().noteOn(0, 0, 60, 90).noteOff(480, 0, 60);
    smf.addChunk("MTrX", Bytes(20, 0x90));
    smf.addTrack().noteOn(240, 1, 61, 90);
    const Song song = parsed(smf.bytes());
    QCOMPARE(song.trackCount(), 2);
    const std::vector<int64_t> expected { 0, 250000 };
    QCOMPARE(noteOnTimes(song), expected);
}

void TestSong::realSongsArePlayable()
{
    const QDir dir("/usr/share/games/openttd/baseset/openmsx");
    const QStringList songs = dir.entryList({ "*.mid" }, QDir::Files, QDir::Name);
    if (songs.isEmpty())
        QSKIP("no openmsx songs installed");
    for (const QString& name : songs) {
        Song song;
        const ReadResult r = Song::load(dir.filePath(name).toStdString(), song);
        QVERIFY2(r.playable(), qPrintable(name + ": " + QString::fromStdString(r.message)));
        QVERIFY2(song.events().size() > 100, qPrintable(name));
        // Real songs last between ten seconds and a quarter of an hour.
        QVERIFY2(song.lengthUs() > 10000000 && song.lengthUs() < 900000000, qPrintable(name));
        QVERIFY(std::is_sorted(song.events().begin(), song.events().end(),
            [](const MidiEvent& a, const MidiEvent& b) { return a.timeUs < b.timeUs; }));
        QVERIFY(song.events().back().timeUs <= song.lengthUs());
    }
}

QTEST_APPLESS_MAIN(TestSong)
namespace {

// One track of a port test: its port prefix bytes (empty: none) and the channel it
// plays a note on; after the note an optional second prefix and a note on channel 2.
struct PortTrack {
    PortTrack(Bytes prefix, int channel, Bytes laterPrefix = {}, bool sysex = false)
        : prefix(std::move(prefix))
        , channel(channel)
        , laterPrefix(std::move(laterPrefix))
        , sysex(sysex)
    {
    }
    Bytes prefix;
    int channel = 0;
    Bytes laterPrefix;
    bool sysex = false; ///< a GS part write rather than a note
};

Bytes portFile(int format, const std::vector<PortTrack>& tracks)
{
    SmfWriter smf(format, 480);
    smf.addTrack().tempo(0, 500000).endOfTrack(10); // conductor: no port of its own
    for (const PortTrack& t : tracks) {
        SmfTrack& track = smf.addTrack();
        if (!t.prefix.empty())
            track.meta(0, 0x21, t.prefix);
        if (t.sysex)
            track.sysex(0, { 0x41, 0x10, 0x42, 0x12, 0x40, 0x11, 0x19, 0x40, 0x56, 0xF7 });
        else
            track.noteOn(0, t.channel, 60, 100);
        if (!t.laterPrefix.empty())
            track.meta(5, 0x21, t.laterPrefix).noteOn(0, 2, 62, 100);
    }
    return smf.bytes();
}

} // namespace

void TestSong::portPrefixes_data()
{
    QTest::addColumn<Bytes>("file");
    QTest::addColumn<bool>("secondPort");
    QTest::addColumn<std::vector<int>>("ports"); // of each event, in song order

    using T = std::vector<PortTrack>;
    QTest::newRow("no prefix: one port")
        << portFile(1, T { { {}, 0 }, { {}, 1 } }) << false << std::vector<int> { 0, 0 };
    QTest::newRow("ports 0 and 1: 32 parts")
        << portFile(1, T { { { 0 }, 0 }, { { 1 }, 0 } }) << true << std::vector<int> { 0, 1 };
    QTest::newRow("every track on port 1: an ordinary song")
        << portFile(1, T { { { 1 }, 0 }, { { 1 }, 3 } }) << false << std::vector<int> { 0, 0 };
    QTest::newRow("second port on a song of one track")
        << portFile(0, T { { { 1 }, 4 } }) << false << std::vector<int> { 0 };
    QTest::newRow("one track changing port midway")
        << portFile(0, T { { {}, 0, { 1 } } }) << true << std::vector<int> { 0, 1 };
    QTest::newRow("ports 2 and 3 fold onto the halves")
        << portFile(1, T { { { 2 }, 0 }, { { 3 }, 0 } }) << true << std::vector<int> { 0, 1 };
    QTest::newRow("ports counted from 1: 1 and 2 stay apart")
        << portFile(1, T { { { 1 }, 0 }, { { 2 }, 0 } }) << true << std::vector<int> { 1, 0 };
    QTest::newRow("prefix of a bad length is no prefix")
        << portFile(1, T { { {}, 0 }, { { 1, 0 }, 0 } }) << false << std::vector<int> { 0, 0 };
    QTest::newRow("SysEx on the second port")
        << portFile(1, T { { { 0 }, 0 }, { { 1 }, 0, {}, true } }) << true
        << std::vector<int> { 0, 1 };
}

void TestSong::portPrefixes()
{
    QFETCH(Bytes, file);
    QFETCH(bool, secondPort);
    QFETCH(std::vector<int>, ports);
    const Song song = parsed(file);
    QCOMPARE(song.usesSecondPort(), secondPort);
    std::vector<int> seen;
    for (const MidiEvent& e : song.events())
        seen.push_back(e.port);
    QCOMPARE(seen, ports);
}

#include "tst_song.moc"
