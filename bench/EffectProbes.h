#pragma once
// The mode probes' effect section: for the delay/variation unit, each insertion effect and
// a reset in the middle of a song, two files that differ in one message, and what a
// listener hears change between them (an echo's lag, harmonics, level or balance that
// moves, width, spectral motion, brightness, a tail, pitch) against the range the module
// gives. The reset rows ask the opposite: no change at all.

#include "ProbeRenderers.h"
#include "ProbeScore.h"
#include "engine/EffectSectionMeasures.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace sequora::bench::effects {

namespace measure = sequora::test;

enum class Heard {
    Echo, ///< ms
    Harmonics, ///< dB
    LevelSwing, ///< dB
    BalanceSwing, ///< dB
    Width, ///< dB
    SpectralMotion, ///< octaves
    Brightness, ///< ratio
    Tail, ///< dB
    Pitch, ///< ratio
    ResetCentroid, ///< ratio
    ResetLevel, ///< dB
};

constexpr int kStartMs = 100;
constexpr int kSecondNoteMs = 1300; ///< the reset rows: the note heard after the reset
constexpr int kMidResetMs = 1100;

inline Score piece(Heard heard, const Bytes& mode, const Adder& setUp)
{
    Score s;
    s.sysex(0, mode);
    int program = 0, key = 60, length = 1600;
    switch (heard) {
    case Heard::Echo:
        program = 115, length = 40; // woodblock: a click
        break;
    case Heard::Harmonics:
    case Heard::Pitch:
        program = 79, key = 69; // ocarina: near a sine
        break;
    case Heard::LevelSwing:
    case Heard::BalanceSwing:
        program = 19, length = 2200; // church organ: steady
        break;
    case Heard::Width:
        program = 19, key = 67;
        break;
    case Heard::SpectralMotion:
        program = 81, length = 2200; // saw lead
        break;
    case Heard::Brightness:
        break;
    case Heard::Tail:
        length = 250;
        break;
    case Heard::ResetCentroid:
    case Heard::ResetLevel:
        // A saw lead dry of reverb and chorus, heard once before and once after the
        // moment where one file of the pair resets the module and sets the part up again.
        s.program(0, 0, 81).cc(0, 0, 91, 0).cc(0, 0, 93, 0);
        s.note(kStartMs, kMidResetMs - 100, 0, 60, 100);
        if (setUp)
            setUp(s);
        s.note(kSecondNoteMs, kSecondNoteMs + 1000, 0, 60, 100);
        return s;
    }
    s.program(0, 0, program).cc(0, 0, 91, 0).cc(0, 0, 93, 0);
    if (setUp)
        setUp(s);
    s.note(kStartMs, kStartMs + length, 0, key, 110);
    return s;
}

inline double change(Heard heard, const Stereo& base, const Stereo& with)
{
    using namespace measure;
    const double after = kSecondNoteMs / 1000.0;
    switch (heard) {
    case Heard::Echo:
        return echoLag(base, with);
    case Heard::Harmonics: {
        const double hz = pitchHz(base, 0.8);
        return harmonicsDb(with, hz) - harmonicsDb(base, hz);
    }
    case Heard::LevelSwing: {
        auto level = [](const Stereo& s, double a, double b) { return levelDb(s, a, b); };
        return swing(with, level) - swing(base, level);
    }
    case Heard::BalanceSwing:
        return swing(with, balanceDb) - swing(base, balanceDb);
    case Heard::Width:
        return widthDb(with, 0.3, 1.5) - widthDb(base, 0.3, 1.5);
    case Heard::SpectralMotion: {
        auto bright
            = [](const Stereo& s, double a, double b) { return std::log2(centroidHz(s, a, b)); };
        return swing(with, bright) - swing(base, bright);
    }
    case Heard::Brightness:
        return centroidHz(with, 0.2, 1.0) / centroidHz(base, 0.2, 1.0);
    case Heard::Tail:
        return levelDb(with, 0.6, 1.6) - levelDb(base, 0.6, 1.6);
    case Heard::Pitch:
        return pitchHz(with, 0.8) / pitchHz(base, 0.8);
    case Heard::ResetCentroid:
        return centroidHz(with, after + 0.1, after + 0.9)
            / centroidHz(base, after + 0.1, after + 0.9);
    case Heard::ResetLevel:
        return levelDb(with, after + 0.1, after + 0.9) - levelDb(base, after + 0.1, after + 0.9);
    }
    return 0;
}

