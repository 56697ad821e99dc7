// The engine through FluidSynth, rendered offline and judged by its samples: silence
// after stop, pause and seek; onsets where the file puts them; chased pitch-bend range
// audible after a seek; a real song that sounds like music.

#include "engine/SongBuilder.h"

#include "common/SmfWriter.h"
#include "platform/midi/output/fluidsynth/OfflineRenderer.h"
#include "platform/midi/transport/Sequencer.h"

#include <QtTest>

#include <cmath>
#include <filesystem>

using namespace sequora::midi;
using sequora::test::SongBuilder;

namespace {

constexpr int kRate = 44100;
constexpr uint32_t kBlock = 1024;
constexpr int64_t kSecond = 1'000'000;
constexpr int kSilentPeak = 4;    // dither only
constexpr int kClickKey = 76;     // hi wood block: short and sharp
constexpr int kDrums = 9;
constexpr int kCcReverb = 91;
constexpr int kCcChorus = 93;
const char* const kSmallSoundfont = "/usr/share/sounds/sf2/TimGM6mb.sf2";

int64_t frameAt(int64_t us) { return (us * kRate + kSecond / 2) / kSecond; }

// Left channel of interleaved stereo, as doubles.
std::vector<double> leftOf(const std::vector<int16_t>& stereo)
{
    std::vector<double> out(stereo.size() / 2);
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = stereo[2 * i];
    return out;
}

int peak(const int16_t* samples, std::size_t count)
{
    int p = 0;
    for (std::size_t i = 0; i < count; ++i)
        p = std::max(p, std::abs(int(samples[i])));
    return p;
}

// Fundamental frequency by autocorrelation over [minHz, maxHz]: the shortest lag that
// correlates nearly as well as the best one (multiples of the period correlate too).
double pitchHz(const std::vector<double>& x, std::size_t from, std::size_t n, double minHz, double maxHz)
{
    const int minLag = int(kRate / maxHz);
    const int maxLag = int(kRate / minHz);
    std::vector<double> corr(std::size_t(maxLag) + 1, 0.0);
    for (int lag = minLag; lag <= maxLag; ++lag) {
        for (std::size_t i = from; i < from + n; ++i)
            corr[std::size_t(lag)] += x[i] * x[i + std::size_t(lag)];
    }
    const double best = *std::max_element(corr.begin(), corr.end());
    for (int lag = minLag + 1; lag < maxLag; ++lag) {
        const double c = corr[std::size_t(lag)];
        if (c > 0.9 * best && c >= corr[std::size_t(lag) - 1] && c >= corr[std::size_t(lag) + 1])
            return double(kRate) / lag;
    }
    return 0;
}

} // namespace

class TestRender : public QObject {
    Q_OBJECT

private:
    OfflineRenderer* m_synth = nullptr;
    std::unique_ptr<Sequencer> m_seq;

    // Clicks without reverb or chorus: a tail must not blur the next click's onset.
    static SongBuilder dryClicks()
    {
        SongBuilder b;
        b.cc(0, kDrums, kCcReverb, 0).cc(0, kDrums, kCcChorus, 0);
        return b;
    }

    // How a lone click sounds when it starts exactly on a synth block: its level, and
    // how long its sample takes to reach a tenth of it (the sample's, not a timing error).
    // A fresh synthesiser's very first voice starts a little differently, so the click
    // measured is the second one.
    struct Click {
        double threshold = 0;
        int64_t attack = 0;
    };
    Click calibrate()
    {
        constexpr int64_t kOnGrid = 32 * kBlock;
        const int64_t at = kOnGrid * kSecond / kRate + 1; // frameAt(at) == kOnGrid
        m_seq->open(dryClicks().note(0, 50'000, kDrums, kClickKey, 120).note(at, 50'000, kDrums, kClickKey, 120)
                        .build(at + kSecond / 2));
        m_seq->play();
        const auto all = leftOf(render(kOnGrid + 16 * kBlock));
        const std::vector<double> x(all.begin() + kOnGrid, all.end());
        Click c;
        c.threshold = 0.1 * std::abs(*std::max_element(x.begin(), x.end(), [](double a, double b) { return std::abs(a) < std::abs(b); }));
        while (std::abs(x[std::size_t(c.attack)]) <= c.threshold)
            ++c.attack;
        return c;
    }
    // The largest distance between a click's onset in the audio and its time in the song.
    static int64_t worstOnsetError(const std::vector<double>& x, const std::vector<int64_t>& timesUs, const Click& click)
    {
        int64_t worst = 0;
        for (int64_t us : timesUs) {
            const int64_t e = frameAt(us) + click.attack;
            // The first sample over the threshold, once the previous click has died away.
            int64_t i = std::max<int64_t>(0, e - 1000);
            while (i < e + 2000 && std::abs(x[std::size_t(i)]) <= click.threshold)
                ++i;
            worst = std::max(worst, std::abs(i - e));
        }
        return worst;
    }

