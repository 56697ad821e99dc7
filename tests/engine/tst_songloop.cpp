// Reading a song's loop: loopStart/loopEnd markers and texts, CC 111, neither, and the
// bad marks real files carry, each with the loop it gives or none.

#include "common/SmfWriter.h"
#include "platform/midi/file/Song.h"
#include "platform/midi/file/TempoMap.h"

#include <QTest>

#include <optional>
#include <string>
#include <vector>

using namespace sequora::midi;
using namespace sequora::test;

namespace {

constexpr uint16_t kDivision = 480;
constexpr uint32_t kTempo = 500'001; // a hair off 120 bpm: times fall between microseconds
constexpr int64_t kSongTicks = 8 * kDivision;

// One mark, in a track of its own or in a given one: a marker or text meta, or CC 111.
struct Mark {
    int track;
    int64_t tick;
    std::string text; ///< empty: CC 111
    uint8_t type = 0x06;
};
using Marks = std::vector<Mark>;
using Ticks = std::optional<std::pair<int64_t, int64_t>>;

// A conductor track (tempo), two tracks of notes, every beat a note to the end; the
// marks go into the tracks they name, at their ticks.
Bytes songWith(const Marks& marks, uint32_t tempo, int64_t lastNote = kSongTicks)
{
    SmfWriter smf(1, kDivision);
    std::vector<SmfTrack*> tracks;
    for (int i = 0; i < 3; ++i)
        tracks.push_back(&smf.addTrack());
    struct Item {
        int64_t tick;
        int kind; // 0 note on, 1 note off, 2 mark
        const Mark* mark;
    };
    std::vector<std::vector<Item>> items(3);
    for (int64_t t = 0; t + kDivision <= lastNote; t += kDivision) {
        items[1].push_back({ t, 0, nullptr });
        items[1].push_back({ t + kDivision, 1, nullptr });
    }
    for (const Mark& m : marks)
        items[std::size_t(m.track)].push_back({ m.tick, 2, &m });
    tracks[0]->tempo(0, tempo);
    for (std::size_t r = 0; r < 3; ++r) {
        std::stable_sort(items[r].begin(), items[r].end(),
            [](const Item& a, const Item& b) { return a.tick < b.tick; });
        int64_t at = 0;
        for (const Item& it : items[r]) {
            const auto delta = static_cast<uint32_t>(it.tick - at);
            at = it.tick;
            if (it.kind == 0)
                tracks[r]->noteOn(delta, 0, 60, 100);
            else if (it.kind == 1)
                tracks[r]->noteOff(delta, 0, 60);
            else if (it.mark->text.empty())
                tracks[r]->controller(delta, 3, 111, 0);
            else
                tracks[r]->text(delta, it.mark->type, it.mark->text);
        }
        tracks[r]->endOfTrack(static_cast<uint32_t>(kSongTicks - at));
    }
    return smf.bytes();
}

int64_t usOf(int64_t tick, uint32_t tempo)
{
    TempoMap map(kDivision);
    map.addTempo(0, tempo);
    return map.timeUs(tick);
}

} // namespace

Q_DECLARE_METATYPE(Marks)
Q_DECLARE_METATYPE(Ticks)

