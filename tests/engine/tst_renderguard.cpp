// A guard on the sound: short pieces for the system modes' drum parts, a seek into a held
// chord, the effects and the limiter, rendered offline on TimGM6mb and compared window by
// window with references kept in render_references.txt: the level of the middle and of the
// sides (what reverb and chorus add), and how often the middle crosses zero (a drum kit's
// noise against a piano's tone). The tolerances let FluidSynth's patch releases through
// and catch a drum part turned melodic, a held note lost after a seek, an effect gone, or
// the level moved by more than a decibel.
//
// SEQUORA_WRITE_RENDER_REFERENCES=FILE writes the references anew instead of comparing.

#include "engine/SongBuilder.h"
#include "platform/midi/output/fluidsynth/OfflineRenderer.h"
#include "platform/midi/transport/Sequencer.h"

#include <QtTest>

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>

using namespace sequora;
using namespace sequora::midi;
using test::SongBuilder;

namespace {

constexpr int kRate = 44100;
constexpr int kWindowMs = 100;
constexpr int64_t kS = 1'000'000;
constexpr const char* kSoundfont = "/usr/share/sounds/sf2/TimGM6mb.sf2";

constexpr double kLevelTolerance = 1.0;   ///< dB, the whole piece
constexpr double kWindowTolerance = 6.0;  ///< dB, one window, where it is audible
constexpr double kSideTolerance = 6.0;    ///< dB, sides against middle
constexpr double kCrossingFactor = 2.0;   ///< zero crossings, either way
constexpr double kAudible = -50.0;        ///< dBFS: quieter windows are not compared
constexpr double kCeiling = -0.3;         ///< dBFS: the limiter's peaks

struct Window {
    double mid = 0;   ///< dBFS
    double side = 0;  ///< dBFS
    double crossings = 0; ///< per sample, of the middle
};

struct Print {
    double level = 0; ///< RMS of the middle over the piece, dBFS
    double peak = 0;  ///< dBFS
    std::vector<Window> windows;
};

double db(double rms) { return rms > 1e-9 ? 20 * std::log10(rms) : -180.0; }

struct Piece {
    const char* name;
    Song song;
    int64_t seekMs = -1; ///< seek there, then play
    int64_t lengthMs = 0;
};

void drumPattern(SongBuilder& b, int ch)
{
    for (int i = 0; i < 16; ++i) {
        b.note(i * kS / 8, kS / 16, ch, i % 2 ? 42 : (i % 4 ? 38 : 36), 110);
    }
}

std::vector<Piece> pieces()
{
    const std::vector<uint8_t> gsReset {0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};
    const std::vector<uint8_t> rhythm11 {0x41, 0x10, 0x42, 0x12, 0x40, 0x1A, 0x15, 0x01, 0x10, 0xF7};
    const std::vector<uint8_t> xgOn {0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7};
    const std::vector<uint8_t> gm2On {0x7E, 0x7F, 0x09, 0x03, 0xF7};
    std::vector<Piece> out;
    {
        SongBuilder b;
        b.sysex(0, gsReset).sysex(0, rhythm11).program(0, 10, 0);
        drumPattern(b, 10);
        out.push_back({"gs-rhythm-part", b.build(2 * kS), -1, 2000});
    }
    {
        SongBuilder b;
        b.sysex(0, xgOn).cc(0, 10, kCcBankMsb, 127).program(0, 10, 0);
        drumPattern(b, 10);
        out.push_back({"xg-drum-kit", b.build(2 * kS), -1, 2000});
    }
    {
        SongBuilder b;
        b.sysex(0, gm2On).cc(0, 10, kCcBankMsb, 120).program(0, 10, 0);
        drumPattern(b, 10);
        out.push_back({"gm2-drum-kit", b.build(2 * kS), -1, 2000});
    }
    {
        // The same notes on a melodic part: what a drum part turned piano sounds like.
        SongBuilder b;
        b.program(0, 10, 0);
        drumPattern(b, 10);
        out.push_back({"melodic-part", b.build(2 * kS), -1, 2000});
    }
    {
        SongBuilder b;
        b.program(0, 0, 48).cc(0, 0, kCcVolume, 110);
        for (int key : {55, 60, 64, 67})
            b.note(0, 30 * kS, 0, key, 90);
        out.push_back({"seek-into-held-chord", b.build(31 * kS), 1000, 1500});
    }
    {
        SongBuilder b;
        b.program(0, 0, 0).cc(0, 0, 91, 127).cc(0, 0, 93, 127);
        b.note(0, kS / 2, 0, 60, 100).note(kS / 2, kS / 2, 0, 67, 100);
        out.push_back({"reverb-and-chorus", b.build(3 * kS), -1, 2500});
    }
    {
        SongBuilder b;
        for (int ch = 0; ch < 6; ++ch) {
            b.program(0, ch, 30 + ch).cc(0, ch, kCcVolume, 127).cc(0, ch, kCcExpression, 127);
            for (int k = 0; k < 3; ++k)
                b.note(0, kS, ch, 40 + ch * 5 + k * 12, 127);
        }
        out.push_back({"limiter", b.build(2 * kS), -1, 1500});
    }
    {
        // GS master volume at 64: some 12 dB down.
        const std::vector<uint8_t> masterVolume {0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x04, 0x40, 0x7C, 0xF7};
        SongBuilder b;
        b.sysex(0, gsReset).sysex(0, masterVolume).program(0, 0, 0);
        b.note(0, kS, 0, 60, 100).note(0, kS, 0, 64, 100);
        out.push_back({"gs-master-volume", b.build(2 * kS), -1, 1500});
    }
    {
        // NRPN 01 20 at its lowest: a saw lead with its filter closed.
        SongBuilder b;
        b.sysex(0, gsReset).program(0, 0, 81);
        b.cc(0, 0, kCcNrpnMsb, 0x01).cc(0, 0, kCcNrpnLsb, 0x20).cc(0, 0, kCcDataEntryMsb, 0);
        b.note(0, kS, 0, 60, 100);
        out.push_back({"filter-nrpn", b.build(2 * kS), -1, 1500});
    }
    {
        // GS reverb macro Hall 1 at full level and send: the tail rings on past the note.
        const std::vector<uint8_t> hall1 {0x41, 0x10, 0x42, 0x12, 0x40, 0x01, 0x30, 0x03, 0x0C, 0xF7};
        SongBuilder b;
        b.sysex(0, gsReset).sysex(0, hall1).program(0, 0, 0).cc(0, 0, 91, 127);
        b.note(0, kS / 4, 0, 60, 110);
        out.push_back({"gs-reverb-macro", b.build(3 * kS), -1, 2500});
    }
    return out;
}

Print render(const Piece& piece)
{
    std::string error;
    auto renderer = OfflineRenderer::create(kSoundfont, kRate, error);
    if (!renderer)
        return {};
    OfflineRenderer* out = renderer.get();
    Sequencer seq(std::move(renderer));
    seq.open(piece.song);
    if (piece.seekMs >= 0)
        seq.seek(piece.seekMs);
    seq.play();
    const uint32_t window = kRate * kWindowMs / 1000;
    std::vector<float> left(window), right(window);
    Print print;
    double total = 0;
    double peak = 0;
    const int64_t windows = piece.lengthMs / kWindowMs;
    for (int64_t w = 0; w < windows; ++w) {
        out->renderFloat(left.data(), right.data(), window);
        double mid = 0, side = 0;
        int crossings = 0;
        for (uint32_t i = 0; i < window; ++i) {
            const double m = (left[i] + right[i]) / 2;
            const double s = (left[i] - right[i]) / 2;
            mid += m * m;
            side += s * s;
            peak = std::max({peak, std::abs(double(left[i])), std::abs(double(right[i]))});
            if (i > 0 && ((left[i - 1] + right[i - 1] < 0) != (m < 0)))
                ++crossings;
        }
        total += mid;
        print.windows.push_back({db(std::sqrt(mid / window)), db(std::sqrt(side / window)), double(crossings) / window});
    }
    print.level = db(std::sqrt(total / (double(window) * double(windows))));
    print.peak = db(peak);
    return print;
}

std::map<std::string, Print> readReferences(const std::string& path)
{
    std::map<std::string, Print> refs;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        std::string name, kind;
        fields >> name >> kind;
        Print& p = refs[name];
        if (kind == "piece") {
            fields >> p.level >> p.peak;
        } else {
            Window w;
            fields >> w.mid >> w.side >> w.crossings;
            p.windows.push_back(w);
        }
    }
    return refs;
}

