// The GS insertion effect types (SC-88 Pro numbering), each a row: its number, its name
// and how its parameter bytes (40 03 03-16, here p[address - 3]) set up the chain.
//
// Scales from the manual's tables: pre-delay, delay times, rates, HF damp, cutoff,
// manual and EQ frequencies (EffectTables.h); gains 0x34-0x4C as -12..+12 dB; feedback
// 0x0F-0x71 as -98..+98 %; phase 0-90 as 0-180 degrees; acceleration 0-15 in steps of
// eight; pans -63..+63 around 0x40; Balance 0 = direct sound only, 64 = both at full
// level, 127 = effect only; Level 127 = unity. The closing Low and Hi Gain are shelves at
// 400 Hz and 4 kHz.
// Scales the manual leaves at 0-127, ours: chorus depth 0-6 ms of sweep, flanger depth
// 0-4 ms; phaser and auto-wah depth up to two octaves either way; resonance up to 95 %
// feedback; auto-wah manual 100 Hz-6.4 kHz, peak Q 0.5-20; rotary acceleration 0-15 as
// 3 s down to 0.1 s; EFX reverb time 0.2-5 s (quadratic) times the type's size;
// compressor sustain as a threshold down to -36 dB at 4:1; limiter threshold -40..0 dB.

#include "platform/midi/output/effects/EffectTables.h"
#include "platform/midi/output/effects/EffectTypes.h"

#include <algorithm>
#include <tuple>

namespace sequora::midi::effects {

namespace {

using P = const GsEfxParams&;

uint8_t at(P p, int address)
{
    return p[std::size_t(std::clamp(address - 3, 0, 19))];
}
float gain12(uint8_t v)
{
    return float(std::clamp(int(v) - 64, -12, 12));
}
float centred(uint8_t v)
{
    return float(std::clamp(int(v) - 64, -63, 63)) / 63.0f;
}
float feedback98(uint8_t v)
{
    return float(std::clamp((int(v) - 64) * 2, -98, 98)) / 100.0f;
}
float phaseCycles(uint8_t v)
{
    return float(std::min<int>(v, 45)) * 2.0f / 360.0f;
}
float unit(uint8_t v)
{
    return float(v & 0x7F) / 127.0f;
}
float chorusDepthMs(uint8_t v)
{
    return unit(v) * 6.0f;
}
float flangerDepthMs(uint8_t v)
{
    return unit(v) * 4.0f;
}
float accelSeconds(uint8_t v)
{
    return 3.0f * std::exp2(-float(std::min<int>(v, 15)) / 3.0f);
}

/// Direct and effect sound for a Balance byte.
std::pair<float, float> balance(uint8_t v)
{
    const float b = float(v & 0x7F);
    return { std::min(1.0f, (127.0f - b) / 63.0f), std::min(1.0f, b / 64.0f) };
}

struct Build {
    ChainSettings& c;

