// A mode reset leaves the module and the soft synth as power-on does, whenever it comes:
// after a piece that changed everything a module takes (and left notes held), a GS, XG,
// GM1, GM2 or GM-off reset leaves the module state and FluidSynth's channels, gain and
// effects exactly as the same reset sent to a fresh synthesiser. And heard: a part set up
// after a mid-song reset sounds as the same set-up after the song's first reset.

#include "engine/EffectMeasures.h"
#include "engine/SongBuilder.h"
#include "platform/midi/file/MidiBytes.h"
#include "platform/midi/output/fluidsynth/FluidSynthCore.h"

#include <fluidsynth.h>

#include <QtTest>

#include <random>

using namespace sequora;
using namespace sequora::midi;

namespace {

constexpr int kRate = 44100;
constexpr std::size_t kMessagesPerBlock = 8;
constexpr const char* kStateFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
// Its saw lead sends to the chorus by itself, whatever CC 93 says.
constexpr const char* kRenderFont = "/usr/share/sounds/sf2/FluidR3_GM.sf2";

using Bytes = std::vector<uint8_t>;
const Bytes kGsReset { 0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7 };
const Bytes kGsModeSet { 0xF0, 0x41, 0x10, 0x42, 0x12, 0x00, 0x00, 0x7F, 0x00, 0x01, 0xF7 };
const Bytes kXgOn { 0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7 };
const Bytes kXgAllReset { 0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7F, 0x00, 0xF7 };
const Bytes kGm1On { 0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7 };
const Bytes kGm2On { 0xF0, 0x7E, 0x7F, 0x09, 0x03, 0xF7 };
const Bytes kGmOff { 0xF0, 0x7E, 0x7F, 0x09, 0x02, 0xF7 };

Bytes gs(uint8_t a1, uint8_t a2, uint8_t a3, uint8_t v)
{
    const auto sum = static_cast<uint8_t>((128 - (a1 + a2 + a3 + v) % 128) % 128);
    return { 0xF0, 0x41, 0x10, 0x42, 0x12, a1, a2, a3, v, sum, 0xF7 };
}

Bytes xg(uint8_t a1, uint8_t a2, uint8_t a3, uint8_t v)
{
    return { 0xF0, 0x43, 0x10, 0x4C, a1, a2, a3, v, 0xF7 };
}

Bytes cc(int ch, int number, int value)
{
    return { uint8_t(kControlChange | ch), uint8_t(number), uint8_t(value) };
}

/// Everything a module takes, at random on every part, after @p mode: programs and banks,
/// rhythm parts, master and part parameters by SysEx and CC, tunings of every kind, tone
/// and SoundFont NRPNs, drum keys, RPNs, channel modes, portamento, pressure, bend,
/// effects, and notes left held under the pedal.
std::vector<Bytes> everything(const Bytes& mode, unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<Bytes> out { mode };
    for (int i = 0; i < 1200; ++i) {
        const int ch = int(random() % 16);
        const auto v = static_cast<uint8_t>(random() % 128);
        const auto part = static_cast<uint8_t>(0x10 | (random() % 16));
        switch (random() % 24) {
        case 0:
            out.push_back(cc(ch, kCcBankMsb, std::array { 0, 8, 64, 120, 121, 126, 127 }[v % 7]));
            break;
        case 1:
            out.push_back({ uint8_t(kProgramChange | ch), uint8_t(v), 0 });
            break;
        case 2:
            out.push_back(gs(0x40, part, 0x15, uint8_t(v % 3)));
            break;
        case 3:
            out.push_back(
                gs(0x40, part, std::array<uint8_t, 6> { 0x16, 0x19, 0x1C, 0x21, 0x22, 0x2C }[v % 6],
                    uint8_t(0x28 + v % 49)));
            break;
        case 4:
            out.push_back(gs(0x40, part, uint8_t(0x40 + v % 12), v));
            break;
        case 5:
            out.push_back(gs(0x40, 0x00, std::array<uint8_t, 3> { 0x04, 0x05, 0x06 }[v % 3],
                uint8_t(0x28 + v % 49)));
            break;
        case 6:
            out.push_back(gs(0x40, 0x01, uint8_t(0x30 + v % 12), uint8_t(v % 8)));
            break;
        case 7:
            out.push_back(xg(0x08, uint8_t(ch), uint8_t(0x07 + v % 22), v));
            break;
        case 8:
            out.push_back(xg(0x02, 0x01, v % 2 ? 0x00 : 0x20, uint8_t(v % 5)));
            break;
        case 9:
            out.push_back(xg(
                0x00, 0x00, std::array<uint8_t, 2> { 0x04, 0x06 }[v % 2], uint8_t(0x28 + v % 49)));
            break;
        case 10:
            out.push_back({ 0xF0, 0x7F, 0x7F, 0x04, uint8_t(1 + v % 4), v, v, 0xF7 });
            break;
        case 11: {
            Bytes octave { 0xF0, 0x7E, 0x7F, 0x08, 0x08, 0x00, 0x03, 0x7F };
            for (int n = 0; n < 12; ++n)
                octave.push_back(static_cast<uint8_t>(random() % 128));
            octave.push_back(0xF7);
            out.push_back(octave);
            out.push_back({ 0xF0, 0x7F, 0x7F, 0x08, 0x02, uint8_t(v % 3), 0x01,
                uint8_t(40 + v % 40), v, 0x10, 0x00, 0xF7 });
            break;
        }
        case 12:
            out.push_back(cc(ch, kCcNrpnMsb, 1));
            out.push_back(cc(ch, kCcNrpnLsb,
                std::array { 0x08, 0x09, 0x0A, 0x20, 0x21, 0x63, 0x64, 0x66 }[v % 8]));
            out.push_back(cc(ch, kCcDataEntryMsb, v));
            break;
        case 13: // FluidSynth's own: a generator offset by NRPN
            out.push_back(cc(ch, kCcNrpnMsb, 120));
            out.push_back(cc(ch, kCcNrpnLsb, std::array { 8, 21, 26, 51 }[v % 4]));
            out.push_back(cc(ch, kCcDataEntryMsb, v));
            out.push_back(cc(ch, kCcDataEntryLsb, v));
            break;
        case 14:
            out.push_back(cc(9, kCcNrpnMsb, 0x18 + v % 7));
            out.push_back(cc(9, kCcNrpnLsb, 35 + v % 40));
            out.push_back(cc(9, kCcDataEntryMsb, v));
            break;
        case 15:
            out.push_back(cc(ch, kCcRpnMsb, 0));
            out.push_back(cc(ch, kCcRpnLsb, std::array { 0, 1, 2, 3, 4, 5 }[v % 6]));
            out.push_back(cc(ch, kCcDataEntryMsb, v % 25));
            break;
        case 16:
            out.push_back(cc(ch, 71 + v % 9, v));
            break;
        case 17:
            out.push_back(
                cc(ch, std::array { kCcMonoOn, kCcPolyOn, kCcOmniOff, kCcOmniOn }[v % 4], 1));
            break;
        case 18:
            out.push_back(cc(ch, kCcPortamentoTime, v));
            out.push_back(cc(ch, kCcPortamento, v % 2 ? 127 : 0));
            out.push_back(cc(ch, kCcPortamentoControl, v));
            break;
        case 19:
            out.push_back(
                cc(ch, std::array { 1, 7, 10, 11, 64, 66, 67, 68, 91, 93, 94 }[v % 11], v));
            break;
        case 20:
            out.push_back({ uint8_t(kPitchBend | ch), v, uint8_t(random() % 128) });
            out.push_back({ uint8_t(kChannelPressure | ch), v, 0 });
            out.push_back({ uint8_t(kPolyPressure | ch), uint8_t(40 + v % 40), v });
            break;
        case 21:
            out.push_back(cc(ch, kCcResetAllControllers, 0));
            break;
        default:
            out.push_back(
                { uint8_t(kNoteOn | ch), uint8_t(30 + random() % 70), uint8_t(1 + v % 127) });
            break;
        }
    }
    for (int ch = 0; ch < kChannels; ++ch) {
        out.push_back(cc(ch, kCcSustain, 127));
        out.push_back({ uint8_t(kNoteOn | ch), 60, 100 });
    }
    return out;
}

std::unique_ptr<FluidSynthCore> powerOn()
{
    std::string error;
    return FluidSynthCore::create(kStateFont, kRate, false, error);
}

void send(FluidSynthCore& core, const Bytes& m)
{
    if (m.front() == kSysExStart)
        core.sendSysex(m);
    else
        core.sendShort(m[0], m[1], m[2]);
}

/// What FluidSynth holds, as one comparable text per channel and one for the whole synth.
QStringList synthState(FluidSynthCore& core)
{
    // The voices a reset let go leave at the next block.
    std::array<float, 4 * FluidSynthCore::kGrid> left {}, right {};
    core.render(left.data(), right.data(), int(left.size()));
    fluid_synth_t* synth = core.synth();
    QStringList out;
    for (int ch = 0; ch < kChannels; ++ch) {
        int font = 0, bank = 0, program = 0;
        fluid_synth_get_program(synth, ch, &font, &bank, &program);
        QString s = QStringLiteral("ch%1 %2/%3/%4 drum=%5")
                        .arg(ch + 1)
                        .arg(font)
                        .arg(bank)
                        .arg(program)
                        .arg(core.parts().isDrum(uint8_t(ch)));
        for (int n = 0; n < 128; ++n) {
            int value = 0;
            fluid_synth_get_cc(synth, ch, n, &value);
            s += QStringLiteral(" c%1=%2").arg(n).arg(value);
        }
        for (int gen = 0; gen < GEN_LAST; ++gen)
            s += QStringLiteral(" g%1=%2").arg(gen).arg(
                double(fluid_synth_get_gen(synth, ch, gen)));
        int bend = 0, range = 0, basic = 0, mode = 0, val = 0, portamento = 0, legato = 0,
            breath = 0;
        fluid_synth_get_pitch_bend(synth, ch, &bend);
        fluid_synth_get_pitch_wheel_sens(synth, ch, &range);
        fluid_synth_get_basic_channel(synth, ch, &basic, &mode, &val);
        fluid_synth_get_portamento_mode(synth, ch, &portamento);
        fluid_synth_get_legato_mode(synth, ch, &legato);
        fluid_synth_get_breath_mode(synth, ch, &breath);
        out << s
                + QStringLiteral(" bend=%1/%2 basic=%3/%4/%5 portamento=%6 legato=%7 breath=%8")
                      .arg(bend)
                      .arg(range)
                      .arg(basic)
                      .arg(mode)
                      .arg(val)
                      .arg(portamento)
                      .arg(legato)
                      .arg(breath);
    }
    double room = 0, damp = 0, width = 0, level = 0, chorusLevel = 0, speed = 0, depth = 0;
    int voices = 0, type = 0;
    fluid_synth_get_reverb_group_roomsize(synth, -1, &room);
    fluid_synth_get_reverb_group_damp(synth, -1, &damp);
    fluid_synth_get_reverb_group_width(synth, -1, &width);
    fluid_synth_get_reverb_group_level(synth, -1, &level);
    fluid_synth_get_chorus_group_nr(synth, -1, &voices);
    fluid_synth_get_chorus_group_level(synth, -1, &chorusLevel);
    fluid_synth_get_chorus_group_speed(synth, -1, &speed);
    fluid_synth_get_chorus_group_depth(synth, -1, &depth);
    fluid_synth_get_chorus_group_type(synth, -1, &type);
    out << QStringLiteral("gain=%1 reverb=%2/%3/%4/%5 chorus=%6/%7/%8/%9/%10 voices=%11")
               .arg(double(fluid_synth_get_gain(synth)))
               .arg(room)
               .arg(damp)
               .arg(width)
               .arg(level)
               .arg(voices)
               .arg(chorusLevel)
               .arg(speed)
               .arg(depth)
               .arg(type)
               .arg(fluid_synth_get_active_voice_count(synth));
    return out;
}

/// The first scope in which two module states differ, for the failure message.
QString moduleDifference(const Module& a, const Module& b)
{
    if (!(a.parts() == b.parts()))
        return QStringLiteral("modes and parts");
    if (!(a.master() == b.master()))
        return QStringLiteral("master");
    if (!(a.effects() == b.effects()))
        return QStringLiteral("effects");
    for (uint8_t ch = 0; ch < kChannels; ++ch) {
        if (!(a.part(ch) == b.part(ch)))
            return QStringLiteral("part %1").arg(ch + 1);
    }
    return QStringLiteral("tuning programs");
}

} // namespace

