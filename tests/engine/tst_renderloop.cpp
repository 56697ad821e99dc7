// A looped song rendered through FluidSynth: played unrolled it gives, sample for sample,
// what the same song with its loop written out gives, up to the fade; the fade's level
// falls as set, and after it all is silent; a seek or a new open out of the fade plays at
// full level again. The jump back silences nothing: a chord ringing with the pedal across
// the loop's end releases into the next pass.

#include "common/LoopedSong.h"
#include "engine/SongBuilder.h"
#include "platform/midi/output/fluidsynth/OfflineRenderer.h"
#include "platform/midi/transport/Sequencer.h"

#include <QtTest>

#include <cmath>
#include <filesystem>

using namespace sequora::midi;
using namespace sequora::test;

namespace {

constexpr int kRate = 44100;
constexpr uint32_t kBlock = 1024;
constexpr int64_t kSecond = 1'000'000;
const char* const kSmallSoundfont = "/usr/share/sounds/sf2/TimGM6mb.sf2";

int64_t frameAt(int64_t us)
{
    return (us * kRate + kSecond / 2) / kSecond;
}

struct Render {
    std::vector<int16_t> samples; ///< interleaved stereo
    double rms(int64_t from, int64_t to) const
    {
        double sum = 0;
        for (int64_t i = 2 * from; i < 2 * to; ++i)
            sum += double(samples[std::size_t(i)]) * samples[std::size_t(i)];
        return std::sqrt(sum / double(2 * (to - from)));
    }
    int peak(int64_t from, int64_t to) const
    {
        int p = 0;
        for (int64_t i = 2 * from; i < 2 * to; ++i)
            p = std::max(p, std::abs(int(samples[std::size_t(i)])));
        return p;
    }
};

// @p frames of @p song played from its start with @p playback, through a fresh renderer.
Render render(Song song, LoopPlayback playback, int64_t frames)
{
    std::string error;
    auto synth = OfflineRenderer::create(kSmallSoundfont, kRate, error);
    if (!synth)
        return {};
    OfflineRenderer& out = *synth;
    Sequencer seq(std::move(synth));
    seq.setLoopPlayback(playback);
    seq.open(std::move(song));
    seq.play();
    Render r;
    r.samples.resize(std::size_t(frames) * 2);
    for (int64_t done = 0; done < frames; done += kBlock)
        out.render(r.samples.data() + done * 2, uint32_t(std::min<int64_t>(kBlock, frames - done)));
    return r;
}

Song parsed(const Bytes& bytes)
{
    Song song;
    Song::parse(bytes, song);
    return song;
}

} // namespace

