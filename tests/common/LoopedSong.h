#pragma once
// A short piece of game music, written as such files are: a GS reset, a two-bar intro,
// an eight-bar loop marked by loopStart/loopEnd markers (or by CC 111, looping to the
// end), and a one-bar ending after the loop that only a single pass reaches. Inside the
// loop the lead changes its program, swells by expression, bends, and the tempo slows
// in the last bar; the loop's first bar sets all of that again, as a loop must, so that
// the loop written out twice plays exactly as the loop played twice.
//
//   sequora::test::loopedSong(LoopMark::Markers)        the file a game would carry
//   sequora::test::loopedSong(LoopMark::None, 3)        its loop written out three times

#include "common/SmfWriter.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

namespace sequora::test {

enum class LoopMark { None, Markers, Controller };

namespace looped {

constexpr int kPpq = 480;
constexpr uint32_t kBar = 4 * kPpq;
constexpr uint32_t kIntroBars = 2;
constexpr uint32_t kLoopBars = 8;
constexpr uint32_t kOutroBars = 1;
// 1000 and 1250 microseconds a tick: every time is whole microseconds, so the loop
// written out falls on the very frames the loop played again does.
constexpr uint32_t kTempo = 480'000;
constexpr uint32_t kSlowTempo = 600'000;

constexpr int kLead = 0, kPad = 1, kBass = 2, kHarp = 3, kDrums = 9;

struct Event {
    enum Kind { Channel, Sysex, Tempo, Marker };
    uint32_t tick;
    int order; ///< among events at one tick: tempo and marks, set-up, note-offs, notes
    Kind kind;
    Bytes bytes; ///< a channel message, a SysEx payload after F0, or a marker's text
    uint32_t tempo = 0;
};

inline void add(std::vector<Event>& out, uint32_t tick, int order, Bytes bytes,
    Event::Kind kind = Event::Channel)
{
    out.push_back({ tick, order, kind, std::move(bytes) });
}

inline void tempo(std::vector<Event>& out, uint32_t tick, uint32_t usPerQuarter)
{
    out.push_back({ tick, 0, Event::Tempo, {}, usPerQuarter });
}

inline void note(std::vector<Event>& out, uint32_t at, uint32_t length, int ch, int key, int vel)
{
    add(out, at, 3, { uint8_t(0x90 | ch), uint8_t(key), uint8_t(vel) });
    add(out, at + length, 2, { uint8_t(0x80 | ch), uint8_t(key), 64 });
}

inline void cc(std::vector<Event>& out, uint32_t at, int ch, int number, int value)
{
    add(out, at, 1, { uint8_t(0xB0 | ch), uint8_t(number), uint8_t(value) });
}

// One bar of the loop (0..7), starting at @p at.
inline void loopBar(std::vector<Event>& out, uint32_t at, uint32_t bar)
{
    // A minor, F, C, G, twice; the lead's tune differs in the second half.
    static constexpr std::array<std::array<int, 3>, 4> kChords { { { 57, 60, 64 }, { 53, 57, 60 },
        { 55, 60, 64 }, { 55, 59, 62 } } };
    static constexpr std::array<int, 4> kRoots { 45, 41, 48, 43 };
    static constexpr std::array<std::array<int, 8>, 2> kTunes {
        { { 76, 74, 72, 74, 76, 76, 76, 72 }, { 81, 79, 77, 76, 74, 72, 71, 72 } }
    };
    const uint32_t chord = bar % 4;
    if (bar == 0) {
        // What the loop changes, set again where it starts.
        add(out, at, 0, { 0xC0 | kLead, 80 });
        cc(out, at, kLead, 11, 127);
        add(out, at, 1, { 0xE0 | kLead, 0x00, 0x40 });
        tempo(out, at, kTempo);
    }
    if (bar == 4)
        add(out, at, 1, { 0xC0 | kLead, 81 });
    if (bar == 7)
        tempo(out, at, kSlowTempo); // the last bar slows down
    for (int key : kChords[chord])
        note(out, at, kBar - 60, kPad, key, 70);
    for (uint32_t beat = 0; beat < 4; ++beat) {
        note(out, at + beat * kPpq, kPpq - 40, kBass, kRoots[chord] - (beat % 2 ? 0 : 12), 100);
        note(out, at + beat * kPpq, 80, kDrums, beat % 2 ? 38 : 36, 110);
        note(out, at + beat * kPpq + kPpq / 2, 60, kDrums, 42, 80);
        note(out, at + beat * kPpq + kPpq / 4, kPpq / 4, kHarp, kChords[chord][beat % 3] + 12, 60);
    }
    const auto& tune = kTunes[bar / 4];
    for (uint32_t i = 0; i < 8; ++i)
        note(out, at + i * kPpq / 2, kPpq / 2 - 30, kLead, tune[i], 96);
    if (bar == 5) {
        // A swell and a bend on the second half's lead, back where the loop starts.
        for (int v = 0; v < 8; ++v)
            cc(out, at + uint32_t(v) * kBar / 8, kLead, 11, 70 + v * 8);
        add(out, at + kBar / 2, 1, { 0xE0 | kLead, 0x00, 0x50 });
    }
}

} // namespace looped

/// The song, its loop marked by @p mark; with @p writtenOut > 0 its loop is instead
/// written out that many times, unmarked, and the ending left out.
inline Bytes loopedSong(LoopMark mark, int writtenOut = 0)
{
    using namespace looped;
    std::vector<Event> ev;
    const Bytes gsReset { 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7 };
    add(ev, 0, 0, gsReset, Event::Sysex);
    tempo(ev, 0, kTempo);
    for (auto [ch, program, pan] : { std::array { kLead, 80, 64 }, std::array { kPad, 48, 40 },
             std::array { kBass, 33, 64 }, std::array { kHarp, 46, 90 } }) {
        add(ev, 0, 1, { uint8_t(0xC0 | ch), uint8_t(program) });
        cc(ev, 0, ch, 10, pan);
        cc(ev, 0, ch, 91, 50);
    }
    cc(ev, 0, kPad, 7, 90);
    // The intro: the pad and bass alone.
    for (uint32_t bar = 0; bar < kIntroBars; ++bar) {
        for (int key : { 57, 60, 64 })
            note(ev, bar * kBar, kBar - 60, kPad, key, 60 + 10 * int(bar));
        note(ev, bar * kBar, kBar / 2, kBass, 45, 90);
    }
    const uint32_t loopStart = kIntroBars * kBar;
    const int passes = writtenOut > 0 ? writtenOut : 1;
    for (int pass = 0; pass < passes; ++pass) {
        for (uint32_t bar = 0; bar < kLoopBars; ++bar)
            loopBar(ev, loopStart + (uint32_t(pass) * kLoopBars + bar) * kBar, bar);
    }
    uint32_t end = loopStart + uint32_t(passes) * kLoopBars * kBar;
    if (mark == LoopMark::Markers) {
        add(ev, loopStart, 0, { 'l', 'o', 'o', 'p', 'S', 't', 'a', 'r', 't' }, Event::Marker);
        add(ev, end, 0, { 'l', 'o', 'o', 'p', 'E', 'n', 'd' }, Event::Marker);
    } else if (mark == LoopMark::Controller) {
        cc(ev, loopStart, kLead, 111, 0);
    }
    // A loop to the song's end (CC 111) ends with the loop's last bar.
    const uint32_t rest = mark == LoopMark::Controller ? 0 : kPpq;
    if (mark != LoopMark::Controller && writtenOut == 0) {
        // The ending: one chord, held, that only a song played once reaches.
        tempo(ev, end, kTempo);
        for (int key : { 57, 60, 64, 69 })
            note(ev, end, kBar - 60, kPad, key, 80);
        note(ev, end, kBar - 60, kBass, 33, 100);
        note(ev, end, 120, kDrums, 49, 110);
        end += kOutroBars * kBar;
    }

    std::stable_sort(ev.begin(), ev.end(), [](const Event& a, const Event& b) {
        return a.tick != b.tick ? a.tick < b.tick : a.order < b.order;
    });
    SmfWriter smf(0, kPpq);
    SmfTrack& t = smf.addTrack();
    uint32_t now = 0;
    for (const Event& e : ev) {
        const uint32_t delta = e.tick - now;
        now = e.tick;
        switch (e.kind) {
        case Event::Sysex:
            t.sysex(delta, e.bytes);
            break;
        case Event::Tempo:
            t.tempo(delta, e.tempo);
            break;
        case Event::Marker:
            t.meta(delta, 0x06, e.bytes);
            break;
        case Event::Channel:
            t.channel(delta, e.bytes[0], e.bytes[1], e.bytes.size() > 2 ? e.bytes[2] : 0);
            break;
        }
    }
    t.endOfTrack(end + rest - now);
    return smf.bytes();
}

} // namespace sequora::test
