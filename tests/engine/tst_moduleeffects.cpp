// What a GS, XG or GM2 file tells its module, heard: for each message a pair of short
// pieces that differ only in that message, rendered on TimGM6mb, and the change a
// listener hears (level, pitch, brightness, attack, tail, width, vibrato, glide) held to
// a minimum size. Also: Mono On leaves every other part sounding, and the module state a
// seek leaves is what playing through left.

#include "engine/EffectMeasures.h"
#include "engine/SongBuilder.h"
#include "platform/midi/file/MidiBytes.h"
#include "platform/midi/output/fluidsynth/FluidSynthCore.h"

#include <QtTest>

#include <functional>

using namespace sequora;
using namespace sequora::midi;
using test::SongBuilder;

namespace {

constexpr const char* kSoundfont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
constexpr int64_t kMs = 1000;

using Bytes = std::vector<uint8_t>;
const Bytes kGsReset {0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};
const Bytes kXgOn {0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7};
const Bytes kGm2On {0x7E, 0x7F, 0x09, 0x03, 0xF7};

/// A GS data set with its checksum.
Bytes gs(uint8_t a1, uint8_t a2, uint8_t a3, Bytes data)
{
    Bytes msg {0x41, 0x10, 0x42, 0x12, a1, a2, a3};
    unsigned sum = a1 + a2 + a3;
    for (uint8_t d : data) {
        msg.push_back(d);
        sum += d;
    }
    msg.push_back(static_cast<uint8_t>((128 - sum % 128) % 128));
    msg.push_back(0xF7);
    return msg;
}

/// A MIDI Tuning bulk dump of @p program with every key a semitone up.
Bytes tuningDumpSemitoneUp(uint8_t program)
{
    Bytes msg {0x7E, 0x7F, 0x08, 0x01, program};
    msg.insert(msg.end(), 16, ' ');
    for (int key = 0; key < 128; ++key) {
        const bool last = key == 127;
        msg.insert(msg.end(), {uint8_t(last ? 0x7F : key + 1), uint8_t(last ? 0x7F : 0), uint8_t(last ? 0x7F : 0)});
    }
    uint8_t sum = 0;
    for (uint8_t b : msg)
        sum ^= b;
    msg.push_back(sum & 0x7F);
    msg.push_back(0xF7);
    return msg;
}

enum class Measure { Level, Pitch, Centroid, Attack, Release, Vibrato, VibratoOnset, Tail, Width, Balance, Glide, DrumPitch, DrumLevel, DrumBalance };
using Adder = std::function<void(SongBuilder&)>;

Adder sysex(Bytes msg) { return [msg](SongBuilder& b) { b.sysex(0, msg); }; }
Adder ccs(std::vector<std::pair<int, int>> list, int ch = 0)
{
    return [list, ch](SongBuilder& b) {
        for (auto [n, v] : list)
            b.cc(0, ch, n, v);
    };
}
Adder nrpn(int msb, int lsb, int value, int ch = 0)
{
    return ccs({{kCcNrpnMsb, msb}, {kCcNrpnLsb, lsb}, {kCcDataEntryMsb, value}}, ch);
}
Adder both(Adder a, Adder b)
{
    return [a, b](SongBuilder& s) { a(s); b(s); };
}

Song piece(Measure m, const Bytes& mode, const Adder& message)
{
    SongBuilder b;
    if (!mode.empty())
        b.sysex(0, mode);
    const int64_t start = 50 * kMs;
    switch (m) {
    case Measure::Level:
    case Measure::Pitch:
        b.program(0, 0, 0);
        if (message)
            message(b);
        b.note(start, 1000 * kMs, 0, 60, 100);
        if (m == Measure::Level)
            b.note(start, 1000 * kMs, 0, 64, 100);
        break;
    case Measure::Centroid:
        b.program(0, 0, 81);
        if (message)
            message(b);
        b.note(start, 1000 * kMs, 0, 60, 100);
        break;
    case Measure::Attack:
        b.program(0, 0, 81);
        if (message)
            message(b);
        b.note(start, 2000 * kMs, 0, 60, 100);
        break;
    case Measure::Release:
        b.program(0, 0, 19);
        if (message)
            message(b);
        b.note(start, 300 * kMs, 0, 60, 100);
        break;
    case Measure::Vibrato:
    case Measure::VibratoOnset:
        b.program(0, 0, 19);
        if (message)
            message(b);
        b.note(start, 1300 * kMs, 0, 69, 100);
        break;
    case Measure::Tail:
    case Measure::Width:
    case Measure::Balance:
        b.program(0, 0, 0);
        if (message)
            message(b);
        b.note(start, 250 * kMs, 0, 60, 110);
        if (m == Measure::Width)
            b.note(start, 1000 * kMs, 0, 67, 110);
        break;
    case Measure::Glide:
        b.program(0, 0, 81).cc(0, 0, kCcPortamento, 127);
        if (message)
            message(b);
        b.note(start, 400 * kMs, 0, 60, 100).note(500 * kMs, 1000 * kMs, 0, 67, 100);
        break;
    case Measure::DrumPitch:
    case Measure::DrumLevel:
    case Measure::DrumBalance:
        b.program(0, 9, 0);
        if (message)
            message(b);
        b.note(start, 500 * kMs, 9, 50, 110);
        break;
    }
    return b.build(2500 * kMs);
}

/// The size of the change from @p base to @p with, in the measure's own unit.
double change(Measure m, const test::Stereo& base, const test::Stereo& with)
{
    switch (m) {
    case Measure::Level:
    case Measure::DrumLevel:
        return test::levelDb(with, 0.05, 0.5) - test::levelDb(base, 0.05, 0.5); // dB
    case Measure::Pitch:
        return test::pitchHz(with, 0.4) / test::pitchHz(base, 0.4); // ratio
    case Measure::Centroid:
    case Measure::DrumPitch:
        return test::centroidHz(with, 0.1, 0.5) / test::centroidHz(base, 0.1, 0.5); // ratio
    case Measure::Attack:
        return test::attackSeconds(with, 0.05, 2.0) - test::attackSeconds(base, 0.05, 2.0); // s
    case Measure::Release:
        return test::levelDb(with, 0.45, 1.2) - test::levelDb(base, 0.45, 1.2); // dB after the note
    case Measure::Vibrato:
        return test::vibratoCents(with, 0.4, 1.2) - test::vibratoCents(base, 0.4, 1.2); // cents
    case Measure::VibratoOnset:
        return test::vibratoCents(with, 0.1, 0.4) - test::vibratoCents(base, 0.1, 0.4); // cents, early
    case Measure::Balance:
    case Measure::DrumBalance:
        return test::balanceDb(with, 0.1, 0.3) - test::balanceDb(base, 0.1, 0.3); // dB, right against left
    case Measure::Tail:
        return test::levelDb(with, 0.7, 1.7) - test::levelDb(base, 0.7, 1.7); // dB of the tail
    case Measure::Width:
        return test::widthDb(with, 0.1, 1.0) - test::widthDb(base, 0.1, 1.0); // dB
    case Measure::Glide:
        return test::pitchHz(with, 0.52, 0.05) / test::pitchHz(base, 0.52, 0.05); // ratio
    }
    return 0;
}

} // namespace

