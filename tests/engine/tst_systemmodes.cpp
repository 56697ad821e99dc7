// The parts a file chooses by its system mode (GM1, GM2, GS, XG, none), as the soft synth
// ends up playing them, through to a point and after a seek to it; and the presets a
// song loads: all of them before its first note, and no others.

#include "engine/SongBuilder.h"
#include "platform/midi/output/fluidsynth/FluidSynthCore.h"
#include "platform/midi/output/fluidsynth/OfflineRenderer.h"
#include "platform/midi/transport/Sequencer.h"

#include <QtTest>

#include <algorithm>
#include <functional>
#include <optional>
#include <vector>

using namespace sequora;
using namespace sequora::midi;
using test::SongBuilder;

namespace {

constexpr int64_t kMs = 1000;
constexpr int kRate = 44100;
constexpr const char* kFluidR3 = "/usr/share/sounds/sf2/FluidR3_GM.sf2";
constexpr const char* kTimGm6mb = "/usr/share/sounds/sf2/TimGM6mb.sf2";

const std::vector<uint8_t> kGm1On {0x7E, 0x7F, 0x09, 0x01, 0xF7};
const std::vector<uint8_t> kGm2On {0x7E, 0x7F, 0x09, 0x03, 0xF7};
const std::vector<uint8_t> kXgOn {0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7};

/// A GS DT1 message after F0: 41 10 42 12 address value checksum F7.
std::vector<uint8_t> gs(uint8_t a1, uint8_t a2, uint8_t a3, uint8_t value, bool badChecksum = false)
{
    const int sum = a1 + a2 + a3 + value;
    const auto checksum = static_cast<uint8_t>((128 - sum % 128) % 128 ^ (badChecksum ? 1 : 0));
    return {0x41, 0x10, 0x42, 0x12, a1, a2, a3, value, checksum, 0xF7};
}
const std::vector<uint8_t> kGsReset = gs(0x40, 0x00, 0x7F, 0x00);
/// "Use for rhythm part" of GS block @p block (0 is part 10, 1-9 parts 1-9, A-F 11-16).
std::vector<uint8_t> rhythm(uint8_t block, uint8_t map, bool badChecksum = false)
{
    return gs(0x40, static_cast<uint8_t>(0x10 | block), 0x15, map, badChecksum);
}

struct Expect {
    uint8_t channel;
    bool drum;
    uint16_t bank;
    uint8_t program;
    std::optional<PresetRequest> asked {}; ///< where the font lacks it: what the part asked for
};

struct ModeCase {
    const char* name;
    std::function<void(SongBuilder&)> song; ///< events before 1 s
    std::vector<Expect> expect;             ///< at 1 s
};

SongBuilder& select(SongBuilder& b, int64_t us, int ch, int msb, int lsb, int program)
{
    if (msb >= 0)
        b.cc(us, ch, kCcBankMsb, msb);
    if (lsb >= 0)
        b.cc(us, ch, kCcBankLsb, lsb);
    return b.program(us, ch, program);
}

// FluidR3_GM has variations in banks 8, 9 and 16, kits 0-48 in bank 128, no SFX kit.
const std::vector<ModeCase>& modeCases()
{
    static const std::vector<ModeCase> cases {
        {"none: GS-style MSB, channel 10 the drums",
            [](SongBuilder& b) { select(b, 0, 0, 8, -1, 4); select(b, 0, 10, -1, -1, 0); },
            {{0, false, 8, 4}, {9, true, 128, 0}, {10, false, 0, 0}}},
        {"GM1 ignores bank select",
            [](SongBuilder& b) { b.sysex(0, kGm1On); select(b, 10, 0, 8, 0, 4); select(b, 10, 9, 8, 0, 8); },
            {{0, false, 0, 4}, {9, true, 128, 8}}},
        {"GS MSB the variation, LSB ignored",
            [](SongBuilder& b) { b.sysex(0, kGsReset); select(b, 10, 0, 8, 5, 4); },
            {{0, false, 8, 4}}},
        {"GS missing variation falls back to bank 0",
            [](SongBuilder& b) { b.sysex(0, kGsReset); select(b, 10, 0, 3, -1, 4); },
            {{0, false, 0, 4, PresetRequest {false, 3, 4}}}},
        {"GS missing kit falls back to the standard set",
            [](SongBuilder& b) { b.sysex(0, kGsReset); select(b, 10, 9, -1, -1, 99); },
            {{9, true, 128, 0, PresetRequest {true, 128, 99}}}},
        {"GS rhythm part on part 11",
            [](SongBuilder& b) { b.sysex(0, kGsReset).sysex(10, rhythm(0x0A, 1)); select(b, 20, 10, -1, -1, 25); },
            {{10, true, 128, 25}, {9, true, 128, 0}}},
        {"GS rhythm part on, then off again",
            [](SongBuilder& b) {
                b.sysex(0, kGsReset).sysex(10, rhythm(0x0A, 1));
                select(b, 20, 10, -1, -1, 48);
                b.sysex(500 * kMs, rhythm(0x0A, 0));
            },
            {{10, false, 0, 48}}},
        {"GS block 0 is part 10, block 1 part 1",
            [](SongBuilder& b) { b.sysex(0, kGsReset).sysex(10, rhythm(0x00, 0)).sysex(20, rhythm(0x01, 2)); },
            {{9, false, 0, 0}, {0, true, 128, 0}}},
        {"GS bad checksum is ignored",
            [](SongBuilder& b) { b.sysex(0, kGsReset).sysex(10, rhythm(0x0A, 1, true)); select(b, 20, 10, -1, -1, 0); },
            {{10, false, 0, 0}}},
        {"XG MSB 127 a kit on any channel",
            [](SongBuilder& b) { b.sysex(0, kXgOn); select(b, 10, 10, 127, 0, 25); },
            {{10, true, 128, 25}, {9, true, 128, 0}}},
        {"XG MSB 126 an SFX kit, the standard set where the font has none",
            [](SongBuilder& b) { b.sysex(0, kXgOn); select(b, 10, 10, 126, 0, 1); },
            {{10, true, 128, 0, PresetRequest {true, 128, PartMap::kSfxKitProgram}}}},
        {"XG LSB the variation",
            [](SongBuilder& b) { b.sysex(0, kXgOn); select(b, 10, 0, 0, 8, 4); select(b, 10, 1, 8, 0, 4); },
            {{0, false, 8, 4}, {1, false, 0, 4}}},
        {"XG MSB 64 an SFX voice, bank 0 where the font has none",
            [](SongBuilder& b) { b.sysex(0, kXgOn); select(b, 10, 0, 64, 0, 5); },
            {{0, false, 0, 5, PresetRequest {false, 64, 5}}}},
        {"GM2 MSB 120 a kit, 121 melodic with LSB the variation",
            [](SongBuilder& b) { b.sysex(0, kGm2On); select(b, 10, 10, 120, 0, 40); select(b, 10, 0, 121, 8, 4); },
            {{10, true, 128, 40}, {0, false, 8, 4}, {9, true, 128, 0}}},
        {"a reset mid-song: every part to the new mode's power-on state",
            [](SongBuilder& b) {
                b.sysex(0, kXgOn);
                select(b, 10, 3, 127, 0, 25);
                select(b, 10, 0, 0, 8, 4);
                b.sysex(500 * kMs, kGsReset);
                select(b, 600 * kMs, 4, 127, 0, 25);
            },
            {{3, false, 0, 0}, {0, false, 0, 0}, {9, true, 128, 0}, {4, false, 0, 25}}},
        {"GM1 keeps a GS module's rhythm parts",
            [](SongBuilder& b) { b.sysex(0, kGm1On).sysex(10, rhythm(0x0A, 1)); select(b, 20, 10, 8, 0, 25); },
            {{10, true, 128, 25}, {9, true, 128, 0}}},
        {"GS mode set resets to GS",
            [](SongBuilder& b) { b.sysex(0, kGm2On).sysex(10, gs(0x00, 0x00, 0x7F, 0x00)); select(b, 20, 10, 120, 0, 0); },
            {{10, false, 0, 0}, {9, true, 128, 0}}},
    };
    return cases;
}

Song songOf(const ModeCase& c)
{
    SongBuilder b;
    c.song(b);
    for (int ch = 0; ch < 16; ++ch)
        b.note(900 * kMs, 200 * kMs, ch, 60);
    return b.build(2000 * kMs);
}

void renderMs(OfflineRenderer& out, int64_t ms)
{
    std::vector<int16_t> buffer(2 * 1024);
    for (int64_t frames = ms * kRate / 1000; frames > 0; frames -= 1024)
        out.render(buffer.data(), static_cast<uint32_t>(std::min<int64_t>(frames, 1024)));
}

} // namespace