class TestRenderLoop : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        if (!std::filesystem::exists(kSmallSoundfont))
            QSKIP("TimGM6mb is not installed");
    }

    void theLoopPlayedTwiceIsTheLoopWrittenTwice_data()
    {
        QTest::addColumn<int>("mark");
        QTest::newRow("loopStart/loopEnd markers") << int(LoopMark::Markers);
        QTest::newRow("CC 111") << int(LoopMark::Controller);
    }

    void theLoopPlayedTwiceIsTheLoopWrittenTwice()
    {
        QFETCH(int, mark);
        const Song looped = parsed(loopedSong(LoopMark(mark)));
        QVERIFY(looped.loop().has_value());
        const LoopPlayback playback { 2, 8000 };
        const LoopTimeline timeline(looped, playback);
        const int64_t fadeStart = frameAt(timeline.fadeStartUs());
        const int64_t end = frameAt(timeline.lengthUs());
        const int64_t frames = end + kRate;
        const Render a = render(looped, playback, frames);
        const Render b = render(parsed(loopedSong(LoopMark::None, 3)), playback, frames);
        QCOMPARE(a.samples.size(), std::size_t(frames) * 2);

        // Up to the fade, every sample: no gap, nothing doubled or lost at the jump.
        for (int64_t i = 0; i < 2 * fadeStart; ++i) {
            if (a.samples[std::size_t(i)] != b.samples[std::size_t(i)])
                QFAIL(qPrintable(QStringLiteral(
                    "the renders part at frame %1 (%2 s; the jump is at %3 s): %4 against %5")
                                     .arg(i / 2)
                                     .arg(double(i / 2) / kRate)
                                     .arg(double(looped.loop()->endUs) / kSecond)
                                     .arg(a.samples[std::size_t(i)])
                                     .arg(b.samples[std::size_t(i)])));
        }
        QVERIFY(a.rms(fadeStart - kRate, fadeStart) > 500); // music, not two silences

        // The fade: quarter-second windows against the unfaded pass, while still audible.
        const int64_t length = end - fadeStart;
        const int64_t window = kRate / 4;
        for (int64_t w = fadeStart; w + window < end; w += window) {
            const double t = double(w + window / 2 - fadeStart) / double(length);
            const double want = (1 - t) * (1 - t);
            if (want < 0.01)
                break;
            const double got = a.rms(w, w + window) / b.rms(w, w + window);
            QVERIFY2(std::abs(20 * std::log10(got / want)) < 1.0,
                qPrintable(QStringLiteral("at %1 of the fade: level %2, want %3")
                               .arg(t)
                               .arg(got)
                               .arg(want)));
        }
        // After the end, silence.
        QVERIFY(a.peak(end + kRate / 10, frames) <= 4);
        QVERIFY(b.peak(end + kRate / 10, frames) > 1000);
    }

    void leavingTheFadeBringsTheFullLevelBack_data()
    {
        QTest::addColumn<int>("how");
        QTest::newRow("a seek back into the first pass") << 0;
        QTest::newRow("stopped, then a seek back") << 1;
        QTest::newRow("the song opened again") << 2;
    }

    void leavingTheFadeBringsTheFullLevelBack()
    {
        QFETCH(int, how);
        const Song looped = parsed(loopedSong(LoopMark::Markers));
        const LoopPlayback playback { 2, 8000 };
        const LoopTimeline timeline(looped, playback);
        const int64_t backMs = looped.loop()->startUs / 1000 + 500;
        const int64_t frames = 2 * kRate;
        std::string error;

        // Three quarters into the fade (about -24 dB), then back to the first pass.
        auto synth = OfflineRenderer::create(kSmallSoundfont, kRate, error);
        QVERIFY2(synth, error.c_str());
        OfflineRenderer& out = *synth;
        Sequencer seq(std::move(synth));
        seq.setLoopPlayback(playback);
        seq.open(looped);
        seq.seek((timeline.fadeStartUs() + 6 * kSecond) / 1000);
        seq.play();
        std::vector<int16_t> scratch(kBlock * 2);
        for (int i = 0; i < 20; ++i)
            out.render(scratch.data(), kBlock);
        if (how == 1)
            seq.stop();
        if (how == 2)
            seq.open(looped);
        seq.seek(backMs);
        seq.play();
        Render after;
        after.samples.resize(std::size_t(frames) * 2);
        for (int64_t done = 0; done < frames; done += kBlock)
            out.render(after.samples.data() + done * 2,
                uint32_t(std::min<int64_t>(kBlock, frames - done)));

        // The same place played from a fresh start of the song.
        const int64_t skip = frameAt(backMs * 1000);
        const Render fresh = render(looped, playback, skip + frames);
        Render there;
        there.samples.assign(fresh.samples.begin() + skip * 2, fresh.samples.end());
        // Past what the seek's silence cut, the level is the song's own.
        const double got = after.rms(kRate / 2, frames);
        const double want = there.rms(kRate / 2, frames);
        QVERIFY2(want > 500 && std::abs(20 * std::log10(got / want)) < 1.0,
            qPrintable(QStringLiteral("rms %1 after leaving the fade, %2 played through")
                           .arg(got)
                           .arg(want)));
    }

    void theJumpLetsTheReleasesRing_data()
    {
        QTest::addColumn<int64_t>("loopStart");
        QTest::addColumn<bool>("gsReset");
        QTest::newRow("a loop in the song") << int64_t(200'000) << false;
        // RPG Maker songs loop from a CC 111 beside their reset: the reset must not cut.
        QTest::newRow("a loop from a GS reset") << int64_t(0) << true;
    }

    void theJumpLetsTheReleasesRing()
    {
        QFETCH(int64_t, loopStart);
        QFETCH(bool, gsReset);
        // A string chord held by the pedal across the loop's end, and a piano note with
        // all the reverb there is just before it: the jump releases the chord, and the
        // next pass starts on a rest, so what sounds after the jump is the chord's
        // release and the reverb's tail, not silence.
        SongBuilder b;
        if (gsReset)
            b.sysex(0, { 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7 });
        b.program(0, 0, 48).cc(0, 0, 64, 127).program(0, 1, 0).cc(0, 1, 91, 127);
        for (int key : { 60, 64, 67 })
            b.note(500'000, 1'000'000, 0, key, 110);
        b.note(1'800'000, 100'000, 1, 72, 127);
        Song song = b.build(3 * kSecond);
        song.setLoop(SongLoop { loopStart, 2 * kSecond });
        const Render r = render(std::move(song), LoopPlayback { 2, 0 }, frameAt(3 * kSecond));
        const int64_t jump = frameAt(2 * kSecond);
        const double before = r.rms(jump - kRate / 20, jump);
        const double release = r.rms(jump + kRate / 50, jump + kRate / 20);
        const double tail = r.rms(jump + kRate / 5, jump + kRate * 3 / 10);
        QVERIFY2(before > 300, qPrintable(QString::number(before)));
        QVERIFY2(release > before / 30 && tail > before / 100,
            qPrintable(QStringLiteral("%1 before the jump, %2 after, %3 later")
                           .arg(before)
                           .arg(release)
                           .arg(tail)));
    }
};

QTEST_GUILESS_MAIN(TestRenderLoop)
#include "tst_renderloop.moc"
