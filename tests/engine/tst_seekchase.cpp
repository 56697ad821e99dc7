// A seek leaves the synthesiser as playing through would have: at random points of real
// songs (and of a piece that changes system modes and holds the pedal), the soft synth's
// programs, banks, drum parts, controllers, bend and bend range after seek + play equal
// those after playing from the start to that point, and so do the notes sounding on its
// melodic parts; also with the listener's tempo, key, mute and solo set. The same songs
// given a loop (their middle half) are sought into its second pass and into the fading
// pass, past the jumps back.

#include "engine/SongBuilder.h"
#include "platform/midi/output/fluidsynth/FluidSynthCore.h"
#include "platform/midi/file/MidiBytes.h"
#include "platform/midi/output/Output.h"
#include "platform/midi/transport/Sequencer.h"

#include <fluidsynth.h>

#include <QtTest>

#include <bitset>
#include <filesystem>
#include <map>
#include <random>

using namespace sequora;
using namespace sequora::midi;

Q_DECLARE_METATYPE(sequora::midi::ListenerSettings)

namespace {

constexpr int kRate = 44100;
constexpr int kPointsPerSong = 6;
constexpr const char* kSoundfont = "/usr/share/sounds/sf2/TimGM6mb.sf2";

/// The soft synth driven by the transport without rendering, so that no note ends by
/// itself: what sounds is what the messages left sounding, which a small model of a
/// synthesiser's keys and pedal keeps beside it.
class SynthUnderTest final : public Output {
public:
    explicit SynthUnderTest(std::unique_ptr<FluidSynthCore> core) : m_core(std::move(core)) {}
    int sampleRate() const override { return kRate; }
    std::string name() const override { return "synth under test"; }
    void prepare(const Song* song) override
    {
        m_core->usePresets(song ? FluidSynthCore::presetsOf(*song) : std::vector<PresetRequest>());
    }
    void run(uint32_t frames) { runBlock(frames, [](uint32_t) {}); }