class TestResetState : public QObject {
    Q_OBJECT

private slots:
    void aResetLeavesPowerOnState_data()
    {
        QTest::addColumn<Bytes>("before");
        QTest::addColumn<Bytes>("reset");
        QTest::newRow("GS reset after GS") << kGsReset << kGsReset;
        QTest::newRow("GS system mode set after XG") << kXgOn << kGsModeSet;
        QTest::newRow("GS reset after GM2") << kGm2On << kGsReset;
        QTest::newRow("XG System On after XG") << kXgOn << kXgOn;
        QTest::newRow("XG all parameter reset after GS") << kGsReset << kXgAllReset;
        QTest::newRow("GM1 On after GS") << kGsReset << kGm1On;
        QTest::newRow("GM2 On after XG") << kXgOn << kGm2On;
        QTest::newRow("GM2 On after GM2") << kGm2On << kGm2On;
        QTest::newRow("GM off after GS") << kGsReset << kGmOff;
    }

    void aResetLeavesPowerOnState()
    {
        QFETCH(Bytes, before);
        QFETCH(Bytes, reset);
        if (!QFile::exists(kStateFont))
            QSKIP("TimGM6mb is not installed");
        auto fresh = powerOn();
        auto played = powerOn();
        QVERIFY(fresh && played);
        send(*fresh, reset);
        // Played as a song is, a block rendered every few messages: FluidSynth's queue
        // of voice events would overflow otherwise.
        const std::vector<Bytes> piece
            = everything(before, unsigned(qHash(QByteArray(QTest::currentDataTag()))));
        std::array<float, FluidSynthCore::kGrid> left {}, right {};
        for (std::size_t i = 0; i < piece.size(); ++i) {
            send(*played, piece[i]);
            if (i % kMessagesPerBlock == 0)
                played->render(left.data(), right.data(), int(left.size()));
        }
        QVERIFY2(!(played->module() == fresh->module()), "the piece changed nothing");
        send(*played, reset);

        QVERIFY2(played->module() == fresh->module(),
            qPrintable(QStringLiteral("module differs in its %1")
                           .arg(moduleDifference(played->module(), fresh->module()))));
        const QStringList want = synthState(*fresh);
        const QStringList got = synthState(*played);
        for (int i = 0; i < want.size(); ++i) {
            if (want[i] != got[i])
                QFAIL(qPrintable(QStringLiteral("after power-on: %1\nafter the piece: %2")
                                     .arg(want[i], got[i])));
        }
    }