    std::vector<int16_t> render(int64_t frames, uint32_t block = kBlock)
    {
        std::vector<int16_t> out(std::size_t(frames) * 2);
        for (int64_t done = 0; done < frames;) {
            const auto n = static_cast<uint32_t>(std::min<int64_t>(block, frames - done));
            m_synth->render(out.data() + done * 2, n);
            done += n;
        }
        return out;
    }

private slots:
    void init()
    {
        std::string error;
        const std::string sf = std::filesystem::exists(kSmallSoundfont) ? kSmallSoundfont : "";
        auto synth = OfflineRenderer::create(sf, kRate, error);
        if (!synth)
            QSKIP(qPrintable(QString::fromStdString("no soundfont to render with: " + error)));
        m_synth = synth.get();
        m_seq = std::make_unique<Sequencer>(std::move(synth));
    }
    void cleanup() { m_seq.reset(); }

    void silenceWithinOneBlock_data()
    {
        QTest::addColumn<QString>("command");
        QTest::newRow("stop") << "stop";
        QTest::newRow("pause") << "pause";
        QTest::newRow("seek") << "seek";
        QTest::newRow("close") << "close";
    }
    void silenceWithinOneBlock()
    {
        QFETCH(QString, command);
        // A held organ chord with the pedal down and reverb: it would ring for seconds.
        m_seq->open(SongBuilder().program(0, 0, 19).cc(0, 0, kCcSustain, 127).cc(0, 0, kCcReverb, 127)
                        .note(0, 5 * kSecond, 0, 60).note(0, 5 * kSecond, 0, 64).note(0, 5 * kSecond, 0, 67)
                        .build(6 * kSecond));
        m_seq->play();
        const auto before = render(kRate);
        QVERIFY(peak(before.data() + before.size() - 2 * kBlock, 2 * kBlock) > 1000);

        if (command == "stop")
            m_seq->stop();
        else if (command == "pause")
            m_seq->pause();
        else if (command == "seek")
            m_seq->seek(3000);
        else
            m_seq->close();
        const auto after = render(3 * kBlock);
        QVERIFY2(peak(after.data(), after.size()) <= kSilentPeak,
                 qPrintable(QString("peak %1 after %2").arg(peak(after.data(), after.size())).arg(command)));
    }

