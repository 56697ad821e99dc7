// The effect section's signal processing on its own, fed test signals: echoes land at the
// times and levels the modules' tables give, driven types add harmonics to a sine and
// linear ones do not, moving types move (level, balance, spectrum) at their rates, and
// every type, with any parameter bytes at all, stays finite, bounded and free of
// denormal numbers, through hostile settings, type changes and NaN input.

#include "platform/midi/module/EffectSection.h"
#include "platform/midi/output/effects/EffectTypes.h"
#include "platform/midi/output/effects/MasterEq.h"

#include <QtTest>

#include <cmath>
#include <complex>
#include <functional>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

using namespace sequora::midi;
using namespace sequora::midi::effects;

namespace {

constexpr int kRate = 44100;

struct Signal {
    std::vector<float> left, right;
    explicit Signal(int frames = 0)
        : left(std::size_t(frames))
        , right(std::size_t(frames))
    {
    }
    int frames() const { return int(left.size()); }
};

using Setup = std::function<ChainSettings()>;

/// Default-ish GS parameter bytes: centred, flat, effect only, full level; then @p set.
GsEfxParams gsBytes(std::initializer_list<std::pair<int, int>> set)
{
    GsEfxParams p;
    p.fill(0x40);
    p[0x12 - 3] = 127;
    p[0x16 - 3] = 127;
    for (auto [address, value] : set)
        p[std::size_t(address - 3)] = uint8_t(value);
    return p;
}

Setup gs(uint8_t msb, uint8_t lsb, std::initializer_list<std::pair<int, int>> set)
{
    const GsEfxParams p = gsBytes(set);
    return [=] {
        ChainSettings c;
        if (!gsEfxChain(msb, lsb, p, c))
            qFatal("type not built");
        return c;
    };
}

Setup xg(uint8_t msb, uint8_t lsb, XgEffectParams p, bool system)
{
    return [=] {
        ChainSettings c;
        if (!xgEffectChain(msb, lsb, p, system, c))
            qFatal("type not built");
        return c;
    };
}

Setup gsDelay(GsDelayParams p)
{
    return [=] {
        ChainSettings c;
        gsDelayChain(p, c);
        return c;
    };
}

Signal run(EffectChain& chain, Signal s, int block = 300)
{
    for (int done = 0; done < s.frames(); done += block) {
        const int n = std::min(block, s.frames() - done);
        chain.process(s.left.data() + done, s.right.data() + done, n);
    }
    return s;
}

Signal run(const Setup& setup, Signal s)
{
    EffectChain chain;
    chain.prepare(kRate);
    chain.set(setup());
    return run(chain, std::move(s));
}

Signal impulse(double seconds)
{
    Signal s(int(seconds * kRate));
    s.left[0] = s.right[0] = 1;
    return s;
}

Signal sine(double hz, double seconds, double amplitude = 0.25, bool rightToo = true)
{
    Signal s(int(seconds * kRate));
    for (int i = 0; i < s.frames(); ++i) {
        const float x = float(amplitude * std::sin(2 * std::numbers::pi * hz * i / kRate));
        s.left[std::size_t(i)] = x;
        s.right[std::size_t(i)] = rightToo ? x : 0.0f;
    }
    return s;
}

Signal noise(double seconds, double amplitude, unsigned seed = 7)
{
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> d(-1, 1);
    Signal s(int(seconds * kRate));
    for (int i = 0; i < s.frames(); ++i) {
        s.left[std::size_t(i)] = float(amplitude) * d(gen);
        s.right[std::size_t(i)] = float(amplitude) * d(gen);
    }
    return s;
}

double db(double x)
{
    return x > 1e-12 ? 20 * std::log10(x) : -240.0;
}

/// The @p nth echo's time (ms) and level (dB) on one channel: the @p nth peak standing
/// out of what comes before it. The level sums the few samples around it, since a delay
/// between two samples shares an impulse between them.
std::pair<double, double> echo(const std::vector<float>& x, int nth)
{
    int found = 0;
    for (std::size_t i = 2; i + 2 < x.size(); ++i) {
        const float a = std::abs(x[i]);
        if (a > 0.01f && a >= std::abs(x[i - 1]) && a > std::abs(x[i + 1]) && ++found == nth) {
            const double sum = double(x[i - 2]) + x[i - 1] + x[i] + x[i + 1] + x[i + 2];
            return { 1000.0 * double(i) / kRate, db(std::abs(sum)) };
        }
    }
    return { -1, -240 };
}

/// Energy beside the fundamental against the fundamental's, dB; the window holds whole
/// cycles of @p hz.
double harmonicsDb(const std::vector<float>& x, double hz, std::size_t from, std::size_t n)
{
    std::complex<double> bin;
    double total = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double v = x[from + i];
        total += v * v;
        bin += v * std::polar(1.0, -2 * std::numbers::pi * hz * double(i) / kRate);
    }
    const double fundamental = 2 * std::norm(bin) / double(n);
    return 10 * std::log10(std::max(total - fundamental, 1e-30) / std::max(fundamental, 1e-30));
}