inline std::string format(Heard heard, double v)
{
    if (std::isnan(v))
        return "unmeasured";
    char text[32];
    switch (heard) {
    case Heard::Echo:
        std::snprintf(text, sizeof text, "%.0f ms", v);
        break;
    case Heard::Brightness:
    case Heard::Pitch:
    case Heard::ResetCentroid:
        std::snprintf(text, sizeof text, "%.3fx", v);
        break;
    case Heard::SpectralMotion:
        std::snprintf(text, sizeof text, "%+.2f oct", v);
        break;
    default:
        std::snprintf(text, sizeof text, "%+.2f dB", v);
        break;
    }
    return text;
}

struct Row {
    const char* name;
    Heard heard;
    Bytes mode;
    Adder common; ///< in both files
    Adder message; ///< in one
    double atLeast, atMost; ///< the module's change
};

inline std::vector<Row> rows()
{
    const Adder none;
    // The EFX's own send to reverb is 0, as the parts': only the effect is heard.
    auto efx = [](uint8_t msb, uint8_t lsb, std::vector<std::pair<uint8_t, uint8_t>> params = {}) {
        std::vector<Bytes> msgs { gs(0x40, 0x03, 0x00, { msb, lsb }), gs(0x40, 0x03, 0x17, { 0 }) };
        for (auto [address, value] : params)
            msgs.push_back(gs(0x40, 0x03, address, { value }));
        return Adder([msgs](Score& s) {
            for (const Bytes& m : msgs)
                s.sysex(0, m);
        });
    };
    const Adder on = sysex(gs(0x40, 0x41, 0x22, { 0x01 }));
    const Adder delaySend = ccs({ { 94, 127 } });
    // After a GS reset mid-song the part is set up as at the start; what follows must
    // sound as it did after the first reset.
    const Adder midReset = [](Score& s) {
        s.sysex(kMidResetMs, kGsReset);
        s.program(kMidResetMs + 50, 0, 81)
            .cc(kMidResetMs + 50, 0, 91, 0)
            .cc(kMidResetMs + 50, 0, 93, 0);
    };
    return {
        // The third system effect: echoes at the times the modules' tables give.
        { "GS delay send CC94, macro 0", Heard::Echo, kGsReset, none, delaySend, 330, 350 },
        { "GS delay send 40 1x 2C", Heard::Echo, kGsReset, none,
            sysex(gs(0x40, 0x11, 0x2C, { 127 })), 330, 350 },
        { "GS delay time centre 40 01 52", Heard::Echo, kGsReset, delaySend,
            sysex(gs(0x40, 0x01, 0x52, { 0x5A })), 190, 210 },
        { "GS delay macro 3 (Delay 4)", Heard::Echo, kGsReset, delaySend,
            sysex(gs(0x40, 0x01, 0x50, { 0x03 })), 120, 140 },
        { "XG variation Delay L,C,R, system", Heard::Echo, kXgOn,
            sysex(xg(0x02, 0x01, 0x5A, { 0x01 })), delaySend, 155, 180 },
        { "XG variation Echo on part 1", Heard::Echo, kXgOn,
            sysex(xg(0x02, 0x01, 0x40, { 0x07, 0x00 })), sysex(xg(0x02, 0x01, 0x5B, { 0x00 })), 160,
            180 },
        // GS insertion effects, each on part 1.
        { "GS EFX Reverb 01 55", Heard::Tail, kGsReset, efx(0x01, 0x55), on, 6, 80 },
        { "GS EFX Enhancer 01 02", Heard::Brightness, kGsReset, efx(0x01, 0x02, { { 0x13, 0x40 } }),
            on, 1.05, 3 },
        { "GS EFX Phaser 01 20", Heard::SpectralMotion, kGsReset,
            efx(0x01, 0x20, { { 0x05, 127 } }), on, 0.1, 5 },
        { "GS EFX Overdrive 01 10", Heard::Harmonics, kGsReset, efx(0x01, 0x10), on, 4, 40 },
        { "GS EFX Distortion 01 11", Heard::Harmonics, kGsReset, efx(0x01, 0x11), on, 5, 40 },
        { "GS EFX OD1/OD2 11 03", Heard::Harmonics, kGsReset, efx(0x11, 0x03), on, 4, 40 },
        { "GS EFX Stereo Chorus 01 42", Heard::Width, kGsReset, efx(0x01, 0x42), on, 6, 60 },
        { "GS EFX Hexa Chorus 01 40", Heard::Width, kGsReset, efx(0x01, 0x40), on, 6, 60 },
        { "GS EFX Space D 01 43", Heard::Width, kGsReset, efx(0x01, 0x43), on, 6, 60 },
        { "GS EFX Stereo Flanger 01 23", Heard::Width, kGsReset, efx(0x01, 0x23), on, 3, 60 },
        { "GS EFX Enhancer->Delay 02 08", Heard::Echo, kGsReset, efx(0x02, 0x08), on, 240, 260 },
        { "GS EFX Stereo Delay 01 50", Heard::Echo, kGsReset, efx(0x01, 0x50), on, 140, 160 },
        { "GS EFX Pitch Shifter 01 60, 8va", Heard::Pitch, kGsReset,
            efx(0x01, 0x60, { { 0x03, 0x4C }, { 0x07, 0x4C }, { 0x12, 127 } }), on, 1.95, 2.05 },
        { "GS EFX Tremolo 01 25", Heard::LevelSwing, kGsReset, efx(0x01, 0x25, { { 0x05, 127 } }),
            on, 6, 80 },
        { "GS EFX Auto Pan 01 26", Heard::BalanceSwing, kGsReset,
            efx(0x01, 0x26, { { 0x05, 127 } }), on, 6, 80 },
        { "GS EFX Rotary 01 22, fast", Heard::BalanceSwing, kGsReset,
            efx(0x01, 0x22, { { 0x0D, 127 } }), on, 3, 80 },
        { "GS EFX Auto Wah 01 21", Heard::SpectralMotion, kGsReset,
            efx(0x01, 0x21, { { 0x08, 127 } }), on, 0.2, 5 },
        // XG insertion blocks and the variation as an insertion, on part 1.
        { "XG insertion 1 Distortion", Heard::Harmonics, kXgOn, none,
            sysex(xg(0x03, 0x00, 0x0C, { 0x00 })), 5, 40 },
        // Faster and deeper than the types' defaults, effect only, as the GS rows: the
        // defaults move too slowly to show within the note.
        { "XG insertion 2 Phaser", Heard::SpectralMotion, kXgOn,
            both(sysex(xg(0x03, 0x01, 0x00, { 0x48, 0x00 })),
                both(sysex(xg(0x03, 0x01, 0x02, { 40, 127 })),
                    sysex(xg(0x03, 0x01, 0x0B, { 127 })))),
            sysex(xg(0x03, 0x01, 0x0C, { 0x00 })), 0.1, 5 },
        { "XG variation Tremolo, insertion", Heard::LevelSwing, kXgOn,
            both(sysex(xg(0x02, 0x01, 0x40, { 0x46, 0x00 })), sysex(xg(0x02, 0x01, 0x45, { 127 }))),
            sysex(xg(0x02, 0x01, 0x5B, { 0x00 })), 2.5, 80 },
        // A GS reset mid-song and the part set up again: as after the first reset.
        { "GS reset mid-song: brightness", Heard::ResetCentroid, kGsReset, none, midReset, 0.99,
            1.01 },
        { "GS reset mid-song: level", Heard::ResetLevel, kGsReset, none, midReset, -0.1, 0.1 },
    };
}

