// A song for a module with two ports: rendered offline, its 32 parts must sound as its
// two 16-part halves rendered apart and mixed, so no part of one port lands on the
// other's; and the parts the listener sees and mutes reach 32.

#include "common/SmfWriter.h"
#include "platform/midi/output/fluidsynth/OfflineRenderer.h"
#include "platform/midi/transport/Sequencer.h"

#include <QtTest>

#include <cmath>
#include <filesystem>
#include <functional>

using namespace sequora::midi;
using namespace sequora::test;

namespace {

constexpr int kRate = 44100;
constexpr uint32_t kBlock = 1024;
constexpr int64_t kFrames = kRate * 3 / 2;
const char* const kSmallSoundfont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
const Bytes kGsReset { 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7 };

using Fill = std::function<void(SmfTrack&)>;

/// Port 0's track and port 1's track of one song: together in one file with their port
/// prefixes, or each alone as a plain one-port song.
struct TwoPorts {
    Fill first;
    Fill second;
};

Bytes songFile(const TwoPorts& song, int which)
{
    SmfWriter smf(1, 480);
    smf.addTrack().tempo(0, 500000).sysex(0, kGsReset).endOfTrack(1920);
    const bool both = which < 0;
    if (both || which == 0) {
        SmfTrack& t = smf.addTrack();
        if (both)
            t.meta(0, 0x21, { 0 });
        song.first(t);
    }
    if (both || which == 1) {
        SmfTrack& t = smf.addTrack();
        if (both)
            t.meta(0, 0x21, { 1 });
        song.second(t);
    }
    return smf.bytes();
}

// Interleaved float stereo of a fresh synthesiser playing @p bytes from the start.
std::vector<float> rendered(const Bytes& bytes, bool& secondPort)
{
    std::string error;
    const std::string sf = std::filesystem::exists(kSmallSoundfont) ? kSmallSoundfont : "";
    auto synth = OfflineRenderer::create(sf, kRate, error);
    if (!synth)
        return {};
    OfflineRenderer* out = synth.get();
    Sequencer seq(std::move(synth));
    Song song;
    if (!Song::parse(bytes, song).playable())
        return {};
    secondPort = song.usesSecondPort();
    seq.open(std::move(song));
    seq.play();
    std::vector<float> left(kFrames), right(kFrames), mix(2 * kFrames);
    for (int64_t done = 0; done < kFrames; done += kBlock) {
        const auto n = static_cast<uint32_t>(std::min<int64_t>(kBlock, kFrames - done));
        out->renderFloat(left.data() + done, right.data() + done, n);
    }
    for (int64_t i = 0; i < kFrames; ++i) {
        mix[2 * i] = left[i];
        mix[2 * i + 1] = right[i];
    }
    return mix;
}

double rms(const std::vector<float>& x)
{
    double sum = 0;
    for (float v : x)
        sum += double(v) * v;
    return std::sqrt(sum / double(std::max<std::size_t>(1, x.size())));
}

} // namespace

class TestTwoPorts : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        std::string error;
        if (!OfflineRenderer::create(
                std::filesystem::exists(kSmallSoundfont) ? kSmallSoundfont : "", kRate, error))
            QSKIP(qPrintable(QString::fromStdString("no soundfont to render with: " + error)));
    }

    void thirtyTwoPartsSoundAsTheirHalves_data()
    {
        QTest::addColumn<int>("row");
        QTest::newRow("melodic parts 1 and 17") << 0;
        QTest::newRow("drum parts 10 and 26") << 1;
        QTest::newRow("GS part write from the second port") << 2;
        QTest::newRow("controllers and bend on part 20") << 3;
        QTest::newRow("part 20 dry beside part 4 through an insertion effect") << 4;
    }
    void thirtyTwoPartsSoundAsTheirHalves()
    {
        QFETCH(int, row);
        // Quiet notes: the limiter must not touch the mix, or no sum would match. Each
        // half strikes its first note at the start, as the whole does: a fresh
        // synthesiser's very first voice starts a little differently.
        const TwoPorts songs[] = {
            { [](SmfTrack& t) {
                 t.programChange(0, 0, 0).noteOn(0, 0, 60, 50).noteOff(960, 0, 60);
             },
                [](SmfTrack& t) {
                    t.programChange(0, 0, 40).noteOn(0, 0, 67, 50).noteOff(960, 0, 67);
                } },
            { [](SmfTrack& t) { t.noteOn(0, 9, 36, 50).noteOff(240, 9, 36); },
                [](SmfTrack& t) { t.noteOn(0, 9, 38, 50).noteOff(240, 9, 38); } },
            { [](SmfTrack& t) {
                 t.programChange(0, 0, 19).noteOn(10, 0, 55, 50).noteOff(960, 0, 55);
             },
                [](SmfTrack& t) {
                    // Part 17's level (block 1, 19) and pan hard left (1C), from port 1.
                    t.sysex(0, { 0x41, 0x10, 0x42, 0x12, 0x40, 0x11, 0x19, 0x30, 0x66, 0xF7 })
                        .sysex(0, { 0x41, 0x10, 0x42, 0x12, 0x40, 0x11, 0x1C, 0x01, 0x12, 0xF7 })
                        .programChange(0, 0, 56)
                        .noteOn(10, 0, 62, 50)
                        .noteOff(960, 0, 62);
                } },
            { [](SmfTrack& t) {
                 t.programChange(0, 3, 48).noteOn(0, 3, 60, 50).noteOff(960, 3, 60);
             },
                [](SmfTrack& t) {
                    t.programChange(0, 3, 73)
                        .controller(0, 3, 7, 70)
                        .pitchBend(0, 3, 12000)
                        .noteOn(0, 3, 72, 50)
                        .pitchBend(480, 3, 4000)
                        .noteOff(480, 3, 72);
                } },
            { [](SmfTrack& t) {
                 // Overdrive as the EFX type, part 4 through it.
                 t.sysex(0, { 0x41, 0x10, 0x42, 0x12, 0x40, 0x03, 0x00, 0x01, 0x10, 0x2C, 0xF7 })
                     .sysex(0, { 0x41, 0x10, 0x42, 0x12, 0x40, 0x44, 0x22, 0x01, 0x59, 0xF7 })
                     .programChange(0, 3, 29)
                     .noteOn(10, 3, 45, 50)
                     .noteOff(960, 3, 45);
             },
                [](SmfTrack& t) {
                    t.programChange(0, 3, 0).noteOn(10, 3, 64, 50).noteOff(960, 3, 64);
                } },
        };
        const TwoPorts& song = songs[row];
        bool two = false, one = true;
        const std::vector<float> whole = rendered(songFile(song, -1), two);
        const std::vector<float> first = rendered(songFile(song, 0), one);
        QVERIFY(!whole.empty() && !first.empty());
        QVERIFY(two);
        QVERIFY(!one);
        const std::vector<float> second = rendered(songFile(song, 1), one);
        std::vector<float> difference(whole.size());
        for (std::size_t i = 0; i < whole.size(); ++i)
            difference[i] = whole[i] - first[i] - second[i];
        const double level = rms(whole);
        QVERIFY2(level > 1e-3, "the song must sound");
        QVERIFY(rms(second) > 0.05 * level); // the second port is heard, not dropped
        const double error = rms(difference) / level;
        QVERIFY2(error < 1e-3, qPrintable(QString("difference %1 of the level").arg(error)));
    }
};

QTEST_APPLESS_MAIN(TestTwoPorts)
#include "tst_twoports.moc"
