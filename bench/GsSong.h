#pragma once
// A short song written the way a 1990s GS song was (see bench_gs_song), with or without
// its delay and insertion messages, for the benchmarks that render it.

#include "common/SmfWriter.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <vector>

namespace sequora::bench {

using test::Bytes;
using test::SmfWriter;

constexpr int kPpq = 480; // at 120 bpm: 960 ticks a second
constexpr uint32_t kBar = 4 * kPpq;

struct Event {
    uint32_t tick;
    Bytes bytes; ///< a channel message, or a SysEx payload after F0
    bool sysex = false;
};

inline Bytes gs(uint8_t a1, uint8_t a2, uint8_t a3, uint8_t v)
{
    return { 0x41, 0x10, 0x42, 0x12, a1, a2, a3, v,
        static_cast<uint8_t>((128 - (a1 + a2 + a3 + v) % 128) % 128), 0xF7 };
}

inline void writeTrack(SmfWriter& smf, std::vector<Event> events, uint32_t end)
{
    std::stable_sort(events.begin(), events.end(),
        [](const Event& a, const Event& b) { return a.tick < b.tick; });
    auto& t = smf.addTrack();
    uint32_t now = 0;
    for (const Event& e : events) {
        const uint32_t delta = e.tick - now;
        now = e.tick;
        if (e.sysex)
            t.sysex(delta, e.bytes);
        else
            t.channel(delta, e.bytes[0], e.bytes[1], e.bytes.size() > 2 ? e.bytes[2] : 0);
    }
    t.endOfTrack(end > now ? end - now : 0);
}

inline void note(std::vector<Event>& out, uint32_t at, uint32_t length, int ch, int key, int vel)
{
    out.push_back({ at, { uint8_t(0x90 | ch), uint8_t(key), uint8_t(vel) } });
    out.push_back({ at + length, { uint8_t(0x80 | ch), uint8_t(key), 0 } });
}

inline void cc(std::vector<Event>& out, uint32_t at, int ch, int n, int v)
{
    out.push_back({ at, { uint8_t(0xB0 | ch), uint8_t(n), uint8_t(v) } });
}

/// What a rendering of the song holds: the delay and insertion messages, a second part
/// (the pad) through the insertion effect too, and its length in bars (the last fades).
struct GsSongOptions {
    bool delay = true;
    bool efx = true;
    bool efxOnPad = false;
    uint32_t bars = 10;
};

inline void writeGsSong(const std::filesystem::path& file, const GsSongOptions& o)
{
    const uint32_t bars = o.bars;
    const bool delay = o.delay, efx = o.efx;
    SmfWriter smf(1, kPpq);
    auto& conductor = smf.addTrack();
    conductor.tempo(0, 500000).endOfTrack(bars * kBar);

    std::vector<Event> setup;
    setup.push_back({ 0, { 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7 }, true });
    setup.push_back({ 10, gs(0x40, 0x01, 0x30, 0x03), true }); // reverb macro Hall 1
    setup.push_back({ 20, gs(0x40, 0x00, 0x04, 0x64), true }); // master volume 100
    setup.push_back({ 30, gs(0x40, 0x12, 0x16, 0x34), true }); // part 2 (bass) key shift -12
    if (delay) {
        setup.push_back({ 32, gs(0x40, 0x01, 0x50, 0x00), true }); // delay macro Delay 1
        setup.push_back({ 33, gs(0x40, 0x01, 0x58, 0x64), true }); // delay level 100
    }
    if (efx) {
        setup.push_back({ 34, { 0x41, 0x10, 0x42, 0x12, 0x40, 0x03, 0x00, 0x01, 0x10, 0x2C, 0xF7 },
            true }); // EFX Overdrive
        setup.push_back({ 35, gs(0x40, 0x42, 0x22, 0x01), true }); // part 2 (bass) through the EFX
        if (o.efxOnPad)
            setup.push_back({ 36, gs(0x40, 0x43, 0x22, 0x01), true }); // part 3 (pad) too
    }
    // The fade: master volume from 100 down to 0 over the last bar.
    for (int i = 1; i <= 16; ++i)
        setup.push_back({ (bars - 1) * kBar + uint32_t(i) * kBar / 16,
            gs(0x40, 0x00, 0x04, uint8_t(100 - i * 100 / 16)), true });
    writeTrack(smf, setup, bars * kBar);

    std::vector<Event> lead; // channel 1: saw lead with portamento
    lead.push_back({ 40, { 0xC0, 81 } });
    cc(lead, 40, 0, 65, 127);
    cc(lead, 40, 0, 5, 40);
    if (delay)
        cc(lead, 40, 0, 94, 100); // the delay send
    const int melody[] = { 72, 76, 79, 84, 79, 76, 74, 77, 81, 79, 77, 74, 72, 71, 72, 67 };
    // The melody again every eight bars in a longer song.
    for (uint32_t i = 0; i < 2 * (bars - 2); ++i)
        note(lead, 2 * kBar + i * kBar / 2, kBar / 2 - 60, 0, melody[i % 16], 90);
    writeTrack(smf, lead, bars * kBar);

    std::vector<Event> bass; // channel 2: written an octave up, shifted down by the part
    bass.push_back({ 40, { 0xC1, 33 } });
    const int roots[] = { 48, 45, 41, 43 };
    for (uint32_t bar = 2; bar < bars - 1; ++bar)
        for (int beat = 0; beat < 4; ++beat)
            note(bass, bar * kBar + uint32_t(beat) * kPpq, kPpq - 40, 1,
                roots[bar % 4] + (beat == 2 ? 7 : 0), 100);
    writeTrack(smf, bass, bars * kBar);

    std::vector<Event> pad; // channel 3: a pad whose filter opens over the intro
    pad.push_back({ 40, { 0xC2, 81 } }); // a saw: bright enough for the sweep to be heard
    cc(pad, 40, 2, 99, 0x01);
    cc(pad, 40, 2, 98, 0x20);
    cc(pad, 40, 2, 6, 0);
    for (uint32_t step = 1; step <= 32; ++step)
        cc(pad, step * kBar / 16, 2, 6, int(std::min<uint32_t>(127, step * 4)));
    for (uint32_t bar = 0; bar < bars - 1; ++bar)
        for (int key : { 0, 4, 7 })
            note(pad, bar * kBar, kBar - 20, 2, roots[bar % 4] + 12 + key, 70);
    writeTrack(smf, pad, bars * kBar);

    std::vector<Event> drums; // channel 10: the snare tuned up four semitones
    cc(drums, 40, 9, 99, 0x18);
    cc(drums, 40, 9, 98, 38);
    cc(drums, 40, 9, 6, 68);
    for (uint32_t beat = 8; beat < (bars - 1) * 4; ++beat) {
        note(drums, beat * kPpq, 100, 9, beat % 2 ? 38 : 36, 110);
        note(drums, beat * kPpq + kPpq / 2, 60, 9, 42, 80);
    }
    writeTrack(smf, drums, bars * kBar);
    smf.writeFile(file);
}

} // namespace sequora::bench
