// The synthesiser's output as a listener gets it, rendered offline: loud passages held
// under the ceiling and quiet ones untouched; a synthesiser that stops running once
// nothing sounds and the transport waits, without losing the next note; a position that
// is what is heard, not what has been dispatched.

#include "engine/SongBuilder.h"

#include "platform/midi/output/fluidsynth/FluidSynthCore.h"
#include "platform/midi/output/Limiter.h"
#include "platform/midi/output/fluidsynth/OfflineRenderer.h"
#include "platform/midi/transport/Sequencer.h"

#include <fluidsynth.h>

#include <QtTest>

#include <cmath>
#include <filesystem>

using namespace sequora::midi;
using sequora::test::SongBuilder;

namespace {

constexpr int kRate = 44100;
constexpr uint32_t kBlock = 1024;
constexpr int64_t kSecond = 1'000'000;
const char* const kSmallSoundfont = "/usr/share/sounds/sf2/TimGM6mb.sf2";

std::string soundfont()
{
    return std::filesystem::exists(kSmallSoundfont) ? kSmallSoundfont
                                                    : FluidSynthCore::findSoundfont();
}

int64_t frameAt(int64_t us)
{
    return (us * kRate + kSecond / 2) / kSecond;
}

float peakOf(const std::vector<float>& x, std::size_t from = 0, std::size_t to = SIZE_MAX)
{
    float p = 0;
    for (std::size_t i = from; i < std::min(to, x.size()); ++i)
        p = std::max(p, std::abs(x[i]));
    return p;
}

// Plays a fixed list of messages at the start of the first block, then keeps playing.
class Script final : public EventSource {
public:
    explicit Script(std::vector<std::array<uint8_t, 3>> messages)
        : m_messages(std::move(messages))
    {
    }
    PullResult pull(uint32_t frames, Block& block) override
    {
        if (!m_sent) {
            for (const auto& m : m_messages)
                block.addShort(m[0], m[1], m[2]);
            m_sent = true;
        }
        return { true, frames };
    }

private:
    std::vector<std::array<uint8_t, 3>> m_messages;
    bool m_sent = false;
};

} // namespace

class TestListening : public QObject {
    Q_OBJECT

private:
    OfflineRenderer* m_synth = nullptr;
    std::unique_ptr<Sequencer> m_seq;
    std::vector<float> m_left;
    std::vector<float> m_right;

    // Renders @p frames more, appending to m_left/m_right.
    void render(int64_t frames, uint32_t block = kBlock)
    {
        for (int64_t done = 0; done < frames;) {
            const auto n = static_cast<uint32_t>(std::min<int64_t>(block, frames - done));
            const std::size_t at = m_left.size();
            m_left.resize(at + n);
            m_right.resize(at + n);
            m_synth->renderFloat(m_left.data() + at, m_right.data() + at, n);
            done += n;
        }
    }

    // The first frame from @p from on where something sounds.
    std::size_t onsetIn(std::size_t from) const
    {
        while (from < m_left.size() && std::abs(m_left[from]) < 1e-4f)
            ++from;
        return from;
    }

private slots:
    void init()
    {
        std::string error;
        auto synth = OfflineRenderer::create(soundfont(), kRate, error);
        if (!synth)
            QSKIP(qPrintable(QString::fromStdString("no soundfont to render with: " + error)));
        m_synth = synth.get();
        m_seq = std::make_unique<Sequencer>(std::move(synth));
        m_left.clear();
        m_right.clear();
    }
    void cleanup() { m_seq.reset(); }