/// Prints the section's table; @p only keeps the rows whose name holds it.
inline void section(RenderCache& cache, const std::string& only)
{
    std::vector<Row> list = rows();
    std::erase_if(
        list, [&](const Row& r) { return std::string(r.name).find(only) == std::string::npos; });
    if (list.empty())
        return;
    const std::size_t n = cache.renderers().size();
    std::printf("\nthe effect section: the change between two files that differ only in the "
                "message; * = as the module\n%-36s %-16s",
        "message", "module");
    for (const Renderer& r : cache.renderers())
        std::printf(" %-15s", r.name.c_str());
    std::printf("\n");
    std::vector<int> right(n, 0);
    for (const Row& row : list) {
        const Adder with = both(row.common, row.message);
        const SmfWriter a = piece(row.heard, row.mode, row.common).file();
        const SmfWriter b = piece(row.heard, row.mode, with).file();
        std::printf("%-36s %-16s", row.name,
            (format(row.heard, row.atLeast) + ".." + format(row.heard, row.atMost)).c_str());
        for (std::size_t r = 0; r < n; ++r) {
            const std::optional<Stereo>& x = cache.render(r, a);
            const std::optional<Stereo>& y = cache.render(r, b);
            std::string cell;
            if (!x || !y) {
                cell = "no output";
            } else if (measure::levelDb(*x) < -60 || measure::levelDb(*y) < -60) {
                cell = "silent";
            } else {
                const double v = change(row.heard, *x, *y);
                const bool ok = v >= row.atLeast && v <= row.atMost;
                right[r] += ok;
                cell = format(row.heard, v) + (ok ? " *" : "");
            }
            std::printf(" %-15s", cell.c_str());
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    std::printf("%-53s", "as the module");
    for (std::size_t r = 0; r < n; ++r)
        std::printf(
            " %-15s", (std::to_string(right[r]) + " of " + std::to_string(list.size())).c_str());
    std::printf("\n");
}

} // namespace sequora::bench::effects