/// Windows of 200 samples: two whole cycles of the 441 Hz test tone, 220.5 a second.
constexpr int kWindow = 200;
constexpr double kWindowsPerSecond = double(kRate) / kWindow;

/// One value per window of @p what (level, balance ...), from @p from seconds on.
std::vector<double> windows(
    const Signal& s, double from, const std::function<double(double, double)>& what)
{
    const int w = kWindow;
    std::vector<double> out;
    for (int i = int(from * kRate); i + w <= s.frames(); i += w) {
        double l = 0, r = 0;
        for (int j = i; j < i + w; ++j) {
            l += double(s.left[std::size_t(j)]) * s.left[std::size_t(j)];
            r += double(s.right[std::size_t(j)]) * s.right[std::size_t(j)];
        }
        out.push_back(what(std::sqrt(l / w), std::sqrt(r / w)));
    }
    return out;
}

/// The rate a series of windows moves at, Hz: the first peak of its autocorrelation
/// after it has gone negative (0.5-20 Hz).
double rateHz(const std::vector<double>& v)
{
    double mean = 0;
    for (double x : v)
        mean += x / double(v.size());
    std::vector<double> r;
    for (std::size_t lag = 0; lag <= 400 && lag < v.size() / 2; ++lag) {
        double sum = 0;
        for (std::size_t i = 0; i + lag < v.size(); ++i)
            sum += (v[i] - mean) * (v[i + lag] - mean);
        r.push_back(sum / double(v.size() - lag));
    }
    std::size_t lag = 1;
    while (lag < r.size() && r[lag] > 0)
        ++lag;
    for (; lag + 1 < r.size(); ++lag) {
        if (r[lag] > 0 && r[lag] >= r[lag - 1] && r[lag] >= r[lag + 1])
            return kWindowsPerSecond / double(lag);
    }
    return 0;
}

double spread(const std::vector<double>& v)
{
    return *std::max_element(v.begin(), v.end()) - *std::min_element(v.begin(), v.end());
}

XgEffectParams xgDelayLcrDefaults()
{
    XgEffectParams p;
    p.msb = { 0x1A, 0x0D, 0x27, 0x27, 0, 0, 0, 0, 0, 0 };
    p.lsb = { 0x05, 0x03, 0x08, 0x08, 74, 100, 10, 0, 0, 32, 0, 0, 28, 64, 46, 64 };
    return p;
}

bool subnormal(float x)
{
    return std::fpclassify(x) == FP_SUBNORMAL;
}

} // namespace

Q_DECLARE_METATYPE(Setup)

