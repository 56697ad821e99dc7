// A song with a loop, played unrolled through a recording output: the timeline's length
// and mapping for each setting, every note of every pass once and at its frame, what the
// jump back sends, the fade's messages, and seeks into later passes that chase what
// playing there has set.

#include "engine/RecordingOutput.h"
#include "engine/SongBuilder.h"

#include "platform/midi/transport/LoopTimeline.h"
#include "platform/midi/transport/Sequencer.h"

#include <QtTest>

#include <vector>

using namespace sequora::midi;
using sequora::test::RecordingOutput;
using sequora::test::SongBuilder;
using Kind = OutMessage::Kind;
using Record = RecordingOutput::Record;

namespace {

constexpr int kRate = 44100;
constexpr int64_t kSecond = 1'000'000;
constexpr int64_t kMs = 1000;
constexpr int kMelody = 0;
constexpr int kPad = 1;

int64_t frameAt(int64_t us)
{
    return (us * kRate + kSecond / 2) / kSecond;
}

// Ten seconds, the loop from 2 s to 6 s. A melody note every half second, each its own
// key; a pad held from the intro into the loop, another across the loop's end; a program
// set at the loop start and changed inside the loop; and an outro after the loop.
Song loopedSong()
{
    SongBuilder b;
    b.program(0, kMelody, 10).program(2 * kSecond, kMelody, 11).program(4 * kSecond, kMelody, 12);
    for (int i = 0; i < 20; ++i)
        b.note(i * kSecond / 2, kSecond / 4, kMelody, 40 + i);
    b.note(1'500'000, 5'500'000, kPad, 90); // 1.5 s to 7 s: sounding at the loop start
    b.note(5'800'000, 500'000, kPad, 100); // crosses the loop's end
    Song song = b.build(10 * kSecond);
    song.setLoop(SongLoop { 2 * kSecond, 6 * kSecond });
    return song;
}

struct Onset {
    int64_t frame;
    uint8_t channel;
    uint8_t key;
    bool operator==(const Onset&) const = default;
};

std::vector<Onset> onsets(const std::vector<Record>& records)
{
    std::vector<Onset> out;
    for (const Record& r : records) {
        if (r.kind == Kind::Short && commandOf(r.status) == kNoteOn && r.data2 > 0)
            out.push_back({ r.frame, channelOf(r.status), r.data1 });
    }
    return out;
}

} // namespace

using Places = QList<QPair<int, int>>;
Q_DECLARE_METATYPE(LoopPlayback)

class TestLoopPlayback : public QObject {
    Q_OBJECT

private:
    RecordingOutput* m_out = nullptr;
    std::unique_ptr<Sequencer> m_seq;

    std::vector<Record> recordsFrom(std::size_t first) const
    {
        return { m_out->records.begin() + std::ptrdiff_t(first), m_out->records.end() };
    }

private slots:
    void init()
    {
        auto out = std::make_unique<RecordingOutput>(kRate);
        m_out = out.get();
        m_seq = std::make_unique<Sequencer>(std::move(out));
    }
    void cleanup() { m_seq.reset(); }