    void onsetsLandOnTheNearestSynthBlock_data()
    {
        QTest::addColumn<uint32_t>("block");
        QTest::addColumn<int64_t>("tolerance");
        // Whole synth blocks: within half a block. Odd sizes: within a block.
        QTest::newRow("1024-frame periods") << uint32_t(1024) << int64_t(OfflineRenderer::kGrid / 2);
        QTest::newRow("1000-frame periods") << uint32_t(1000) << int64_t(OfflineRenderer::kGrid);
    }
    void onsetsLandOnTheNearestSynthBlock()
    {
        QFETCH(uint32_t, block);
        QFETCH(int64_t, tolerance);
        const Click click = calibrate();
        // Clicks at irregular times, most of them off the 64-frame grid.
        std::vector<int64_t> times;
        SongBuilder b = dryClicks();
        int64_t t = 200'000;
        for (int k = 0; k < 24; ++k) {
            times.push_back(t);
            b.note(t, 50'000, kDrums, kClickKey, 120);
            t += 301'000 + k * 7'919;
        }
        m_seq->open(b.build(t + kSecond));
        m_seq->play();
        const int64_t worst = worstOnsetError(leftOf(render(frameAt(t + kSecond), block)), times, click);
        qInfo("worst onset error: %lld frames", static_cast<long long>(worst));
        QVERIFY(worst <= tolerance);
    }

    void onsetsStayOnTimeThroughTempoChanges()
    {
        // Three minutes of a file whose tempo changes every beat; clicks in the first and
        // the last bar must both be where the tempo map puts them.
        const Click click = calibrate();
        const uint16_t ppq = 480;
        sequora::test::SmfWriter smf(0, ppq);
        auto& track = smf.addTrack();
        track.controller(0, kDrums, kCcReverb, 0).controller(0, kDrums, kCcChorus, 0);
        int64_t us = 0;
        std::vector<int64_t> clicks;
        const int beats = 400;
        for (int beat = 0; beat < beats; ++beat) {
            const uint32_t tempo = beat % 2 ? 412'347 : 487'653;
            track.tempo(0, tempo);
            const bool isClick = beat < 4 || beat >= beats - 4;
            if (isClick) {
                clicks.push_back(us);
                track.noteOn(0, kDrums, kClickKey, 120).noteOff(ppq / 4, kDrums, kClickKey);
            }
            // A quarter is `tempo` microseconds long, whatever the ticks in between.
            track.controller(isClick ? ppq - ppq / 4 : ppq, 1, kCcVolume, 100);
            us += tempo;
        }
        track.endOfTrack(ppq);
        const auto dir = std::filesystem::temp_directory_path() / "sequora-tst-render";
        std::filesystem::create_directories(dir);
        smf.writeFile(dir / "tempo.mid");
        const bool opened = m_seq->open((dir / "tempo.mid").string()).playable();
        std::filesystem::remove_all(dir);
        QVERIFY(opened);
        m_seq->play();
        const int64_t worst = worstOnsetError(leftOf(render(frameAt(us) + kRate)), clicks, click);
        qInfo("worst onset error over %d beats of changing tempo: %lld frames", beats, static_cast<long long>(worst));
        QVERIFY(worst <= int64_t(OfflineRenderer::kGrid / 2));
    }

    void chasedPitchBendRangeIsHeardAfterASeek()
    {
        // A twelve-semitone bend range set at the start, the wheel fully up, and a flute
        // that only starts after the target: without chasing it would sound a whole tone
        // up (the default range) instead of an octave.
        const int a3 = 57; // 220 Hz
        m_seq->open(SongBuilder().program(0, 0, 73)
                        .cc(0, 0, kCcRpnMsb, 0).cc(0, 0, kCcRpnLsb, 0).cc(0, 0, kCcDataEntryMsb, 12)
                        .bend(10'000, 0, 16383)
                        .note(2 * kSecond, 2 * kSecond, 0, a3)
                        .build(5 * kSecond));
        m_seq->seek(1000);
        m_seq->play();
        const auto x = leftOf(render(frameAt(2 * kSecond)));
        const double hz = pitchHz(x, std::size_t(frameAt(1'500'000)), 4096, 150, 1000);
        QVERIFY2(std::abs(hz - 440.0) < 440.0 * 0.03, qPrintable(QString("heard %1 Hz").arg(hz)));
    }

    void aRealSongSoundsLikeMusic()
    {
        const std::filesystem::path folder = "/usr/share/games/openttd/baseset/openmsx";
        const auto song = folder / "tttheme2.mid";
        if (!std::filesystem::exists(song))
            QSKIP("the openmsx songs are not installed");
        QVERIFY(m_seq->open(song.string()).playable());
        const int64_t lengthMs = m_seq->lengthMs();
        QVERIFY(lengthMs > 30'000);
        m_seq->play();
        const auto stereo = render(lengthMs * kRate / 1000 + kBlock);
        QCOMPARE(m_seq->state(), TransportState::Stopped);

        // RMS per second, in dB below full scale.
        std::vector<double> db;
        for (std::size_t start = 0; start + 2 * kRate <= stereo.size(); start += 2 * kRate) {
            double sum = 0;
            for (std::size_t i = start; i < start + 2 * kRate; ++i)
                sum += double(stereo[i]) * stereo[i];
            db.push_back(10 * std::log10(sum / (2 * kRate) / (32768.0 * 32768.0) + 1e-12));
        }
        // The file runs on silently after its last notes (and starts with a rest), so
        // judge the stretch from the first to the last sounding second.
        const auto sounding = [](double d) { return d > -60; };
        const auto first = std::find_if(db.begin(), db.end(), sounding);
        const auto last = std::find_if(db.rbegin(), db.rend(), sounding).base();
        QVERIFY(first < last);
        std::vector<double> music(first, last);
        int silentRun = 0, longestSilence = 0;
        for (double d : music) {
            silentRun = sounding(d) ? 0 : silentRun + 1;
            longestSilence = std::max(longestSilence, silentRun);
        }
        std::vector<double> sorted = music;
        std::sort(sorted.begin(), sorted.end());
        const double median = sorted[sorted.size() / 2];
        const int clipped = int(std::count_if(stereo.begin(), stereo.end(), [](int16_t s) { return s == 32767 || s == -32768; }));
        qInfo("%zu s of music in %zu s: median %.1f dBFS, loudest %.1f dBFS, longest silence %d s, %d clipped samples",
              music.size(), db.size(), median, sorted.back(), longestSilence, clipped);
        QVERIFY(music.size() > 60);
        QVERIFY(longestSilence <= 2);
        QVERIFY(median > -45 && median < -12);
        QVERIFY(sorted.back() < -3);
        QCOMPARE(clipped, 0);
    }
};

QTEST_GUILESS_MAIN(TestRender)
#include "tst_render.moc"