class TestEffectDsp : public QObject {
    Q_OBJECT

private slots:
    void echoes_data()
    {
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<bool>("right");
        QTest::addColumn<int>("nth");
        QTest::addColumn<double>("ms");
        QTest::addColumn<double>("minDb");
        QTest::addColumn<double>("maxDb");
        GsDelayParams macro0;
        GsDelayParams leftHalf;
        leftHalf.levelCentre = 0, leftHalf.ratioLeft = 12, leftHalf.levelLeft = 127;
        GsDelayParams repeats;
        repeats.feedback = 0x7F;
        GsDelayParams longest;
        longest.timeCentre = 0x73, longest.ratioRight = 0x78, longest.levelRight = 127,
        longest.levelCentre = 0;
        XgEffectParams echo;
        echo.msb = { 0x0D, 0, 0x0D, 0, 0, 0x0D, 0x0D, 0, 0, 0 };
        echo.lsb = { 0x24, 80, 0x74, 80, 10, 0x24, 0x74, 0, 0, 40, 0, 0, 28, 64, 46, 64 };
        // Tap level 0.7 at centre, times delay level 64/127.
        QTest::newRow("GS delay macro 0: centre at 340 ms")
            << gsDelay(macro0) << false << 1 << 340.0 << -9.6 << -8.5;
        QTest::newRow("GS delay: left tap at half the centre")
            << gsDelay(leftHalf) << false << 1 << 170.0 << -6.5 << -5.5;
        QTest::newRow("GS delay feedback 127: second repeat")
            << gsDelay(repeats) << false << 2 << 680.0 << -10.0 << -8.8;
        QTest::newRow("GS delay: 500 % of 1 s held at the longest")
            << gsDelay(longest) << true << 1 << double(TapDelay::kMaxMs) << -6.5 << -5.5;
        QTest::newRow("GS Stereo Delay: left 150 ms")
            << gs(0x01, 0x50, { { 0x03, 0x65 }, { 0x04, 0x74 }, { 0x05, 0x40 }, { 0x0A, 0x7F } })
            << false << 1 << 150.0 << -0.5 << 0.5;
        QTest::newRow("GS Stereo Delay: right 300 ms")
            << gs(0x01, 0x50, { { 0x03, 0x65 }, { 0x04, 0x74 }, { 0x05, 0x40 }, { 0x0A, 0x7F } })
            << true << 1 << 300.0 << -0.5 << 0.5;
        QTest::newRow("GS Enhancer->Delay: 250 ms") << gs(
            0x02, 0x08, { { 0x03, 0 }, { 0x04, 0 }, { 0x08, 0x6F }, { 0x0A, 0x7F }, { 0x0C, 127 } })
                                                    << false << 1 << 250.0 << -6.0 << 6.0;
        QTest::newRow("GS 3 Tap Delay: left 200 ms") << gs(0x01, 0x52,
            { { 0x03, 0x14 }, { 0x04, 0x00 }, { 0x05, 0x07 }, { 0x07, 0 }, { 0x08, 127 },
                { 0x09, 0 }, { 0x0A, 0x7F } }) << false
                                                     << 1 << 200.0 << -0.5 << 0.5;
        QTest::newRow("XG Delay L,C,R: left 333.3 ms")
            << xg(0x05, 0x00, xgDelayLcrDefaults(), true) << false << 1 << 333.3 << -0.5 << 0.5;
        QTest::newRow("XG Delay L,C,R: right 166.7 ms")
            << xg(0x05, 0x00, xgDelayLcrDefaults(), true) << true << 1 << 166.7 << -0.5 << 0.5;
        QTest::newRow("XG Echo: left 170 ms")
            << xg(0x07, 0x00, echo, true) << false << 1 << 170.0 << -0.5 << 0.5;
    }

    void echoes()
    {
        QFETCH(Setup, setup);
        QFETCH(bool, right);
        QFETCH(int, nth);
        QFETCH(double, ms);
        QFETCH(double, minDb);
        QFETCH(double, maxDb);
        const Signal out = run(setup, impulse(1.6));
        const auto [at, level] = echo(right ? out.right : out.left, nth);
        QVERIFY2(std::abs(at - ms) < 0.6,
            qPrintable(QString("echo at %1 ms, expected %2").arg(at).arg(ms)));
        QVERIFY2(level >= minDb && level <= maxDb,
            qPrintable(
                QString("echo at %1 dB, expected %2 to %3").arg(level).arg(minDb).arg(maxDb)));
    }