    void aPartSetUpAfterAMidSongResetSoundsAsAfterTheFirst_data()
    {
        QTest::addColumn<Bytes>("reset");
        QTest::newRow("GS") << kGsReset;
        QTest::newRow("XG") << kXgOn;
        QTest::newRow("GM1") << kGm1On;
        QTest::newRow("GM2") << kGm2On;
    }

    void aPartSetUpAfterAMidSongResetSoundsAsAfterTheFirst()
    {
        QFETCH(Bytes, reset);
        if (!QFile::exists(kRenderFont))
            QSKIP("FluidR3_GM is not installed");
        // The same song twice, the second with the reset again just before a saw lead is
        // set up (program 81, reverb and chorus sends 0) and played. Before that reset it
        // moved what the reset must undo on the lead's part; the note sits at the same
        // song time in both, so that effects running on their own keep the same phase.
        constexpr int64_t kMs = 1000;
        constexpr int64_t kSetUp = 3000 * kMs;
        constexpr double kFrom = 3.1, kTo = 3.6;
        auto song = [&](bool again) {
            test::SongBuilder b;
            const Bytes payload(reset.begin() + 1, reset.end());
            b.sysex(0, payload);
            for (int i = 0; i < 4; ++i)
                b.note(200 * kMs + i * 250 * kMs, 200 * kMs, 1, 60 + 4 * i, 90);
            if (again) {
                b.cc(1500 * kMs, 0, kCcVolume, 40)
                    .cc(1500 * kMs, 0, kCcPan, 0)
                    .cc(1500 * kMs, 0, 74, 10);
                b.cc(1500 * kMs, 0, kCcRpnMsb, 0)
                    .cc(1500 * kMs, 0, kCcRpnLsb, 1)
                    .cc(1500 * kMs, 0, kCcDataEntryMsb, 90);
                b.bend(1500 * kMs, 0, 12000).cc(1500 * kMs, 0, kCcModulation, 127);
                const Bytes keyShift = gs(0x40, 0x11, 0x16, 0x46);
                const Bytes masterVolume { 0xF0, 0x7F, 0x7F, 0x04, 0x01, 0x00, 0x50, 0xF7 };
                b.sysex(1500 * kMs, Bytes(keyShift.begin() + 1, keyShift.end()));
                b.sysex(1500 * kMs, Bytes(masterVolume.begin() + 1, masterVolume.end()));
                b.sysex(kSetUp - 10 * kMs, payload);
            }
            b.cc(kSetUp, 0, kCcReverbSend, 0)
                .cc(kSetUp, 0, kCcChorusSend, 0)
                .program(kSetUp, 0, 81);
            b.note(kSetUp + 50 * kMs, 900 * kMs, 0, 60, 100);
            return b.build(kSetUp + 1500 * kMs);
        };
        const test::Stereo first = test::renderSong(song(false), kTo + 0.1, kRenderFont);
        const test::Stereo again = test::renderSong(song(true), kTo + 0.1, kRenderFont);
        QVERIFY2(test::levelDb(first, kFrom, kTo) > -50, "the lead is silent");
        const double brightness
            = test::centroidHz(again, kFrom, kTo) / test::centroidHz(first, kFrom, kTo);
        const double level = test::levelDb(again, kFrom, kTo) - test::levelDb(first, kFrom, kTo);
        QVERIFY2(std::abs(brightness - 1) < 0.005 && std::abs(level) < 0.05,
            qPrintable(QStringLiteral("after the mid-song reset: brightness %1x, level %2 dB")
                           .arg(brightness, 0, 'f', 4)
                           .arg(level, 0, 'f', 3)));
    }