    void aFortissimoClusterStaysUnderTheCeiling()
    {
        // Sixteen channels of brass and strings at full velocity: far over full scale
        // from the synthesiser alone.
        SongBuilder b;
        for (int ch = 0; ch < 16; ++ch) {
            if (ch == 9)
                continue;
            b.program(0, ch, ch % 2 ? 61 : 48).cc(0, ch, 7, 127);
            for (int key = 40; key < 88; key += 7)
                b.note(ch * 1000, 2 * kSecond, ch, key + ch % 3, 127);
        }
        m_seq->open(b.build(3 * kSecond));
        m_seq->play();
        render(3 * kRate);
        const float loudest = std::max(peakOf(m_left), peakOf(m_right));
        QVERIFY2(loudest <= Limiter::kCeiling, qPrintable(QString::number(loudest)));
        QVERIFY2(loudest > 0.8f * Limiter::kCeiling, qPrintable(QString::number(loudest)));

        // The same cluster straight from the synthesiser does go over: the limiter did it.
        std::string error;
        auto raw = FluidSynthCore::create(soundfont(), kRate, false, error);
        QVERIFY(raw);
        for (int ch = 0; ch < 16; ++ch) {
            if (ch == 9)
                continue;
            raw->sendShort(0xC0 | ch, ch % 2 ? 61 : 48, 0);
            raw->sendShort(0xB0 | ch, 7, 127);
            for (int key = 40; key < 88; key += 7)
                raw->sendShort(0x90 | ch, key + ch % 3, 127);
        }
        std::vector<float> l(kRate), r(kRate);
        fluid_synth_write_float(raw->synth(), kRate, l.data(), 0, 1, r.data(), 0, 1);
        QVERIFY(std::max(peakOf(l), peakOf(r)) > 1.0f);
    }

    void aQuietNoteIsUntouchedToTheSample()
    {
        const std::vector<std::array<uint8_t, 3>> messages = { { 0xC0, 73, 0 }, { 0x90, 72, 40 } };
        Script script(messages);
        m_seq.reset(); // the renderer goes with it; take a fresh one for the script
        std::string error;
        auto synth = OfflineRenderer::create(soundfont(), kRate, error);
        QVERIFY(synth);
        m_synth = synth.get();
        m_synth->attach(&script);
        render(kRate / 2, 1000);
        m_synth->attach(nullptr);

        auto raw = FluidSynthCore::create(soundfont(), kRate, false, error);
        QVERIFY(raw);
        for (const auto& m : messages)
            raw->sendShort(m[0], m[1], m[2]);
        std::vector<float> l(kRate / 2), r(kRate / 2);
        fluid_synth_write_float(raw->synth(), kRate / 2, l.data(), 0, 1, r.data(), 0, 1);

        QVERIFY(peakOf(l) > 0.01f && peakOf(l) < Limiter::kCeiling);
        const auto delay = std::size_t(m_synth->latencyFrames());
        for (std::size_t i = 0; i < m_left.size(); ++i) {
            const float wantL = i < delay ? 0.0f : l[i - delay];
            const float wantR = i < delay ? 0.0f : r[i - delay];
            if (m_left[i] != wantL || m_right[i] != wantR)
                QFAIL(qPrintable(QString("frame %1 differs").arg(i)));
        }
    }