    void aMovedDelayTimeIsReachedAndHeld()
    {
        // The delay reads from fixed places once its time has settled: a time moved while
        // it plays must still glide there and then echo from exactly there.
        TapDelay delay;
        delay.prepare(kRate);
        TapDelaySettings s;
        s.tapCount = 1;
        s.taps[0] = { 0, 100, 1, 1 };
        delay.set(s);
        auto echoAfterImpulse = [&] {
            Signal x = impulse(0.4);
            for (int done = 0; done < x.frames(); done += 256) {
                const int n = std::min(256, x.frames() - done);
                delay.process(x.left.data() + done, x.right.data() + done, n);
            }
            return echo(x.left, 1).first;
        };
        QCOMPARE(std::round(echoAfterImpulse()), 100.0);
        s.taps[0].ms = 250;
        delay.set(s);
        const double gliding = echoAfterImpulse(); // sent while the time moves
        QVERIFY2(gliding > 100 && gliding <= 250, qPrintable(QString::number(gliding)));
        QCOMPARE(std::round(echoAfterImpulse()), 250.0);
        QCOMPARE(std::round(echoAfterImpulse()), 250.0);
    }

    void fastTanhFollowsTanh()
    {
        float worst = 0;
        for (int i = -40000; i <= 40000; ++i) {
            const float x = float(i) / 1000.0f;
            worst = std::max(worst, std::abs(fastTanh(x) - std::tanh(x)));
            QVERIFY(std::abs(fastTanh(x)) <= 1.0f);
        }
        QVERIFY2(worst < 1.1e-4f, qPrintable(QString::number(double(worst))));
        QCOMPARE(fastTanh(1e30f), 1.0f);
        QCOMPARE(fastTanh(-std::numeric_limits<float>::infinity()), -1.0f);
    }

    void harmonics_data()
    {
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<double>("hz");
        QTest::addColumn<double>("minDb");
        QTest::addColumn<double>("maxDb");
        XgEffectParams dist;
        dist.lsb = { 40, 20, 72, 53, 48, 0, 43, 74, 10, 127, 120, 0, 0, 0, 0, 0 };
        XgEffectParams od;
        od.lsb = { 29, 24, 68, 45, 55, 0, 41, 72, 10, 127, 104, 0, 0, 0, 0, 0 };
        QTest::newRow("GS Stereo-EQ keeps a sine pure")
            << gs(0x01, 0x00, { { 0x04, 0x4C }, { 0x09, 0x34 } }) << 441.0 << -300.0 << -70.0;
        QTest::newRow("GS Overdrive")
            << gs(0x01, 0x10, { { 0x03, 48 }, { 0x04, 1 }, { 0x05, 1 } }) << 441.0 << -30.0 << 0.0;
        QTest::newRow("GS Distortion")
            << gs(0x01, 0x11, { { 0x03, 76 }, { 0x04, 3 }, { 0x05, 1 } }) << 441.0 << -20.0 << 5.0;
        QTest::newRow("GS OD1/OD2") << gs(0x11, 0x03,
            { { 0x03, 0 }, { 0x04, 48 }, { 0x05, 1 }, { 0x06, 1 }, { 0x12, 0 }, { 0x13, 96 },
                { 0x08, 1 }, { 0x09, 76 }, { 0x0A, 3 }, { 0x0B, 1 }, { 0x14, 127 }, { 0x15, 84 } })
                                    << 441.0 << -25.0 << 5.0;
        QTest::newRow("GS Overdrive->Chorus")
            << gs(0x02, 0x00, { { 0x03, 48 }, { 0x05, 1 }, { 0x06, 1 }, { 0x0C, 0 } }) << 441.0
            << -30.0 << 0.0;
        QTest::newRow("GS Lo-Fi 1, four bits")
            << gs(0x01, 0x72, { { 0x03, 0 }, { 0x04, 8 }, { 0x05, 0 } }) << 441.0 << -30.0 << 0.0;
        QTest::newRow("GS Enhancer on 2.2 kHz")
            << gs(0x01, 0x02, { { 0x03, 127 }, { 0x04, 127 } }) << 2205.0 << -45.0 << -5.0;
        QTest::newRow("XG Distortion") << xg(0x49, 0x00, dist, false) << 441.0 << -25.0 << 5.0;
        QTest::newRow("XG Overdrive") << xg(0x4A, 0x00, od, false) << 441.0 << -35.0 << 0.0;
    }

