// The clocks that drive playback without an audio device: the real-time null output
// and the process-wide engine's manual clock.

#include "engine/SongBuilder.h"

#include "platform/midi/output/NullOutput.h"
#include "platform/midi/transport/Sequencer.h"

#include <QtTest>

#include <sys/resource.h>
#include <thread>

using namespace sequora::midi;
using namespace std::chrono_literals;
using sequora::test::SongBuilder;

namespace {

constexpr int64_t kSecond = 1'000'000;

Song shortSong(int64_t lengthUs)
{
    SongBuilder b;
    for (int64_t t = 0; t < lengthUs; t += 50'000)
        b.note(t, 40'000, 0, 60);
    return b.build(lengthUs);
}

// CPU time used by this process so far, in milliseconds.
double cpuMs()
{
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1e3 + (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e3;
}

} // namespace

class TestClocks : public QObject {
    Q_OBJECT

private slots:
    void nullOutputKeepsRealTime()
    {
        Sequencer seq(std::make_unique<NullOutput>());
        seq.open(shortSong(600'500));
        seq.play();
        std::this_thread::sleep_for(200ms);
        const int64_t during = seq.positionMs();
        // Loose bounds: the machine may be busy, but time must move, and not too fast.
        QVERIFY2(during >= 100 && during <= 600, qPrintable(QString::number(during)));
        QTRY_COMPARE_WITH_TIMEOUT(seq.state(), TransportState::Stopped, 5000);
        QCOMPARE(seq.positionMs(), seq.lengthMs());
        QCOMPARE(seq.lengthMs(), 600);
    }

    void nullOutputHoldsStillWhilePaused()
    {
        Sequencer seq(std::make_unique<NullOutput>());
        seq.open(shortSong(10 * kSecond));
        seq.play();
        std::this_thread::sleep_for(100ms);
        seq.pause();
        const int64_t at = seq.positionMs();
        std::this_thread::sleep_for(200ms);
        QCOMPARE(seq.positionMs(), at);
        QCOMPARE(seq.state(), TransportState::Paused);
        seq.play();
        QTRY_VERIFY_WITH_TIMEOUT(seq.positionMs() > at + 50, 5000);
    }

    void nullOutputSleepsInsteadOfSpinning()
    {
        Sequencer seq(std::make_unique<NullOutput>());
        seq.open(shortSong(10 * kSecond));
        const double idleStart = cpuMs();
        std::this_thread::sleep_for(300ms);
        const double idle = cpuMs() - idleStart;
        seq.play();
        const double playStart = cpuMs();
        std::this_thread::sleep_for(300ms);
        const double playing = cpuMs() - playStart;
        qInfo("CPU: %.1f ms in 300 ms stopped, %.1f ms in 300 ms playing", idle, playing);
        QVERIFY(idle < 20);
        QVERIFY(playing < 60);
    }

    void engineOutputComesFromTheEnvironment()
    {
        // CTest runs the engine tests with SEQUORA_MIDI_OUT=null.
        if (qgetenv("SEQUORA_MIDI_OUT") != "null")
            QSKIP("run with SEQUORA_MIDI_OUT=null");
        QCOMPARE(QString::fromStdString(engine::sequencer().output().name()), QString("null"));
    }

    void manualClockPlaysToTheEndExactly()
    {
        Sequencer& seq = engine::sequencer();
        seq.open(shortSong(kSecond));
        engine::useManualClock();
        QVERIFY(!seq.isOpen()); // switching clocks closes the song
        QCOMPARE(QString::fromStdString(seq.output().name()), QString("manual"));

        seq.open(shortSong(2'500'700));
        seq.play();
        engine::advanceManualClock(1000);
        QCOMPARE(seq.state(), TransportState::Playing);
        QCOMPARE(seq.positionMs(), 1000);
        engine::advanceManualClock(1499);
        QCOMPARE(seq.state(), TransportState::Playing);
        QCOMPARE(seq.positionMs(), 2499);
        engine::advanceManualClock(10);
        QCOMPARE(seq.state(), TransportState::Stopped);
        QCOMPARE(seq.positionMs(), seq.lengthMs());
        QCOMPARE(seq.lengthMs(), 2500);

        // Nothing moves without the hand on the clock.
        seq.seek(100);
        seq.play();
        std::this_thread::sleep_for(50ms);
        QCOMPARE(seq.positionMs(), 100);
        engine::useManualClock(); // again: closes, keeps the manual clock
        QVERIFY(!seq.isOpen());
        QCOMPARE(QString::fromStdString(seq.output().name()), QString("manual"));
    }
};

QTEST_GUILESS_MAIN(TestClocks)
#include "tst_clocks.moc"
