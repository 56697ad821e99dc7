// The XG effect types a variation or insertion block can take (MU80/MU100 numbering),
// each a row: its number (MSB, and the LSBs it covers), its name and how P1-P16 set up
// the chain. Here P(n) is parameter n's byte, and the long delay times P1-P4 take
// fourteen bits (MSB, LSB) of 0.1 ms.
//
// Scales from the XG tables: LFO frequency, modulation delay offset, EQ frequencies,
// reverb time, initial delay, lo-fi sampling rate (EffectTables.h); EQ gains 52-76 as
// -12..+12 dB; feedback 1-127 as -98..+98 %; high damp 1-10 as a low-pass from 1.7 kHz
// (1) to none (10); P10 Dry/Wet: 0 = direct only, 64 = both at full level, 127 = effect
// only (a system effect is always effect only). Ours where the tables give only 0-127:
// chorus and flanger depth as up to 5 ms of sweep, phaser offset 100 Hz-8 kHz, auto-wah
// offset 100 Hz-6.4 kHz.

#include "platform/midi/output/effects/EffectTables.h"
#include "platform/midi/output/effects/EffectTypes.h"

#include <algorithm>

namespace sequora::midi::effects {

namespace {

struct Args {
    const XgEffectParams& p;
    bool system;
    uint8_t lsb; ///< the type's LSB, for types whose variations differ in more than numbers
    uint8_t P(int n) const { return p.lsb[std::size_t(std::clamp(n, 1, 16) - 1)]; }
    float longMs(int n, float maxMs) const
    {
        return xgLongDelayMs(p.msb[std::size_t(n - 1)], P(n), maxMs);
    }
};

float gain12(uint8_t v)
{
    return float(std::clamp(int(v) - 64, -12, 12));
}
float feedback(uint8_t v)
{
    return float(std::clamp(int(v) - 64, -63, 63)) / 64.0f;
}
float unit(uint8_t v)
{
    return float(v & 0x7F) / 127.0f;
}
float dampHz(uint8_t v)
{
    const int d = std::clamp(int(v), 1, 10);
    return d >= 10 ? 0.0f : 1150.0f * std::exp2(float(d) * 0.55f);
}
float lfoDepthMs(uint8_t v)
{
    return float((v & 0x7F) + 1) / 128.0f * 5.0f;
}

struct Build {
    ChainSettings& c;
    const Args& a;