    void harmonics()
    {
        QFETCH(Setup, setup);
        QFETCH(double, hz);
        QFETCH(double, minDb);
        QFETCH(double, maxDb);
        const Signal out = run(setup, sine(hz, 1.0));
        const double h = harmonicsDb(out.left, hz, kRate / 2, 8800);
        QVERIFY2(h >= minDb && h <= maxDb,
            qPrintable(
                QString("harmonics at %1 dB, expected %2 to %3").arg(h).arg(minDb).arg(maxDb)));
    }

    void drivenLevel_data()
    {
        // A driven type at the module's own defaults gives out the part's level times its
        // Level byte (Overdrive 96, Distortion 84), however loud or quiet the part: the
        // curve's ceiling must not lift a quiet part nor hold down a loud one.
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<double>("amplitude");
        QTest::addColumn<double>("levelByte");
        auto defaults = [](uint8_t msb, uint8_t lsb, int level = -1) -> Setup {
            GsEfxParams p = *EffectSection::gsEfxDefaults(msb, lsb);
            if (level >= 0)
                p[0x16 - 3] = uint8_t(level);
            return [=] {
                ChainSettings c;
                if (!gsEfxChain(msb, lsb, p, c))
                    qFatal("type not built");
                return c;
            };
        };
        for (double amplitude : { 0.01, 0.05, 0.3 }) {
            const QByteArray a = QByteArray::number(amplitude);
            QTest::newRow("GS Overdrive, sine at " + a)
                << defaults(0x01, 0x10) << amplitude << 96.0;
            QTest::newRow("GS Distortion, sine at " + a)
                << defaults(0x01, 0x11) << amplitude << 84.0;
        }
        QTest::newRow("GS Overdrive, Level 127") << defaults(0x01, 0x10, 127) << 0.05 << 127.0;
        QTest::newRow("GS OD1/OD2, quiet") << defaults(0x11, 0x03) << 0.01 << 127.0;
    }

    void drivenLevel()
    {
        QFETCH(Setup, setup);
        QFETCH(double, amplitude);
        QFETCH(double, levelByte);
        const Signal out = run(setup, sine(441, 2.0, amplitude));
        double power = 0;
        for (int i = kRate; i < out.frames(); ++i)
            power += (double(out.left[std::size_t(i)]) * out.left[std::size_t(i)]
                         + double(out.right[std::size_t(i)]) * out.right[std::size_t(i)])
                / 2;
        const double gain = db(std::sqrt(power / kRate) / (amplitude / std::sqrt(2.0)));
        // The closing shelves (Low Gain +3 dB at 400 Hz) and the cabinet move it a little.
        const double expected = db(levelByte / 127);
        QVERIFY2(std::abs(gain - expected) < 3.0,
            qPrintable(QString("%1 dB against the part, expected %2").arg(gain).arg(expected)));
    }

