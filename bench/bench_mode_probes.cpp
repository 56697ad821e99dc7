// What a GS, XG or GM2 file tells its module, side by side: sequora-render (and, given a
// second build folder, the sequora-render of another build), `fluidsynth -F` and
// `timidity -Ow` on the same soundfont.
//
// First the drum-part probes: small files that make channel 11 (or 10) a drum part the
// way GS, XG and GM2 modules expect, or keep it melodic; each render's middle is called a
// drum kit or a melodic part by how often it crosses zero (a kit's snare and hi-hat
// against a piano's low notes).
//
// Then one row per message a module honours: two generated files that differ only in
// that message, each rendered by every renderer, and the change a listener would hear
// (level, pitch, brightness, attack, decay, release, vibrato, reverb tail, stereo width,
// balance, glide) measured between the pair. A renderer honours the message when the
// change reaches the row's minimum; the counts close the table.
//
// Last the effect section (EffectProbes.h): the delay/variation unit, each insertion
// effect, and a GS reset in the middle of a song, each as a pair of files.
//
//   build/bench/bench_mode_probes [BUILD [OTHER_BUILD]]
//   env SEQUORA_SOUNDFONT (default FluidR3_GM), SEQUORA_PROBES=text (only the rows so named)
//   e.g. bench_mode_probes build /work/wt-before/build

#include "EffectProbes.h"
#include "ProbeRenderers.h"
#include "ProbeScore.h"
#include "engine/EffectMeasures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

using namespace sequora::bench;
namespace measure = sequora::test;