    Stage& stage(Block b, uint8_t instance = 0)
    {
        Stage& s = c.stages[std::size_t(c.stageCount++)];
        s = Stage {};
        s.block = b;
        s.instance = instance;
        return s;
    }
    /// P10 Dry/Wet, or the effect alone as a system effect.
    void dryWet(int n = 10)
    {
        if (a.system) {
            c.dry = 0, c.wet = 1;
            return;
        }
        const float v = float(a.P(n));
        c.dry = std::min(1.0f, (127.0f - v) / 63.0f);
        c.wet = std::min(1.0f, v / 64.0f);
    }
    void shelves(int lowFreq, int lowGain, int highFreq, int highGain)
    {
        c.post[std::size_t(c.postCount++)]
            = { Biquad::Kind::LowShelf, xgEqFreqHz(a.P(lowFreq)), 0.7f, gain12(a.P(lowGain)) };
        c.post[std::size_t(c.postCount++)]
            = { Biquad::Kind::HighShelf, xgEqFreqHz(a.P(highFreq)), 0.7f, gain12(a.P(highGain)) };
    }
    void mid(int freq, int gain, int width)
    {
        c.post[std::size_t(c.postCount++)] = { Biquad::Kind::Peak, xgEqFreqHz(a.P(freq)),
            std::max(0.5f, float(a.P(width)) / 10.0f), gain12(a.P(gain)) };
    }
};

// --- Reverbs ------------------------------------------------------------------------

void reverb(const Args& a, ChainSettings& c, float size, float diffusion)
{
    Build b { c, a };
    ReverbSettings& r = c.reverb;
    r = ReverbSettings {};
    r.size = size;
    r.timeS = xgReverbTimeS(a.P(1));
    r.diffusion = diffusion * (0.5f + 0.05f * float(std::min<int>(a.P(2), 10)));
    r.preDelayMs = xgDelayTimeMs(a.P(3));
    r.lowCutHz = a.P(4) > 0 ? xgEqFreqHz(a.P(4)) : 0.0f;
    r.highCutHz = a.P(5) < 60 ? xgEqFreqHz(a.P(5)) : 0.0f;
    r.early = std::min(1.0f, (127.0f - float(a.P(13))) / 63.0f) * 0.5f;
    r.dampHz = dampHz(a.P(14));
    b.stage(Block::Reverb);
    b.dryWet();
}
void hall(const Args& a, ChainSettings& c)
{
    reverb(a, c, 1.6f, 0.8f);
}
void room(const Args& a, ChainSettings& c)
{
    reverb(a, c, 0.6f, 0.7f);
}
void stage(const Args& a, ChainSettings& c)
{
    reverb(a, c, 1.1f, 0.75f);
}
void plate(const Args& a, ChainSettings& c)
{
    reverb(a, c, 0.9f, 1.0f);
}
void whiteRoom(const Args& a, ChainSettings& c)
{
    reverb(a, c, 0.5f, 0.8f);
}
void tunnel(const Args& a, ChainSettings& c)
{
    reverb(a, c, 2.0f, 0.4f);
}
void canyon(const Args& a, ChainSettings& c)
{
    reverb(a, c, 2.2f, 0.5f);
}
void basement(const Args& a, ChainSettings& c)
{
    reverb(a, c, 0.4f, 0.6f);
}

/// Early reflections alone: a short, dense room (P2 its size).
void earlyReflections(const Args& a, ChainSettings& c)
{
    Build b { c, a };
    ReverbSettings& r = c.reverb;
    r = ReverbSettings {};
    r.size = 0.3f + 1.2f * std::min(1.0f, float(a.P(2)) / 44.0f);
    r.timeS = 0.25f;
    r.diffusion = 0.1f * float(std::min<int>(a.P(3), 10));
    r.preDelayMs = xgDelayTimeMs(a.P(4));
    r.early = 1;
    b.stage(Block::Reverb);
    b.dryWet();
}

void gate(const Args& a, ChainSettings& c, GateReverbSettings::Shape shape)
{
    Build b { c, a };
    c.gate.shape = shape;
    c.gate.preDelayMs = xgDelayTimeMs(a.P(4));
    c.gate.gateMs = 20.0f + 8.0f * float(std::min<int>(a.P(2), 44));
    b.stage(Block::GateReverb);
    b.dryWet();
}
void gateReverb(const Args& a, ChainSettings& c)
{
    gate(a, c, GateReverbSettings::Shape::Normal);
}
void reverseGate(const Args& a, ChainSettings& c)
{
    gate(a, c, GateReverbSettings::Shape::Reverse);
}

// --- Delays -------------------------------------------------------------------------

float maxDelayMs(const Args& a, float systemMs)
{
    return a.system ? systemMs : systemMs / 2;
}

void delayLcr(const Args& a, ChainSettings& c)
{
    Build b { c, a };
    const float most = maxDelayMs(a, 1486);
    TapDelaySettings& d = c.delay;
    d = TapDelaySettings {};
    d.stereoIn = false;
    const float centre = unit(a.P(6));
    d.taps[0] = { 0, a.longMs(1, most), 1, 0 };
    d.taps[1] = { 0, a.longMs(2, most), 0, 1 };
    d.taps[2] = { 0, a.longMs(3, most), 0.7f * centre, 0.7f * centre };
    d.tapCount = 3;
    d.feedbackMs = { a.longMs(4, most), a.longMs(4, most) };
    d.feedback = { feedback(a.P(5)), 0 };
    d.dampHz = dampHz(a.P(7));
    b.stage(Block::TapDelay);
    b.dryWet();
    b.shelves(13, 14, 15, 16);
}

void delayLr(const Args& a, ChainSettings& c)
{
    Build b { c, a };
    const float most = maxDelayMs(a, 1486);
    TapDelaySettings& d = c.delay;
    d = TapDelaySettings {};
    d.taps[0] = { 0, a.longMs(1, most), 1, 0 };
    d.taps[1] = { 1, a.longMs(2, most), 0, 1 };
    d.tapCount = 2;
    d.feedbackMs = { a.longMs(3, most), a.longMs(4, most) };
    d.feedback = { feedback(a.P(5)), feedback(a.P(5)) };
    d.dampHz = dampHz(a.P(6));
    b.stage(Block::TapDelay);
    b.dryWet();
    b.shelves(13, 14, 15, 16);
}

void echo(const Args& a, ChainSettings& c)
{
    Build b { c, a };
    const float most = maxDelayMs(a, 743);
    TapDelaySettings& d = c.delay;
    d = TapDelaySettings {};
    const float second = unit(a.P(8));
    d.taps[0] = { 0, a.longMs(1, most), 1, 0 };
    d.taps[1] = { 1, a.longMs(3, most), 0, 1 };
    d.taps[2] = { 0, a.longMs(6, most), second, 0 };
    d.taps[3] = { 1, a.longMs(7, most), 0, second };
    d.tapCount = 4;
    d.feedbackMs = { a.longMs(1, most), a.longMs(3, most) };
    d.feedback = { feedback(a.P(2)), feedback(a.P(4)) };
    d.dampHz = dampHz(a.P(5));
    b.stage(Block::TapDelay);
    b.dryWet();
    b.shelves(13, 14, 15, 16);
}

void crossDelay(const Args& a, ChainSettings& c)
{
    Build b { c, a };
    const float most = maxDelayMs(a, 743);
    TapDelaySettings& d = c.delay;
    d = TapDelaySettings {};
    // P4: which input feeds it (L, R, both).
    d.stereoIn = a.P(4) < 2;
    const float lr = a.longMs(1, most), rl = a.longMs(2, most);
    d.taps[0] = { 0, lr, 0, 1 };
    d.taps[1] = { 1, rl, 1, 0 };
    d.tapCount = 2;
    d.feedbackMs = { rl, lr };
    d.feedback = { feedback(a.P(3)), feedback(a.P(3)) };
    d.cross = true;
    d.dampHz = dampHz(a.P(5));
    b.stage(Block::TapDelay);
    b.dryWet();
    b.shelves(13, 14, 15, 16);
}

void karaoke(const Args& a, ChainSettings& c)
{
    Build b { c, a };
    TapDelaySettings& d = c.delay;
    d = TapDelaySettings {};
    d.stereoIn = false;
    const float ms = 2.0f * xgDelayTimeMs(a.P(1));
    d.taps[0] = { 0, ms, 1, 1 };
    d.tapCount = 1;
    d.feedbackMs = { ms, ms };
    d.feedback = { feedback(a.P(2)), 0 };
    d.preLpfHz = xgEqFreqHz(a.P(4));
    b.stage(Block::TapDelay);
    b.dryWet();
}

// --- Chorus family ----------------------------------------------------------------------

void chorusLike(const Args& a, ChainSettings& c, float phase, bool flanger)
{
    Build b { c, a };
    ChorusSettings& ch = c.chorus[0];
    ch = ChorusSettings {};
    ch.voices = 2;
    ch.rateHz = xgLfoHz(a.P(1));
    ch.depthMs = lfoDepthMs(a.P(2)) * (flanger ? 0.6f : 1.0f);
    ch.feedback = feedback(a.P(3)) * (flanger ? 1.0f : 0.5f);
    ch.delayMs = std::max(0.1f, xgModDelayMs(a.P(4)));
    ch.phaseSpread = flanger ? float(std::clamp(int(a.P(14)), 4, 124) - 64) * 3.0f / 360.0f : phase;
    ch.stereoIn = !flanger && a.P(14) == 1;
    ch.wave = flanger ? Lfo::Wave::Triangle : Lfo::Wave::Sine;
    b.stage(Block::Chorus);
    b.dryWet();
    b.shelves(6, 7, 8, 9);
    if (a.system)
        b.mid(11, 12, 13);
}
void chorus(const Args& a, ChainSettings& c)
{
    chorusLike(a, c, 0.25f, false);
}
void celeste(const Args& a, ChainSettings& c)
{
    chorusLike(a, c, 1.0f / 3.0f, false);
}
void flanger(const Args& a, ChainSettings& c)
{
    chorusLike(a, c, 0, true);
}

void symphonic(const Args& a, ChainSettings& c)
{
    chorusLike(a, c, 1.0f / 6.0f, false);
    ChorusSettings& ch = c.chorus[0];
    ch.voices = 6;
    ch.delaySpreadMs = 0.8f;
    ch.depthSpread = 0.4f;
    ch.feedback = 0;
}

void rotary(const Args& a, ChainSettings& c)
{
    Build b { c, a };
    RotarySettings& r = c.rotary;
    r = RotarySettings {};
    const float speed = xgLfoHz(a.P(1));
    r.lowSlowHz = r.lowFastHz = speed;
    r.highSlowHz = r.highFastHz = speed * 1.1f;
    r.separation = 0.3f + 0.7f * unit(a.P(2));
    b.stage(Block::Rotary);
    b.shelves(6, 7, 8, 9);
}

void tremolo(const Args& a, ChainSettings& c)
{
    Build b { c, a };
    c.tremolo = { Lfo::Wave::Triangle, xgLfoHz(a.P(1)), unit(a.P(2)), false,
        float(std::clamp(int(a.P(14)), 4, 124) - 64) * 3.0f / 360.0f };
    b.stage(Block::Tremolo);
    b.shelves(6, 7, 8, 9);
}

void autoPan(const Args& a, ChainSettings& c)
{
    Build b { c, a };
    c.tremolo = { Lfo::Wave::Triangle, xgLfoHz(a.P(1)), unit(a.P(2)), true, 0 };
    b.stage(Block::Tremolo);
    b.shelves(6, 7, 8, 9);
}

void phaser(const Args& a, ChainSettings& c)
{
    Build b { c, a };
    PhaserSettings& ph = c.phaser;
    ph = PhaserSettings {};
    ph.rateHz = xgLfoHz(a.P(1));
    ph.depth = unit(a.P(2));
    ph.manualHz = 100.0f * std::exp2(unit(a.P(3)) * 6.3f);
    ph.resonance = std::abs(feedback(a.P(4))) * 0.95f;
    ph.stages = std::clamp(int(a.P(11)), 4, 12);
    ph.stereoPhase = float(std::clamp(int(a.P(13)), 4, 124) - 64) * 3.0f / 360.0f + 0.5f;
    ph.mix = 1;
    b.stage(Block::Phaser);
    b.dryWet();
    b.shelves(6, 7, 8, 9);
}

// --- Drive, EQ and the rest ------------------------------------------------------------

void driveType(const Args& a, ChainSettings& c, bool hard, DriveSettings::Amp amp)
{
    Build b { c, a };
    DriveSettings& d = c.drive[0];
    d = DriveSettings {};
    d.drive = unit(a.P(1));
    d.hard = hard || a.P(11) > 96; // a sharp edge clips hard
    d.amp = amp;
    b.stage(Block::Drive);
    b.dryWet();
    c.level = unit(a.P(5)) * 1.4f;
}

void distortion(const Args& a, ChainSettings& c)
{
    driveType(a, c, true, DriveSettings::Amp::Off);
    c.drive[0].toneHz = xgEqFreqHz(a.P(4));
    Build b { c, a };
    c.post[std::size_t(c.postCount++)]
        = { Biquad::Kind::LowShelf, xgEqFreqHz(a.P(2)), 0.7f, gain12(a.P(3)) };
    b.mid(7, 8, 9);
}

void overdrive(const Args& a, ChainSettings& c)
{
    distortion(a, c);
    c.drive[0].hard = a.P(11) > 96;
}

void ampSimulator(const Args& a, ChainSettings& c)
{
    constexpr std::array<DriveSettings::Amp, 4> kAmps { DriveSettings::Amp::Off,
        DriveSettings::Amp::ThreeStack, DriveSettings::Amp::BuiltIn, DriveSettings::Amp::TwoStack };
    driveType(a, c, false, kAmps[std::min<std::size_t>(a.P(2), 3)]);
    c.drive[0].toneHz = xgEqFreqHz(a.P(3));
    c.level = unit(a.P(4)) * 1.4f;
}

void threeBandEq(const Args& a, ChainSettings& c)
{
    Build b { c, a };
    c.eq[0] = { Biquad::Kind::LowShelf, xgEqFreqHz(a.P(6)), 0.7f, gain12(a.P(1)) };
    c.eq[1] = { Biquad::Kind::Peak, xgEqFreqHz(a.P(2)), std::max(0.5f, float(a.P(4)) / 10.0f),
        gain12(a.P(3)) };
    c.eq[2] = { Biquad::Kind::HighShelf, xgEqFreqHz(a.P(7)), 0.7f, gain12(a.P(5)) };
    c.eqCount = 3;
    b.stage(Block::Eq);
}

void twoBandEq(const Args& a, ChainSettings& c)
{
    Build b { c, a };
    c.eq[0] = { Biquad::Kind::LowShelf, xgEqFreqHz(a.P(1)), 0.7f, gain12(a.P(2)) };
    c.eq[1] = { Biquad::Kind::HighShelf, xgEqFreqHz(a.P(3)), 0.7f, gain12(a.P(4)) };
    c.eqCount = 2;
    b.stage(Block::Eq);
}

/// Auto-wah (LFO) or touch wah (the level), with distortion or overdrive after it for
/// LSB 1 and 2.
void wah(const Args& a, ChainSettings& c, bool touch)
{
    Build b { c, a };
    AutoWahSettings& w = c.autoWah;
    w = AutoWahSettings {};
    if (touch) {
        w.sens = unit(a.P(1));
        w.manualHz = 100.0f * std::exp2(unit(a.P(2)) * 6.0f);
        w.q = std::max(0.7f, float(a.P(3)) / 10.0f);
        w.depth = 0;
    } else {
        w.rateHz = xgLfoHz(a.P(1));
        w.depth = unit(a.P(2));
        w.manualHz = 100.0f * std::exp2(unit(a.P(3)) * 6.0f);
        w.q = std::max(0.7f, float(a.P(4)) / 10.0f);
    }
    b.stage(Block::AutoWah);
    if (a.lsb == 1 || a.lsb == 2) {
        DriveSettings& d = c.drive[0];
        d = DriveSettings {};
        d.drive = unit(a.P(11));
        d.hard = a.lsb == 1;
        d.amp = DriveSettings::Amp::Off;
        b.stage(Block::Drive);
    }
    b.dryWet();
    b.shelves(6, 7, 8, 9);
}
void autoWah(const Args& a, ChainSettings& c)
{
    wah(a, c, false);
}
void touchWah(const Args& a, ChainSettings& c)
{
    wah(a, c, true);
}

void pitchChange(const Args& a, ChainSettings& c)
{
    Build b { c, a };
    PitchShiftSettings& s = c.pitch;
    s = PitchShiftSettings {};
    const float pitch = float(std::clamp(int(a.P(1)) - 64, -24, 24));
    const float pre = xgDelayTimeMs(a.P(2));
    s.voices[0] = { pitch + float(std::clamp(int(a.P(3)) - 64, -50, 50)) / 100.0f, pre, -0.6f, 1 };
    s.voices[1] = { pitch + float(std::clamp(int(a.P(4)) - 64, -50, 50)) / 100.0f, pre, 0.6f, 1 };
    s.voiceCount = 2;
    s.feedback = feedback(a.P(5));
    b.stage(Block::PitchShift);
    b.dryWet();
}

void harmonicEnhancer(const Args& a, ChainSettings& c)
{
    Build b { c, a };
    c.enhancer = { unit(a.P(2)), unit(a.P(3)) };
    b.stage(Block::Enhancer);
}

void compressor(const Args& a, ChainSettings& c)
{
    Build b { c, a };
    constexpr std::array<float, 8> kRatio { 1, 1.5f, 2, 3, 5, 7, 10, 20 };
    c.dynamics = { std::clamp(-48.0f + float(int(a.P(3)) - 79), -48.0f, -6.0f),
        kRatio[std::min<std::size_t>(a.P(4), 7)], 1.0f + std::min(39.0f, float(a.P(1))),
        10.0f + 5.0f * float(a.P(2)), 0 };
    b.stage(Block::Dynamics);
    c.level = unit(a.P(5)) * 1.4f;
}

void lofi(const Args& a, ChainSettings& c)
{
    Build b { c, a };
    LoFiSettings& l = c.lofi;
    l = LoFiSettings {};
    l.rateHz = xgLofiRateHz(a.P(1));
    l.bits = 4.0f + unit(a.P(2)) * 12.0f;
    l.outputDb = float(std::min<int>(a.P(3), 18) - 6);
    l.postHz = xgEqFreqHz(std::clamp<uint8_t>(a.P(4), 10, 60));
    l.postQ = std::max(0.7f, float(a.P(6)) / 10.0f);
    // Filter types: thru, power bass, radio, telephone, clean, low.
    constexpr std::array<LoFiSettings::Filter, 6> kFilters { LoFiSettings::Filter::None,
        LoFiSettings::Filter::LowShelf, LoFiSettings::Filter::LowPass,
        LoFiSettings::Filter::BandPass, LoFiSettings::Filter::HighPass,
        LoFiSettings::Filter::LowPass };
    l.post = kFilters[std::min<std::size_t>(a.P(5), 5)];
    l.mono = a.P(15) == 0;
    b.stage(Block::LoFi);
    b.dryWet();
}

struct XgType {
    uint8_t msb;
    uint8_t firstLsb, lastLsb;
    const char* name;
    void (*build)(const Args&, ChainSettings&);
};

constexpr XgType kTypes[] = {
    { 0x00, 0, 127, "No Effect", nullptr },
    { 0x01, 0, 127, "Hall", hall },
    { 0x02, 0, 127, "Room", room },
    { 0x03, 0, 127, "Stage", stage },
    { 0x04, 0, 127, "Plate", plate },
    { 0x05, 0, 127, "Delay L,C,R", delayLcr },
    { 0x06, 0, 127, "Delay L,R", delayLr },
    { 0x07, 0, 127, "Echo", echo },
    { 0x08, 0, 127, "Cross Delay", crossDelay },
    { 0x09, 0, 127, "Early Reflection", earlyReflections },
    { 0x0A, 0, 127, "Gate Reverb", gateReverb },
    { 0x0B, 0, 127, "Reverse Gate", reverseGate },
    { 0x10, 0, 127, "White Room", whiteRoom },
    { 0x11, 0, 127, "Tunnel", tunnel },
    { 0x12, 0, 127, "Canyon", canyon },
    { 0x13, 0, 127, "Basement", basement },
    { 0x14, 0, 127, "Karaoke", karaoke },
    { 0x40, 0, 127, "Thru", nullptr },
    { 0x41, 0, 127, "Chorus", chorus },
    { 0x42, 0, 127, "Celeste", celeste },
    { 0x43, 0, 127, "Flanger", flanger },
    { 0x44, 0, 127, "Symphonic", symphonic },
    { 0x45, 0, 127, "Rotary Speaker", rotary },
    { 0x46, 0, 127, "Tremolo", tremolo },
    { 0x47, 0, 127, "Auto Pan", autoPan },
    { 0x48, 0, 127, "Phaser", phaser },
    { 0x49, 0, 127, "Distortion", distortion },
    { 0x4A, 0, 127, "Overdrive", overdrive },
    { 0x4B, 0, 127, "Amp Simulator", ampSimulator },
    { 0x4C, 0, 127, "3-Band EQ", threeBandEq },
    { 0x4D, 0, 127, "2-Band EQ", twoBandEq },
    { 0x4E, 0, 127, "Auto Wah", autoWah },
    { 0x50, 0, 127, "Pitch Change", pitchChange },
    { 0x51, 0, 127, "Harmonic Enhancer", harmonicEnhancer },
    { 0x52, 0, 127, "Touch Wah", touchWah },
    { 0x53, 0, 127, "Compressor", compressor },
    { 0x54, 0, 127, "Noise Gate", nullptr },
    { 0x55, 0, 127, "Voice Cancel", nullptr },
    { 0x56, 0, 127, "2-Way Rotary Speaker", rotary },
    { 0x5E, 0, 127, "Lo-Fi", lofi },
};

const XgType* find(uint8_t msb, uint8_t lsb)
{
    for (const XgType& t : kTypes) {
        if (t.msb == msb && lsb >= t.firstLsb && lsb <= t.lastLsb)
            return &t;
    }
    return nullptr;
}

} // namespace

bool xgEffectChain(
    uint8_t msb, uint8_t lsb, const XgEffectParams& p, bool system, ChainSettings& out)
{
    const XgType* t = find(msb, lsb);
    if (!t || !t->build)
        return false;
    ChainSettings c;
    t->build(Args { p, system, lsb }, c);
    out = c;
    return true;
}

const char* xgEffectName(uint8_t msb, uint8_t lsb)
{
    const XgType* t = find(msb, lsb);
    return t ? t->name : nullptr;
}

bool xgEffectBuilt(uint8_t msb, uint8_t lsb)
{
    const XgType* t = find(msb, lsb);
    return t && t->build;
}

} // namespace sequora::midi::effects