    /// Everything a listener would hear differ, as one comparable text per channel.
    QStringList state() const
    {
        QStringList out;
        fluid_synth_t* synth = m_core->synth();
        for (uint8_t ch = 0; ch < kMaxParts; ++ch) {
            const FluidSynthCore::ChannelPreset p = m_core->channelPreset(ch);
            // What the part asked for too: a small font falls back from most variations.
            const PresetRequest asked = m_core->parts().request(ch);
            QString s = QStringLiteral("ch%1 mode %2 %3 %4/%5 asked %6/%7")
                            .arg(ch + 1).arg(int(m_core->parts().mode())).arg(p.drum ? "drums" : "melodic")
                            .arg(p.preset.bank).arg(p.preset.program).arg(asked.bank).arg(asked.program);
            for (int cc = 0; cc < kCcAllSoundOff; ++cc) {
                if (cc == kCcDataEntryMsb || cc == kCcDataEntryLsb || (cc >= kCcDataIncrement && cc <= kCcRpnMsb))
                    continue; // the parameters' values are compared below, not the last entry
                int value = 0;
                fluid_synth_get_cc(synth, ch, cc, &value);
                s += QStringLiteral(" %1=%2").arg(cc).arg(value);
            }
            int bend = 0;
            int range = 0;
            fluid_synth_get_pitch_bend(synth, ch, &bend);
            fluid_synth_get_pitch_wheel_sens(synth, ch, &range);
            s += QStringLiteral(" bend=%1 range=%2").arg(bend).arg(range);
            // The offsets the module model put on the channel, as FluidSynth holds them.
            for (int gen : {GEN_FILTERFC, GEN_FILTERQ, GEN_VIBLFOTOPITCH, GEN_VIBLFOFREQ, GEN_VOLENVATTACK,
                     GEN_VOLENVRELEASE, GEN_FINETUNE, GEN_COARSETUNE})
                s += QStringLiteral(" g%1=%2").arg(gen).arg(double(fluid_synth_get_gen(synth, ch, gen)));
            int basic = 0, mode = 0, val = 0;
            fluid_synth_get_basic_channel(synth, ch, &basic, &mode, &val);
            s += QStringLiteral(" mode=%1 notes:").arg(mode);
            if (!p.drum) {
                for (int key = 0; key < 128; ++key) {
                    if (m_velocity[ch][key])
                        s += QStringLiteral(" %1/%2%3").arg(key).arg(m_velocity[ch][key]).arg(m_pedal[ch][key] ? "p" : "");
                }
            }
            out << s;
        }
        double room = 0, level = 0, chorus = 0;
        fluid_synth_get_reverb_group_roomsize(synth, -1, &room);
        fluid_synth_get_reverb_group_level(synth, -1, &level);
        fluid_synth_get_chorus_group_level(synth, -1, &chorus);
        out << QStringLiteral("gain=%1 reverb=%2/%3 chorus=%4")
                   .arg(double(fluid_synth_get_gain(synth))).arg(room).arg(level).arg(chorus);
        return out;
    }
    const Module& module() const { return m_core->module(); }

protected:
    void sendShort(uint8_t status, uint8_t d1, uint8_t d2) override { sendPortShort(0, status, d1, d2); }
    void sendSysex(std::span<const uint8_t> bytes) override { sendPortSysex(0, bytes); }
    bool hasSecondPort() const override { return true; }
    void sendPortShort(uint8_t port, uint8_t status, uint8_t d1, uint8_t d2) override
    {
        m_core->sendShort(status, d1, d2, port);
        const uint8_t ch = partOf(status, port);
        const bool pedal = m_sustain[ch] >= kCentre7;
        auto off = [&](int key) {
            if (m_velocity[ch][key] && pedal)
                m_pedal[ch][key] = true;
            else
                m_velocity[ch][key] = 0;
        };
        if (commandOf(status) == kNoteOn && d2 > 0) {
            m_velocity[ch][d1] = d2;
            m_pedal[ch][d1] = false;
        } else if (commandOf(status) == kNoteOn || commandOf(status) == kNoteOff) {
            off(d1);
        } else if (commandOf(status) == kControlChange) {
            if (d1 == kCcSustain || d1 == kCcResetAllControllers) {
                m_sustain[ch] = d1 == kCcSustain ? d2 : 0;
                if (m_sustain[ch] < kCentre7)
                    for (int key = 0; key < 128; ++key)
                        if (m_pedal[ch][key])
                            m_velocity[ch][key] = 0, m_pedal[ch][key] = false;
            } else if (d1 == kCcAllSoundOff) {
                clearNotes(ch);
            } else if (d1 >= kCcAllNotesOff) {
                for (int key = 0; key < 128; ++key)
                    off(key);
            }
        }
    }
    void sendPortSysex(uint8_t port, std::span<const uint8_t> bytes) override
    {
        m_core->sendSysex(bytes, port);
        if (PartMap::classify(bytes).meaning == SysexMeaning::Reset)
            clearAll();
    }
    void silence() override
    {
        m_core->silence();
        clearAll();
    }
    void reset() override
    {
        m_core->reset();
        clearAll();
    }
    void restore(SystemMode mode) override
    {
        // The pedals go up; the notes keys hold go on until their note-offs.
        m_core->restore(mode);
        for (uint8_t ch = 0; ch < kMaxParts; ++ch)
            sendPedalUp(ch);
    }

private:
    void sendPedalUp(uint8_t ch)
    {
        m_sustain[ch] = 0;
        for (int key = 0; key < 128; ++key) {
            if (m_pedal[ch][key])
                m_velocity[ch][key] = 0, m_pedal[ch][key] = false;
        }
    }
    void clearNotes(uint8_t ch)
    {
        m_velocity[ch].fill(0);
        m_pedal[ch].reset();
    }
    void clearAll()
    {
        for (uint8_t ch = 0; ch < kMaxParts; ++ch) {
            clearNotes(ch);
            m_sustain[ch] = 0;
        }
    }