namespace {

constexpr double kDrumCrossings = 0.06; ///< per sample: above, noise; below, tone
constexpr double kSilentDb = -60; ///< a render this quiet says nothing about a message

// ---- section 1: which part is a drum kit ----------------------------------------------

struct Probe {
    const char* name;
    const char* expect;
    std::vector<Bytes> sysex;
    int channel;
    int bankMsb;
};

SmfWriter probeFile(const Probe& p)
{
    SmfWriter smf(0, 480);
    auto& t = smf.addTrack();
    t.tempo(0, 500000);
    for (const Bytes& s : p.sysex)
        t.sysex(0, s);
    if (p.bankMsb >= 0)
        t.controller(0, p.channel, 0, p.bankMsb);
    t.programChange(0, p.channel, 0);
    t.controller(0, p.channel, 7, 110);
    for (int i = 0; i < 16; ++i) {
        const int key = i % 2 ? 42 : (i % 4 ? 38 : 36);
        t.noteOn(i == 0 ? 240 : 120, p.channel, key, 110).noteOff(120, p.channel, key);
    }
    t.endOfTrack(960);
    return smf;
}

/// Mean zero crossings per sample of the middle over the audible stretches.
double crossings(const Stereo& s)
{
    const std::size_t window = 2048;
    double sum = 0;
    int counted = 0;
    for (std::size_t w = 0; w + window <= s.frames(); w += window) {
        int n = 0;
        double energy = 0;
        double previous = 0;
        for (std::size_t i = 0; i < window; ++i) {
            const double mid = (s.left[w + i] + s.right[w + i]) * 32768.0;
            energy += mid * mid;
            if (i > 0 && (mid < 0) != (previous < 0))
                ++n;
            previous = mid;
        }
        if (energy / window > 300.0 * 300.0) { // louder than about -40 dBFS
            sum += double(n) / window;
            ++counted;
        }
    }
    return counted ? sum / counted : 0;
}

std::string partVerdict(const std::optional<Stereo>& s)
{
    if (!s)
        return "no output";
    const double c = crossings(*s);
    if (c == 0)
        return "silent";
    char text[48];
    std::snprintf(text, sizeof text, "%s (%.3f)", c > kDrumCrossings ? "drums" : "melodic", c);
    return text;
}

void drumPartSection(RenderCache& cache)
{
    const std::vector<Probe> probes {
        { "gs-rhythm-part-11", "drums", { kGsReset, gs(0x40, 0x1A, 0x15, { 0x01 }) }, 10, -1 },
        { "gs-rhythm-part-11-off", "melodic",
            { kGsReset, gs(0x40, 0x1A, 0x15, { 0x01 }), gs(0x40, 0x1A, 0x15, { 0x00 }) }, 10, -1 },
        { "gs-bad-checksum", "melodic", { kGsReset, gs(0x40, 0x1A, 0x15, { 0x01 }, true) }, 10,
            -1 },
        { "gs-part-10-melodic", "melodic", { kGsReset, gs(0x40, 0x10, 0x15, { 0x00 }) }, 9, -1 },
        { "xg-kit-msb127-ch11", "drums", { kXgOn }, 10, 127 },
        { "xg-sfx-kit-msb126-ch11", "drums", { kXgOn }, 10, 126 },
        { "gm2-kit-msb120-ch11", "drums", { kGm2On }, 10, 120 },
        { "gm1-channel-10", "drums", { kGm1On }, 9, 8 },
        { "no-mode-channel-11", "melodic", {}, 10, -1 },
    };
    const std::size_t n = cache.renderers().size();
    std::printf(
        "\nwhich part each plays on channel 11 (10 where named)\n%-24s %-8s", "probe", "module");
    for (const Renderer& r : cache.renderers())
        std::printf(" %-18s", r.name.c_str());
    std::printf("\n");
    std::vector<int> right(n, 0);
    for (const Probe& p : probes) {
        std::printf("%-24s %-8s", p.name, p.expect);
        const SmfWriter smf = probeFile(p);
        for (std::size_t r = 0; r < n; ++r) {
            const std::string v = partVerdict(cache.render(r, smf));
            right[r] += v.rfind(p.expect, 0) == 0;
            std::printf(" %-18s", v.c_str());
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    std::printf("%-33s", "as the module would");
    for (std::size_t r = 0; r < n; ++r)
        std::printf(
            " %-18s", (std::to_string(right[r]) + " of " + std::to_string(probes.size())).c_str());
    std::printf("\n");
}

// ---- section 2: every message, heard --------------------------------------------------

/// The piece a row is heard on, and how its change is measured.
enum class Shape {
    Level,
    Pitch,
    Pan,
    Centroid,
    Resonance,
    Attack,
    Decay,
    Release,
    Vibrato,
    VibratoRate,
    VibratoDelay,
    Tail,
    Width,
    Glide,
    GlideFromKey,
    DrumPitch,
    DrumLevel,
    DrumPan,
    DrumTail,
    DrumWidth,
    Mono,
    OtherPart,
    NotesOff,
};

enum class Unit { Db, Ratio, Seconds, Cents };

Unit unitOf(Shape shape)
{
    switch (shape) {
    case Shape::Pitch:
    case Shape::Centroid:
    case Shape::Resonance:
    case Shape::VibratoRate:
    case Shape::Glide:
    case Shape::GlideFromKey:
    case Shape::DrumPitch:
    case Shape::Mono:
        return Unit::Ratio;
    case Shape::Attack:
        return Unit::Seconds;
    case Shape::Vibrato:
    case Shape::VibratoDelay:
        return Unit::Cents;
    default:
        return Unit::Db;
    }
}

constexpr int kStart = 50;
constexpr int kDrumChannel = 9;
constexpr int kDrumKey = 50; // high tom: pitched enough to hear a retune

Score piece(Shape shape, const Bytes& mode, const Adder& messages)
{
    Score s;
    if (!mode.empty())
        s.sysex(0, mode);
    auto melodic = [&](int program) {
        s.program(0, 0, program);
        if (messages)
            messages(s);
    };
    switch (shape) {
    case Shape::Level:
    case Shape::Pitch:
        melodic(0);
        s.note(kStart, 1050, 0, 60, 100);
        if (shape == Shape::Level)
            s.note(kStart, 1050, 0, 64, 100);
        break;
    case Shape::Pan:
        melodic(19); // one sample: a stereo piano's pair would only move to one side
        s.note(kStart, 1050, 0, 60, 100).note(kStart, 1050, 0, 64, 100);
        break;
    case Shape::Centroid:
    case Shape::Resonance:
        melodic(81);
        s.note(kStart, 1050, 0, 60, 100);
        break;
    case Shape::Attack:
        melodic(81);
        s.note(kStart, 2050, 0, 60, 100);
        break;
    case Shape::Decay:
        melodic(11); // vibraphone: a tone that decays while held
        s.note(kStart, 2050, 0, 60, 100);
        break;
    case Shape::Release:
        melodic(19);
        s.note(kStart, 350, 0, 60, 100);
        break;
    case Shape::Vibrato:
    case Shape::VibratoRate:
    case Shape::VibratoDelay:
        melodic(19);
        s.note(kStart, 1350, 0, 69, 100);
        break;
    case Shape::Tail:
        melodic(0);
        s.note(kStart, 300, 0, 60, 110);
        break;
    case Shape::Width:
        melodic(19);
        s.note(kStart, 1050, 0, 60, 110).note(kStart, 1050, 0, 67, 110);
        break;
    case Shape::Glide:
        melodic(81);
        s.cc(0, 0, 65, 127);
        s.note(kStart, 400, 0, 60, 100).note(500, 1500, 0, 67, 100);
        break;
    case Shape::GlideFromKey:
        melodic(81);
        s.note(500, 1500, 0, 67, 100);
        break;
    case Shape::DrumPitch:
    case Shape::DrumLevel:
    case Shape::DrumPan:
    case Shape::DrumTail:
    case Shape::DrumWidth:
        s.program(0, kDrumChannel, 0);
        if (messages)
            messages(s);
        s.note(kStart, 550, kDrumChannel, kDrumKey, 110);
        break;
    case Shape::Mono:
        melodic(81);
        s.note(kStart, 1050, 0, 60, 100).note(300, 650, 0, 72, 100);
        break;
    case Shape::OtherPart:
        // The message goes to part 1, which is muted; part 2 is what is heard.
        s.program(0, 0, 0).program(0, 1, 0).cc(0, 0, 7, 0).cc(0, 1, 7, 127);
        if (messages)
            messages(s);
        s.note(kStart, 1050, 0, 60, 100).note(kStart, 1050, 1, 64, 100);
        break;
    case Shape::NotesOff:
        melodic(19);
        s.note(kStart, 1550, 0, 60, 100);
        break;
    }
    return s;
}

/// Vibrato cycles a second: how often the pitch crosses its median, 3 cents of hysteresis.
double vibratoHz(const Stereo& s, double from, double to)
{
    std::vector<double> cents;
    for (double t = from; t + 0.03 < to; t += 0.005) {
        if (const double f = measure::pitchHz(s, t, 0.03); f > 0)
            cents.push_back(1200 * std::log2(f));
    }
    if (cents.size() < 8)
        return 0;
    std::vector<double> sorted = cents;
    std::nth_element(sorted.begin(), sorted.begin() + long(sorted.size() / 2), sorted.end());
    const double median = sorted[sorted.size() / 2];
    int side = 0, changes = 0;
    for (double c : cents) {
        if (std::abs(c - median) > 400)
            continue; // an octave slip of the tracker
        const int now = c > median + 3 ? 1 : c < median - 3 ? -1 : 0;
        if (now != 0 && side != 0 && now != side)
            ++changes;
        if (now != 0)
            side = now;
    }
    return changes / 2.0 / (to - from);
}


/// A ratio of two measured values; NaN when either could not be measured (no pitch, no vibrato).
double ratio(double with, double base)
{
    return base > 0 && with > 0 ? with / base : std::nan("");
}

/// The size of the change from @p base to @p with, in the shape's unit.
double change(Shape shape, const Stereo& base, const Stereo& with)
{
    switch (shape) {
    case Shape::Level:
    case Shape::DrumLevel:
        return measure::levelDb(with, 0.05, 0.5) - measure::levelDb(base, 0.05, 0.5);
    case Shape::Pitch:
        return ratio(measure::pitchHz(with, 0.4), measure::pitchHz(base, 0.4));
    case Shape::Mono:
        return ratio(measure::pitchHz(with, 0.4), measure::pitchHz(base, 0.4));
    case Shape::Pan:
    case Shape::DrumPan:
        return measure::balanceDb(with, 0.05, 0.5) - measure::balanceDb(base, 0.05, 0.5);
    case Shape::Centroid:
    case Shape::Resonance:
    case Shape::DrumPitch:
        return ratio(measure::centroidHz(with, 0.1, 0.5), measure::centroidHz(base, 0.1, 0.5));
    case Shape::Attack:
        // Half its top, not nearly all: presets that swell or beat while held put their
        // top anywhere.
        return measure::attackSeconds(with, 0.05, 2.0, 0.5) - measure::attackSeconds(base, 0.05, 2.0, 0.5);
    case Shape::Decay:
        return measure::levelDb(with, 0.8, 1.8) - measure::levelDb(base, 0.8, 1.8);
    case Shape::Release:
        return measure::levelDb(with, 0.45, 1.2) - measure::levelDb(base, 0.45, 1.2);
    case Shape::Vibrato:
        return measure::vibratoCents(with, 0.4, 1.2) - measure::vibratoCents(base, 0.4, 1.2);
    case Shape::VibratoRate:
        return ratio(vibratoHz(with, 0.3, 1.3), vibratoHz(base, 0.3, 1.3));
    case Shape::VibratoDelay:
        return measure::vibratoCents(with, 0.1, 0.35) - measure::vibratoCents(base, 0.1, 0.35);
    case Shape::Tail:
    case Shape::DrumTail:
        return measure::levelDb(with, 0.7, 1.7) - measure::levelDb(base, 0.7, 1.7);
    case Shape::Width:
    case Shape::DrumWidth:
        return measure::widthDb(with, 0.1, 1.0) - measure::widthDb(base, 0.1, 1.0);
    case Shape::Glide:
    case Shape::GlideFromKey:
        return ratio(measure::pitchHz(with, 0.52, 0.05), measure::pitchHz(base, 0.52, 0.05));
    case Shape::OtherPart:
        return measure::levelDb(with, 0.1, 0.7) - measure::levelDb(base, 0.1, 0.7);
    case Shape::NotesOff:
        return measure::levelDb(with, 0.8, 1.4) - measure::levelDb(base, 0.8, 1.4);
    }
    return 0;
}

/// The least change that counts as the message honoured: at least, at most, or either way.
struct Need {
    enum Way { AtLeast, AtMost, Either } way;
    double limit;
};

struct Row {
    const char* name;
    Shape shape;
    Bytes mode;
    Adder message;
    Need need;
    Adder common = {};
    bool inBase = false; ///< the message sits in the base: its absence is what is heard
};

bool met(const Need& need, Unit unit, double v)
{
    if (std::isnan(v))
        return false;
    switch (need.way) {
    case Need::AtLeast:
        return v >= need.limit;
    case Need::AtMost:
        return v <= need.limit;
    case Need::Either:
        return unit == Unit::Ratio ? v > 0 && std::abs(std::log(v)) >= std::log(need.limit)
                                   : std::abs(v) >= need.limit;
    }
    return false;
}

std::string format(Unit unit, double v)
{
    if (std::isnan(v))
        return "unmeasured";
    char text[32];
    switch (unit) {
    case Unit::Db:
        std::snprintf(text, sizeof text, "%+.1f dB", v);
        break;
    case Unit::Ratio:
        std::snprintf(text, sizeof text, "%.3fx", v);
        break;
    case Unit::Seconds:
        std::snprintf(text, sizeof text, "%+.2f s", v);
        break;
    case Unit::Cents:
        std::snprintf(text, sizeof text, "%+.0f c", v);
        break;
    }
    return text;
}

std::string needText(const Need& need, Unit unit)
{
    const char* way = need.way == Need::AtLeast ? ">=" : need.way == Need::AtMost ? "<=" : "|x|>=";
    return way + format(unit, need.limit);
}

std::vector<Row> messageRows()
{
    const Adder none;
    const Adder reverbFull = ccs({ { 91, 127 } });
    const Adder chorusFull = ccs({ { 93, 127 } });
    auto part = [](uint8_t address, Bytes data) {
        return sysex(gs(0x40, 0x11, address, std::move(data)));
    };
    auto xgPart = [](uint8_t address, Bytes data) {
        return sysex(xg(0x08, 0x00, address, std::move(data)));
    };
    // The least change that counts. Volume at half is -6 dB on a linear law and -12 on a
    // module's square one; the tone rows ask what a listener plainly hears: brightness to
    // 0.7 or less at the lowest cutoff, 0.3 s more attack, 30 cents more vibrato.
    const Need lower6 { Need::AtMost, -6 };
    const Need lower4 { Need::AtMost, -4 };
    const Need octaveUp { Need::AtLeast, 1.9 };
    const Need tunedUp { Need::AtLeast, 1.04 };
    const Need darker { Need::AtMost, 0.7 };
    const Need slower { Need::AtLeast, 0.3 };
    const Need decays { Need::AtMost, -3 };
    const Need rings { Need::AtLeast, 6 };
    const Need deeper { Need::AtLeast, 30 };
    const Need wetter { Need::AtLeast, 3 };
    const Need drier { Need::AtMost, -3 };
    const Need wider { Need::AtLeast, 1.5 };
    const Need left { Need::AtMost, -6 };
    const Need glides { Need::AtMost, 0.96 };
    const Need peaks { Need::AtLeast, 1.1 };
    const Need slowerVibrato { Need::AtMost, 0.7 };
    const Need laterVibrato { Need::AtMost, -15 };
    return {
        // Master.
        { "universal master volume 7F 04 01", Shape::Level, {},
            sysex({ 0x7F, 0x7F, 0x04, 0x01, 0x00, 0x40, 0xF7 }), lower4 },
        { "GS master volume 40 00 04", Shape::Level, kGsReset,
            sysex(gs(0x40, 0x00, 0x04, { 0x40 })), lower4 },
        { "XG master volume 00 00 04", Shape::Level, kXgOn, sysex(xg(0x00, 0x00, 0x04, { 0x40 })),
            lower4 },
        { "universal master fine tune 7F 04 03", Shape::Pitch, {},
            sysex({ 0x7F, 0x7F, 0x04, 0x03, 0x7F, 0x7F, 0xF7 }), tunedUp },
        { "universal master coarse 7F 04 04", Shape::Pitch, {},
            sysex({ 0x7F, 0x7F, 0x04, 0x04, 0x00, 0x4C, 0xF7 }), octaveUp },
        { "GS master tune 40 00 00", Shape::Pitch, kGsReset,
            sysex(gs(0x40, 0x00, 0x00, { 0x00, 0x07, 0x0E, 0x08 })), tunedUp },
        { "XG master tune 00 00 00", Shape::Pitch, kXgOn,
            sysex(xg(0x00, 0x00, 0x00, { 0x00, 0x07, 0x0E, 0x08 })), tunedUp },
        { "GS master key shift 40 00 05", Shape::Pitch, kGsReset,
            sysex(gs(0x40, 0x00, 0x05, { 0x4C })), octaveUp },
        { "XG transpose 00 00 06", Shape::Pitch, kXgOn, sysex(xg(0x00, 0x00, 0x06, { 0x34 })),
            { Need::AtMost, 0.53 } },
        // GS part 1 (block 1).
        { "GS part key shift 40 11 16", Shape::Pitch, kGsReset, part(0x16, { 0x4C }), octaveUp },
        { "GS part level 40 11 19", Shape::Level, kGsReset, part(0x19, { 0x20 }), lower6 },
        { "GS part pan 40 11 1C", Shape::Pan, kGsReset, part(0x1C, { 0x01 }), left },
        { "GS part chorus send 40 11 21", Shape::Width, kGsReset, part(0x21, { 0x7F }), wider },
        { "GS part reverb send 40 11 22", Shape::Tail, kGsReset, part(0x22, { 0x7F }), wetter },
        { "GS scale tuning C 40 11 40", Shape::Pitch, kGsReset, part(0x40, { 0x7F }),
            { Need::AtLeast, 1.02 } },
        // XG multi part 1.
        { "XG part note shift 08 00 08", Shape::Pitch, kXgOn, xgPart(0x08, { 0x4C }), octaveUp },
        { "XG part volume 08 00 0B", Shape::Level, kXgOn, xgPart(0x0B, { 0x20 }), lower6 },
        { "XG part pan 08 00 0E", Shape::Pan, kXgOn, xgPart(0x0E, { 0x01 }), left },
        { "XG part chorus send 08 00 12", Shape::Width, kXgOn, xgPart(0x12, { 0x7F }), wider },
        { "XG part reverb send 08 00 13", Shape::Tail, kXgOn, xgPart(0x13, { 0x7F }), wetter },
        { "XG vibrato rate 08 00 15", Shape::VibratoRate, kXgOn, xgPart(0x15, { 0x00 }),
            slowerVibrato, xgPart(0x16, { 0x7F }) },
        { "XG vibrato depth 08 00 16", Shape::Vibrato, kXgOn, xgPart(0x16, { 0x7F }), deeper },
        { "XG vibrato delay 08 00 17", Shape::VibratoDelay, kXgOn, xgPart(0x17, { 0x7F }),
            laterVibrato, xgPart(0x16, { 0x7F }) },
        { "XG cutoff 08 00 18", Shape::Centroid, kXgOn, xgPart(0x18, { 0x00 }), darker },
        { "XG resonance 08 00 19", Shape::Resonance, kXgOn, xgPart(0x19, { 0x7F }), peaks,
            xgPart(0x18, { 0x28 }) },
        { "XG attack 08 00 1A", Shape::Attack, kXgOn, xgPart(0x1A, { 0x7F }), slower },
        { "XG decay 08 00 1B", Shape::Decay, kXgOn, xgPart(0x1B, { 0x00 }), decays },
        { "XG release 08 00 1C", Shape::Release, kXgOn, xgPart(0x1C, { 0x7F }), rings },
        // Tone NRPNs, GS.
        { "NRPN vibrato rate 01 08", Shape::VibratoRate, kGsReset, nrpn(0x01, 0x08, 0),
            slowerVibrato, nrpn(0x01, 0x09, 127) },
        { "NRPN vibrato depth 01 09", Shape::Vibrato, kGsReset, nrpn(0x01, 0x09, 127), deeper },
        { "NRPN vibrato delay 01 0A", Shape::VibratoDelay, kGsReset, nrpn(0x01, 0x0A, 127),
            laterVibrato, nrpn(0x01, 0x09, 127) },
        { "NRPN cutoff 01 20", Shape::Centroid, kGsReset, nrpn(0x01, 0x20, 0), darker },
        { "NRPN resonance 01 21", Shape::Resonance, kGsReset, nrpn(0x01, 0x21, 127), peaks,
            nrpn(0x01, 0x20, 40) },
        { "NRPN attack 01 63", Shape::Attack, kGsReset, nrpn(0x01, 0x63, 127), slower },
        { "NRPN decay 01 64", Shape::Decay, kGsReset, nrpn(0x01, 0x64, 0), decays },
        { "NRPN release 01 66", Shape::Release, kGsReset, nrpn(0x01, 0x66, 127), rings },
        // Sound controllers, GM2.
        { "CC71 resonance", Shape::Resonance, kGm2On, ccs({ { 71, 127 } }), peaks,
            ccs({ { 74, 40 } }) },
        { "CC72 release", Shape::Release, kGm2On, ccs({ { 72, 127 } }), rings },
        { "CC73 attack", Shape::Attack, kGm2On, ccs({ { 73, 127 } }), slower },
        { "CC74 brightness", Shape::Centroid, kGm2On, ccs({ { 74, 0 } }), darker },
        { "CC75 decay", Shape::Decay, kGm2On, ccs({ { 75, 0 } }), decays },
        // One drum key, GS.
        { "drum key pitch NRPN 18 rr", Shape::DrumPitch, kGsReset,
            nrpn(0x18, kDrumKey, 76, kDrumChannel), { Need::AtLeast, 1.2 } },
        { "drum key level NRPN 1A rr", Shape::DrumLevel, kGsReset,
            nrpn(0x1A, kDrumKey, 48, kDrumChannel), lower6 },
        { "drum key pan NRPN 1C rr", Shape::DrumPan, kGsReset,
            nrpn(0x1C, kDrumKey, 1, kDrumChannel), left },
        { "drum key reverb NRPN 1D rr", Shape::DrumTail, kGsReset,
            nrpn(0x1D, kDrumKey, 0, kDrumChannel), drier, ccs({ { 91, 127 } }, kDrumChannel) },
        { "drum key chorus NRPN 1E rr", Shape::DrumWidth, kGsReset,
            nrpn(0x1E, kDrumKey, 0, kDrumChannel), { Need::AtMost, -1.5 },
            ccs({ { 93, 127 } }, kDrumChannel) },
        // RPNs, no mode.
        { "RPN 0 bend range 12", Shape::Pitch, {}, rpn(0, 12), { Need::AtLeast, 1.7 },
            [](Score& s) { s.bend(0, 0, 16383); } },
        { "RPN 1 fine tuning", Shape::Pitch, {}, rpn(1, 127), tunedUp },
        { "RPN 2 coarse tuning", Shape::Pitch, {}, rpn(2, 76), octaveUp },
        { "RPN 5 modulation depth range", Shape::Vibrato, {}, rpn(5, 2), { Need::AtLeast, 50 },
            ccs({ { 1, 127 } }) },
        // Channel modes, no mode.
        { "Mono On CC126: one note at a time", Shape::Mono, {}, ccs({ { 126, 1 } }),
            { Need::AtLeast, 1.8 } },
        { "Poly On CC127 after Mono On", Shape::Mono, {}, ccs({ { 127, 0 } }),
            { Need::AtMost, 0.55 }, ccs({ { 126, 1 } }) },
        { "Mono On on part 1: part 2 plays", Shape::OtherPart, {}, ccs({ { 126, 1 } }),
            { Need::AtLeast, -3 } },
        { "Omni Off CC124 ends notes", Shape::NotesOff, {}, ccs({ { 124, 0 } }, 0, 500),
            { Need::AtMost, -10 } },
        // A second port's part 17 silenced: part 1, the one heard, keeps its level.
        { "port 2: part 17 apart from part 1", Shape::Level, {},
            [](Score& s) { s.port(0, 1).cc(0, 0, 7, 0).port(0, 0); }, { Need::AtLeast, -1 } },
        // Effects.
        { "default reverb send (no CC91)", Shape::Tail, {}, ccs({ { 91, 0 } }), wetter, none,
            true },
        { "GS reverb macro 40 01 30 Room 1", Shape::Tail, kGsReset,
            sysex(gs(0x40, 0x01, 0x30, { 0x00 })), drier, reverbFull },
        { "GS reverb character 40 01 31", Shape::Tail, kGsReset,
            sysex(gs(0x40, 0x01, 0x31, { 0x00 })), drier, reverbFull },
        { "GS reverb level 40 01 33", Shape::Tail, kGsReset, sysex(gs(0x40, 0x01, 0x33, { 0x7F })),
            wetter, reverbFull },
        { "GS reverb time 40 01 34", Shape::Tail, kGsReset, sysex(gs(0x40, 0x01, 0x34, { 0x7F })),
            wetter, reverbFull },
        { "GS chorus macro 40 01 38 Flanger", Shape::Width, kGsReset,
            sysex(gs(0x40, 0x01, 0x38, { 0x05 })), { Need::Either, 1.0 }, chorusFull },
        { "GS chorus level 40 01 3A", Shape::Width, kGsReset, sysex(gs(0x40, 0x01, 0x3A, { 0x7F })),
            wider, chorusFull },
        { "XG reverb type 02 01 00 Room 1", Shape::Tail, kXgOn,
            sysex(xg(0x02, 0x01, 0x00, { 0x02, 0x00 })), drier, reverbFull },
        { "XG chorus type 02 01 20 off", Shape::Width, kXgOn,
            sysex(xg(0x02, 0x01, 0x20, { 0x00, 0x00 })), { Need::AtMost, -1.5 }, chorusFull },
        // Portamento, GS.
        { "portamento time CC5 (CC65 on)", Shape::Glide, kGsReset, ccs({ { 5, 64 } }), glides },
        { "portamento control CC84", Shape::GlideFromKey, kGsReset, ccs({ { 84, 55 } }, 0, 499),
            glides, ccs({ { 5, 40 } }) },
    };
}

/// A row that asks for a quieter sound: there silence goes beyond the minimum.
bool levelRow(const Row& row)
{
    return (row.shape == Shape::Level || row.shape == Shape::DrumLevel
               || row.shape == Shape::NotesOff)
        && row.need.way == Need::AtMost;
}

void messageSection(RenderCache& cache, const std::string& only)
{
    std::vector<Row> rows = messageRows();
    std::erase_if(
        rows, [&](const Row& r) { return std::string(r.name).find(only) == std::string::npos; });
    const std::size_t n = cache.renderers().size();
    std::printf("\neach message heard: the change between two files that differ only in it; * = "
                "honoured\n");
    std::printf("%-36s %-12s", "message", "needs");
    for (const Renderer& r : cache.renderers())
        std::printf(" %-15s", r.name.c_str());
    std::printf("\n");
    std::vector<int> honoured(n, 0);
    for (const Row& row : rows) {
        const Adder withMessage = both(row.common, row.message);
        const Adder without = row.common;
        const SmfWriter base
            = piece(row.shape, row.mode, row.inBase ? withMessage : without).file();
        const SmfWriter with
            = piece(row.shape, row.mode, row.inBase ? without : withMessage).file();
        const Unit unit = unitOf(row.shape);
        std::printf("%-36s %-12s", row.name, needText(row.need, unit).c_str());
        for (std::size_t r = 0; r < n; ++r) {
            const std::optional<Stereo>& a = cache.render(r, base);
            const std::optional<Stereo>& b = cache.render(r, with);
            std::string cell;
            if (!a || !b) {
                cell = "no output";
            } else if (measure::levelDb(*a) < kSilentDb) {
                cell = "silent base";
            } else if (measure::levelDb(*b) < kSilentDb && !levelRow(row)) {
                cell = "silent";
            } else {
                const double v = change(row.shape, *a, *b);
                const bool ok = met(row.need, unit, v);
                honoured[r] += ok;
                cell = (measure::levelDb(*b) < kSilentDb ? std::string("silent") : format(unit, v))
                    + (ok ? " *" : "");
            }
            std::printf(" %-15s", cell.c_str());
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    std::printf("%-49s", "honoured");
    for (std::size_t r = 0; r < n; ++r)
        std::printf(
            " %-15s", (std::to_string(honoured[r]) + " of " + std::to_string(rows.size())).c_str());
    std::printf("\n");
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> builds { argc > 1 ? argv[1] : "build" };
    if (argc > 2)
        builds.emplace_back(argv[2]);
    const char* env = std::getenv("SEQUORA_SOUNDFONT");
    const std::string font = env && *env ? env : "/usr/share/sounds/sf2/FluidR3_GM.sf2";
    const fs::path dir = fs::temp_directory_path() / "sequora-mode-probes";
    fs::create_directories(dir);
    const fs::path cfg = dir / "timidity.cfg";
    {
        std::ofstream out(cfg);
        out << "soundfont " << font << "\n";
    }
    std::printf("soundfont %s; sequora = %s", font.c_str(), builds[0].c_str());
    if (builds.size() > 1)
        std::printf(", other build = %s", builds[1].c_str());
    std::printf("\n");
    RenderCache cache(dir, renderers(builds, font, cfg));
    // SEQUORA_PROBES=text keeps the message rows whose name holds it.
    const char* only = std::getenv("SEQUORA_PROBES");
    if (!only || !*only)
        drumPartSection(cache);
    messageSection(cache, only ? only : "");
    effects::section(cache, only ? only : "");
    return 0;
}
