// The listener's tempo through the transport and a recording output turned by hand: each
// event's frame, the position and length reported in the listener's time, a change of
// tempo in mid-song that goes on from where the song is, and seeks and ends given in the
// listener's time.

#include "engine/RecordingOutput.h"
#include "engine/SongBuilder.h"

#include "platform/midi/transport/Sequencer.h"

#include <QtTest>

using namespace sequora::midi;
using sequora::test::RecordingOutput;
using sequora::test::SongBuilder;

namespace {

constexpr int kRate = 44100;
constexpr int64_t kMs = 1000;
constexpr int64_t kSecond = 1'000'000;

// A note every 100 ms for 3 s.
Song ticks()
{
    SongBuilder b;
    for (int i = 0; i < 30; ++i)
        b.note(i * 100 * kMs, 50 * kMs, 0, 60 + i % 12);
    return b.build(3 * kSecond);
}

ListenerSettings atTempo(int percent)
{
    ListenerSettings s;
    s.tempoPercent = percent;
    return s;
}

} // namespace

class TestTempo : public QObject {
    Q_OBJECT

private:
    RecordingOutput* m_out = nullptr;
    std::unique_ptr<Sequencer> m_seq;

    std::vector<int64_t> onsets() const
    {
        std::vector<int64_t> out;
        for (const auto& r : m_out->shorts()) {
            if (commandOf(r.status) == kNoteOn && r.data2 > 0)
                out.push_back(r.frame);
        }
        return out;
    }

private slots:
    void init()
    {
        auto out = std::make_unique<RecordingOutput>(kRate);
        m_out = out.get();
        m_seq = std::make_unique<Sequencer>(std::move(out));
    }
    void cleanup() { m_seq.reset(); }

    void playsAtTheListenersTempo_data()
    {
        QTest::addColumn<int>("percent");
        QTest::newRow("half") << 50;
        QTest::newRow("as written") << 100;
        QTest::newRow("three quarters") << 75;
        QTest::newRow("double") << 200;
    }

    void playsAtTheListenersTempo()
    {
        QFETCH(int, percent);
        QVERIFY(m_seq->setListening(atTempo(percent)));
        m_seq->open(ticks());
        const int64_t length = 3000 * 100 / percent;
        QCOMPARE(m_seq->lengthMs(), length);
        m_seq->play();
        m_out->runMs(length / 2, 1000);
        QCOMPARE(m_seq->positionMs(), length / 2);
        m_out->runMs(length / 2 + 100, 1000);
        QCOMPARE(m_seq->state(), TransportState::Stopped);
        QCOMPARE(m_seq->positionMs(), length);

        const std::vector<int64_t> got = onsets();
        QCOMPARE(got.size(), std::size_t(30));
        for (std::size_t i = 0; i < got.size(); ++i) {
            const int64_t listenerUs = int64_t(i) * 100 * kMs * 100 / percent;
            QCOMPARE(got[i], (listenerUs * kRate + kSecond / 2) / kSecond);
        }
    }

    void aChangeInMidSongGoesOnFromThere()
    {
        m_seq->open(ticks());
        m_seq->play();
        m_out->runFrames(kRate * 105 / 100, 441); // 1.05 s, between two notes
        QCOMPARE(m_seq->positionMs(), 1050);
        const int64_t changedAt = m_out->framesRun();
        QVERIFY(m_seq->setListening(atTempo(50)));
        // The same point of the song, now in time twice as long; the rest too.
        QCOMPARE(m_seq->positionMs(), 2100);
        QCOMPARE(m_seq->lengthMs(), 6000);
        m_out->runMs(5000, 441);
        const std::vector<int64_t> got = onsets();
        QCOMPARE(got.size(), std::size_t(30));
        // The note due 50 ms of the song after the change comes 100 ms after it, and
        // every later one 200 ms after the one before: no gap, no jump.
        for (std::size_t i = 11; i < got.size(); ++i) {
            const int64_t songUsAfter = int64_t(i) * 100 * kMs - 1050 * kMs;
            QCOMPARE(got[i], changedAt + (songUsAfter * 2 * kRate + kSecond / 2) / kSecond);
        }

        // Faster while paused: the position is where it was, in the new time.
        m_seq->seek(3000);
        m_seq->play();
        m_out->runMs(100, 441);
        m_seq->pause();
        QCOMPARE(m_seq->positionMs(), 3100);
        QVERIFY(m_seq->setListening(atTempo(200)));
        QCOMPARE(m_seq->positionMs(), 775);
        m_seq->play();
        m_out->runMs(100, 441);
        QCOMPARE(m_seq->positionMs(), 875);
    }

    void seeksAndEndsInTheListenersTime()
    {
        QVERIFY(m_seq->setListening(atTempo(50)));
        m_seq->open(ticks());
        m_seq->seek(2760); // 1.38 s of the song
        QCOMPARE(m_seq->positionMs(), 2760);
        m_seq->play(3100);
        m_out->runMs(1000, 441);
        QCOMPARE(m_seq->state(), TransportState::Stopped);
        QCOMPARE(m_seq->positionMs(), 3100);
        // Notes of the song at 1.4 and 1.5 s, not 1.6 s.
        QCOMPARE(onsets().size(), std::size_t(2));
        m_seq->seek(m_seq->lengthMs());
        QCOMPARE(m_seq->positionMs(), 6000);

        // Out of range: refused, nothing changes.
        QVERIFY(!m_seq->setListening(atTempo(49)));
        QVERIFY(!m_seq->setListening(atTempo(201)));
        ListenerSettings key;
        key.transpose = 13;
        QVERIFY(!m_seq->setListening(key));
        QCOMPARE(m_seq->listening().tempoPercent, 50);
        QCOMPARE(m_seq->lengthMs(), 6000);

        // Kept for the next song.
        m_seq->open(ticks());
        QCOMPARE(m_seq->lengthMs(), 6000);
    }
};

QTEST_GUILESS_MAIN(TestTempo)
#include "tst_tempo.moc"