    void modulation_data()
    {
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<int>("measure"); ///< 0 level, 1 balance, 2 brightness (noise in)
        QTest::addColumn<double>("hz"); ///< the input tone, or 0 for noise
        QTest::addColumn<double>("minSwing"); ///< dB (level, balance) or share (brightness)
        QTest::addColumn<double>("maxSwing");
        QTest::addColumn<double>("rate"); ///< Hz the measure moves at; 0: not checked
        XgEffectParams trem;
        trem.lsb = { 83, 127, 0, 0, 0, 28, 64, 46, 64, 0, 40, 64, 10, 64, 0, 0 };
        XgEffectParams phaser;
        phaser.lsb = { 40, 127, 74, 104, 0, 28, 64, 46, 64, 127, 6, 1, 0, 0, 0, 0 };
        // Rate bytes: rate table 1, 0.05 Hz a step: 79 is 4 Hz; 120 is 7.5 Hz.
        QTest::newRow("GS Tremolo: level at 4 Hz")
            << gs(0x01, 0x25, { { 0x03, 2 }, { 0x04, 79 }, { 0x05, 127 } }) << 0 << 441.0 << 12.0
            << 1e9 << 4.0;
        QTest::newRow("GS Auto Pan: balance at 4 Hz")
            << gs(0x01, 0x26, { { 0x03, 2 }, { 0x04, 79 }, { 0x05, 127 } }) << 1 << 441.0 << 12.0
            << 1e9 << 4.0;
        QTest::newRow("GS Rotary fast: horn at 7.5 Hz") << gs(0x01, 0x22,
            { { 0x07, 10 }, { 0x08, 120 }, { 0x09, 0x78 }, { 0x0A, 127 }, { 0x0B, 127 },
                { 0x0D, 127 }, { 0x06, 0 } }) << 1 << 2205.0
                                                        << 3.0 << 1e9 << 7.5;
        QTest::newRow("XG Tremolo: level at 4.9 Hz")
            << xg(0x46, 0x00, trem, false) << 0 << 441.0 << 10.0 << 1e9 << 4.88;
        QTest::newRow("GS Phaser: spectrum moves") << gs(
            0x01, 0x20, { { 0x03, 36 }, { 0x04, 19 }, { 0x05, 127 }, { 0x06, 64 }, { 0x07, 127 } })
                                                   << 2 << 0.0 << 0.15 << 1e9 << 1.0;
        QTest::newRow("GS Stereo Flanger: spectrum moves") << gs(
            0x01, 0x23, { { 0x05, 16 }, { 0x06, 19 }, { 0x07, 127 }, { 0x08, 0x70 }, { 0x12, 64 } })
                                                           << 2 << 0.0 << 0.10 << 1e9 << 0.0;
        QTest::newRow("GS Auto Wah: spectrum moves") << gs(
            0x01, 0x21, { { 0x03, 1 }, { 0x05, 68 }, { 0x06, 90 }, { 0x07, 19 }, { 0x08, 127 } })
                                                     << 2 << 0.0 << 0.25 << 1e9 << 1.0;
        // Still types stay still: what the measures read from the test signals themselves.
        QTest::newRow("GS Stereo-EQ: level still")
            << gs(0x01, 0x00, { { 0x04, 0x4C } }) << 0 << 441.0 << 0.0 << 0.2 << 0.0;
        QTest::newRow("GS Phaser without depth: spectrum still")
            << gs(0x01, 0x20, { { 0x03, 36 }, { 0x05, 0 }, { 0x06, 64 }, { 0x07, 127 } }) << 2
            << 0.0 << 0.0 << 0.12 << 0.0;
        QTest::newRow("XG Phaser: spectrum moves")
            << xg(0x48, 0x00, phaser, false) << 2 << 0.0 << 0.10 << 1e9 << 0.0;
    }

    void modulation()
    {
        QFETCH(Setup, setup);
        QFETCH(int, measure);
        QFETCH(double, hz);
        QFETCH(double, minSwing);
        QFETCH(double, maxSwing);
        QFETCH(double, rate);
        const Signal out = run(setup, hz > 0 ? sine(hz, 3.0) : noise(3.0, 0.3));
        std::vector<double> v;
        if (measure == 0) {
            v = windows(
                out, 0.5, [](double l, double r) { return db(std::max(std::hypot(l, r), 1e-4)); });
        } else if (measure == 1) {
            v = windows(out, 0.5,
                [](double l, double r) { return db(std::max(r, 1e-4)) - db(std::max(l, 1e-4)); });
        } else {
            // Brightness: the share of the highs (a first difference) in 20 ms windows.
            const int w = kRate / 50;
            for (int i = kRate / 2; i + w <= out.frames(); i += w / 4) {
                double x2 = 0, d2 = 0;
                for (int j = i + 1; j < i + w; ++j) {
                    const double x = out.left[std::size_t(j)], d = x - out.left[std::size_t(j - 1)];
                    x2 += x * x;
                    d2 += d * d;
                }
                v.push_back(std::sqrt(d2 / std::max(x2, 1e-12)));
            }
            double mean = 0;
            for (double x : v)
                mean += x / double(v.size());
            for (double& x : v)
                x /= mean;
        }
        const double swing = spread(v);
        QVERIFY2(swing >= minSwing && swing <= maxSwing,
            qPrintable(
                QString("moves by %1, expected %2 to %3").arg(swing).arg(minSwing).arg(maxSwing)));
        if (rate > 0 && measure < 2) {
            const double r = rateHz(v);
            QVERIFY2(std::abs(r - rate) < 0.12 * rate,
                qPrintable(QString("moves at %1 Hz, expected %2").arg(r).arg(rate)));
        }
    }

