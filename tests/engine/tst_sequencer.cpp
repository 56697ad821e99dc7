// The transport, driven through a recording output whose clock the test turns by hand:
// states and positions, where each message lands, and the state chased on a seek.

#include "engine/RecordingOutput.h"
#include "engine/SongBuilder.h"

#include "platform/midi/transport/Sequencer.h"

#include <QtTest>

using namespace sequora::midi;
using sequora::test::RecordingOutput;
using sequora::test::SongBuilder;
using Kind = OutMessage::Kind;

namespace {

constexpr int kRate = 44100;
constexpr int64_t kSecond = 1'000'000;

int64_t frameAt(int64_t us) { return (us * kRate + kSecond / 2) / kSecond; }

// Ten seconds: a note on channel 0 every half second, a drum hit every second.
Song metronome()
{
    SongBuilder b;
    for (int i = 0; i < 20; ++i)
        b.note(i * kSecond / 2, kSecond / 4, 0, 60 + i);
    for (int i = 0; i < 10; ++i)
        b.note(i * kSecond, kSecond / 10, 9, 37);
    return b.build(10 * kSecond);
}

int noteOns(const std::vector<RecordingOutput::Record>& records)
{
    return static_cast<int>(std::count_if(records.begin(), records.end(), [](const auto& r) {
        return r.kind == Kind::Short && commandOf(r.status) == kNoteOn && r.data2 > 0;
    }));
}

} // namespace

class TestSequencer : public QObject {
    Q_OBJECT

private:
    RecordingOutput* m_out = nullptr;
    std::unique_ptr<Sequencer> m_seq;

    // Runs one block and returns what it dispatched.
    std::vector<RecordingOutput::Record> nextBlock(uint32_t frames = 1024)
    {
        const std::size_t before = m_out->records.size();
        m_out->run(frames);
        return {m_out->records.begin() + std::ptrdiff_t(before), m_out->records.end()};
    }

private slots:
    void init()
    {
        auto out = std::make_unique<RecordingOutput>(kRate);
        m_out = out.get();
        m_seq = std::make_unique<Sequencer>(std::move(out));
    }
    void cleanup() { m_seq.reset(); }

    void closedUntilOpened()
    {
        QCOMPARE(m_seq->state(), TransportState::Closed);
        QVERIFY(!m_seq->isOpen());
        m_seq->play();
        m_seq->seek(500);
        QCOMPARE(m_seq->state(), TransportState::Closed);
        QCOMPARE(m_seq->positionMs(), 0);
        QCOMPARE(m_seq->lengthMs(), 0);
        m_out->runMs(100);
        QCOMPARE(noteOns(m_out->records), 0);
    }

    void openLeavesStoppedAtZeroAndResetsTheSynth()
    {
        m_seq->open(metronome());
        QVERIFY(m_seq->isOpen());
        QCOMPARE(m_seq->state(), TransportState::Stopped);
        QCOMPARE(m_seq->positionMs(), 0);
        QCOMPARE(m_seq->lengthMs(), 10000);
        const auto block = nextBlock();
        QCOMPARE(block.size(), std::size_t(2));
        QCOMPARE(block[0].kind, Kind::Silence);
        QCOMPARE(block[1].kind, Kind::Reset);
        m_out->runMs(1000);
        QCOMPARE(m_seq->positionMs(), 0); // stopped: the clock runs, the song does not
        QCOMPARE(noteOns(m_out->records), 0);
    }

    void positionFollowsTheOutputClock()
    {
        m_seq->open(metronome());
        m_seq->play();
        QCOMPARE(m_seq->state(), TransportState::Playing);
        m_out->runFrames(kRate, 1000); // blocks off the audio grid on purpose
        QCOMPARE(m_seq->positionMs(), 1000);
        m_out->runFrames(kRate / 2, 1000);
        QCOMPARE(m_seq->positionMs(), 1500);
        // Notes at 0, 0.5, 1.0 s and drums at 0 and 1 s, each at its exact frame.
        const auto shorts = m_out->shorts();
        std::vector<int64_t> onsets;
        for (const auto& r : shorts) {
            if (commandOf(r.status) == kNoteOn && channelOf(r.status) == 0)
                onsets.push_back(r.frame);
        }
        QCOMPARE(onsets, (std::vector<int64_t>{0, frameAt(kSecond / 2), frameAt(kSecond)}));
    }

