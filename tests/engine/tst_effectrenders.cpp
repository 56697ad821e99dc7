// The module's effect section heard through the whole engine: for each message a pair of
// short pieces that differ only in it, rendered on TimGM6mb, and what a listener hears
// change (an echo's lag, the harmonics of a near-sine, a level or balance that moves, the
// width, a spectrum that moves, the bass) held to a range. Also: hostile settings and
// feedback at full stay under the limiter's ceiling and finite, and a song that uses none
// of the section plays on the synthesiser that mixes its parts itself.

#include "engine/EffectMeasures.h"
#include "engine/EffectSectionMeasures.h"
#include "engine/SongBuilder.h"
#include "platform/midi/file/MidiBytes.h"
#include "platform/midi/output/fluidsynth/FluidSynthCore.h"

#include <QtTest>

#include <complex>
#include <functional>
#include <random>

using namespace sequora;
using namespace sequora::midi;
using test::SongBuilder;

namespace {

constexpr const char* kSoundfont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
constexpr int64_t kMs = 1000;
constexpr double kSeconds = 2.5;

using Bytes = std::vector<uint8_t>;
const Bytes kGsReset { 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7 };
const Bytes kXgOn { 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7 };

Bytes gs(uint8_t a1, uint8_t a2, uint8_t a3, Bytes data)
{
    Bytes msg { 0x41, 0x10, 0x42, 0x12, a1, a2, a3 };
    unsigned sum = a1 + a2 + a3;
    for (uint8_t d : data) {
        msg.push_back(d);
        sum += d;
    }
    msg.push_back(static_cast<uint8_t>((128 - sum % 128) % 128));
    msg.push_back(0xF7);
    return msg;
}
Bytes xg(uint8_t high, uint8_t mid, uint8_t low, Bytes data)
{
    Bytes msg { 0x43, 0x10, 0x4C, high, mid, low };
    msg.insert(msg.end(), data.begin(), data.end());
    msg.push_back(0xF7);
    return msg;
}
/// The GS insertion effect: type, then parameters from address 03 on.
Bytes efxType(uint8_t msb, uint8_t lsb)
{
    return gs(0x40, 0x03, 0x00, { msb, lsb });
}
Bytes efxParam(uint8_t address, uint8_t value)
{
    return gs(0x40, 0x03, address, { value });
}
const Bytes kEfxOnPart1 = gs(0x40, 0x41, 0x22, { 0x01 });

using Adder = std::function<void(SongBuilder&)>;
Adder sysex(std::vector<Bytes> msgs)
{
    return [msgs](SongBuilder& b) {
        for (const Bytes& m : msgs)
            b.sysex(0, m);
    };
}
Adder cc(int number, int value, int ch = 0)
{
    return [=](SongBuilder& b) { b.cc(0, ch, number, value); };
}
Adder both(Adder a, Adder b)
{
    return [a, b](SongBuilder& s) {
        a(s);
        b(s);
    };
}

enum class Measure {
    Echo,
    Harmonics,
    LevelSwing,
    BalanceSwing,
    Width,
    SpectralMotion,
    Brightness,
    Tail,
    Pitch,
    Bass
};

Song piece(Measure m, const Bytes& mode, const Adder& setUp)
{
    SongBuilder b;
    b.sysex(0, mode);
    const int64_t start = 100 * kMs;
    int program = 0, key = 60, length = 1600;
    switch (m) {
    case Measure::Echo:
        program = 115, length = 40;
        break; // woodblock: a click
    case Measure::Harmonics:
        program = 79, key = 69;
        break; // ocarina: near a sine
    case Measure::LevelSwing:
    case Measure::BalanceSwing:
        program = 19, length = 2200;
        break; // church organ: steady
    case Measure::Width:
        program = 19, key = 67;
        break;
    case Measure::SpectralMotion:
        program = 81, length = 2200;
        break; // saw lead
    case Measure::Brightness:
        program = 0;
        break;
    case Measure::Tail:
        program = 0, length = 250;
        break;
    case Measure::Pitch:
        program = 79, key = 69;
        break;
    case Measure::Bass:
        program = 33, key = 36;
        break;
    }
    b.program(0, 0, program).cc(0, 0, kCcReverbSend, 0).cc(0, 0, kCcChorusSend, 0);
    if (setUp)
        setUp(b);
    b.note(start, length * kMs, 0, key, 110);
    return b.build(int64_t(kSeconds * 1000) * kMs);
}

/// The change from @p base to @p with in the measure's unit.
double change(Measure m, const test::Stereo& base, const test::Stereo& with)
{
    using namespace test;
    switch (m) {
    case Measure::Echo:
        return echoLag(base, with);
    case Measure::Harmonics: {
        const double hz = pitchHz(base, 0.8);
        return harmonicsDb(with, hz) - harmonicsDb(base, hz); // dB
    }
    case Measure::LevelSwing: {
        auto level = [](const Stereo& s, double a, double b) { return levelDb(s, a, b); };
        return swing(with, level) - swing(base, level); // dB
    }
    case Measure::BalanceSwing:
        return swing(with, balanceDb) - swing(base, balanceDb); // dB
    case Measure::Width:
        return widthDb(with, 0.3, 1.5) - widthDb(base, 0.3, 1.5); // dB
    case Measure::SpectralMotion: {
        auto bright
            = [](const Stereo& s, double a, double b) { return std::log2(centroidHz(s, a, b)); };
        return swing(with, bright) - swing(base, bright); // octaves
    }
    case Measure::Brightness:
        return centroidHz(with, 0.2, 1.0) / centroidHz(base, 0.2, 1.0); // ratio
    case Measure::Tail:
        return levelDb(with, 0.6, 1.6) - levelDb(base, 0.6, 1.6); // dB
    case Measure::Pitch:
        return pitchHz(with, 0.8) / pitchHz(base, 0.8); // ratio
    case Measure::Bass:
        return levelDb(with, 0.3, 1.5) - levelDb(base, 0.3, 1.5); // dB
    }
    return 0;
}

bool finiteAndUnderCeiling(const test::Stereo& s, QString& why)
{
    for (std::size_t i = 0; i < s.frames(); ++i) {
        for (float x : { s.left[i], s.right[i] }) {
            if (!std::isfinite(x) || std::abs(x) > 0.9441f) {
                why = QString("sample %1 is %2").arg(i).arg(double(x));
                return false;
            }
        }
    }
    return true;
}

} // namespace