    void chorusWidensAMonoTone()
    {
        const Signal out
            = run(gs(0x01, 0x42,
                      { { 0x05, 0x0A }, { 0x06, 8 }, { 0x07, 111 }, { 0x09, 0x5A }, { 0x12, 64 } }),
                sine(441, 2.0));
        double side = 0, mid = 0;
        for (int i = kRate; i < out.frames(); ++i) {
            const double l = out.left[std::size_t(i)], r = out.right[std::size_t(i)];
            side += (l - r) * (l - r);
            mid += (l + r) * (l + r);
        }
        QVERIFY2(10 * std::log10(side / mid) > -20,
            qPrintable(QString("width %1 dB").arg(10 * std::log10(side / mid))));
    }

    void masterEqShelves_data()
    {
        QTest::addColumn<bool>("xgEq");
        QTest::addColumn<double>("hz");
        QTest::addColumn<double>("expectDb");
        QTest::newRow("GS low +12 dB at 400 Hz: 60 Hz") << false << 60.0 << 12.0;
        QTest::newRow("GS low +12 dB: 5 kHz untouched") << false << 5000.0 << 0.0;
        QTest::newRow("XG Rock: 60 Hz lifted") << true << 60.0 << 6.5;
    }

    void masterEqShelves()
    {
        QFETCH(bool, xgEq);
        QFETCH(double, hz);
        QFETCH(double, expectDb);
        MasterEq eq;
        eq.prepare(kRate);
        if (xgEq) {
            XgEqParams p;
            QVERIFY(XgEqParams::preset(3, p));
            eq.setXg(p);
        } else {
            eq.setGs({ 1, 0x4C, 1, 0x40 });
        }
        Signal s = sine(hz, 1.0);
        eq.process(s.left.data(), s.right.data(), s.frames());
        double rms = 0;
        for (int i = kRate / 2; i < s.frames(); ++i)
            rms += double(s.left[std::size_t(i)]) * s.left[std::size_t(i)];
        const double gain = db(std::sqrt(rms / (kRate / 2)) / (0.25 / std::sqrt(2.0)));
        QVERIFY2(std::abs(gain - expectDb) < 1.0,
            qPrintable(QString("%1 dB, expected %2").arg(gain).arg(expectDb)));
    }