class TestSystemModes : public QObject {
    Q_OBJECT

private slots:
    void partsFollowTheMode_data()
    {
        QTest::addColumn<int>("index");
        for (std::size_t i = 0; i < modeCases().size(); ++i)
            QTest::newRow(modeCases()[i].name) << int(i);
    }

    void partsFollowTheMode()
    {
        QFETCH(int, index);
        if (!QFile::exists(kFluidR3))
            QSKIP("FluidR3_GM is not installed");
        const ModeCase& c = modeCases()[std::size_t(index)];
        for (const bool seeking : {false, true}) {
            std::string error;
            auto renderer = OfflineRenderer::create(kFluidR3, kRate, error);
            QVERIFY2(renderer, error.c_str());
            OfflineRenderer* out = renderer.get();
            Sequencer seq(std::move(renderer));
            seq.open(songOf(c));
            if (seeking) {
                seq.seek(1000);
                seq.play();
                renderMs(*out, 20);
            } else {
                seq.play();
                renderMs(*out, 1000);
            }
            for (const Expect& e : c.expect) {
                const FluidSynthCore::ChannelPreset got = out->core().channelPreset(e.channel);
                const QString what = QStringLiteral("%1, channel %2: drum %3, %4/%5")
                                         .arg(seeking ? "after a seek" : "played through")
                                         .arg(e.channel + 1)
                                         .arg(got.drum)
                                         .arg(got.preset.bank)
                                         .arg(got.preset.program);
                QVERIFY2(got.drum == e.drum && got.preset.bank == e.bank && got.preset.program == e.program,
                    qPrintable(what));
                if (e.asked)
                    QVERIFY2(out->core().parts().request(e.channel) == *e.asked, qPrintable(what + " asked otherwise"));
            }
        }
    }