    void theTimelineOfEachSetting_data()
    {
        QTest::addColumn<int64_t>("loopStart");
        QTest::addColumn<int64_t>("loopEnd");
        QTest::addColumn<LoopPlayback>("playback");
        QTest::addColumn<int64_t>("length");
        QTest::addColumn<int64_t>("fadeStart"); // -1: no fade
        // Played times and the song times they play, in ms.
        QTest::addColumn<Places>("places");
        QTest::newRow("no loop") << int64_t(-1) << int64_t(-1) << LoopPlayback {} << int64_t(10000)
                                 << int64_t(-1)
                                 << Places { { 0, 0 }, { 7000, 7000 }, { 10000, 10000 } };
        QTest::newRow("one pass: the file as written")
            << int64_t(2000) << int64_t(6000) << LoopPlayback { 1, 8000 } << int64_t(10000)
            << int64_t(-1) << Places { { 5999, 5999 }, { 6000, 6000 }, { 9000, 9000 } };
        QTest::newRow("twice, then an 8 s fade")
            << int64_t(2000) << int64_t(6000) << LoopPlayback {} << int64_t(18000) << int64_t(10000)
            << Places { { 1999, 1999 }, { 5999, 5999 }, { 6000, 2000 }, { 9999, 5999 },
                   { 10000, 2000 }, { 14000, 2000 }, { 17500, 5500 }, { 18000, 6000 } };
        QTest::newRow("twice without a fade: the file's ending follows")
            << int64_t(2000) << int64_t(6000) << LoopPlayback { 2, 0 } << int64_t(14000)
            << int64_t(-1)
            << Places { { 6000, 2000 }, { 9999, 5999 }, { 10000, 6000 }, { 14000, 10000 } };
        QTest::newRow("three times, a 3 s fade")
            << int64_t(2000) << int64_t(6000) << LoopPlayback { 3, 3000 } << int64_t(17000)
            << int64_t(14000) << Places { { 10000, 2000 }, { 14000, 2000 }, { 16999, 4999 } };
        QTest::newRow("a loop to the song's end")
            << int64_t(2000) << int64_t(10000) << LoopPlayback {} << int64_t(26000)
            << int64_t(18000)
            << Places { { 9999, 9999 }, { 10000, 2000 }, { 18000, 2000 }, { 25000, 9000 } };
        QTest::newRow("a fade longer than the loop loops on")
            << int64_t(2000) << int64_t(3000) << LoopPlayback { 2, 3500 } << int64_t(7500)
            << int64_t(4000)
            << Places { { 3000, 2000 }, { 4000, 2000 }, { 5000, 2000 }, { 6999, 2999 },
                   { 7500, 2500 } };
        QTest::newRow("out of range: nine passes, a 20 s fade at most")
            << int64_t(2000) << int64_t(6000) << LoopPlayback { 50, 99000 }
            << int64_t(6000 + 8 * 4000 + 20000) << int64_t(6000 + 8 * 4000)
            << Places { { 37999, 5999 } };
        QTest::newRow("out of range: no passes is one")
            << int64_t(2000) << int64_t(6000) << LoopPlayback { 0, -5 } << int64_t(10000)
            << int64_t(-1) << Places { { 8000, 8000 } };
    }

    void theTimelineOfEachSetting()
    {
        QFETCH(int64_t, loopStart);
        QFETCH(int64_t, loopEnd);
        QFETCH(LoopPlayback, playback);
        QFETCH(int64_t, length);
        QFETCH(int64_t, fadeStart);
        QFETCH(Places, places);
        Song song = SongBuilder().note(0, kSecond, 0, 60).build(10 * kSecond);
        if (loopStart >= 0)
            song.setLoop(SongLoop { loopStart * kMs, loopEnd * kMs });
        const LoopTimeline timeline(song, playback);
        QCOMPARE(timeline.lengthUs(), length * kMs);
        QCOMPARE(timeline.fades(), fadeStart >= 0);
        if (fadeStart >= 0)
            QCOMPARE(timeline.fadeStartUs(), fadeStart * kMs);
        for (const auto& [played, songMs] : places)
            QCOMPARE(timeline.songUs(played * kMs), songMs * kMs);

        // The device reports the same length.
        m_seq->setLoopPlayback(playback);
        m_seq->open(song);
        QCOMPARE(m_seq->lengthMs(), length);
    }

    void aNewSettingWaitsForTheNextOpen()
    {
        // The settings window may change the passes while a song plays: the song keeps
        // the length it was opened with, the next one takes the new setting.
        m_seq->setLoopPlayback(LoopPlayback {});
        m_seq->open(loopedSong());
        m_seq->seek(12000);
        m_seq->setLoopPlayback(LoopPlayback { 3, 2000 });
        QCOMPARE(m_seq->loopPlayback(), (LoopPlayback { 3, 2000 }));
        QCOMPARE(m_seq->lengthMs(), 18000);
        QCOMPARE(m_seq->positionMs(), 12000);
        m_seq->open(loopedSong());
        QCOMPARE(m_seq->lengthMs(), 6000 + 2 * 4000 + 2000);
        m_seq->setLoopPlayback(LoopPlayback { 1, 2000 });
        m_seq->open(loopedSong());
        QCOMPARE(m_seq->lengthMs(), 10000);
    }