    void anyBytesStayBounded()
    {
        // Every type of both tables with every byte at 0, at 127, and at random, fed loud
        // noise and then silence, and the GS delay likewise: finite, bounded, no denormals.
        std::vector<Setup> setups;
        std::mt19937 gen(29);
        std::uniform_int_distribution<int> byte(0, 127);
        for (int pattern = 0; pattern < 4; ++pattern) {
            auto value = [&](int) { return pattern == 0 ? 0 : pattern == 1 ? 127 : byte(gen); };
            for (int msb = 0; msb < 0x12; ++msb) {
                for (int lsb = 0; lsb < 0x80; ++lsb) {
                    if (!gsEfxBuilt(uint8_t(msb), uint8_t(lsb)))
                        continue;
                    GsEfxParams p;
                    for (int i = 0; i < 20; ++i)
                        p[std::size_t(i)] = uint8_t(value(i));
                    setups.push_back([=] {
                        ChainSettings c;
                        gsEfxChain(uint8_t(msb), uint8_t(lsb), p, c);
                        return c;
                    });
                }
            }
            for (int msb = 0; msb < 0x80; ++msb) {
                if (!xgEffectBuilt(uint8_t(msb), 0))
                    continue;
                XgEffectParams p;
                for (auto& b : p.lsb)
                    b = uint8_t(value(0));
                for (auto& b : p.msb)
                    b = uint8_t(value(0));
                for (bool system : { false, true })
                    setups.push_back([=] {
                        ChainSettings c;
                        xgEffectChain(uint8_t(msb), 0, p, system, c);
                        return c;
                    });
            }
            GsDelayParams d;
            d.preLpf = uint8_t(value(0)), d.timeCentre = uint8_t(value(0)),
            d.ratioLeft = uint8_t(value(0));
            d.ratioRight = uint8_t(value(0)), d.levelCentre = uint8_t(value(0)),
            d.feedback = uint8_t(value(0));
            d.level = 127;
            setups.push_back(gsDelay(d));
        }
        Signal in = noise(0.3, 1.0);
        in.left.resize(kRate, 0.0f);
        in.right.resize(kRate, 0.0f);
        for (std::size_t k = 0; k < setups.size(); ++k) {
            const Signal out = run(setups[k], in);
            for (int i = 0; i < out.frames(); ++i) {
                for (float x : { out.left[std::size_t(i)], out.right[std::size_t(i)] }) {
                    if (!std::isfinite(x) || std::abs(x) > 64.0f || subnormal(x))
                        QFAIL(qPrintable(
                            QString("set-up %1: sample %2 is %3").arg(k).arg(i).arg(double(x))));
                }
            }
        }
    }

    void typeChangesAndNanLeaveItSound()
    {
        EffectChain chain;
        chain.prepare(kRate);
        const std::vector<Setup> types {
            gs(0x01, 0x55, {}),
            gs(0x02, 0x08, { { 0x09, 0x7F } }),
            gs(0x01, 0x23, { { 0x08, 0x7F } }),
            xg(0x05, 0x00, xgDelayLcrDefaults(), true),
            gs(0x11, 0x03, {}),
        };
        Signal in = noise(0.1, 0.8);
        for (int round = 0; round < 20; ++round) {
            chain.set(types[std::size_t(round) % types.size()]());
            if (round == 7)
                in.left[100] = std::numeric_limits<float>::quiet_NaN();
            const Signal out = run(chain, in, 128);
            in.left[100] = 0.1f;
            for (int i = 0; i < out.frames(); ++i)
                QVERIFY(std::isfinite(out.left[std::size_t(i)])
                    && std::isfinite(out.right[std::size_t(i)]));
        }
        // After the NaN the chain plays on: the last round is not silent.
        const Signal out = run(chain, in, 128);
        double energy = 0;
        for (float x : out.left)
            energy += double(x) * x;
        QVERIFY(energy > 0);
    }

    void builtAndNamed()
    {
        // Thru and no effect leave the chain alone; the common types are all built.
        ChainSettings c;
        QVERIFY(!gsEfxChain(0x00, 0x00, gsBytes({}), c));
        QVERIFY(!xgEffectChain(0x00, 0x00, XgEffectParams {}, true, c));
        QVERIFY(!xgEffectChain(0x40, 0x00, XgEffectParams {}, false, c));
        for (auto [msb, lsb] : { std::pair { 0x01, 0x55 }, { 0x01, 0x02 }, { 0x01, 0x20 },
                 { 0x01, 0x10 }, { 0x01, 0x42 }, { 0x02, 0x08 }, { 0x01, 0x11 }, { 0x11, 0x03 },
                 { 0x01, 0x60 }, { 0x01, 0x50 }, { 0x01, 0x40 }, { 0x01, 0x43 }, { 0x01, 0x23 } })
            QVERIFY2(gsEfxBuilt(uint8_t(msb), uint8_t(lsb)), gsEfxName(uint8_t(msb), uint8_t(lsb)));
        QCOMPARE(QString(gsEfxName(0x01, 0x55)), QString("Reverb"));
        QVERIFY(gsEfxName(0x01, 0x7F) == nullptr);
    }
};

QTEST_GUILESS_MAIN(TestEffectDsp)
#include "tst_effectdsp.moc"