Q_DECLARE_METATYPE(Adder)

class TestModuleEffects : public QObject {
    Q_OBJECT

private slots:
    void heard_data()
    {
        QTest::addColumn<int>("measure");
        QTest::addColumn<Bytes>("mode");
        QTest::addColumn<Adder>("common");
        QTest::addColumn<Adder>("message");
        QTest::addColumn<bool>("inBase"); ///< the message sits in the base: its absence is measured
        QTest::addColumn<double>("atLeast");
        QTest::addColumn<double>("atMost");
        auto row = [](const char* name, Measure m, Bytes mode, Adder message, double lo, double hi,
                       Adder common = {}, bool inBase = false) {
            QTest::newRow(name) << int(m) << mode << common << message << inBase << lo << hi;
        };
        const Adder none;
        // Level, dB.
        row("universal master volume", Measure::Level, {}, sysex({0x7F, 0x7F, 0x04, 0x01, 0x00, 0x40, 0xF7}), -15, -6);
        row("GS master volume", Measure::Level, kGsReset, sysex(gs(0x40, 0x00, 0x04, {0x40})), -15, -6);
        row("XG master volume", Measure::Level, kXgOn, sysex({0x43, 0x10, 0x4C, 0x00, 0x00, 0x04, 0x40, 0xF7}), -15, -6);
        row("GS part level", Measure::Level, kGsReset, sysex(gs(0x40, 0x11, 0x19, {0x20})), -25, -6);
        row("XG part volume", Measure::Level, kXgOn, sysex({0x43, 0x10, 0x4C, 0x08, 0x00, 0x0B, 0x20, 0xF7}), -25, -6);
        // Pitch, as a ratio: key shifts move notes, tunings retune.
        row("GS part key shift", Measure::Pitch, kGsReset, sysex(gs(0x40, 0x11, 0x16, {0x4C})), 1.9, 2.1);
        row("GS master key shift", Measure::Pitch, kGsReset, sysex(gs(0x40, 0x00, 0x05, {0x4C})), 1.9, 2.1);
        row("XG transpose", Measure::Pitch, kXgOn, sysex({0x43, 0x10, 0x4C, 0x00, 0x00, 0x06, 0x34, 0xF7}), 0.47, 0.53);
        row("XG part note shift", Measure::Pitch, kXgOn, sysex({0x43, 0x10, 0x4C, 0x08, 0x00, 0x08, 0x4C, 0xF7}), 1.9, 2.1);
        row("universal master coarse tuning", Measure::Pitch, {}, sysex({0x7F, 0x7F, 0x04, 0x04, 0x00, 0x4C, 0xF7}), 1.9, 2.1);
        row("universal master fine tuning", Measure::Pitch, {}, sysex({0x7F, 0x7F, 0x04, 0x03, 0x7F, 0x7F, 0xF7}), 1.045, 1.07);
        row("GS master tune", Measure::Pitch, kGsReset, sysex(gs(0x40, 0x00, 0x00, {0x00, 0x07, 0x0E, 0x08})), 1.045, 1.07);
        row("GS scale tuning", Measure::Pitch, kGsReset, sysex(gs(0x40, 0x11, 0x40, {0x7F})), 1.03, 1.045);
        row("MIDI Tuning octave with GS scale tuning", Measure::Pitch, kGsReset,
            sysex({0x7E, 0x7F, 0x08, 0x08, 0x00, 0x00, 0x01, 0x5E, 0x40, 0x40, 0x40, 0x40, 0x40, 0x40, 0x40, 0x40, 0x40, 0x40, 0x40, 0xF7}),
            1.012, 1.025, sysex(gs(0x40, 0x11, 0x40, {0x5E})));
        row("MIDI Tuning program by RPN 3", Measure::Pitch, {},
            both(sysex(tuningDumpSemitoneUp(5)), ccs({{kCcRpnMsb, 0}, {kCcRpnLsb, 3}, {kCcDataEntryMsb, 5}})), 1.045, 1.07);
        row("RPN fine tuning", Measure::Pitch, {}, ccs({{kCcRpnMsb, 0}, {kCcRpnLsb, 1}, {kCcDataEntryMsb, 127}}), 1.045, 1.07);
        // Brightness, as a ratio of the spectral centroid.
        row("NRPN cutoff", Measure::Centroid, kGsReset, nrpn(0x01, 0x20, 0), 0, 0.7);
        row("CC74 in GM2", Measure::Centroid, kGm2On, ccs({{74, 0}}), 0, 0.7);
        row("XG part cutoff", Measure::Centroid, kXgOn, sysex({0x43, 0x10, 0x4C, 0x08, 0x00, 0x18, 0x00, 0xF7}), 0, 0.7);
        row("NRPN cutoff after CC 121", Measure::Centroid, kGsReset,
            both(nrpn(0x01, 0x20, 0), ccs({{kCcResetAllControllers, 0}})), 0, 0.7);
        // Envelope and vibrato.
        row("NRPN attack", Measure::Attack, kGsReset, nrpn(0x01, 0x63, 127), 0.3, 5);
        row("CC73 attack after CC 121", Measure::Attack, kGsReset, ccs({{73, 127}, {kCcResetAllControllers, 0}}), 0.3, 5);
        row("NRPN release", Measure::Release, kGsReset, nrpn(0x01, 0x66, 127), 6, 80);
        row("NRPN vibrato depth", Measure::Vibrato, kGsReset, nrpn(0x01, 0x09, 127), 30, 120);
        row("XG vibrato delay", Measure::VibratoOnset, kXgOn, sysex({0x43, 0x10, 0x4C, 0x08, 0x00, 0x17, 0x7F, 0xF7}), -120, -15,
            nrpn(0x01, 0x09, 127));
        row("RPN 5 modulation depth range", Measure::Vibrato, {},
            ccs({{kCcRpnMsb, 0}, {kCcRpnLsb, 5}, {kCcDataEntryMsb, 2}}), 50, 300, ccs({{kCcModulation, 127}}));
        // Effects: the reverb tail and the chorus's width, dB.
        row("GS reverb level", Measure::Tail, kGsReset, sysex(gs(0x40, 0x01, 0x33, {0x7F})), 3, 20, ccs({{91, 127}}));
        row("GS reverb macro", Measure::Tail, kGsReset, sysex(gs(0x40, 0x01, 0x30, {0x00})), -40, -3, ccs({{91, 127}}));
        row("XG reverb type", Measure::Tail, kXgOn, sysex({0x43, 0x10, 0x4C, 0x02, 0x01, 0x00, 0x02, 0x00, 0xF7}), -40, -3,
            ccs({{91, 127}}));
        row("default reverb send", Measure::Tail, {}, ccs({{91, 0}}), 3, 80, none, true);
        row("GS chorus level", Measure::Width, kGsReset, sysex(gs(0x40, 0x01, 0x3A, {0x7F})), 1.5, 20, ccs({{93, 127}}));
        row("XG chorus type off", Measure::Width, kXgOn, sysex({0x43, 0x10, 0x4C, 0x02, 0x01, 0x20, 0x00, 0x00, 0xF7}), -20, -1.5,
            ccs({{93, 127}}));
        row("GS part pan", Measure::Balance, kGsReset, sysex(gs(0x40, 0x11, 0x1C, {0x01})), -80, -6);
        // A glide as a module times it, on every note while CC 65 is on.
        row("portamento time", Measure::Glide, kGsReset, ccs({{5, 64}}), 0, 0.96);
        // One drum key alone.
        row("drum key pitch", Measure::DrumPitch, kGsReset, nrpn(0x18, 50, 76, 9), 1.2, 4);
        row("drum key level", Measure::DrumLevel, kGsReset, nrpn(0x1A, 50, 48, 9), -40, -6);
        row("drum key pan", Measure::DrumBalance, kGsReset, nrpn(0x1C, 50, 1, 9), -80, -6);
    }