    void anotherOutputKeepsThePlace_data()
    {
        QTest::addColumn<int>("was");
        QTest::addColumn<int64_t>("endMs"); // -1: to the song's end
        QTest::newRow("playing") << int(TransportState::Playing) << int64_t(-1);
        QTest::newRow("playing an intro") << int(TransportState::Playing) << int64_t(4000);
        QTest::newRow("paused") << int(TransportState::Paused) << int64_t(-1);
        QTest::newRow("stopped") << int(TransportState::Stopped) << int64_t(-1);
        QTest::newRow("closed") << int(TransportState::Closed) << int64_t(-1);
    }

    void anotherOutputKeepsThePlace()
    {
        QFETCH(int, was);
        QFETCH(int64_t, endMs);
        const auto state = TransportState(was);
        if (state != TransportState::Closed) {
            m_seq->open(metronome());
            m_seq->play(endMs);
            // 2.6 s in: the note begun at 2.5 s sounds until 2.75 s.
            m_out->runFrames(frameAt(2'600'000), 100);
            if (state == TransportState::Paused)
                m_seq->pause();
            else if (state == TransportState::Stopped)
                m_seq->stop();
        }
        const int64_t at = m_seq->positionMs();

        auto next = std::make_unique<RecordingOutput>(kRate);
        RecordingOutput* fresh = next.get();
        std::unique_ptr<Output> old = m_seq->replaceOutput(std::move(next));
        QCOMPARE(old.get(), static_cast<Output*>(m_out));
        m_out = fresh;
        QCOMPARE(m_seq->state(), state);
        QCOMPARE(m_seq->positionMs(), at);

        const auto first = nextBlock(100);
        if (state == TransportState::Closed) {
            QCOMPARE(noteOns(m_out->records), 0);
            return;
        }
        // The new synth starts from silence with the song's state at the place...
        QCOMPARE(first.front().kind, Kind::Silence);
        if (state == TransportState::Playing) {
            // ...and the note that was sounding sounds again at once.
            QVERIFY(std::any_of(first.begin(), first.end(), [](const auto& r) {
                return r.kind == Kind::Short && commandOf(r.status) == kNoteOn
                    && channelOf(r.status) == 0 && r.data1 == 65 && r.data2 > 0;
            }));
            m_out->runMs(1000);
            QVERIFY(m_seq->positionMs() > at);
            m_out->runMs(10'000);
            // To the same end as before.
            QCOMPARE(m_seq->positionMs(), endMs < 0 ? 10'000 : endMs);
        } else {
            m_out->runMs(1000);
            QCOMPARE(m_seq->positionMs(), at);
            QCOMPARE(noteOns(m_out->records), 0);
            m_seq->play();
            m_out->runMs(500);
            QVERIFY(m_seq->positionMs() > at);
        }
    }

    void pauseKeepsPositionAndPlayResumes()
    {
        m_seq->open(metronome());
        m_seq->play();
        m_out->runMs(1200);
        m_seq->pause();
        QCOMPARE(m_seq->state(), TransportState::Paused);
        const int64_t at = m_seq->positionMs();
        QVERIFY(at >= 1200 && at < 1250);
        QCOMPARE(nextBlock().front().kind, Kind::Silence);
        m_out->runMs(2000);
        QCOMPARE(m_seq->positionMs(), at);
        const int before = noteOns(m_out->records);
        QCOMPARE(before, 3 + 2); // 0, 0.5, 1.0 s and drums at 0, 1 s

        m_seq->play();
        QCOMPARE(m_seq->state(), TransportState::Playing);
        // The note struck at 1.0 s still sounds at 1.2 s: it is struck again, then past
        // 1.5 s exactly one more melody note; the drum hit is not repeated.
        m_out->runMs(400);
        QCOMPARE(noteOns(m_out->records), before + 2);
        QCOMPARE(m_seq->positionMs(), at + 400);
    }

    void stopKeepsPositionAndPlayContinues()
    {
        m_seq->open(metronome());
        m_seq->play();
        m_out->runMs(700);
        m_seq->stop();
        QCOMPARE(m_seq->state(), TransportState::Stopped);
        const int64_t at = m_seq->positionMs();
        QVERIFY(at >= 700 && at < 750);
        QCOMPARE(nextBlock().front().kind, Kind::Silence);
        m_seq->play();
        m_out->runMs(300);
        QCOMPARE(m_seq->positionMs(), at + 300);
    }

    void playWhilePlayingChangesNothing()
    {
        m_seq->open(metronome());
        m_seq->play();
        m_out->runMs(300);
        const std::size_t before = m_out->records.size();
        m_seq->play();
        QCOMPARE(m_seq->state(), TransportState::Playing);
        QCOMPARE(m_seq->positionMs(), 300);
        m_out->runMs(100);
        for (std::size_t i = before; i < m_out->records.size(); ++i)
            QVERIFY(m_out->records[i].kind == Kind::Short);
        QCOMPARE(m_seq->positionMs(), 400);
    }

    void seekStopsMovesAndClamps()
    {
        m_seq->open(metronome());
        m_seq->play();
        m_out->runMs(500);
        m_seq->seek(3000);
        QCOMPARE(m_seq->state(), TransportState::Stopped);
        QCOMPARE(m_seq->positionMs(), 3000);
        const auto block = nextBlock();
        QCOMPARE(block.at(0).kind, Kind::Silence);
        QCOMPARE(block.at(1).kind, Kind::Reset);
        QCOMPARE(noteOns(block), 0);

        m_seq->seek(-50);
        QCOMPARE(m_seq->positionMs(), 0);
        m_seq->seek(1'000'000);
        QCOMPARE(m_seq->positionMs(), m_seq->lengthMs());

        m_seq->seek(2000);
        m_seq->play();
        m_out->runMs(100);
        m_seq->pause();
        m_seq->seek(4000);
        QCOMPARE(m_seq->state(), TransportState::Stopped); // a paused song becomes stopped
        QCOMPARE(m_seq->positionMs(), 4000);
    }

    void playingFromASeekStartsThere()
    {
        m_seq->open(metronome());
        m_seq->seek(2500);
        m_out->run(1024);
        const int64_t start = m_out->framesRun();
        m_seq->play();
        m_out->runMs(600);
        std::vector<int64_t> onsets;
        for (const auto& r : m_out->shorts()) {
            if (commandOf(r.status) == kNoteOn && channelOf(r.status) == 0)
                onsets.push_back(r.frame - start);
        }
        // The note exactly at 2.5 s sounds at once; the one at 3.0 s half a second later.
        QCOMPARE(onsets, (std::vector<int64_t>{0, frameAt(kSecond / 2)}));
    }

    void seekToTheEndThenPlayStaysAtTheEnd()
    {
        m_seq->open(SongBuilder().note(0, 1000, 0, 60).build(2'345'678));
        m_seq->seek(1'000'000);
        QCOMPARE(m_seq->positionMs(), 2345);
        QCOMPARE(m_seq->positionMs(), m_seq->lengthMs());
        m_seq->play();
        QCOMPARE(m_seq->state(), TransportState::Stopped);
        m_out->runMs(100);
        QCOMPARE(m_seq->positionMs(), m_seq->lengthMs());
    }

    void theEndStopsAtExactlyTheLength()
    {
        // The last note ends exactly at the end, which is not on a millisecond.
        const int64_t length = 2'345'678;
        m_seq->open(SongBuilder().note(0, length / 2, 0, 60).note(length / 2, length / 2, 0, 62)
                        .event(length, kNoteOff | 0, 62, 0).build(length));
        m_seq->play();
        m_out->runMs(3000);
        QCOMPARE(m_seq->state(), TransportState::Stopped);
        QCOMPARE(m_seq->positionMs(), m_seq->lengthMs());
        const auto releases = m_out->only(Kind::Release);
        QCOMPARE(releases.size(), std::size_t(1));
        QCOMPARE(releases[0].frame, frameAt(length));
        // Every event went out, the one at the very end included, before the release.
        const auto shorts = m_out->shorts();
        QCOMPARE(shorts.size(), std::size_t(5));
        QVERIFY(shorts.back().frame <= releases[0].frame);
    }

    void playToAnEndStopsThereAndPlayGoesOn()
    {
        m_seq->open(metronome());
        m_seq->play(1000);
        m_out->runMs(2000);
        QCOMPARE(m_seq->state(), TransportState::Stopped);
        QCOMPARE(m_seq->positionMs(), 1000);
        // The notes at 0, 0.5 and 1.0 s (the end included) and drums at 0 and 1 s.
        QCOMPARE(noteOns(m_out->records), 5);
        m_seq->play();
        m_out->runMs(20000);
        // The rest of the song, and the note struck at 1.0 s, which still sounds there.
        QCOMPARE(noteOns(m_out->records), 31);
        QCOMPARE(m_seq->positionMs(), 10000);
    }

    void noDriftOverFortyMinutes()
    {
        // A click every 997.003 ms for forty minutes, played in blocks off the grid.
        const int64_t step = 997'003;
        const int64_t length = 40 * 60 * kSecond + 123;
        SongBuilder b;
        int clicks = 0;
        for (int64_t t = 0; t + step < length; t += step, ++clicks)
            b.note(t, 10'000, 9, 76);
        m_seq->open(b.build(length));
        m_seq->play();
        m_out->runFrames(frameAt(length) + kRate, 4000);
        QCOMPARE(m_seq->state(), TransportState::Stopped);
        QCOMPARE(m_seq->positionMs(), length / 1000);
        int checked = 0;
        for (const auto& r : m_out->shorts()) {
            if (commandOf(r.status) != kNoteOn)
                continue;
            QCOMPARE(r.frame, frameAt(int64_t(checked) * step));
            ++checked;
        }
        QCOMPARE(checked, clicks);
    }

    void commandsWakeTheClock()
    {
        m_seq->open(metronome());
        int wakes = m_out->wakes;
        m_seq->play();
        QVERIFY(m_out->wakes > wakes);
        wakes = m_out->wakes;
        m_seq->stop();
        QVERIFY(m_out->wakes > wakes);
    }

    void chaseRestoresTheStateAtTheTarget()
    {
        const std::vector<uint8_t> gsReset{0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};
        const std::vector<uint8_t> reverbMacro{0x41, 0x10, 0x42, 0x12, 0x40, 0x01, 0x30, 0x04, 0x0B, 0xF7};
        SongBuilder b;
        b.sysex(0, gsReset).sysex(10, reverbMacro)
            .program(0, 0, 0)
            .cc(100, 0, kCcRpnMsb, 0).cc(100, 0, kCcRpnLsb, 0).cc(100, 0, kCcDataEntryMsb, 12)
            .cc(100, 0, kCcRpnMsb, 127).cc(100, 0, kCcRpnLsb, 127)
            .cc(0, 0, kCcVolume, 100).cc(kSecond, 0, kCcVolume, 90).cc(kSecond, 0, kCcModulation, 20)
            .cc(2 * kSecond, 0, kCcBankMsb, 1).program(2 * kSecond, 0, 19)
            .cc(2'500'000, 0, kCcBankMsb, 2) // for a later program change, not this one
            .bend(3 * kSecond, 0, 9000).event(3 * kSecond, kChannelPressure | 0, 50)
            .cc(3 * kSecond, 0, kCcSustain, 127)
            .program(0, 1, 40).cc(0, 1, kCcPan, 20);
        for (int i = 0; i < 10; ++i)
            b.note(i * kSecond / 2, kSecond / 4, 0, 60);
        b.program(6 * kSecond, 0, 30); // after the target: must not be chased
        m_seq->open(b.build(8 * kSecond));
        m_out->run(1024);
        m_out->records.clear();

        m_seq->seek(4000);
        m_out->run(1024);
        const auto& r = m_out->records;
        QVERIFY(r.size() > 4);
        QCOMPARE(r[0].kind, Kind::Silence);
        QCOMPARE(r[1].kind, Kind::Reset);
        QCOMPARE(r[2].kind, Kind::SysEx);
        QCOMPARE(r[2].sysex.front(), uint8_t(0xF0));
        QVERIFY(std::equal(gsReset.begin(), gsReset.end(), r[2].sysex.begin() + 1));
        QCOMPARE(r[3].kind, Kind::SysEx);
        QVERIFY(std::equal(reverbMacro.begin(), reverbMacro.end(), r[3].sysex.begin() + 1));
        QCOMPARE(noteOns(r), 0);

        std::vector<std::array<int, 3>> ch0;
        for (const auto& x : m_out->shorts()) {
            if (channelOf(x.status) == 0)
                ch0.push_back({commandOf(x.status), x.data1, x.data2});
        }
        auto indexOf = [&](std::array<int, 3> m) {
            auto it = std::find(ch0.begin(), ch0.end(), m);
            return it == ch0.end() ? -1 : int(it - ch0.begin());
        };
        const int bank1 = indexOf({kControlChange, kCcBankMsb, 1});
        const int organ = indexOf({kProgramChange, 19, 0});
        const int bank2 = indexOf({kControlChange, kCcBankMsb, 2});
        QVERIFY(bank1 >= 0 && organ > bank1 && bank2 > organ);
        QCOMPARE(indexOf({kProgramChange, 30, 0}), -1);
        QVERIFY(indexOf({kControlChange, kCcVolume, 90}) >= 0);
        QCOMPARE(indexOf({kControlChange, kCcVolume, 100}), -1);
        QVERIFY(indexOf({kControlChange, kCcModulation, 20}) >= 0);
        QVERIFY(indexOf({kControlChange, kCcSustain, 127}) >= 0);
        QVERIFY(indexOf({kPitchBend, 9000 & 0x7F, 9000 >> 7}) >= 0);
        QVERIFY(indexOf({kChannelPressure, 50, 0}) >= 0);
        // Pitch-bend range: RPN 0/0 selected, then its data, then the selection the song left.
        const int rpn = indexOf({kControlChange, kCcRpnMsb, 0});
        QVERIFY(rpn >= 0);
        QCOMPARE(ch0.at(rpn + 1), (std::array<int, 3>{kControlChange, kCcRpnLsb, 0}));
        QCOMPARE(ch0.at(rpn + 2), (std::array<int, 3>{kControlChange, kCcDataEntryMsb, 12}));
        QVERIFY(indexOf({kControlChange, kCcRpnMsb, 127}) > rpn);
        // Channel 1 is chased too.
        bool ch1Program = false;
        for (const auto& x : m_out->shorts())
            ch1Program |= x.status == (kProgramChange | 1) && x.data1 == 40;
        QVERIFY(ch1Program);

        // Playing on strikes again only what still sounds: the key the pedal holds since
        // 3.5 s, released at once so that the pedal keeps it. The next is the one at 4.0 s.
        m_out->records.clear();
        m_seq->play();
        m_out->run(0);
        std::vector<std::array<int, 3>> struck;
        for (const auto& x : m_out->shorts()) {
            if (commandOf(x.status) == kNoteOn || commandOf(x.status) == kNoteOff)
                struck.push_back({x.status, x.data1, x.data2});
        }
        QCOMPARE(struck, (std::vector<std::array<int, 3>>{{kNoteOn, 60, 100}, {kNoteOff, 60, 0}}));
        m_out->runMs(200);
        QCOMPARE(noteOns(m_out->records), 2);
        m_out->runMs(400);
        QCOMPARE(noteOns(m_out->records), 3);
    }

    void chaseForgetsWhatAResetUndid()
    {
        const std::vector<uint8_t> gmOn{0x7E, 0x7F, 0x09, 0x01, 0xF7};
        m_seq->open(SongBuilder()
                        .program(0, 1, 40).bend(500'000, 1, 12000).cc(500'000, 1, kCcVolume, 70)
                        .cc(kSecond, 1, kCcResetAllControllers, 0)
                        .sysex(2 * kSecond, gmOn).program(2'500'000, 1, 5)
                        .build(4 * kSecond));
        m_seq->seek(1500);
        m_out->run(1024);
        auto chased = m_out->shorts();
        auto has = [&](uint8_t status, uint8_t d1) {
            return std::any_of(chased.begin(), chased.end(),
                               [&](const auto& r) { return r.status == status && r.data1 == d1; });
        };
        QVERIFY(has(kProgramChange | 1, 40));
        QVERIFY(has(kControlChange | 1, kCcVolume)); // a controller reset keeps the volume
        QVERIFY(!std::any_of(chased.begin(), chased.end(), [](const auto& r) { return commandOf(r.status) == kPitchBend; }));

        m_out->records.clear();
        m_seq->seek(3000);
        m_out->run(1024);
        chased = m_out->shorts();
        QCOMPARE(m_out->count(Kind::SysEx), 1);
        QVERIFY(has(kProgramChange | 1, 5));
        QVERIFY(!has(kProgramChange | 1, 40));
        QVERIFY(!has(kControlChange | 1, kCcVolume));
    }

    void chaseKeepsEveryParameterAndTheSelection()
    {
        // An NRPN, then RPN 0/0 set to 2 and stepped up once: 3 semitones of bend range,
        // with RPN 0/0 still selected for the song's later data entries, and the NRPN's
        // number back in its registers too.
        m_seq->open(SongBuilder()
                        .cc(0, 2, kCcNrpnMsb, 1).cc(0, 2, kCcNrpnLsb, 8).cc(0, 2, kCcDataEntryMsb, 70)
                        .cc(10, 2, kCcRpnMsb, 0).cc(10, 2, kCcRpnLsb, 0).cc(10, 2, kCcDataEntryMsb, 2)
                        .cc(20, 2, kCcDataIncrement, 0)
                        .build(2 * kSecond));
        m_seq->seek(1000);
        m_out->run(1024);
        std::vector<std::pair<int, int>> cc;
        for (const auto& r : m_out->shorts()) {
            if (r.status == (kControlChange | 2))
                cc.push_back({r.data1, r.data2});
        }
        const std::vector<std::pair<int, int>> expected{
            {kCcNrpnMsb, 1}, {kCcNrpnLsb, 8}, {kCcDataEntryMsb, 70},
            {kCcRpnMsb, 0}, {kCcRpnLsb, 0}, {kCcDataEntryMsb, 3},
            {kCcNrpnMsb, 1}, {kCcNrpnLsb, 8}, {kCcRpnMsb, 0}, {kCcRpnLsb, 0}};
        QCOMPARE(cc, expected);
    }

    void nothingLeaksIntoTheNextSong()
    {
        m_seq->open(SongBuilder().program(0, 0, 40).bend(0, 0, 100).note(0, kSecond, 0, 60).build(3 * kSecond));
        m_seq->play();
        m_out->runMs(500);
        m_out->records.clear();
        m_seq->open(SongBuilder().note(0, kSecond, 0, 64).build(2 * kSecond));
        QCOMPARE(m_seq->state(), TransportState::Stopped);
        QCOMPARE(m_seq->positionMs(), 0);
        QCOMPARE(m_seq->lengthMs(), 2000);
        m_seq->play();
        m_out->runMs(3000);
        QCOMPARE(m_out->records.at(0).kind, Kind::Silence);
        QCOMPARE(m_out->records.at(1).kind, Kind::Reset);
        // Only the new song's own note: no program or bend of the old song is replayed.
        const auto shorts = m_out->shorts();
        QCOMPARE(shorts.size(), std::size_t(2));
        QCOMPARE(shorts[0].data1, uint8_t(64));
    }

    void closeSilencesAndForgetsTheSong()
    {
        m_seq->open(metronome());
        m_seq->play();
        m_out->runMs(300);
        m_seq->close();
        QCOMPARE(m_seq->state(), TransportState::Closed);
        QCOMPARE(m_seq->positionMs(), 0);
        QCOMPARE(m_seq->lengthMs(), 0);
        QCOMPARE(nextBlock().front().kind, Kind::Silence);
        const int notes = noteOns(m_out->records);
        m_seq->play();
        m_out->runMs(1000);
        QCOMPARE(noteOns(m_out->records), notes);
    }

    void openingAMissingFileClosesTheOldOne()
    {
        m_seq->open(metronome());
        const ReadResult r = m_seq->open(std::string("/nonexistent/song.mid"));
        QVERIFY(!r.playable());
        QVERIFY(!m_seq->isOpen());
        QCOMPARE(m_seq->lengthMs(), 0);
    }
};

QTEST_GUILESS_MAIN(TestSequencer)
#include "tst_sequencer.moc"
