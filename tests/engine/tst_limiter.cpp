// The output limiter on its own: what fits passes bit for bit, only delayed; what does not
// fit never leaves above the ceiling, in any block size; and the gain comes back.

#include "platform/midi/output/Limiter.h"

#include <QtTest>

#include <cmath>
#include <numbers>
#include <vector>

using sequora::midi::Limiter;

namespace {

constexpr int kRate = 44100;

struct Stereo {
    std::vector<float> left;
    std::vector<float> right;
};

Stereo sine(int frames, double amplitude, double hz)
{
    Stereo s { std::vector<float>(std::size_t(frames)), std::vector<float>(std::size_t(frames)) };
    for (int i = 0; i < frames; ++i) {
        const double x = amplitude * std::sin(2 * std::numbers::pi * hz * i / kRate);
        s.left[std::size_t(i)] = float(x);
        s.right[std::size_t(i)] = float(-0.5 * x);
    }
    return s;
}

// Runs @p in through @p limiter in blocks of @p block frames.
Stereo limited(Limiter& limiter, Stereo in, int block)
{
    const int frames = int(in.left.size());
    for (int done = 0; done < frames; done += block)
        limiter.process(
            in.left.data() + done, in.right.data() + done, std::min(block, frames - done));
    return in;
}

} // namespace

class TestLimiter : public QObject {
    Q_OBJECT

private slots:
    void quietSignalPassesBitForBit()
    {
        Limiter limiter(kRate);
        const int delay = limiter.lookahead();
        QVERIFY(delay > 0 && delay < kRate / 200); // a few milliseconds at most
        const Stereo in = sine(kRate, 0.9, 441);
        const Stereo out = limited(limiter, in, 1000);
        for (int i = 0; i < kRate; ++i) {
            const float wantLeft = i < delay ? 0.0f : in.left[std::size_t(i - delay)];
            const float wantRight = i < delay ? 0.0f : in.right[std::size_t(i - delay)];
            if (out.left[std::size_t(i)] != wantLeft || out.right[std::size_t(i)] != wantRight)
                QFAIL(qPrintable(QString("sample %1 changed").arg(i)));
        }
        QCOMPARE(limiter.gain(), 1.0f);
    }

    void burstsStayUnderTheCeiling_data()
    {
        QTest::addColumn<float>("amplitude");
        QTest::addColumn<int>("block");
        QTest::newRow("full scale, 1024-frame periods") << 1.0f << 1024;
        QTest::newRow("full scale, odd blocks") << 1.0f << 37;
        QTest::newRow("four times full scale, 64-frame blocks") << 4.0f << 64;
        QTest::newRow("a single-frame spike, 1-frame blocks") << 8.0f << 1;
    }
    void burstsStayUnderTheCeiling()
    {
        QFETCH(float, amplitude);
        QFETCH(int, block);
        // Silence, a square burst that starts at full level with no warning, silence,
        // then a quiet sine once the release has had time to come all the way back.
        const int burstAt = 1000;
        const int burstFrames = block == 1 ? 1 : kRate / 10;
        const int sineAt = burstAt + burstFrames + 3 * kRate;
        Stereo in = sine(sineAt + kRate / 2, 0.25, 1000);
        for (int i = 0; i < sineAt; ++i) {
            const bool inBurst = i >= burstAt && i < burstAt + burstFrames;
            const float v = !inBurst ? 0.0f : (i / 50 % 2 ? amplitude : -amplitude);
            in.left[std::size_t(i)] = v;
            in.right[std::size_t(i)] = -v;
        }
        Limiter limiter(kRate);
        const Stereo out = limited(limiter, in, block);
        float loudest = 0;
        for (std::size_t i = 0; i < out.left.size(); ++i)
            loudest = std::max({ loudest, std::abs(out.left[i]), std::abs(out.right[i]) });
        QVERIFY2(loudest <= Limiter::kCeiling, qPrintable(QString::number(loudest)));
        // Limited, not crushed: the burst still comes out near the ceiling.
        QVERIFY2(loudest > 0.9f * Limiter::kCeiling, qPrintable(QString::number(loudest)));
        // The gain recovers: the sine after the burst comes out untouched.
        const int delay = limiter.lookahead();
        for (std::size_t i = std::size_t(sineAt + delay); i < out.left.size(); ++i)
            QCOMPARE(out.left[i], in.left[i - std::size_t(delay)]);
    }

    void loudTonesStayUnderTheCeiling_data()
    {
        QTest::addColumn<double>("hz");
        QTest::addColumn<double>("amplitude");
        QTest::addColumn<double>("decayPerSecond");
        // Low notes whose crests are further apart than the look-ahead, steady and dying
        // away (peaks that keep falling keep every queued gain).
        QTest::newRow("50 Hz at four times full scale") << 50.0 << 4.0 << 1.0;
        QTest::newRow("100 Hz at twice full scale") << 100.0 << 2.0 << 1.0;
        QTest::newRow("a decaying 60 Hz bass note") << 60.0 << 4.0 << 0.2;
        QTest::newRow("a decaying 440 Hz note") << 440.0 << 3.0 << 0.05;
    }
    void loudTonesStayUnderTheCeiling()
    {
        QFETCH(double, hz);
        QFETCH(double, amplitude);
        QFETCH(double, decayPerSecond);
        Stereo in = sine(2 * kRate, 1.0, hz);
        for (std::size_t i = 0; i < in.left.size(); ++i) {
            const float level = float(amplitude * std::pow(decayPerSecond, double(i) / kRate));
            in.left[i] *= level;
            in.right[i] *= level;
        }
        Limiter limiter(kRate);
        const Stereo out = limited(limiter, in, 1024);
        float loudest = 0;
        for (std::size_t i = 0; i < out.left.size(); ++i)
            loudest = std::max({ loudest, std::abs(out.left[i]), std::abs(out.right[i]) });
        QVERIFY2(loudest <= Limiter::kCeiling, qPrintable(QString::number(loudest)));
        QVERIFY2(loudest > 0.9f * Limiter::kCeiling, qPrintable(QString::number(loudest)));
    }

    void resetForgetsTheHeldSignal()
    {
        Limiter limiter(kRate);
        Stereo loud = sine(1000, 3.0, 440);
        limiter.process(loud.left.data(), loud.right.data(), 1000);
        QVERIFY(limiter.gain() < 0.5f);
        limiter.reset();
        Stereo quiet = sine(200, 0.0, 440);
        limiter.process(quiet.left.data(), quiet.right.data(), 200);
        for (float v : quiet.left)
            QCOMPARE(v, 0.0f);
        QCOMPARE(limiter.gain(), 1.0f);
    }
};

QTEST_GUILESS_MAIN(TestLimiter)
#include "tst_limiter.moc"