    Stage& stage(Block b, uint8_t instance = 0)
    {
        Stage& s = c.stages[std::size_t(c.stageCount++)];
        s = Stage {};
        s.block = b;
        s.instance = instance;
        return s;
    }
    void stageBalance(Stage& s, uint8_t v) { std::tie(s.dry, s.wet) = balance(v); }
    void chainBalance(uint8_t v) { std::tie(c.dry, c.wet) = balance(v); }
    /// The closing low and high gain, pan (where the type has one) and level.
    void close(P p, bool withPan = false)
    {
        c.post[0] = { Biquad::Kind::LowShelf, 400, 0.7f, gain12(at(p, 0x13)) };
        c.post[1] = { Biquad::Kind::HighShelf, 4000, 0.7f, gain12(at(p, 0x14)) };
        c.postCount = 2;
        c.pan = withPan ? centred(at(p, 0x15)) : 0.0f;
        c.level = unit(at(p, 0x16));
    }
};

void drive(DriveSettings& d, uint8_t amount, uint8_t amp, uint8_t ampOn, bool hard, float pan = 0)
{
    d = DriveSettings {};
    d.drive = unit(amount);
    d.hard = hard;
    d.amp = ampOn ? static_cast<DriveSettings::Amp>(1 + std::min<int>(amp, 3))
                  : DriveSettings::Amp::Off;
    d.pan = pan;
}

void chorus(ChorusSettings& c, uint8_t pre, uint8_t rate, uint8_t depth, float phase = 0.25f)
{
    c = ChorusSettings {};
    c.voices = 2;
    c.delayMs = gsPreDelayMs(pre);
    c.rateHz = gsRate1Hz(rate);
    c.depthMs = chorusDepthMs(depth);
    c.phaseSpread = phase;
}

void flanger(
    ChorusSettings& c, uint8_t pre, uint8_t rate, uint8_t depth, uint8_t fb, float phase = 0.5f)
{
    chorus(c, pre, rate, 0, phase);
    c.depthMs = flangerDepthMs(depth);
    c.feedback = feedback98(fb);
    c.wave = Lfo::Wave::Triangle;
}

void preFilter(ChorusSettings& c, uint8_t type, uint8_t cutoff)
{
    c.filter = type == 1 ? ChorusSettings::Filter::LowPass
        : type == 2      ? ChorusSettings::Filter::HighPass
                         : ChorusSettings::Filter::None;
    c.filterHz = gsCutoffHz(cutoff);
}

/// One echo of the middle, fed back on itself (the series types' delay).
void simpleDelay(TapDelaySettings& d, float ms, uint8_t fb, uint8_t damp)
{
    d = TapDelaySettings {};
    d.stereoIn = false;
    d.taps[0] = { 0, ms, 1, 1 };
    d.tapCount = 1;
    d.feedbackMs = { ms, ms };
    d.feedback = { feedback98(fb), 0 };
    d.dampHz = gsHfDampHz(damp);
}

void phaser(
    PhaserSettings& ph, uint8_t manual, float rateHz, uint8_t depth, uint8_t reso, uint8_t mix)
{
    ph = PhaserSettings {};
    ph.manualHz = gsManualHz(manual);
    ph.rateHz = rateHz;
    ph.depth = unit(depth);
    ph.resonance = unit(reso) * 0.95f;
    ph.mix = unit(mix);
}

void autoWah(AutoWahSettings& w, uint8_t filter, uint8_t sens, uint8_t manual, uint8_t peak,
    float rateHz, uint8_t depth, uint8_t polarity)
{
    w = AutoWahSettings {};
    w.bandPass = filter != 0;
    w.sens = unit(sens);
    w.manualHz = 100.0f * std::exp2(unit(manual) * 6.0f);
    w.q = 0.5f * std::pow(40.0f, unit(peak));
    w.rateHz = rateHz;
    w.depth = unit(depth);
    w.up = polarity != 0;
}

/// Rotary bytes from @p first: low slow, fast, accel, level, high slow, fast, accel, level,
/// separation; @p speed the slow/fast switch.
void rotary(RotarySettings& r, P p, int first, uint8_t speed)
{
    r = RotarySettings {};
    r.lowSlowHz = gsRate1Hz(at(p, first));
    r.lowFastHz = gsRate1Hz(at(p, first + 1));
    r.lowAccelS = accelSeconds(at(p, first + 2));
    r.lowLevel = unit(at(p, first + 3));
    r.highSlowHz = gsRate1Hz(at(p, first + 4));
    r.highFastHz = gsRate1Hz(at(p, first + 5));
    r.highAccelS = accelSeconds(at(p, first + 6));
    r.highLevel = unit(at(p, first + 7));
    r.separation = unit(at(p, first + 8));
    r.fast = speed >= 64;
}

Lfo::Wave wave(uint8_t v)
{
    constexpr std::array<Lfo::Wave, 5> kWaves { Lfo::Wave::Triangle, Lfo::Wave::Square,
        Lfo::Wave::Sine, Lfo::Wave::SawUp, Lfo::Wave::SawDown };
    return kWaves[std::min<std::size_t>(v, 4)];
}

// --- Types that shape the tone -------------------------------------------------------

void stereoEq(P p, ChainSettings& c)
{
    Build b { c };
    constexpr std::array<float, 5> kQ { 0.5f, 1, 2, 4, 9 };
    c.eq[0] = { Biquad::Kind::LowShelf, at(p, 0x03) ? 400.0f : 200.0f, 0.7f, gain12(at(p, 0x04)) };
    c.eq[1]
        = { Biquad::Kind::HighShelf, at(p, 0x05) ? 8000.0f : 4000.0f, 0.7f, gain12(at(p, 0x06)) };
    c.eq[2] = { Biquad::Kind::Peak, gsEqFreqHz(at(p, 0x07)),
        kQ[std::min<std::size_t>(at(p, 0x08), 4)], gain12(at(p, 0x09)) };
    c.eq[3] = { Biquad::Kind::Peak, gsEqFreqHz(at(p, 0x0A)),
        kQ[std::min<std::size_t>(at(p, 0x0B), 4)], gain12(at(p, 0x0C)) };
    c.eqCount = 4;
    b.stage(Block::Eq);
    c.level = unit(at(p, 0x16));
}

void spectrum(P p, ChainSettings& c)
{
    Build b { c };
    constexpr std::array<float, 8> kBands { 250, 500, 1000, 1250, 2000, 3150, 4000, 8000 };
    constexpr std::array<float, 5> kQ { 0.5f, 1, 2, 4, 9 };
    for (std::size_t i = 0; i < kBands.size(); ++i)
        c.eq[i] = { Biquad::Kind::Peak, kBands[i], kQ[std::min<std::size_t>(at(p, 0x0B), 4)],
            gain12(at(p, 0x03 + int(i))) };
    c.eqCount = 8;
    b.stage(Block::Eq);
    c.pan = centred(at(p, 0x15));
    c.level = unit(at(p, 0x16));
}

void enhancer(P p, ChainSettings& c)
{
    Build b { c };
    c.enhancer = { unit(at(p, 0x03)), unit(at(p, 0x04)) };
    b.stage(Block::Enhancer);
    b.close(p);
}

void humanizer(P p, ChainSettings& c)
{
    Build b { c };
    // Two formants of each vowel (a, i, u, e, o), Hz.
    constexpr std::array<std::array<float, 2>, 5> kVowels { { { 800, 1200 }, { 300, 2300 },
        { 320, 900 }, { 500, 1900 }, { 500, 850 } } };
    if (at(p, 0x04)) {
        drive(c.drive[0], at(p, 0x03), 0, 0, false);
        b.stage(Block::Drive);
    }
    const auto& v = kVowels[std::min<std::size_t>(at(p, 0x05), 4)];
    c.eq[0] = { Biquad::Kind::Peak, v[0], 4, 12 };
    c.eq[1] = { Biquad::Kind::Peak, v[1], 5, 10 };
    c.eq[2] = { Biquad::Kind::LowPass, 3500, 0.7f, 0 };
    c.eqCount = 3;
    b.stage(Block::Eq).wet = 0.4f;
    b.close(p, true);
}

void overdrive(P p, ChainSettings& c, bool hard)
{
    Build b { c };
    drive(c.drive[0], at(p, 0x03), at(p, 0x04), at(p, 0x05), hard, centred(at(p, 0x15)));
    b.stage(Block::Drive);
    b.close(p);
}
void overdrive(P p, ChainSettings& c)
{
    overdrive(p, c, false);
}
void distortion(P p, ChainSettings& c)
{
    overdrive(p, c, true);
}

void compressor(P p, ChainSettings& c)
{
    Build b { c };
    c.dynamics = { -36.0f * unit(at(p, 0x04)), 4, 0.5f + 50.0f * unit(at(p, 0x03)), 200,
        6.0f * float(std::min<int>(at(p, 0x05), 3)) };
    b.stage(Block::Dynamics);
    b.close(p, true);
}

void limiter(P p, ChainSettings& c)
{
    Build b { c };
    constexpr std::array<float, 4> kRatio { 1.5f, 2, 4, 100 };
    c.dynamics = { -40.0f + 40.0f * unit(at(p, 0x03)),
        kRatio[std::min<std::size_t>(at(p, 0x04), 3)], 0.5f,
        10.0f * std::pow(100.0f, unit(at(p, 0x05))), 6.0f * float(std::min<int>(at(p, 0x06), 3)) };
    b.stage(Block::Dynamics);
    b.close(p, true);
}

// --- Modulation ----------------------------------------------------------------------

void phaserType(P p, ChainSettings& c)
{
    Build b { c };
    phaser(c.phaser, at(p, 0x03), gsRate1Hz(at(p, 0x04)), at(p, 0x05), at(p, 0x06), at(p, 0x07));
    b.stage(Block::Phaser);
    b.close(p);
}

void autoWahType(P p, ChainSettings& c)
{
    Build b { c };
    autoWah(c.autoWah, at(p, 0x03), at(p, 0x04), at(p, 0x05), at(p, 0x06), gsRate1Hz(at(p, 0x07)),
        at(p, 0x08), at(p, 0x09));
    b.stage(Block::AutoWah);
    b.close(p, true);
}

void rotaryType(P p, ChainSettings& c)
{
    Build b { c };
    rotary(c.rotary, p, 0x03, at(p, 0x0D));
    b.stage(Block::Rotary);
    b.close(p);
}

void stereoFlanger(P p, ChainSettings& c)
{
    Build b { c };
    flanger(
        c.chorus[0], at(p, 0x05), at(p, 0x06), at(p, 0x07), at(p, 0x08), phaseCycles(at(p, 0x09)));
    preFilter(c.chorus[0], at(p, 0x03), at(p, 0x04));
    b.stage(Block::Chorus);
    b.chainBalance(at(p, 0x12));
    b.close(p);
}

void stepFlanger(P p, ChainSettings& c)
{
    Build b { c };
    flanger(
        c.chorus[0], at(p, 0x03), at(p, 0x04), at(p, 0x05), at(p, 0x06), phaseCycles(at(p, 0x07)));
    c.chorus[0].stepHz = gsRate1Hz(at(p, 0x08));
    b.stage(Block::Chorus);
    b.chainBalance(at(p, 0x12));
    b.close(p);
}

void tremolo(P p, ChainSettings& c, bool pan)
{
    Build b { c };
    c.tremolo = { wave(at(p, 0x03)), gsRate1Hz(at(p, 0x04)), unit(at(p, 0x05)), pan, 0 };
    b.stage(Block::Tremolo);
    b.close(p);
}
void tremolo(P p, ChainSettings& c)
{
    tremolo(p, c, false);
}
void autoPan(P p, ChainSettings& c)
{
    tremolo(p, c, true);
}

void hexaChorus(P p, ChainSettings& c)
{
    Build b { c };
    chorus(c.chorus[0], at(p, 0x03), at(p, 0x04), at(p, 0x05), 1.0f / 6.0f);
    ChorusSettings& ch = c.chorus[0];
    ch.voices = 6;
    ch.delaySpreadMs = 0.3f * float(std::min<int>(at(p, 0x06), 20));
    ch.depthSpread = float(std::clamp(int(at(p, 0x07)) - 64, -20, 20)) / 40.0f;
    ch.panSpread = float(std::min<int>(at(p, 0x08), 20)) / 20.0f;
    b.stage(Block::Chorus);
    b.chainBalance(at(p, 0x12));
    b.close(p);
}

void tremoloChorus(P p, ChainSettings& c)
{
    Build b { c };
    chorus(c.chorus[0], at(p, 0x03), at(p, 0x04), at(p, 0x05));
    b.stageBalance(b.stage(Block::Chorus), at(p, 0x12));
    c.tremolo = { Lfo::Wave::Sine, gsRate1Hz(at(p, 0x07)), unit(at(p, 0x08)), false,
        phaseCycles(at(p, 0x06)) };
    b.stage(Block::Tremolo);
    b.close(p);
}

void stereoChorus(P p, ChainSettings& c)
{
    Build b { c };
    chorus(c.chorus[0], at(p, 0x05), at(p, 0x06), at(p, 0x07), phaseCycles(at(p, 0x09)));
    preFilter(c.chorus[0], at(p, 0x03), at(p, 0x04));
    b.stage(Block::Chorus);
    b.chainBalance(at(p, 0x12));
    b.close(p);
}

void spaceD(P p, ChainSettings& c)
{
    Build b { c };
    // Two voices in opposite phase, each also heard inverted on the other side: wide, and
    // no sweep of pitch is heard.
    chorus(c.chorus[0], at(p, 0x03), at(p, 0x04), at(p, 0x05), 0.5f);
    c.chorus[0].crossInverted = true;
    b.stage(Block::Chorus);
    b.chainBalance(at(p, 0x12));
    b.close(p);
}

void chorus3d(P p, ChainSettings& c)
{
    Build b { c };
    chorus(c.chorus[0], at(p, 0x03), at(p, 0x04), at(p, 0x05), 0.5f);
    c.chorus[0].crossInverted = true; // widened beyond the speakers
    b.stage(Block::Chorus);
    b.chainBalance(at(p, 0x12));
    b.close(p);
}

// --- Delays and reverbs ----------------------------------------------------------------

void stereoDelay(P p, ChainSettings& c, bool modulated)
{
    Build b { c };
    TapDelaySettings& d = c.delay;
    d = TapDelaySettings {};
    const float l = gsDelayTime3Ms(at(p, 0x03)), r = gsDelayTime3Ms(at(p, 0x04));
    const float phaseL = at(p, 0x07) && !modulated ? -1.0f : 1.0f;
    const float phaseR = at(p, 0x08) && !modulated ? -1.0f : 1.0f;
    d.taps[0] = { 0, l, phaseL, 0 };
    d.taps[1] = { 1, r, 0, phaseR };
    d.tapCount = 2;
    d.feedbackMs = { l, r };
    const float fb = feedback98(at(p, 0x05));
    d.feedback = { fb, fb };
    d.cross = at(p, 0x06) != 0;
    d.dampHz = gsHfDampHz(at(p, 0x0A));
    if (modulated) {
        d.modRateHz = gsRate1Hz(at(p, 0x07));
        d.modDepthMs = unit(at(p, 0x08)) * 5.0f;
        d.modPhase = phaseCycles(at(p, 0x09));
    }
    b.stage(Block::TapDelay);
    b.chainBalance(at(p, 0x12));
    b.close(p);
}
void stereoDelay(P p, ChainSettings& c)
{
    stereoDelay(p, c, false);
}
void modDelay(P p, ChainSettings& c)
{
    stereoDelay(p, c, true);
}

/// Taps centre, left, right with levels, feedback from the centre.
void threeTaps(P p, ChainSettings& c, float (*time)(uint8_t))
{
    Build b { c };
    TapDelaySettings& d = c.delay;
    d = TapDelaySettings {};
    d.stereoIn = false;
    const float centre = time(at(p, 0x03));
    d.taps[0] = { 0, centre, 0.7f * unit(at(p, 0x07)), 0.7f * unit(at(p, 0x07)) };
    d.taps[1] = { 0, time(at(p, 0x04)), unit(at(p, 0x08)), 0 };
    d.taps[2] = { 0, time(at(p, 0x05)), 0, unit(at(p, 0x09)) };
    d.tapCount = 3;
    d.feedbackMs = { centre, centre };
    d.feedback = { feedback98(at(p, 0x06)), 0 };
    d.dampHz = gsHfDampHz(at(p, 0x0A));
    b.stage(Block::TapDelay);
    b.chainBalance(at(p, 0x12));
    b.close(p);
}
void threeTapDelay(P p, ChainSettings& c)
{
    threeTaps(p, c, gsDelayTime1Ms);
}
void delay3d(P p, ChainSettings& c)
{
    threeTaps(p, c, gsDelayTime1Ms);
}

void fourTapDelay(P p, ChainSettings& c)
{
    Build b { c };
    TapDelaySettings& d = c.delay;
    d = TapDelaySettings {};
    d.stereoIn = false;
    // Taps 1 and 3 to the left, 2 and 4 to the right, the first fed back.
    for (int t = 0; t < 4; ++t) {
        const float level = unit(at(p, 0x07 + t));
        d.taps[std::size_t(t)] = { 0, gsDelayTime1Ms(at(p, 0x03 + t)), t % 2 ? 0.3f * level : level,
            t % 2 ? level : 0.3f * level };
    }
    d.tapCount = 4;
    d.feedbackMs = { d.taps[0].ms, d.taps[0].ms };
    d.feedback = { feedback98(at(p, 0x0B)), 0 };
    d.dampHz = gsHfDampHz(at(p, 0x0C));
    b.stage(Block::TapDelay);
    b.chainBalance(at(p, 0x12));
    b.close(p);
}

void timeControlDelay(P p, ChainSettings& c)
{
    Build b { c };
    simpleDelay(c.delay, gsDelayTime2Ms(at(p, 0x03)), at(p, 0x05), at(p, 0x06));
    // Acceleration: how fast a new time is reached, so the pitch bends on the way.
    c.delay.glideMs = 2000.0f * std::exp2(-float(std::min<int>(at(p, 0x04) / 8, 15)) / 3.0f);
    b.stage(Block::TapDelay);
    b.chainBalance(at(p, 0x12));
    b.close(p);
    c.pan = centred(at(p, 0x07));
}

void reverb(P p, ChainSettings& c)
{
    Build b { c };
    // Room 1, Room 2, Stage 1, Stage 2, Hall 1, Hall 2: size and diffusion.
    constexpr std::array<std::array<float, 2>, 6> kTypes { { { 0.5f, 0.6f }, { 0.7f, 0.65f },
        { 1.0f, 0.7f }, { 1.2f, 0.7f }, { 1.5f, 0.8f }, { 1.8f, 0.8f } } };
    const auto& t = kTypes[std::min<std::size_t>(at(p, 0x03), 5)];
    const float time = unit(at(p, 0x05));
    c.reverb = ReverbSettings {};
    c.reverb.size = t[0];
    c.reverb.diffusion = t[1];
    c.reverb.timeS = (0.2f + 4.8f * time * time) * std::sqrt(t[0]);
    c.reverb.preDelayMs = gsPreDelayMs(at(p, 0x04));
    c.reverb.dampHz = gsHfDampHz(at(p, 0x06));
    c.reverb.early = 0.25f;
    b.stage(Block::Reverb);
    b.chainBalance(at(p, 0x12));
    b.close(p);
}

void gateReverb(P p, ChainSettings& c)
{
    Build b { c };
    c.gate.shape = static_cast<GateReverbSettings::Shape>(std::min<int>(at(p, 0x03), 3));
    c.gate.preDelayMs = gsPreDelayMs(at(p, 0x04));
    c.gate.gateMs = 5.0f * float(std::min<int>(at(p, 0x05), 63) + 1);
    b.stage(Block::GateReverb);
    b.chainBalance(at(p, 0x12));
    b.close(p);
}

// --- Pitch, 3D, lo-fi ------------------------------------------------------------------

constexpr std::array<float, 5> kShiftWindowMs { 15, 25, 40, 60, 80 };

float semitones(uint8_t coarse, uint8_t fine)
{
    return float(std::clamp(int(coarse) - 64, -24, 12))
        + float(std::clamp((int(fine) - 64) * 2, -100, 100)) / 100.0f;
}

void twoPitchShifter(P p, ChainSettings& c)
{
    Build b { c };
    PitchShiftSettings& s = c.pitch;
    s = PitchShiftSettings {};
    const float mix = float(at(p, 0x0C));
    s.voices[0] = { semitones(at(p, 0x03), at(p, 0x04)), gsPreDelayMs(at(p, 0x05)),
        centred(at(p, 0x06)), std::min(1.0f, (127 - mix) / 63.0f) };
    s.voices[1] = { semitones(at(p, 0x07), at(p, 0x08)), gsPreDelayMs(at(p, 0x09)),
        centred(at(p, 0x0A)), std::min(1.0f, mix / 64.0f) };
    s.voiceCount = 2;
    s.windowMs = kShiftWindowMs[std::min<std::size_t>(at(p, 0x0B), 4)];
    b.stage(Block::PitchShift);
    b.chainBalance(at(p, 0x12));
    b.close(p);
}

void feedbackPitchShifter(P p, ChainSettings& c)
{
    Build b { c };
    PitchShiftSettings& s = c.pitch;
    s = PitchShiftSettings {};
    s.voices[0] = { semitones(at(p, 0x03), at(p, 0x04)), gsPreDelayMs(at(p, 0x06)),
        centred(at(p, 0x08)), 1 };
    s.voiceCount = 1;
    s.feedback = feedback98(at(p, 0x05));
    s.windowMs = kShiftWindowMs[std::min<std::size_t>(at(p, 0x07), 4)];
    b.stage(Block::PitchShift);
    b.chainBalance(at(p, 0x12));
    b.close(p);
}

// The 3D types place the sound around the listener; through two speakers that is heard as
// a pan: turning (3D Auto) or set (3D Manual, azimuth 0x40 in front).
void auto3d(P p, ChainSettings& c)
{
    Build b { c };
    c.tremolo = { Lfo::Wave::Sine, gsRate1Hz(at(p, 0x04)), 1, true, 0 };
    b.stage(Block::Tremolo);
    c.level = unit(at(p, 0x16));
}

void manual3d(P p, ChainSettings& c)
{
    Build b { c };
    const float degrees = (float(std::clamp(int(at(p, 0x03)), 0, 127)) - 64.0f) * 180.0f / 64.0f;
    c.pan = std::sin(degrees * kPi / 180.0f);
    b.stage(Block::None);
    c.level = unit(at(p, 0x16));
}

void lofi1(P p, ChainSettings& c)
{
    Build b { c };
    constexpr std::array<std::array<float, 2>, 9> kTypes { { { 22050, 12 }, { 16000, 10 },
        { 11025, 9 }, { 8000, 8 }, { 11025, 6 }, { 8000, 6 }, { 6000, 5 }, { 4000, 5 },
        { 3000, 4 } } };
    constexpr std::array<float, 6> kFilters { 0, 8000, 6300, 5000, 4000, 3150 };
    const auto& t = kTypes[std::min<std::size_t>(at(p, 0x04), 8)];
    LoFiSettings& l = c.lofi;
    l = LoFiSettings {};
    l.rateHz = t[0];
    l.bits = t[1];
    l.preLowPassHz = kFilters[std::min<std::size_t>(at(p, 0x03), 5)];
    const float post = kFilters[std::min<std::size_t>(at(p, 0x05), 5)];
    l.post = post > 0 ? LoFiSettings::Filter::LowPass : LoFiSettings::Filter::None;
    l.postHz = post;
    b.stage(Block::LoFi);
    b.chainBalance(at(p, 0x12));
    b.close(p, true);
}

void lofi2(P p, ChainSettings& c)
{
    Build b { c };
    constexpr std::array<std::array<float, 2>, 6> kTypes { { { 11025, 10 }, { 8000, 8 },
        { 8000, 6 }, { 6000, 6 }, { 4000, 5 }, { 3000, 4 } } };
    constexpr std::array<float, 4> kDiscRate { 3, 6, 12, 8 };
    const auto& t = kTypes[std::min<std::size_t>(at(p, 0x03), 5)];
    LoFiSettings& l = c.lofi;
    l = LoFiSettings {};
    l.rateHz = t[0];
    l.bits = t[1];
    const uint8_t filter = at(p, 0x04);
    l.post = filter == 1 ? LoFiSettings::Filter::LowPass
        : filter == 2    ? LoFiSettings::Filter::HighPass
                         : LoFiSettings::Filter::None;
    l.postHz = gsCutoffHz(at(p, 0x05));
    l.hiss = std::max(unit(at(p, 0x07)) * unit(at(p, 0x06)), unit(at(p, 0x0A)));
    l.pinkHiss = at(p, 0x08) != 0;
    l.crackleRate = kDiscRate[std::min<std::size_t>(at(p, 0x0B), 3)];
    l.crackle = unit(at(p, 0x0D));
    l.humHz = at(p, 0x0E) ? 60.0f : 50.0f;
    l.hum = unit(at(p, 0x10));
    l.mono = at(p, 0x11) == 0;
    b.stage(Block::LoFi);
    b.chainBalance(at(p, 0x12));
    b.close(p, true);
}

// --- Series (02 xx): the first block fully, the second with its balance ------------

enum class First { Overdrive, Distortion, Enhancer };
enum class Second { Chorus, Flanger, Delay };

void firstBlock(P p, ChainSettings& c, Build& b, First first)
{
    if (first == First::Enhancer) {
        c.enhancer = { unit(at(p, 0x03)), unit(at(p, 0x04)) };
        b.stage(Block::Enhancer);
    } else {
        drive(c.drive[0], at(p, 0x03), at(p, 0x05), at(p, 0x06), first == First::Distortion,
            centred(at(p, 0x04)));
        b.stage(Block::Drive);
    }
}

void secondBlock(
    P p, ChainSettings& c, Build& b, Second second, int first = 0x08, uint8_t instance = 0)
{
    Stage* s = nullptr;
    switch (second) {
    case Second::Chorus:
        chorus(c.chorus[instance], at(p, first), at(p, first + 1), at(p, first + 2));
        s = &b.stage(Block::Chorus, instance);
        break;
    case Second::Flanger:
        flanger(
            c.chorus[instance], at(p, first), at(p, first + 1), at(p, first + 2), at(p, first + 3));
        s = &b.stage(Block::Chorus, instance);
        break;
    case Second::Delay:
        simpleDelay(c.delay, gsDelayTime3Ms(at(p, first)), at(p, first + 1), at(p, first + 2));
        s = &b.stage(Block::TapDelay);
        break;
    }
    b.stageBalance(*s, at(p, first + 4));
}

template <First F, Second S> void series(P p, ChainSettings& c)
{
    Build b { c };
    firstBlock(p, c, b, F);
    secondBlock(p, c, b, S);
    b.close(p);
}

template <Second A, Second B> void modulationSeries(P p, ChainSettings& c)
{
    Build b { c };
    secondBlock(p, c, b, A, 0x03, 0);
    secondBlock(p, c, b, B, 0x08, 1);
    b.close(p);
}

void rotaryMulti(P p, ChainSettings& c)
{
    Build b { c };
    if (at(p, 0x04)) {
        drive(c.drive[0], at(p, 0x03), 0, 0, false);
        b.stage(Block::Drive);
    }
    constexpr std::array<float, 5> kQ { 0.5f, 1, 2, 4, 9 };
    c.eq[0] = { Biquad::Kind::LowShelf, 400, 0.7f, gain12(at(p, 0x05)) };
    c.eq[1] = { Biquad::Kind::Peak, gsEqFreqHz(at(p, 0x06)),
        kQ[std::min<std::size_t>(at(p, 0x07), 4)], gain12(at(p, 0x08)) };
    c.eq[2] = { Biquad::Kind::HighShelf, 4000, 0.7f, gain12(at(p, 0x09)) };
    c.eqCount = 3;
    b.stage(Block::Eq);
    rotary(c.rotary, p, 0x0A, at(p, 0x13));
    b.stage(Block::Rotary);
    c.level = unit(at(p, 0x16));
}

// --- Side by side (11 xx): each block with its own balance, pan and level ----------

enum class Side { Chorus, Flanger, Delay, Overdrive, Rotary, Phaser, AutoWah };

/// One side: its parameters from @p first, its pan and level at @p panAt, @p panAt + 1.
void side(P p, ChainSettings& c, Build& b, Side kind, int first, int panAt, uint8_t instance)
{
    Stage* s = nullptr;
    switch (kind) {
    case Side::Chorus:
    case Side::Flanger:
    case Side::Delay:
        secondBlock(p, c, b,
            kind == Side::Chorus        ? Second::Chorus
                : kind == Side::Flanger ? Second::Flanger
                                        : Second::Delay,
            first, instance);
        s = &c.stages[std::size_t(c.stageCount - 1)];
        break;
    case Side::Overdrive:
        drive(c.drive[instance], at(p, first + 1), at(p, first + 2), at(p, first + 3),
            at(p, first) != 0);
        s = &b.stage(Block::Drive, instance);
        break;
    case Side::Rotary:
        rotary(c.rotary, p, first, at(p, first + 9));
        s = &b.stage(Block::Rotary);
        break;
    case Side::Phaser:
        phaser(c.phaser, at(p, first), gsRate1Hz(at(p, first + 1)), at(p, first + 2),
            at(p, first + 3), at(p, first + 4));
        s = &b.stage(Block::Phaser);
        break;
    case Side::AutoWah:
        autoWah(c.autoWah, at(p, first), at(p, first + 1), at(p, first + 2), at(p, first + 3),
            gsRate1Hz(at(p, first + 4)), at(p, first + 5), at(p, first + 6));
        s = &b.stage(Block::AutoWah);
        break;
    }
    s->pan = centred(at(p, panAt));
    s->level = unit(at(p, panAt + 1));
}

template <Side A, Side B> void parallel(P p, ChainSettings& c)
{
    Build b { c };
    c.layout = ChainSettings::Layout::Parallel;
    side(p, c, b, A, 0x03, 0x12, 0);
    side(p, c, b, B, 0x08, 0x14, 1);
    c.level = unit(at(p, 0x16));
}

struct GsType {
    uint8_t msb, lsb;
    const char* name;
    void (*build)(P, ChainSettings&);
};

constexpr GsType kTypes[] = {
    { 0x00, 0x00, "Thru", nullptr },
    { 0x01, 0x00, "Stereo-EQ", stereoEq },
    { 0x01, 0x01, "Spectrum", spectrum },
    { 0x01, 0x02, "Enhancer", enhancer },
    { 0x01, 0x03, "Humanizer", humanizer },
    { 0x01, 0x10, "Overdrive", overdrive },
    { 0x01, 0x11, "Distortion", distortion },
    { 0x01, 0x20, "Phaser", phaserType },
    { 0x01, 0x21, "Auto Wah", autoWahType },
    { 0x01, 0x22, "Rotary", rotaryType },
    { 0x01, 0x23, "Stereo Flanger", stereoFlanger },
    { 0x01, 0x24, "Step Flanger", stepFlanger },
    { 0x01, 0x25, "Tremolo", tremolo },
    { 0x01, 0x26, "Auto Pan", autoPan },
    { 0x01, 0x30, "Compressor", compressor },
    { 0x01, 0x31, "Limiter", limiter },
    { 0x01, 0x40, "Hexa Chorus", hexaChorus },
    { 0x01, 0x41, "Tremolo Chorus", tremoloChorus },
    { 0x01, 0x42, "Stereo Chorus", stereoChorus },
    { 0x01, 0x43, "Space D", spaceD },
    { 0x01, 0x44, "3D Chorus", chorus3d },
    { 0x01, 0x50, "Stereo Delay", stereoDelay },
    { 0x01, 0x51, "Modulation Delay", modDelay },
    { 0x01, 0x52, "3 Tap Delay", threeTapDelay },
    { 0x01, 0x53, "4 Tap Delay", fourTapDelay },
    { 0x01, 0x54, "Time Control Delay", timeControlDelay },
    { 0x01, 0x55, "Reverb", reverb },
    { 0x01, 0x56, "Gate Reverb", gateReverb },
    { 0x01, 0x57, "3D Delay", delay3d },
    { 0x01, 0x60, "2 Pitch Shifter", twoPitchShifter },
    { 0x01, 0x61, "Feedback Pitch Shifter", feedbackPitchShifter },
    { 0x01, 0x70, "3D Auto", auto3d },
    { 0x01, 0x71, "3D Manual", manual3d },
    { 0x01, 0x72, "Lo-Fi 1", lofi1 },
    { 0x01, 0x73, "Lo-Fi 2", lofi2 },
    { 0x02, 0x00, "Overdrive→Chorus", series<First::Overdrive, Second::Chorus> },
    { 0x02, 0x01, "Overdrive→Flanger", series<First::Overdrive, Second::Flanger> },
    { 0x02, 0x02, "Overdrive→Delay", series<First::Overdrive, Second::Delay> },
    { 0x02, 0x03, "Distortion→Chorus", series<First::Distortion, Second::Chorus> },
    { 0x02, 0x04, "Distortion→Flanger", series<First::Distortion, Second::Flanger> },
    { 0x02, 0x05, "Distortion→Delay", series<First::Distortion, Second::Delay> },
    { 0x02, 0x06, "Enhancer→Chorus", series<First::Enhancer, Second::Chorus> },
    { 0x02, 0x07, "Enhancer→Flanger", series<First::Enhancer, Second::Flanger> },
    { 0x02, 0x08, "Enhancer→Delay", series<First::Enhancer, Second::Delay> },
    { 0x02, 0x09, "Chorus→Delay", modulationSeries<Second::Chorus, Second::Delay> },
    { 0x02, 0x0A, "Flanger→Delay", modulationSeries<Second::Flanger, Second::Delay> },
    { 0x02, 0x0B, "Chorus→Flanger", modulationSeries<Second::Chorus, Second::Flanger> },
    { 0x03, 0x00, "Rotary Multi", rotaryMulti },
    { 0x04, 0x00, "GTR Multi 1", nullptr },
    { 0x04, 0x01, "GTR Multi 2", nullptr },
    { 0x04, 0x02, "GTR Multi 3", nullptr },
    { 0x04, 0x03, "Clean Gt Multi 1", nullptr },
    { 0x04, 0x04, "Clean Gt Multi 2", nullptr },
    { 0x04, 0x05, "Bass Multi", nullptr },
    { 0x04, 0x06, "Rhodes Multi", nullptr },
    { 0x05, 0x00, "Keyboard Multi", nullptr },
    { 0x11, 0x00, "Chorus/Delay", parallel<Side::Chorus, Side::Delay> },
    { 0x11, 0x01, "Flanger/Delay", parallel<Side::Flanger, Side::Delay> },
    { 0x11, 0x02, "Chorus/Flanger", parallel<Side::Chorus, Side::Flanger> },
    { 0x11, 0x03, "OD1/OD2", parallel<Side::Overdrive, Side::Overdrive> },
    { 0x11, 0x04, "OD/Rotary", parallel<Side::Overdrive, Side::Rotary> },
    { 0x11, 0x05, "OD/Phaser", parallel<Side::Overdrive, Side::Phaser> },
    { 0x11, 0x06, "OD/Auto Wah", parallel<Side::Overdrive, Side::AutoWah> },
    { 0x11, 0x07, "Phaser/Rotary", parallel<Side::Phaser, Side::Rotary> },
    { 0x11, 0x08, "Phaser/Auto Wah", parallel<Side::Phaser, Side::AutoWah> },
};

const GsType* find(uint8_t msb, uint8_t lsb)
{
    for (const GsType& t : kTypes) {
        if (t.msb == msb && t.lsb == lsb)
            return &t;
    }
    return nullptr;
}

} // namespace

void gsDelayChain(const GsDelayParams& p, ChainSettings& out)
{
    ChainSettings c;
    TapDelaySettings& d = c.delay;
    d.stereoIn = false;
    const float centre = gsDelayCentreMs(p.timeCentre);
    const float level = unit(p.level);
    d.taps[0] = { 0, centre, 0.7f * unit(p.levelCentre), 0.7f * unit(p.levelCentre) };
    d.taps[1] = { 0, centre * gsDelayRatio(p.ratioLeft), unit(p.levelLeft), 0 };
    d.taps[2] = { 0, centre * gsDelayRatio(p.ratioRight), 0, unit(p.levelRight) };
    d.tapCount = 3;
    d.feedbackMs = { centre, centre };
    d.feedback = { float(std::clamp(int(p.feedback) - 64, -64, 63)) / 64.0f * 0.98f, 0 };
    const int lpf = std::min<int>(p.preLpf, 7);
    d.preLpfHz = lpf ? 8000.0f * std::exp2(-0.5f * float(lpf - 1)) : 0.0f;
    c.stages[0].block = Block::TapDelay;
    c.stageCount = 1;
    c.dry = 0;
    c.wet = level;
    out = c;
}

bool gsEfxChain(uint8_t msb, uint8_t lsb, const GsEfxParams& p, ChainSettings& out)
{
    const GsType* t = find(msb, lsb);
    if (!t || !t->build)
        return false;
    ChainSettings c;
    t->build(p, c);
    out = c;
    return true;
}

const char* gsEfxName(uint8_t msb, uint8_t lsb)
{
    const GsType* t = find(msb, lsb);
    return t ? t->name : nullptr;
}

bool gsEfxBuilt(uint8_t msb, uint8_t lsb)
{
    const GsType* t = find(msb, lsb);
    return t && t->build;
}

} // namespace sequora::midi::effects