    void everyPassPlaysEveryNoteOnceAtItsTime()
    {
        m_seq->open(loopedSong());
        QCOMPARE(m_seq->lengthMs(), 18000);
        m_seq->play();
        m_out->runFrames(frameAt(19 * kSecond), 1000); // blocks off the grid on purpose
        QCOMPARE(m_seq->state(), TransportState::Stopped);
        QCOMPARE(m_seq->positionMs(), 18000);

        // Intro and first pass as written, then the loop again from 6 s and from 10 s,
        // the fading pass cut at 18 s (its last note, at 17.5 s, still goes out).
        std::vector<Onset> want;
        auto melody = [&](int64_t fromUs, int64_t toUs, int64_t offsetUs) {
            for (int i = 0; i < 20; ++i) {
                const int64_t t = i * kSecond / 2;
                if (t >= fromUs && t < toUs && t + offsetUs <= 18 * kSecond)
                    want.push_back({ frameAt(t + offsetUs), kMelody, uint8_t(40 + i) });
            }
        };
        melody(0, 6 * kSecond, 0);
        for (int pass = 1; pass <= 3; ++pass)
            melody(2 * kSecond, 6 * kSecond, pass * 4 * kSecond);
        std::vector<Onset> got;
        for (const Onset& o : onsets(m_out->records)) {
            if (o.channel == kMelody)
                got.push_back(o);
        }
        QCOMPARE(got.size(), want.size());
        QVERIFY(got == want);

        // The pad held from the intro sounds once more after each jump, struck again
        // where the jump is; the one across the loop's end starts in each pass.
        std::vector<Onset> pads;
        for (const Onset& o : onsets(m_out->records)) {
            if (o.channel == kPad)
                pads.push_back(o);
        }
        const std::vector<Onset> wantPads { { frameAt(1'500'000), kPad, 90 },
            { frameAt(5'800'000), kPad, 100 }, { frameAt(6 * kSecond), kPad, 90 },
            { frameAt(9'800'000), kPad, 100 }, { frameAt(10 * kSecond), kPad, 90 },
            { frameAt(13'800'000), kPad, 100 }, { frameAt(14 * kSecond), kPad, 90 },
            { frameAt(17'800'000), kPad, 100 } };
        QVERIFY(pads == wantPads);
    }

    void theJumpReleasesRestoresAndStrikesAgain()
    {
        m_seq->open(loopedSong());
        m_seq->play();
        m_out->runFrames(frameAt(7 * kSecond));
        std::vector<Record> atJump;
        for (const Record& r : m_out->records) {
            if (r.frame == frameAt(6 * kSecond))
                atJump.push_back(r);
        }
        // Note-offs for what sounds (the two pads; the melody note of 5.5 s ends at
        // 5.75 s), then the restore, the program before the loop start and the pad struck
        // again; then the loop's own first events. No silence, which would cut the releases.
        QVERIFY(atJump.size() >= 5);
        auto is = [](const Record& r, uint8_t status, uint8_t d1) {
            return r.kind == Kind::Short && r.status == status && r.data1 == d1;
        };
        QVERIFY(is(atJump[0], kNoteOff | kPad, 90));
        QVERIFY(is(atJump[1], kNoteOff | kPad, 100));
        QCOMPARE(atJump[2].kind, Kind::Restore);
        QCOMPARE(atJump[2].data1, uint8_t(SystemMode::None));
        const auto at = [&](auto pred) {
            return std::find_if(atJump.begin(), atJump.end(), pred) - atJump.begin();
        };
        const auto chased
            = at([&](const Record& r) { return is(r, kProgramChange | kMelody, 10); });
        const auto pad = at([&](const Record& r) { return is(r, kNoteOn | kPad, 90); });
        const auto program
            = at([&](const Record& r) { return is(r, kProgramChange | kMelody, 11); });
        const auto melody = at([&](const Record& r) { return is(r, kNoteOn | kMelody, 44); });
        QVERIFY(chased > 2 && pad > chased && program > pad && melody > program);
        QCOMPARE(melody, std::ptrdiff_t(atJump.size()) - 1);
        QCOMPARE(m_out->count(Kind::Silence), 1); // the open's, and no other
        QCOMPARE(m_out->count(Kind::Fade), 0);
    }