QString referencesPath()
{
    return qEnvironmentVariable("SEQUORA_TEST_SOURCE_DIR", QStringLiteral(".")) + "/tests/engine/render_references.txt";
}

} // namespace

class TestRenderGuard : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!QFile::exists(kSoundfont))
            QSKIP("TimGM6mb is not installed");
        const QString write = qEnvironmentVariable("SEQUORA_WRITE_RENDER_REFERENCES");
        if (write.isEmpty())
            return;
        std::ofstream out(write.toStdString());
        out << "# piece NAME level-dBFS peak-dBFS, then per " << kWindowMs
            << " ms window: NAME w mid-dBFS side-dBFS zero-crossings-per-sample (TimGM6mb)\n";
        out.setf(std::ios::fixed);
        for (const Piece& piece : pieces()) {
            const Print p = render(piece);
            out.precision(2);
            out << piece.name << " piece " << p.level << ' ' << p.peak << '\n';
            for (const Window& w : p.windows) {
                out.precision(2);
                out << piece.name << " w " << w.mid << ' ' << w.side << ' ';
                out.precision(4);
                out << w.crossings << '\n';
            }
        }
        QSKIP("references written");
    }

    void soundsAsItDid_data()
    {
        QTest::addColumn<int>("index");
        const auto all = pieces();
        for (std::size_t i = 0; i < all.size(); ++i)
            QTest::newRow(all[i].name) << int(i);
    }

    void soundsAsItDid()
    {
        QFETCH(int, index);
        const Piece piece = pieces()[std::size_t(index)];
        const auto refs = readReferences(referencesPath().toStdString());
        const auto found = refs.find(piece.name);
        QVERIFY2(found != refs.end(), qPrintable("no reference for " + QString(piece.name)));
        const Print& want = found->second;
        const Print got = render(piece);
        QCOMPARE(got.windows.size(), want.windows.size());
        QVERIFY2(std::abs(got.level - want.level) <= kLevelTolerance,
            qPrintable(QStringLiteral("level %1 dBFS, was %2").arg(got.level).arg(want.level)));
        QVERIFY2(got.peak <= kCeiling, qPrintable(QStringLiteral("peak %1 dBFS").arg(got.peak)));
        for (std::size_t i = 0; i < want.windows.size(); ++i) {
            const Window& w = want.windows[i];
            const Window& g = got.windows[i];
            const QString at = QStringLiteral("window %1 (%2 ms): ").arg(i).arg(i * kWindowMs);
            if (w.mid < kAudible) {
                QVERIFY2(g.mid < kAudible + kWindowTolerance, qPrintable(at + "sound where there was none"));
                continue;
            }
            QVERIFY2(std::abs(g.mid - w.mid) <= kWindowTolerance,
                qPrintable(at + QStringLiteral("level %1 dBFS, was %2").arg(g.mid).arg(w.mid)));
            QVERIFY2(std::abs((g.side - g.mid) - (w.side - w.mid)) <= kSideTolerance,
                qPrintable(at + QStringLiteral("sides %1 dB under the middle, were %2")
                                    .arg(g.mid - g.side).arg(w.mid - w.side)));
            const double ratio = (g.crossings + 1e-4) / (w.crossings + 1e-4);
            QVERIFY2(ratio <= kCrossingFactor && ratio >= 1 / kCrossingFactor,
                qPrintable(at + QStringLiteral("zero crossings %1, were %2").arg(g.crossings).arg(w.crossings)));
        }
    }

    void theGuardTellsADrumPartFromAMelodicOne()
    {
        // The guard itself: the drum kit's print and the piano's must not pass for each other.
        const auto all = pieces();
        const Print drums = render(all[0]);
        const Print piano = render(all[3]);
        int apart = 0;
        for (std::size_t i = 0; i < drums.windows.size(); ++i) {
            const double ratio = (drums.windows[i].crossings + 1e-4) / (piano.windows[i].crossings + 1e-4);
            apart += ratio > kCrossingFactor || ratio < 1 / kCrossingFactor;
        }
        QVERIFY2(apart >= int(drums.windows.size()) / 2, qPrintable(QString::number(apart)));
    }
};

QTEST_GUILESS_MAIN(TestRenderGuard)
#include "tst_renderguard.moc"