Q_DECLARE_METATYPE(Adder)

class TestEffectRenders : public QObject {
    Q_OBJECT

private slots:
    void heard_data()
    {
        QTest::addColumn<int>("measure");
        QTest::addColumn<Bytes>("mode");
        QTest::addColumn<Adder>("common");
        QTest::addColumn<Adder>("message");
        QTest::addColumn<double>("atLeast");
        QTest::addColumn<double>("atMost");
        auto row = [](const char* name, Measure m, Bytes mode, Adder common, Adder message,
                       double lo, double hi) {
            QTest::newRow(name) << int(m) << mode << common << message << lo << hi;
        };
        const Adder none;
        // The EFX's own send to reverb is 0 here, as the parts': only the effect is heard.
        auto efx = [](uint8_t msb, uint8_t lsb, std::vector<Bytes> params = {}) {
            std::vector<Bytes> msgs { efxType(msb, lsb), efxParam(0x17, 0) };
            msgs.insert(msgs.end(), params.begin(), params.end());
            return sysex(msgs);
        };
        const Adder on = sysex({ kEfxOnPart1 });
        // The third system effect: echoes at the times the modules' tables give, ms.
        row("GS delay send CC 94, macro 0", Measure::Echo, kGsReset, none, cc(kCcDelaySend, 127),
            330, 350);
        row("GS delay send 40 1x 2C", Measure::Echo, kGsReset, none,
            sysex({ gs(0x40, 0x11, 0x2C, { 127 }) }), 330, 350);
        row("GS delay time centre 40 01 52", Measure::Echo, kGsReset, cc(kCcDelaySend, 127),
            sysex({ gs(0x40, 0x01, 0x52, { 0x5A }) }), 190, 210);
        row("GS delay macro 3, Delay 4", Measure::Echo, kGsReset, cc(kCcDelaySend, 127),
            sysex({ gs(0x40, 0x01, 0x50, { 0x03 }) }), 120, 140);
        row("XG variation Delay L,C,R as a system effect: right 166.7 ms", Measure::Echo, kXgOn,
            sysex({ xg(0x02, 0x01, 0x5A, { 0x01 }) }), cc(kCcDelaySend, 127), 155, 180);
        row("XG variation Echo on part 1", Measure::Echo, kXgOn,
            sysex({ xg(0x02, 0x01, 0x40, { 0x07, 0x00 }) }),
            sysex({ xg(0x02, 0x01, 0x5B, { 0x00 }) }), 160, 180);
        row("GS EFX Stereo Delay on part 1", Measure::Echo, kGsReset, efx(0x01, 0x50), on, 140,
            160);
        row("GS EFX Enhancer->Delay on part 1", Measure::Echo, kGsReset, efx(0x02, 0x08), on, 240,
            260);
        // Drive: harmonics of a near-sine, dB.
        row("GS EFX Distortion", Measure::Harmonics, kGsReset, efx(0x01, 0x11), on, 5, 40);
        row("GS EFX Overdrive", Measure::Harmonics, kGsReset, efx(0x01, 0x10), on, 4, 40);
        row("GS EFX OD1/OD2", Measure::Harmonics, kGsReset, efx(0x11, 0x03), on, 4, 40);
        row("GS EFX Lo-Fi 1", Measure::Harmonics, kGsReset,
            efx(0x01, 0x72, { efxParam(0x04, 8), efxParam(0x12, 127) }), on, 4, 40);
        row("XG insertion 1 Distortion on part 1", Measure::Harmonics, kXgOn, none,
            sysex({ xg(0x03, 0x00, 0x0C, { 0x00 }) }), 5, 40);
        row("EFX on, part not assigned: no change", Measure::Harmonics, kGsReset, none,
            efx(0x01, 0x11), -1, 1);
        // Movement: level, balance, spectrum.
        row("GS EFX Tremolo", Measure::LevelSwing, kGsReset,
            efx(0x01, 0x25, { efxParam(0x05, 127) }), on, 6, 80);
        row("GS EFX Auto Pan", Measure::BalanceSwing, kGsReset,
            efx(0x01, 0x26, { efxParam(0x05, 127) }), on, 6, 80);
        row("GS EFX Rotary, fast", Measure::BalanceSwing, kGsReset,
            efx(0x01, 0x22, { efxParam(0x0D, 127) }), on, 3, 80);
        row("XG variation Tremolo on part 1", Measure::LevelSwing, kXgOn,
            sysex({ xg(0x02, 0x01, 0x40, { 0x46, 0x00 }) }),
            sysex({ xg(0x02, 0x01, 0x5B, { 0x00 }) }), 2.5, 80);
        row("GS EFX Phaser", Measure::SpectralMotion, kGsReset,
            efx(0x01, 0x20, { efxParam(0x05, 127) }), on, 0.1, 5);
        row("GS EFX Auto Wah", Measure::SpectralMotion, kGsReset,
            efx(0x01, 0x21, { efxParam(0x08, 127) }), on, 0.2, 5);
        // Width, brightness, tail, pitch.
        row("GS EFX Stereo Chorus", Measure::Width, kGsReset, efx(0x01, 0x42), on, 6, 60);
        row("GS EFX Hexa Chorus", Measure::Width, kGsReset, efx(0x01, 0x40), on, 6, 60);
        row("GS EFX Space D", Measure::Width, kGsReset, efx(0x01, 0x43), on, 6, 60);
        row("GS EFX Stereo Flanger", Measure::Width, kGsReset, efx(0x01, 0x23), on, 3, 60);
        row("GS EFX Enhancer", Measure::Brightness, kGsReset,
            efx(0x01, 0x02, { efxParam(0x13, 0x40) }), on, 1.05, 3);
        row("GS EFX Reverb", Measure::Tail, kGsReset, efx(0x01, 0x55), on, 6, 80);
        row("GS EFX 2 Pitch Shifter, an octave", Measure::Pitch, kGsReset,
            efx(0x01, 0x60, { efxParam(0x03, 0x4C), efxParam(0x07, 0x4C), efxParam(0x12, 127) }),
            on, 1.95, 2.05);
        // The modules' EQ, on a bass note, dB.
        row("GS EQ low +12 dB", Measure::Bass, kGsReset, none,
            sysex({ gs(0x40, 0x02, 0x01, { 0x4C }) }), 5, 13);
        row("GS EQ low +12 dB, part EQ off", Measure::Bass, kGsReset,
            sysex({ gs(0x40, 0x41, 0x20, { 0x00 }) }), sysex({ gs(0x40, 0x02, 0x01, { 0x4C }) }),
            -1, 1);
        row("XG multi EQ low band +12 dB", Measure::Bass, kXgOn, none,
            sysex({ xg(0x02, 0x40, 0x01, { 0x4C }) }), 3, 13);
    }