class TestSongLoop : public QObject {
    Q_OBJECT

private slots:
    void theLoopAFileMarks_data()
    {
        QTest::addColumn<Marks>("marks");
        QTest::addColumn<uint32_t>("tempo");
        QTest::addColumn<Ticks>("loop");
        const int64_t beat = kDivision;
        const Ticks none;
        auto ticks = [](int64_t a, int64_t b) { return Ticks({ a, b }); };

        QTest::newRow("no marks: none") << Marks {} << kTempo << none;
        QTest::newRow("markers") << Marks { { 0, 2 * beat, "loopStart" },
            { 0, 6 * beat, "loopEnd" } }
                                 << kTempo << ticks(2 * beat, 6 * beat);
        QTest::newRow("texts in a note track, any case and blanks")
            << Marks { { 1, 2 * beat, "Loop Start", 0x01 }, { 1, 6 * beat, "LOOPEND ", 0x01 } }
            << kTempo << ticks(2 * beat, 6 * beat);
        QTest::newRow("NUL-terminated markers")
            << Marks { { 0, beat, std::string("loopStart\0", 10) } } << kTempo
            << ticks(beat, kSongTicks);
        QTest::newRow("a lyric is no mark")
            << Marks { { 0, 2 * beat, "loopStart", 0x05 } } << kTempo << none;
        QTest::newRow("a stacked loop of another format is no mark")
            << Marks { { 0, 2 * beat, "loopStart=2" }, { 0, 6 * beat, "loopEnd=2" } } << kTempo
            << none;
        QTest::newRow("CC 111 loops to the end")
            << Marks { { 1, 2 * beat, "" } } << kTempo << ticks(2 * beat, kSongTicks);
        QTest::newRow("CC 111 many times: the first") << Marks { { 1, 3 * beat, "" },
            { 2, 2 * beat, "" }, { 1, 5 * beat, "" }, { 2, 7 * beat, "" } }
                                                      << kTempo << ticks(2 * beat, kSongTicks);
        QTest::newRow("markers before CC 111")
            << Marks { { 1, beat, "" }, { 0, 2 * beat, "loopStart" }, { 0, 6 * beat, "loopEnd" } }
            << kTempo << ticks(2 * beat, 6 * beat);
        QTest::newRow("loopStart without an end: to the song's end")
            << Marks { { 0, 2 * beat, "loopStart" } } << kTempo << ticks(2 * beat, kSongTicks);
        QTest::newRow("loopEnd without a start: from the beginning")
            << Marks { { 2, 6 * beat, "loopEnd" } } << kTempo << ticks(0, 6 * beat);
        QTest::newRow("loopEnd before its loopStart: none")
            << Marks { { 0, 2 * beat, "loopEnd" }, { 0, 6 * beat, "loopStart" } } << kTempo << none;
        QTest::newRow("a broken pair falls back to CC 111")
            << Marks { { 0, 2 * beat, "loopEnd" }, { 0, 6 * beat, "loopStart" }, { 1, beat, "" } }
            << kTempo << ticks(beat, kSongTicks);
        QTest::newRow("loopEnd before and after: the one after")
            << Marks { { 0, 2 * beat, "loopStart" }, { 1, beat, "loopEnd" },
                   { 2, 7 * beat, "loopEnd" }, { 0, 6 * beat, "loopEnd" } }
            << kTempo << ticks(2 * beat, 6 * beat);
        QTest::newRow("markers repeated in every track") << Marks { { 0, 2 * beat, "loopStart" },
            { 1, 2 * beat, "loopStart" }, { 2, 2 * beat, "loopStart" }, { 0, 6 * beat, "loopEnd" },
            { 1, 6 * beat, "loopEnd" }, { 2, 6 * beat, "loopEnd" } }
                                                         << kTempo << ticks(2 * beat, 6 * beat);
        QTest::newRow("loopStart twice: the first") << Marks { { 0, 3 * beat, "loopStart" },
            { 2, 2 * beat, "loopStart" }, { 1, 6 * beat, "loopEnd" } }
                                                    << kTempo << ticks(2 * beat, 6 * beat);
        QTest::newRow("start and end at one tick: none")
            << Marks { { 0, 2 * beat, "loopStart" }, { 1, 2 * beat, "loopEnd" } } << kTempo << none;
        // At 60 bpm a beat lasts a second: 0.6 s of loop is not a beat.
        QTest::newRow("shorter than a beat: none")
            << Marks { { 0, 2 * beat, "loopStart" }, { 0, 2 * beat + beat * 6 / 10, "loopEnd" } }
            << uint32_t(1'000'000) << none;
        QTest::newRow("a whole beat at 60 bpm")
            << Marks { { 0, 2 * beat, "loopStart" }, { 0, 3 * beat, "loopEnd" } }
            << uint32_t(1'000'000) << ticks(2 * beat, 3 * beat);
        // At 240 bpm, one and a half beats last 0.375 s.
        QTest::newRow("shorter than half a second: none")
            << Marks { { 0, 2 * beat, "loopStart" }, { 0, 2 * beat + beat * 3 / 2, "loopEnd" } }
            << uint32_t(250'000) << none;
        QTest::newRow("CC 111 at the very end: none")
            << Marks { { 1, kSongTicks, "" } } << kTempo << none;
    }

    void theLoopAFileMarks()
    {
        QFETCH(Marks, marks);
        QFETCH(uint32_t, tempo);
        QFETCH(Ticks, loop);
        Song song;
        QVERIFY(Song::parse(songWith(marks, tempo), song).playable());
        if (!loop) {
            QCOMPARE(song.loop(), std::optional<SongLoop>());
            return;
        }
        QVERIFY(song.loop().has_value());
        QCOMPARE(song.loop()->startUs, usOf(loop->first, tempo));
        QCOMPARE(song.loop()->endUs, usOf(loop->second, tempo));
        // The events at the loop start carry its very time, so they belong to the loop.
        const bool found = std::any_of(song.events().begin(), song.events().end(),
            [&](const MidiEvent& e) { return e.timeUs == song.loop()->startUs; });
        QVERIFY(found || loop->first % kDivision != 0);
    }

    void aLoopEndPastTheLastNoteKeepsTheRests()
    {
        // The notes stop after four beats; the loop runs on through four beats of rest.
        Song song;
        QVERIFY(
            Song::parse(songWith({ { 0, kDivision, "loopStart" }, { 0, kSongTicks, "loopEnd" } },
                            kTempo, 4 * kDivision),
                song)
                .playable());
        QVERIFY(song.loop().has_value());
        QCOMPARE(song.loop()->endUs, song.lengthUs());
        QVERIFY(song.events().back().timeUs < song.loop()->endUs);
    }

    void smpteTimeHasNoBeatButHalfASecond()
    {
        // 25 frames of 40 ticks: a millisecond a tick.
        for (const auto& [endTick, loops] : { std::pair { 600, true }, std::pair { 400, false } }) {
            SmfWriter smf = SmfWriter::smpte(0, 25, 40);
            smf.addTrack()
                .text(0, 0x06, "loopStart")
                .noteOn(0, 0, 60, 100)
                .noteOff(endTick, 0, 60)
                .text(0, 0x06, "loopEnd")
                .endOfTrack(1000);
            Song song;
            QVERIFY(Song::parse(smf.bytes(), song).playable());
            QCOMPARE(song.loop().has_value(), loops);
            if (loops)
                QCOMPARE(song.loop()->endUs, int64_t(endTick) * 1000);
        }
    }
};

QTEST_GUILESS_MAIN(TestSongLoop)
#include "tst_songloop.moc"