    void theSynthesiserRestsWhileNothingSounds_data()
    {
        QTest::addColumn<QString>("command");
        QTest::newRow("pause") << "pause";
        QTest::newRow("stop") << "stop";
        QTest::newRow("the end of the song") << "end";
    }
    void theSynthesiserRestsWhileNothingSounds()
    {
        QFETCH(QString, command);
        // A short note, and the same note a second later that must not be lost.
        const int64_t secondNote = command == "end" ? 600'000 : kSecond;
        m_seq->open(SongBuilder()
                        .program(0, 0, 0)
                        .note(0, 200'000, 0, 60, 100)
                        .note(secondNote, 300'000, 0, 60, 100)
                        .build(command == "end" ? kSecond : 2 * kSecond));
        m_seq->play();
        render(frameAt(500'000));
        const std::size_t firstOnset = onsetIn(0);
        if (command == "pause")
            m_seq->pause();
        else if (command == "stop")
            m_seq->stop();
        else
            render(frameAt(3 * kSecond)); // to the end and the release tail after it
        render(4 * kBlock); // the tail fades, or the stop silences it
        const uint64_t resting = m_synth->framesSynthesised();
        const std::size_t restFrom = m_left.size();
        render(kRate);
        QCOMPARE(m_synth->framesSynthesised(), resting);
        QCOMPARE(peakOf(m_left, restFrom), 0.0f);
        if (command == "end") {
            QCOMPARE(m_seq->state(), TransportState::Stopped);
            return;
        }

        // Play again: the synthesiser runs at once and the second note sounds when due,
        // half a second after the resume, as loud as it should.
        const std::size_t resumedAt = m_left.size();
        m_seq->play();
        render(kRate);
        QVERIFY(m_synth->framesSynthesised() > resting);
        const std::size_t due = resumedAt + std::size_t(frameAt(secondNote - 500'000)) + firstOnset;
        const std::size_t onset = onsetIn(resumedAt);
        QVERIFY2(onset + OfflineRenderer::kGrid >= due && onset <= due + OfflineRenderer::kGrid,
            qPrintable(QString("onset %1 frames after the resume, due at %2")
                           .arg(onset - resumedAt)
                           .arg(due - resumedAt)));
        QVERIFY(peakOf(m_left, onset, onset + kRate / 4) > 0.05f);
    }

    void commandsInTheLastMomentBeforeTheEndIsHeard()
    {
        // The end has gone out to the synthesiser, the listener is not there yet.
        m_seq->open(SongBuilder()
                        .note(0, 100'000, 0, 60)
                        .note(1'500'000, 100'000, 0, 60)
                        .build(2 * kSecond));
        m_seq->play(1000);
        render(frameAt(kSecond) + 10);
        QCOMPARE(m_seq->state(), TransportState::Playing);
        QVERIFY(m_seq->positionMs() < 1000);

        // Played on to the end of the song: it goes on from the old end, and the next
        // note comes half a second later, not at once.
        m_seq->play();
        QCOMPARE(m_seq->state(), TransportState::Playing);
        const std::size_t extendedAt = m_left.size();
        render(kRate / 4);
        QVERIFY(peakOf(m_left, extendedAt) < 1e-3f); // the first note's reverb at most
        render(kRate / 2);
        QVERIFY(peakOf(m_left, extendedAt + kRate / 4) > 0.01f);

        // Paused with the end already out: the song is over, not paused for ever.
        m_seq->seek(0);
        m_seq->play(1000);
        render(frameAt(kSecond) + 10);
        m_seq->pause();
        QCOMPARE(m_seq->state(), TransportState::Stopped);
        QCOMPARE(m_seq->positionMs(), int64_t(1000));
    }

    void thePositionIsWhatIsHeard()
    {
        const int64_t length = 2 * kSecond;
        m_seq->open(SongBuilder().note(500'000, 100'000, 0, 60, 100).build(length));
        m_seq->play();
        const int64_t latency = m_synth->latencyFrames();
        QVERIFY(latency > 0);
        const int64_t endHeard = frameAt(length) + latency;
        int64_t rendered = 0;
        while (m_seq->state() == TransportState::Playing && rendered < endHeard + 2 * kBlock) {
            render(1000, 1000);
            rendered += 1000;
            const int64_t heardMs = std::max<int64_t>(0, rendered - latency) * 1000 / kRate;
            if (rendered < endHeard) {
                QCOMPARE(m_seq->state(), TransportState::Playing);
                QCOMPARE(m_seq->positionMs(), std::min<int64_t>(heardMs, length / 1000));
            }
        }
        // Stopped at the end once the end was heard, not when it was dispatched.
        QCOMPARE(m_seq->state(), TransportState::Stopped);
        QCOMPARE(m_seq->positionMs(), length / 1000);
        QVERIFY(rendered >= endHeard && rendered < endHeard + 1000);
        // And the note sounds where the position says it is: at 500 ms.
        const std::size_t onset = onsetIn(0);
        const int64_t heardAtOnset = (int64_t(onset) - latency) * 1000 / kRate;
        QVERIFY2(std::abs(heardAtOnset - 500) <= 2, qPrintable(QString::number(heardAtOnset)));
    }
};

QTEST_GUILESS_MAIN(TestListening)
#include "tst_listening.moc"