    void heard()
    {
        QFETCH(int, measure);
        QFETCH(Bytes, mode);
        QFETCH(Adder, common);
        QFETCH(Adder, message);
        QFETCH(bool, inBase);
        QFETCH(double, atLeast);
        QFETCH(double, atMost);
        const auto m = static_cast<Measure>(measure);
        const Adder withMessage = common ? both(common, message) : message;
        const Adder without = common;
        const Song base = piece(m, mode, inBase ? withMessage : without);
        const Song with = piece(m, mode, inBase ? without : withMessage);
        const test::Stereo a = test::renderSong(base, 2.5, kSoundfont);
        const test::Stereo b = test::renderSong(with, 2.5, kSoundfont);
        QVERIFY2(test::levelDb(a) > -60 && test::levelDb(b) > -60, "a render is silent");
        const double size = change(m, a, b);
        QVERIFY2(size >= atLeast && size <= atMost,
            qPrintable(QString("change %1, expected %2 to %3").arg(size).arg(atLeast).arg(atMost)));
    }

    void monoOnSilencesNoOtherPart_data()
    {
        QTest::addColumn<int>("monoChannel");
        QTest::addColumn<Bytes>("mode");
        QTest::newRow("channel 1") << 0 << Bytes {};
        QTest::newRow("channel 5") << 4 << Bytes {};
        QTest::newRow("channel 1 after a GS reset") << 0 << kGsReset;
    }