    void heard()
    {
        QFETCH(int, measure);
        QFETCH(Bytes, mode);
        QFETCH(Adder, common);
        QFETCH(Adder, message);
        QFETCH(double, atLeast);
        QFETCH(double, atMost);
        const auto m = static_cast<Measure>(measure);
        const Song base = piece(m, mode, common);
        const Song with = piece(m, mode, common ? both(common, message) : message);
        const test::Stereo a = test::renderSong(base, kSeconds, kSoundfont);
        const test::Stereo b = test::renderSong(with, kSeconds, kSoundfont);
        QVERIFY2(test::levelDb(a) > -60 && test::levelDb(b) > -60, "a render is silent");
        const double size = change(m, a, b);
        QVERIFY2(size >= atLeast && size <= atMost,
            qPrintable(QString("change %1, expected %2 to %3").arg(size).arg(atLeast).arg(atMost)));
    }

    void hostileSettingsStayUnderTheCeiling_data()
    {
        QTest::addColumn<Bytes>("mode");
        QTest::addColumn<Adder>("setUp");
        std::vector<Bytes> randomEfx { efxType(0x01, 0x23) };
        std::mt19937 gen(3);
        for (uint8_t address = 0x03; address <= 0x19; ++address)
            randomEfx.push_back(efxParam(address, uint8_t(gen() % 128)));
        QTest::newRow("GS delay feedback at full, every part sending")
            << kGsReset
            << sysex({ gs(0x40, 0x01, 0x59, { 0x7F }), gs(0x40, 0x01, 0x58, { 0x7F }),
                   gs(0x40, 0x01, 0x52, { 0x01 }) });
        QTest::newRow("GS EFX Stereo Delay, feedback at full and crossed")
            << kGsReset
            << sysex({ efxType(0x01, 0x50), efxParam(0x05, 0x7F), efxParam(0x16, 0x7F),
                   efxParam(0x12, 0x7F), kEfxOnPart1 });
        QTest::newRow("GS EFX Stereo Flanger, feedback at full")
            << kGsReset
            << sysex({ efxType(0x01, 0x23), efxParam(0x08, 0x7F), efxParam(0x07, 0x7F),
                   kEfxOnPart1 });
        QTest::newRow("GS EFX with random bytes") << kGsReset << sysex(randomEfx);
        QTest::newRow("GS EFX of an unknown type, on a part")
            << kGsReset << sysex({ efxType(0x7F, 0x7F), kEfxOnPart1 });
        QTest::newRow("XG variation Echo, feedback at full, system")
            << kXgOn
            << sysex({ xg(0x02, 0x01, 0x40, { 0x07, 0x00 }), xg(0x02, 0x01, 0x44, { 0x00, 0x7F }),
                   xg(0x02, 0x01, 0x5A, { 0x01 }) });
        QTest::newRow("XG insertion to a part that does not exist")
            << kXgOn << sysex({ xg(0x03, 0x00, 0x0C, { 0x40 }), xg(0x02, 0x01, 0x5B, { 0x7E }) });
    }