    void aSongLoadsItsPresetsBeforeItsFirstNoteAndNoOthers()
    {
        if (!QFile::exists(kTimGm6mb))
            QSKIP("TimGM6mb is not installed");
        std::string error;
        auto renderer = OfflineRenderer::create(kTimGm6mb, kRate, error);
        QVERIFY2(renderer, error.c_str());
        OfflineRenderer* out = renderer.get();
        Sequencer seq(std::move(renderer));
        auto loaded = [&](uint16_t bank, uint8_t program) {
            const auto& p = out->core().loadedPresets();
            return std::find(p.begin(), p.end(), FluidSynthCore::Preset {bank, program}) != p.end();
        };
        // Strings on channel 2 from the start, a flute chosen only after 1.5 s.
        SongBuilder strings;
        strings.program(0, 1, 48).note(0, 500 * kMs, 1, 60).note(0, 500 * kMs, 9, 38);
        strings.program(1500 * kMs, 2, 73).note(1500 * kMs, 300 * kMs, 2, 72);
        const Song a = strings.build(2 * 1000 * kMs);
        SongBuilder organ;
        organ.program(0, 0, 19).note(0, 500 * kMs, 0, 60);
        const Song b = organ.build(1000 * kMs);

        const uint64_t atStart = FluidSynthCore::soundfontBytesRead();
        seq.open(a);
        const uint64_t opened = FluidSynthCore::soundfontBytesRead();
        QVERIFY(opened > atStart);
        QVERIFY(loaded(0, 48) && loaded(0, 73) && loaded(0, 0) && loaded(128, 0));
        QVERIFY(!loaded(0, 19));
        // Played through, and played again from a seek: nothing more is read from the font.
        seq.play();
        renderMs(*out, 2500);
        seq.seek(1600);
        seq.play();
        renderMs(*out, 500);
        QCOMPARE(FluidSynthCore::soundfontBytesRead(), opened);

        // The organ was never loaded: the next song reads it, and lets the strings go...
        seq.open(b);
        const uint64_t second = FluidSynthCore::soundfontBytesRead();
        QVERIFY(second > opened);
        QVERIFY(loaded(0, 19) && !loaded(0, 48) && !loaded(0, 73));
        seq.play();
        renderMs(*out, 1000);
        QCOMPARE(FluidSynthCore::soundfontBytesRead(), second);
        // ...so that they are read again when a song needs them once more.
        seq.open(a);
        QVERIFY(FluidSynthCore::soundfontBytesRead() > second);
    }
};

QTEST_GUILESS_MAIN(TestSystemModes)
#include "tst_systemmodes.moc"