    void monoOnSilencesNoOtherPart()
    {
        QFETCH(int, monoChannel);
        QFETCH(Bytes, mode);
        // Parts 1-4 each hold a note; one part goes mono. Every part still sounds alone.
        for (int listen = 0; listen < 4; ++listen) {
            SongBuilder b;
            if (!mode.empty())
                b.sysex(0, mode);
            b.cc(0, monoChannel, 126, 1);
            for (int ch = 0; ch < 6; ++ch)
                b.program(0, ch, 0).cc(0, ch, kCcVolume, ch == listen ? 127 : 0);
            for (int ch = 0; ch < 6; ++ch)
                b.note(50 * kMs, 800 * kMs, ch, 60 + ch, 100);
            const test::Stereo s = test::renderSong(b.build(1000 * kMs), 0.8, kSoundfont);
            QVERIFY2(test::levelDb(s, 0.1, 0.7) > -45,
                qPrintable(QString("part %1 is silent (%2 dBFS)").arg(listen + 1).arg(test::levelDb(s, 0.1, 0.7))));
        }
        // The mono part itself plays one note at a time: the octave above takes over from
        // the held C, where a poly part would sound both (and so the lower pitch).
        SongBuilder b;
        b.cc(0, monoChannel, 126, 1).program(0, monoChannel, 81);
        b.note(50 * kMs, 900 * kMs, monoChannel, 60, 100).note(300 * kMs, 650 * kMs, monoChannel, 72, 100);
        const test::Stereo mono = test::renderSong(b.build(1000 * kMs), 1.0, kSoundfont);
        QVERIFY2(test::pitchHz(mono, 0.7) > 400, qPrintable(QString("mono part sounds %1 Hz").arg(test::pitchHz(mono, 0.7))));
    }
};

QTEST_GUILESS_MAIN(TestModuleEffects)
#include "tst_moduleeffects.moc"