    void theFadeStartsOnTimeAndIsTakenUpAfterASeek()
    {
        m_seq->open(loopedSong());
        m_seq->play();
        m_out->runFrames(frameAt(11 * kSecond));
        const auto fades = m_out->only(Kind::Fade);
        QCOMPARE(fades.size(), std::size_t(1));
        QCOMPARE(fades[0].frame, frameAt(10 * kSecond));
        QCOMPARE(fades[0].fadeAt, 0u);
        QCOMPARE(int64_t(fades[0].fadeLength), frameAt(8 * kSecond));

        // Stopped in the fade and played on, or sought into it: the level where it is.
        for (int64_t ms : { -1, 15000, 10000 }) {
            m_out->records.clear();
            if (ms < 0)
                m_seq->stop();
            else
                m_seq->seek(ms);
            const int64_t from = ms < 0 ? m_seq->positionMs() : ms;
            m_seq->play();
            m_out->run(1024);
            const auto again = m_out->only(Kind::Fade);
            QCOMPARE(again.size(), std::size_t(1));
            QVERIFY(std::abs(int64_t(again[0].fadeAt) - frameAt((from - 10000) * kMs)) <= 1);
            QCOMPARE(int64_t(again[0].fadeLength), frameAt(8 * kSecond));
        }
    }

    void aSeekIntoALaterPassChasesAsTheFirst_data()
    {
        QTest::addColumn<int>("playedMs");
        QTest::addColumn<int>("songMs");
        QTest::newRow("second pass, after the program change") << 8200 << 4200;
        QTest::newRow("second pass, before it") << 6300 << 2300;
        QTest::newRow("the jump's very instant") << 6000 << 2000;
        QTest::newRow("the fading pass") << 15300 << 3300;
    }

    void aSeekIntoALaterPassChasesAsTheFirst()
    {
        QFETCH(int, playedMs);
        QFETCH(int, songMs);
        // What a seek sends, and what plays the next 1.5 s, as in the song played once.
        auto sent = [&](const LoopPlayback& playback, int ms) {
            m_seq->setLoopPlayback(playback);
            m_seq->open(loopedSong());
            m_out->run(1024);
            const std::size_t first = m_out->records.size();
            const int64_t start = m_out->framesRun();
            m_seq->seek(ms);
            m_seq->play();
            m_out->runFrames(frameAt(1'500'000));
            std::vector<Record> out;
            for (Record r : recordsFrom(first)) {
                if (r.kind == Kind::Fade)
                    continue;
                r.frame -= start;
                out.push_back(r);
            }
            return out;
        };
        const std::vector<Record> looped = sent(LoopPlayback {}, playedMs);
        QCOMPARE(m_seq->positionMs(), int64_t(playedMs + 1500));
        const std::vector<Record> once = sent(LoopPlayback { 1, 0 }, songMs);
        QCOMPARE(looped.size(), once.size());
        for (std::size_t i = 0; i < looped.size(); ++i) {
            QCOMPARE(looped[i].frame, once[i].frame);
            QCOMPARE(looped[i].kind, once[i].kind);
            QCOMPARE(looped[i].status, once[i].status);
            QCOMPARE(looped[i].data1, once[i].data1);
        }
    }

    void aResetAtTheLoopStartIsNotSentAgain()
    {
        // Songs looping from their very start begin with a reset, which would mute a
        // module at every pass: the jump restores to its mode instead.
        const std::vector<uint8_t> gsReset { 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41,
            0xF7 };
        Song song = SongBuilder()
                        .sysex(0, gsReset)
                        .program(0, 0, 20)
                        .note(0, kSecond, 0, 60)
                        .build(2 * kSecond);
        song.setLoop(SongLoop { 0, 2 * kSecond });
        m_seq->open(std::move(song));
        m_seq->play();
        m_out->runFrames(frameAt(5 * kSecond));
        QCOMPARE(m_out->count(Kind::SysEx), 1);
        const auto restores = m_out->only(Kind::Restore);
        QCOMPARE(restores.size(), std::size_t(2));
        QCOMPARE(restores[0].data1, uint8_t(SystemMode::Gs));
        QCOMPARE(onsets(m_out->records).size(), std::size_t(3));
    }

    void withoutAFadeTheEndingFollowsTheLastPass()
    {
        m_seq->setLoopPlayback({ 2, 0 });
        m_seq->open(loopedSong());
        m_seq->play();
        m_out->runFrames(frameAt(15 * kSecond));
        QCOMPARE(m_seq->positionMs(), 14000);
        QCOMPARE(m_out->count(Kind::Fade), 0);
        QCOMPARE(m_out->count(Kind::Restore), 1);
        // The last melody note (9.5 s) is heard at 13.5 s, after the second pass.
        const auto all = onsets(m_out->records);
        QCOMPARE(all.back().key, uint8_t(59));
        QCOMPARE(all.back().frame, frameAt(13'500'000));
    }
};

QTEST_GUILESS_MAIN(TestLoopPlayback)
#include "tst_loopplayback.moc"