    void aResetSilencesWhatStillSounds_data()
    {
        QTest::addColumn<Bytes>("reset");
        QTest::addColumn<QString>("notes");
        QTest::newRow("GS, keys down") << kGsReset << QStringLiteral("down");
        QTest::newRow("GS, under the pedal") << kGsReset << QStringLiteral("pedal");
        QTest::newRow("GS, releasing") << kGsReset << QStringLiteral("released");
        QTest::newRow("XG, under the pedal") << kXgOn << QStringLiteral("pedal");
        QTest::newRow("GM1, keys down") << kGm1On << QStringLiteral("down");
        QTest::newRow("GM2, releasing") << kGm2On << QStringLiteral("released");
    }

    void aResetSilencesWhatStillSounds()
    {
        QFETCH(Bytes, reset);
        QFETCH(QString, notes);
        if (!QFile::exists(kRenderFont))
            QSKIP("FluidR3_GM is not installed");
        // Pads and strings, whose releases last seconds, five notes a part on every part
        // (some 150 voices), then the reset again mid-song: a module cuts every sound.
        // FluidSynth's reverb keeps a little of what it held; that is gone within a
        // second, where the releases would still ring.
        constexpr int64_t kMs = 1000;
        constexpr int64_t kReset = 1500 * kMs;
        const Bytes payload(reset.begin() + 1, reset.end());
        test::SongBuilder b;
        b.sysex(0, payload);
        for (int ch = 0; ch < kChannels; ++ch) {
            b.program(
                100 * kMs, ch, std::array { 48, 49, 50, 52, 88, 89, 90, 91, 94, 95 }[ch % 10]);
            b.cc(100 * kMs, ch, kCcSustain, notes == QLatin1String("pedal") ? 127 : 0);
            for (int i = 0; i < 5; ++i) {
                const int key = ch == 9 ? 35 + 4 * i : 40 + ch + 5 * i;
                b.event(200 * kMs + i * 50 * kMs, uint8_t(kNoteOn | ch), uint8_t(key), 100);
                if (notes != QLatin1String("down"))
                    b.event(kReset - 100 * kMs, uint8_t(kNoteOff | ch), uint8_t(key), 0);
            }
        }
        b.sysex(kReset, payload);
        const test::Stereo out = test::renderSong(b.build(kReset + 2500 * kMs), 3.8, kRenderFont);
        const double before = test::levelDb(out, 1.0, 1.4);
        const double after = test::levelDb(out, 2.25, 3.8);
        QVERIFY2(before > -30, qPrintable(QStringLiteral("the song is quiet: %1 dB").arg(before)));
        QVERIFY2(after < -80,
            qPrintable(QStringLiteral("%1 dB still sounds 0.75 to 2.3 s after the reset")
                           .arg(after, 0, 'f', 1)));
    }
};

QTEST_GUILESS_MAIN(TestResetState)
#include "tst_resetstate.moc"
