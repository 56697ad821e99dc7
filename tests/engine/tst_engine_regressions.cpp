// Hostile songs that once stalled the engine, kept so they cannot come back.

// ChaseState::emit() would otherwise meet Qt's emit keyword.
#define QT_NO_KEYWORDS

#include "common/SmfWriter.h"

#include "platform/midi/transport/ChaseState.h"
#include "platform/midi/file/MidiBytes.h"
#include "platform/midi/output/Output.h"
#include "platform/midi/file/Song.h"

#include <QElapsedTimer>
#include <QtTest>

#include <map>

using namespace sequora::midi;
using namespace sequora::test;

namespace {

struct ParameterKey {
    bool nrpn;
    int msb;
    int lsb;
    auto operator<=>(const ParameterKey&) const = default;
};

struct Restored {
    int order = -1; ///< place among the restored parameters
    int dataMsb = -1;
};

// Reads back, from the messages a seek sends to channel 0, every parameter that gets a
// data entry: selection (2 controllers) then data entry.
std::map<ParameterKey, Restored> restoredParameters(const Block& block)
{
    std::vector<std::pair<int, int>> cc;
    for (const OutMessage& m : block.messages) {
        if (m.kind == OutMessage::Kind::Short && m.status == kControlChange)
            cc.emplace_back(m.data1, m.data2);
    }
    std::map<ParameterKey, Restored> out;
    int order = 0;
    for (std::size_t i = 0; i + 2 < cc.size(); ++i) {
        const bool rpn = cc[i].first == kCcRpnMsb && cc[i + 1].first == kCcRpnLsb;
        const bool nrpn = cc[i].first == kCcNrpnMsb && cc[i + 1].first == kCcNrpnLsb;
        if ((rpn || nrpn) && cc[i + 2].first == kCcDataEntryMsb)
            out[{nrpn, cc[i].second, cc[i + 1].second}] = {order++, cc[i + 2].second};
    }
    return out;
}

} // namespace

class TestEngineRegressions : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void everyParameterInUseStillSeeksAtOnce();
};

// A file that gives a value to all 32766 RPNs and NRPNs of a channel and then streams
// data entries at the last one. Looking each entry's parameter up one by one took
// minutes, on the window's thread when seeking and on the audio thread when playing.
void TestEngineRegressions::everyParameterInUseStillSeeksAtOnce()
{
    constexpr int kDataEntries = 2'000'000;
    constexpr int kFinalValue = 77;
    SmfWriter smf(0, 480);
    SmfTrack& t = smf.addTrack().runningStatus();
    int parameters = 0;
    for (int msb = 0; msb < 128; ++msb) {
        for (int lsb = 0; lsb < 128; ++lsb) {
            if (msb == kNullParameter && lsb == kNullParameter)
                continue;
            t.controller(0, 0, kCcRpnMsb, msb).controller(0, 0, kCcRpnLsb, lsb);
            t.controller(0, 0, kCcDataEntryMsb, (msb + lsb) & 0x7F);
            // The NRPN with the same numbers is another parameter: it must keep its own value.
            t.controller(0, 0, kCcNrpnMsb, msb).controller(0, 0, kCcNrpnLsb, lsb);
            t.controller(0, 0, kCcDataEntryMsb, (msb + lsb + 1) & 0x7F);
            parameters += 2;
        }
    }
    t.controller(0, 0, kCcNrpnMsb, 127).controller(0, 0, kCcNrpnLsb, 126);
    for (int i = 0; i < kDataEntries; ++i)
        t.controller(1, 0, kCcDataEntryMsb, i & 0x3F);
    t.controller(0, 0, kCcDataEntryMsb, kFinalValue);

    Song song;
    QVERIFY(Song::parse(smf.bytes(), song).playable());

    QElapsedTimer timer;
    timer.start();
    ChaseState chase;
    chase.scan(song, song.lengthUs() + 1);
    // Generous for a loaded machine under sanitizers; a search per entry took minutes.
    QVERIFY2(timer.elapsed() < 20'000, qPrintable(QString("scan took %1 ms").arg(timer.elapsed())));

    Block restore;
    chase.emit(restore);
    const std::map<ParameterKey, Restored> restored = restoredParameters(restore);
    QCOMPARE(int(restored.size()), parameters);
    const auto rpn = [&](int msb, int lsb) { return restored.at(ParameterKey{false, msb, lsb}); };
    const auto nrpn = [&](int msb, int lsb) { return restored.at(ParameterKey{true, msb, lsb}); };
    // First use decides the order, later entries only the value.
    QCOMPARE(rpn(0, 0).order, 0);
    QCOMPARE(nrpn(0, 0).order, 1);
    QCOMPARE(rpn(0, 0).dataMsb, 0);
    QCOMPARE(nrpn(0, 0).dataMsb, 1);
    QCOMPARE(rpn(5, 7).dataMsb, 12);
    QCOMPARE(nrpn(5, 7).dataMsb, 13);
    QCOMPARE(nrpn(127, 126).dataMsb, kFinalValue);
    QCOMPARE(nrpn(127, 126).order, parameters - 1);
}

QTEST_APPLESS_MAIN(TestEngineRegressions)
#include "tst_engine_regressions.moc"