    void hostileSettingsStayUnderTheCeiling()
    {
        QFETCH(Bytes, mode);
        QFETCH(Adder, setUp);
        SongBuilder b;
        b.sysex(0, mode);
        setUp(b);
        for (int ch = 0; ch < 16; ++ch) {
            if (ch == 9)
                continue;
            b.program(0, ch, 30).cc(0, ch, kCcDelaySend, 127).cc(0, ch, kCcVolume, 127);
            for (int k = 0; k < 3; ++k)
                b.note((50 + 100 * k) * kMs, 900 * kMs, ch, 48 + 7 * k + ch, 127);
        }
        // The connection changes while notes sound.
        b.sysex(500 * kMs, xg(0x02, 0x01, 0x5A, { 0x00 }))
            .sysex(600 * kMs, xg(0x02, 0x01, 0x5A, { 0x01 }));
        const test::Stereo s = test::renderSong(b.build(4000 * kMs), 4.0, kSoundfont);
        QString why;
        QVERIFY2(finiteAndUnderCeiling(s, why), qPrintable(why));
        QVERIFY(test::levelDb(s, 0.1, 1.0) > -40);
    }

    void aSongWithoutTheSectionMixesItsPartsAsBefore()
    {
        SongBuilder plain;
        plain.sysex(0, kGsReset).program(0, 0, 0).note(0, 500 * kMs, 0, 60);
        QVERIFY(!FluidSynthCore::effectsOf(plain.build(kMs * 1000)).parts);
        SongBuilder later;
        later.sysex(0, kGsReset)
            .program(0, 0, 0)
            .note(0, 500 * kMs, 0, 60)
            .cc(800 * kMs, 0, kCcDelaySend, 40);
        QVERIFY2(
            FluidSynthCore::effectsOf(later.build(kMs * 1000)).parts, "a send late in the song");
        // A flat EQ asks for nothing; a lifted one only for the whole mix.
        SongBuilder eq;
        eq.sysex(0, kGsReset).sysex(0, gs(0x40, 0x02, 0x01, { 0x4C })).note(0, 500 * kMs, 0, 60);
        const auto needs = FluidSynthCore::effectsOf(eq.build(kMs * 1000));
        QVERIFY(needs.eq && !needs.parts);
    }
};

QTEST_GUILESS_MAIN(TestEffectRenders)
#include "tst_effectrenders.moc"