    std::unique_ptr<FluidSynthCore> m_core;
    std::array<std::array<uint8_t, 128>, kMaxParts> m_velocity {};
    std::array<std::bitset<128>, kMaxParts> m_pedal {};
    std::array<uint8_t, kMaxParts> m_sustain {};
};

std::unique_ptr<SynthUnderTest> synthUnderTest()
{
    std::string error;
    auto core = FluidSynthCore::create(kSoundfont, kRate, false, error);
    return core ? std::make_unique<SynthUnderTest>(std::move(core)) : nullptr;
}

/// Points, in whole ms, that lie at least a millisecond away from every event, so that
/// "before the point" means the same to a frame clock and to a seek.
std::vector<int64_t> pointsOf(const Song& song, std::mt19937& random)
{
    const auto& events = song.events();
    std::vector<int64_t> points;
    std::uniform_int_distribution<std::size_t> pick(0, events.size() - 2);
    for (int tries = 0; points.size() < kPointsPerSong && tries < 10000; ++tries) {
        const std::size_t i = pick(random);
        const int64_t a = events[i].timeUs;
        const int64_t b = events[i + 1].timeUs;
        if (b - a < 4000)
            continue;
        const int64_t ms = (a + b) / 2000;
        if (ms * 1000 - a >= 1000 && b - ms * 1000 >= 1000 && ms * 1000 < song.lengthUs())
            points.push_back(ms);
    }
    std::sort(points.begin(), points.end());
    points.erase(std::unique(points.begin(), points.end()), points.end());
    return points;
}

enum Looped { NoLoop, MiddleHalf, FromTheStart };

/// Gives @p song a loop over its middle half or its first three quarters, and moves each
/// of @p points that falls in the loop into its second pass and into the fading pass.
std::vector<int64_t> inLaterPasses(Song& song, const std::vector<int64_t>& points, Looped looped)
{
    // Whole milliseconds: a point a millisecond clear of every event stays so in each pass.
    const SongLoop loop { looped == FromTheStart ? 0 : song.lengthUs() / 4000 * 1000,
        song.lengthUs() * 3 / 4000 * 1000 };
    song.setLoop(loop);
    const LoopTimeline timeline(song, LoopPlayback { 2, 8000 });
    std::vector<int64_t> out;
    for (int64_t ms : points) {
        const int64_t us = ms * 1000;
        if ((loop.startUs > 0 && us - loop.startUs < 1000) || loop.endUs - us < 1000)
            continue;
        for (int64_t pass : { 1, 2 }) {
            const int64_t played = us + pass * loop.lengthUs();
            if (played < timeline.lengthUs())
                out.push_back(played / 1000);
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

// Modes changing mid-song, rhythm parts, banks, bend range, the pedal holding released
// notes and a chord held across the points.
Song modesPiece()
{
    test::SongBuilder b;
    const std::vector<uint8_t> gsReset {0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};
    const std::vector<uint8_t> rhythm11 {0x41, 0x10, 0x42, 0x12, 0x40, 0x1A, 0x15, 0x01, 0x10, 0xF7};
    const std::vector<uint8_t> xgOn {0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7};
    constexpr int64_t s = 1'000'000;
    b.sysex(0, gsReset).sysex(1000, rhythm11);
    b.cc(2000, 10, kCcBankMsb, 8).program(2000, 10, 25).program(2000, 0, 48).cc(2000, 0, kCcVolume, 90);
    b.cc(3000, 0, kCcRpnMsb, 0).cc(3000, 0, kCcRpnLsb, 0).cc(3000, 0, kCcDataEntryMsb, 7);
    for (int key : {48, 55, 60, 64})
        b.note(10'000, 9 * s, 0, key, 70 + key % 20);
    for (int i = 0; i < 40; ++i) {
        b.note(i * s / 4, s / 8, 10, 36 + i % 10, 100);
        b.note(i * s / 4, s / 8, 1, 60 + i % 12, 50 + i);
        if (i % 8 == 0)
            b.cc(i * s / 4 + 10'000, 1, kCcSustain, 127);
        if (i % 8 == 6)
            b.cc(i * s / 4 + 10'000, 1, kCcSustain, 0);
        b.bend(i * s / 4 + 20'000, 0, 8192 + 100 * i);
    }
    b.sysex(6 * s, xgOn).cc(6 * s + 1000, 5, kCcBankMsb, 127).program(6 * s + 1000, 5, 0);
    b.cc(6 * s + 1000, 6, kCcBankLsb, 8).program(6 * s + 1000, 6, 4);
    for (int i = 0; i < 12; ++i)
        b.note(6 * s + i * s / 4, s / 2, 6, 60 + i, 90);
    return b.build(10 * s);
}

// A module with two ports: the same channels on each playing other programs, part
// writes and a rhythm part from the second port, its pedal and bend range, and a
// reset from the second port that resets both halves.
Song twoPortPiece()
{
    test::SongBuilder b;
    const std::vector<uint8_t> gsReset {0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};
    const std::vector<uint8_t> level17 {0x41, 0x10, 0x42, 0x12, 0x40, 0x11, 0x19, 0x30, 0x66, 0xF7};
    const std::vector<uint8_t> rhythm27 {0x41, 0x10, 0x42, 0x12, 0x40, 0x1A, 0x15, 0x01, 0x10, 0xF7};
    constexpr int64_t s = 1'000'000;
    b.onPort(0).sysex(0, gsReset).program(2000, 0, 0).program(2000, 1, 24);
    b.onPort(1).sysex(1000, level17).sysex(1000, rhythm27).program(2000, 0, 40).program(2000, 1, 56);
    b.cc(3000, 1, kCcRpnMsb, 0).cc(3000, 1, kCcRpnLsb, 0).cc(3000, 1, kCcDataEntryMsb, 12);
    for (int i = 0; i < 32; ++i) {
        const uint8_t port = uint8_t(i % 2);
        b.onPort(port).note(i * s / 4, s / 8, 1, 60 + i % 12, 60 + i);
        b.note(i * s / 4, s / 8, 10, 36 + i % 8, 90);
        if (i % 8 == 1)
            b.cc(i * s / 4 + 10'000, 1, kCcSustain, 127);
        if (i % 8 == 6)
            b.cc(i * s / 4 + 10'000, 1, kCcSustain, 0);
        b.onPort(1).bend(i * s / 4 + 20'000, 1, 8192 + 150 * i);
    }
    b.onPort(1).note(10'000, 5 * s, 0, 67, 80).onPort(0).note(10'000, 5 * s, 0, 60, 80);
    // Reset from the second port; the first sets its part up again after it.
    b.onPort(1).sysex(6 * s, gsReset).onPort(0).program(6 * s + 1000, 3, 19);
    for (int i = 0; i < 12; ++i)
        b.onPort(uint8_t(i % 2)).note(6 * s + i * s / 4, s / 2, 3, 60 + i, 90);
    return b.build(10 * s);
}

// Everything a GS or XG file tells its module, at random through the song: master volume
// and tuning, key shifts, part parameters by SysEx and by CC (whichever comes last wins),
// scale tuning, tone NRPNs and sound controllers, drum-key NRPNs, RPNs, mono and poly,
// portamento, effects, CC 121 and mode resets.
Song modulePiece()
{
    test::SongBuilder b;
    std::mt19937 random(7);
    auto gs = [](uint8_t a1, uint8_t a2, uint8_t a3, uint8_t v) {
        const uint8_t sum = static_cast<uint8_t>((128 - (a1 + a2 + a3 + v) % 128) % 128);
        return std::vector<uint8_t> {0x41, 0x10, 0x42, 0x12, a1, a2, a3, v, sum, 0xF7};
    };
    auto xg = [](uint8_t a1, uint8_t a2, uint8_t a3, uint8_t v) {
        return std::vector<uint8_t> {0x43, 0x10, 0x4C, a1, a2, a3, v, 0xF7};
    };
    const std::vector<uint8_t> gsReset {0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};
    const std::vector<uint8_t> xgOn {0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7};
    constexpr int64_t step = 20'000;
    b.sysex(0, gsReset);
    for (int i = 1; i < 1500; ++i) {
        const int64_t t = i * step;
        const int ch = int(random() % 16);
        const auto v = static_cast<uint8_t>(random() % 128);
        const auto part = static_cast<uint8_t>(0x10 | (random() % 16));
        switch (random() % 25) {
        case 0: b.sysex(t, gs(0x40, 0x00, 0x04, v)); break;
        case 1: b.sysex(t, gs(0x40, 0x00, 0x05, static_cast<uint8_t>(0x28 + v % 49))); break;
        case 2: b.sysex(t, gs(0x40, part, 0x16, static_cast<uint8_t>(0x28 + v % 49))); break;
        case 3: b.sysex(t, gs(0x40, part, static_cast<uint8_t>(0x19 + 3 * (v % 2)), v)); break;
        case 4: b.sysex(t, gs(0x40, part, static_cast<uint8_t>(0x40 + v % 12), v)); break;
        case 5: b.sysex(t, gs(0x40, 0x01, static_cast<uint8_t>(0x30 + v % 5), static_cast<uint8_t>(v % 8))); break;
        case 6: b.sysex(t, xg(0x08, static_cast<uint8_t>(ch), static_cast<uint8_t>(0x0B + v % 18), v)); break;
        case 7: b.sysex(t, {0x7F, 0x7F, 0x04, static_cast<uint8_t>(1 + 2 * (v % 2)), v, v, 0xF7}); break;
        case 8: b.cc(t, ch, kCcNrpnMsb, 1).cc(t, ch, kCcNrpnLsb, std::array {0x08, 0x09, 0x20, 0x21, 0x63, 0x66}[v % 6])
                    .cc(t, ch, kCcDataEntryMsb, v); break;
        case 9: b.cc(t, 9, kCcNrpnMsb, 0x18 + 2 * (v % 2)).cc(t, 9, kCcNrpnLsb, 35 + v % 20).cc(t, 9, kCcDataEntryMsb, v); break;
        case 10: b.cc(t, ch, 71 + v % 5, v); break;
        case 11: b.cc(t, ch, kCcRpnMsb, 0).cc(t, ch, kCcRpnLsb, std::array {0, 1, 2, 5}[v % 4]).cc(t, ch, kCcDataEntryMsb, v % 25); break;
        case 12: b.cc(t, ch, 126 + v % 2, 1); break;
        case 13: b.cc(t, ch, 5, v).cc(t, ch, kCcPortamento, v % 2 ? 127 : 0); break;
        case 14: b.cc(t, ch, kCcResetAllControllers, 0); break;
        case 15: b.cc(t, ch, std::array {7, 10, 91, 93, 1}[v % 5], v); break;
        case 16: b.sysex(t, xg(0x02, 0x01, 0x00, static_cast<uint8_t>(v % 5))); break;
        case 18: {
            // MIDI Tuning: an octave tuning on a few parts, a note's retuning, a program chosen.
            std::vector<uint8_t> octave {0x7E, 0x7F, 0x08, 0x08, 0x00, static_cast<uint8_t>(v % 4), static_cast<uint8_t>(random() % 128)};
            for (int n = 0; n < 12; ++n)
                octave.push_back(static_cast<uint8_t>(random() % 128));
            octave.push_back(0xF7);
            b.sysex(t, octave);
            b.sysex(t, {0x7F, 0x7F, 0x08, 0x02, static_cast<uint8_t>(v % 3), 0x01, static_cast<uint8_t>(40 + v % 40), v, 0x10, 0x00, 0xF7});
            b.cc(t, ch, kCcRpnMsb, 0).cc(t, ch, kCcRpnLsb, 3).cc(t, ch, kCcDataEntryMsb, v % 3);
            break;
        }
        case 17:
            if (i % 300 == 17)
                b.sysex(t, i % 600 == 17 ? xgOn : gsReset);
            break;
        default:
            b.note(t, int64_t(random() % 100) * step, ch, 40 + int(random() % 40), 1 + int(random() % 127));
            break;
        }
    }
    // A long fade by universal master volume: more messages than the chase keeps of SysEx.
    for (int i = 0; i < 400; ++i) {
        const auto v = static_cast<uint8_t>(127 - i * 127 / 400);
        b.sysex(500 * step + i * 1000, {0x7F, 0x7F, 0x04, 0x01, v, v, 0xF7});
    }
    return b.build(1500 * step + 1'000'000);
}

// The effect section at random through the song: GS EFX types, parameters, sends and part
// switches, the delay's macros and parameters, the EQ and the parts' EQ switches, delay
// sends by CC and by SysEx; XG variation types, parameters, connection and part, insertion
// blocks and their parts, the multi EQ, variation sends by CC and by SysEx; mode resets.
Song sectionPiece()
{
    test::SongBuilder b;
    std::mt19937 random(11);
    auto gs = [](uint8_t a1, uint8_t a2, uint8_t a3, std::vector<uint8_t> data) {
        std::vector<uint8_t> msg { 0x41, 0x10, 0x42, 0x12, a1, a2, a3 };
        unsigned sum = a1 + a2 + a3;
        for (uint8_t d : data) {
            msg.push_back(d);
            sum += d;
        }
        msg.push_back(static_cast<uint8_t>((128 - sum % 128) % 128));
        msg.push_back(0xF7);
        return msg;
    };
    auto xg = [](uint8_t a1, uint8_t a2, uint8_t a3, std::vector<uint8_t> data) {
        std::vector<uint8_t> msg { 0x43, 0x10, 0x4C, a1, a2, a3 };
        msg.insert(msg.end(), data.begin(), data.end());
        msg.push_back(0xF7);
        return msg;
    };
    const std::vector<uint8_t> gsReset { 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41,
        0xF7 };
    const std::vector<uint8_t> xgOn { 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7 };
    // Types each mode knows, and a few it does not.
    const std::array<std::array<uint8_t, 2>, 8> efxTypes { { { 0x01, 0x55 }, { 0x01, 0x02 },
        { 0x01, 0x10 }, { 0x02, 0x08 }, { 0x11, 0x03 }, { 0x01, 0x42 }, { 0x00, 0x00 },
        { 0x7F, 0x01 } } };
    const std::array<std::array<uint8_t, 2>, 6> xgTypes { { { 0x05, 0x00 }, { 0x07, 0x00 },
        { 0x41, 0x02 }, { 0x49, 0x00 }, { 0x48, 0x08 }, { 0x33, 0x00 } } };
    constexpr int64_t step = 20'000;
    b.sysex(0, gsReset);
    for (int i = 1; i < 1500; ++i) {
        const int64_t t = i * step;
        const int ch = int(random() % 16);
        const auto v = static_cast<uint8_t>(random() % 128);
        const auto block = static_cast<uint8_t>(random() % 16);
        switch (random() % 16) {
        case 0: {
            const auto& type = efxTypes[v % efxTypes.size()];
            b.sysex(t, gs(0x40, 0x03, 0x00, { type[0], type[1] }));
            break;
        }
        case 1:
            b.sysex(t,
                gs(0x40, 0x03, static_cast<uint8_t>(0x03 + v % 23),
                    { static_cast<uint8_t>(random() % 128) }));
            break;
        case 2:
            b.sysex(t,
                gs(0x40, static_cast<uint8_t>(0x40 | block),
                    static_cast<uint8_t>(0x20 + 2 * (v % 2)), { static_cast<uint8_t>(v % 2) }));
            break;
        case 3:
            b.sysex(t, gs(0x40, 0x01, 0x50, { static_cast<uint8_t>(v % 12) }));
            break;
        case 4:
            b.sysex(t,
                gs(0x40, 0x01, static_cast<uint8_t>(0x51 + v % 10),
                    { static_cast<uint8_t>(random() % 128) }));
            break;
        case 5:
            b.sysex(t,
                gs(0x40, 0x02, static_cast<uint8_t>(v % 4),
                    { static_cast<uint8_t>(0x30 + random() % 32) }));
            break;
        case 6:
            b.sysex(t, gs(0x40, static_cast<uint8_t>(0x10 | block), 0x2C, { v }));
            break;
        case 7:
            b.cc(t, ch, kCcDelaySend, v);
            break;
        case 8: {
            const auto& type = xgTypes[v % xgTypes.size()];
            b.sysex(t,
                xg(0x02, 0x01, 0x40,
                    v % 3 ? std::vector<uint8_t> { type[0], type[1] }
                          : std::vector<uint8_t> { type[0] }));
            break;
        }
        case 9:
            b.sysex(t,
                xg(0x02, 0x01, static_cast<uint8_t>(0x42 + v % 26),
                    { static_cast<uint8_t>(random() % 128) }));
            break;
        case 10:
            b.sysex(t,
                xg(0x02, 0x01, static_cast<uint8_t>(0x56 + v % 6),
                    { static_cast<uint8_t>(random() % 20) }));
            break;
        case 11:
            b.sysex(t,
                xg(0x03, static_cast<uint8_t>(v % 4),
                    std::array<uint8_t, 4> { 0x00, 0x02, 0x0C, 0x31 }[random() % 4],
                    { static_cast<uint8_t>(random() % 80) }));
            break;
        case 12:
            b.sysex(t,
                xg(0x02, 0x40, static_cast<uint8_t>(v % 0x15),
                    { static_cast<uint8_t>(random() % 128) }));
            break;
        case 13:
            b.sysex(t, xg(0x08, static_cast<uint8_t>(ch), 0x14, { v }));
            break;
        case 14:
            if (i % 250 == 14)
                b.sysex(t, i % 500 == 14 ? xgOn : gsReset);
            break;
        default:
            b.note(t, int64_t(random() % 60) * step, ch, 40 + int(random() % 40),
                1 + int(random() % 127));
            break;
        }
    }
    return b.build(1500 * step + 1'000'000);
}

// Long enough that a seek starts from the chased states kept along the way.
Song longPiece()
{
    test::SongBuilder b;
    const std::vector<uint8_t> xgOn {0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7};
    const std::vector<uint8_t> gsReset {0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};
    std::mt19937 random(3);
    constexpr int64_t step = 2000;
    for (int i = 0; i < 60000; ++i) {
        const int64_t t = i * step;
        const int ch = i % 16;
        if (i % 20000 == 10000)
            b.sysex(t, i % 40000 == 10000 ? xgOn : gsReset);
        switch (i % 7) {
        case 0:
            b.cc(t, ch, kCcBankMsb, (i / 7) % 3 == 0 ? 127 : 8).program(t, ch, int(random() % 50));
            break;
        case 1:
            b.cc(t, ch, kCcSustain, (i / 7) % 2 ? 127 : 0);
            break;
        case 2:
            b.bend(t, ch, int(random() % 16384));
            break;
        default:
            b.note(t, int64_t(random() % 400) * step, ch, 40 + int(random() % 40), 1 + int(random() % 127));
            break;
        }
    }
    return b.build(60000 * step + 1'000'000);
}

/// Where two module states differ, for the failure message.
QString differenceOf(const Module& a, const Module& b)
{
    if (!(a.parts() == b.parts()))
        return QStringLiteral("modes and parts");
    if (!(a.master() == b.master()))
        return QStringLiteral("master");
    if (!(a.effects() == b.effects()))
        return QStringLiteral("effects");
    if (!(a.section() == b.section())) {
        const EffectSection& p = a.section();
        const EffectSection& q = b.section();
        QString what = QStringLiteral("the effect section:");
        if (p.efxMsb != q.efxMsb || p.efxLsb != q.efxLsb || p.efx != q.efx)
            what += QStringLiteral(" EFX type or parameters");
        if (p.efxOn != q.efxOn || p.efxToReverb != q.efxToReverb || p.efxToChorus != q.efxToChorus
            || p.efxToDelay != q.efxToDelay)
            what += QStringLiteral(" EFX parts or sends");
        if (!(p.delay == q.delay) || p.delayToReverb != q.delayToReverb
            || p.chorusToDelay != q.chorusToDelay)
            what += QStringLiteral(" delay");
        if (!(p.eq == q.eq) || p.eqOn != q.eqOn)
            what += QStringLiteral(" EQ %1 %2 %3 %4 vs %5 %6 %7 %8")
                        .arg(p.eq.lowFreq)
                        .arg(p.eq.lowGain)
                        .arg(p.eq.highFreq)
                        .arg(p.eq.highGain)
                        .arg(q.eq.lowFreq)
                        .arg(q.eq.lowGain)
                        .arg(q.eq.highFreq)
                        .arg(q.eq.highGain);
        if (!(p.variation == q.variation))
            what += QStringLiteral(" variation");
        if (p.insertion != q.insertion)
            what += QStringLiteral(" insertion blocks");
        if (!(p.multiEq == q.multiEq))
            what += QStringLiteral(" multi EQ");
        for (std::size_t ch = 0; ch < EffectSection::kParts; ++ch) {
            if (p.send[ch] != q.send[ch])
                what += QStringLiteral(" part %1 send %2 vs %3")
                            .arg(ch + 1)
                            .arg(p.send[ch])
                            .arg(q.send[ch]);
        }
        return what;
    }
    for (uint8_t ch = 0; ch < kMaxParts; ++ch) {
        const PartState& p = a.part(ch);
        const PartState& q = b.part(ch);
        if (p == q)
            continue;
        QString what = QStringLiteral("part %1:").arg(ch + 1);
        if (p.volume != q.volume || p.pan != q.pan || p.reverbSend != q.reverbSend || p.chorusSend != q.chorusSend)
            what += QStringLiteral(" mixer %1/%2/%3/%4 vs %5/%6/%7/%8").arg(p.volume).arg(p.pan).arg(p.reverbSend)
                        .arg(p.chorusSend).arg(q.volume).arg(q.pan).arg(q.reverbSend).arg(q.chorusSend);
        if (p.toneNrpn != q.toneNrpn || p.soundController != q.soundController)
            what += QStringLiteral(" tone");
        if (p.drumKeys != q.drumKeys)
            what += QStringLiteral(" drum keys");
        if (p.keyShift != q.keyShift || p.scaleTuning != q.scaleTuning)
            what += QStringLiteral(" key shift or scale");
        if (p.rpnMsb != q.rpnMsb || p.rpnLsb != q.rpnLsb || p.nrpnMsb != q.nrpnMsb || p.nrpnLsb != q.nrpnLsb
            || p.nrpnSelected != q.nrpnSelected)
            what += QStringLiteral(" selection %1/%2/%3/%4/%5 vs %6/%7/%8/%9/%10").arg(p.rpnMsb).arg(p.rpnLsb)
                        .arg(p.nrpnMsb).arg(p.nrpnLsb).arg(p.nrpnSelected).arg(q.rpnMsb).arg(q.rpnLsb).arg(q.nrpnMsb)
                        .arg(q.nrpnLsb).arg(q.nrpnSelected);
        if (p.mono != q.mono || p.portamentoTime != q.portamentoTime || p.modulation != q.modulation)
            what += QStringLiteral(" mono, portamento or modulation");
        if (p.bendSemitones != q.bendSemitones || p.fineTuning != q.fineTuning || p.coarseTuning != q.coarseTuning
            || p.modRangeSemitones != q.modRangeSemitones || p.modRangeCents != q.modRangeCents || p.bendCents != q.bendCents)
            what += QStringLiteral(" rpn values");
        return what;
    }
    return QStringLiteral("nothing");
}

} // namespace

class TestSeekChase : public QObject {
    Q_OBJECT

private slots:
    void aSeekLeavesWhatPlayingThroughLeft_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("looped");
        QTest::newRow("modes, rhythm parts and the pedal") << QString() << int(NoLoop);
        QTest::newRow("a long song, chased from the states kept along it")
            << QStringLiteral("long") << int(NoLoop);
        QTest::newRow("every message a module takes") << QStringLiteral("module") << int(NoLoop);
        QTest::newRow("looped: modes, rhythm parts and the pedal") << QString() << int(MiddleHalf);
        QTest::newRow("looped from its GS reset: modes, rhythm parts and the pedal")
            << QString() << int(FromTheStart);
        QTest::newRow("looped: every message a module takes")
            << QStringLiteral("module") << int(MiddleHalf);
        QTest::newRow("looped from its GS reset: every message a module takes")
            << QStringLiteral("module") << int(FromTheStart);
        QTest::newRow("the effect section's messages") << QStringLiteral("section") << int(NoLoop);
        QTest::newRow("two ports: 32 parts") << QStringLiteral("ports") << int(NoLoop);
        QTest::newRow("looped: two ports") << QStringLiteral("ports") << int(MiddleHalf);
        const std::filesystem::path songs = "/usr/share/games/openttd/baseset/openmsx";
        std::error_code ec;
        std::vector<std::filesystem::path> files;
        for (const auto& entry : std::filesystem::directory_iterator(songs, ec)) {
            if (entry.path().extension() == ".mid")
                files.push_back(entry.path());
        }
        std::sort(files.begin(), files.end());
        for (const auto& f : files) {
            QTest::newRow(f.filename().c_str())
                << QString::fromStdString(f.string()) << int(NoLoop);
            QTest::newRow(("looped: " + f.filename().string()).c_str())
                << QString::fromStdString(f.string()) << int(MiddleHalf);
        }
    }

    void aSeekLeavesWhatPlayingThroughLeft()
    {
        QFETCH(QString, path);
        QFETCH(int, looped);
        compareSeeks(path, Looped(looped), ListenerSettings {});
    }

    // The same with the listener's tempo, key, mute and solo set: the notes a seek
    // strikes again are those playing through left sounding, in the same key.
    void aSeekAgreesWithTheListenersSettings_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<ListenerSettings>("settings");
        ListenerSettings slowUp;
        slowUp.tempoPercent = 50;
        slowUp.transpose = 5;
        slowUp.muted.set(1);
        ListenerSettings fastSolo;
        fastSolo.tempoPercent = 200;
        fastSolo.transpose = -7;
        fastSolo.soloed.set(0);
        fastSolo.soloed.set(10);
        QTest::newRow("modes piece, half tempo, a fourth up, part 2 muted") << QString() << slowUp;
        QTest::newRow("modes piece, double tempo, a fifth down, parts 1 and 11 soloed") << QString() << fastSolo;
        QTest::newRow("every message a module takes, half tempo") << QStringLiteral("module") << slowUp;
        const QString real = QStringLiteral("/usr/share/games/openttd/baseset/openmsx/tttheme2.mid");
        if (QFile::exists(real))
            QTest::newRow("tttheme2, double tempo, soloed") << real << fastSolo;
    }

    void aSeekAgreesWithTheListenersSettings()
    {
        QFETCH(QString, path);
        QFETCH(ListenerSettings, settings);
        compareSeeks(path, NoLoop, settings);
    }

private:
    void compareSeeks(const QString& path, Looped looped, const ListenerSettings& settings)
    {
        if (!QFile::exists(kSoundfont))
            QSKIP("TimGM6mb is not installed");
        Song song;
        if (path.isEmpty())
            song = modesPiece();
        else if (path == QLatin1String("long"))
            song = longPiece();
        else if (path == QLatin1String("module"))
            song = modulePiece();
        else if (path == QLatin1String("section"))
            song = sectionPiece();
        else if (path == QLatin1String("ports"))
            song = twoPortPiece();
        else
            QVERIFY(Song::load(path.toStdString(), song).playable());
        const unsigned seed = static_cast<unsigned>(qHash(path)) ^ 17u;
        std::mt19937 random(seed);
        std::vector<int64_t> points = pointsOf(song, random);
        if (looped != NoLoop)
            points = inLaterPasses(song, points, Looped(looped));
        QVERIFY(!points.empty());

        auto through = synthUnderTest();
        auto seeking = synthUnderTest();
        QVERIFY(through && seeking);
        SynthUnderTest& a = *through;
        SynthUnderTest& b = *seeking;
        Sequencer playing(std::move(through));
        Sequencer seeker(std::move(seeking));
        const LoopPlayback playback { 2, 8000 };
        playing.setLoopPlayback(playback);
        seeker.setLoopPlayback(playback);
        QVERIFY(playing.setListening(settings) && seeker.setListening(settings));
        playing.open(song);
        seeker.open(song);
        playing.play();
        int64_t frames = 0;
        for (int64_t songMs : points) {
            // The points are whole milliseconds of the song; at double tempo an odd one
            // is not one of the listener's, so it moves a millisecond on (still clear of
            // every event).
            int64_t ms = songMs * TempoScale::kNormal / settings.tempoPercent;
            if (ms * settings.tempoPercent != songMs * TempoScale::kNormal)
                ms = (songMs + 1) * TempoScale::kNormal / settings.tempoPercent;
            const int64_t target = ms * kRate / 1000;
            while (frames < target) {
                const auto n = static_cast<uint32_t>(std::min<int64_t>(target - frames, 4096));
                a.run(n);
                frames += n;
            }
            seeker.seek(ms);
            seeker.play();
            b.run(0);
            const QStringList want = a.state();
            const QStringList got = b.state();
            for (int ch = 0; ch < want.size(); ++ch) {
                if (want[ch] != got[ch])
                    QFAIL(qPrintable(QStringLiteral("seed %1, at %2 ms:\n played through: %3\n after a seek:   %4")
                                         .arg(seed).arg(ms).arg(want[ch], got[ch])));
            }
            QVERIFY2(a.module() == b.module(), qPrintable(QStringLiteral("module state differs at %1 ms: %2")
                                                              .arg(ms).arg(differenceOf(a.module(), b.module()))));
        }
    }
};

QTEST_GUILESS_MAIN(TestSeekChase)
#include "tst_seekchase.moc"
