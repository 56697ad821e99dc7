#include "platform/midi/output/effects/Drive.h"

namespace sequora::midi::effects {

namespace {

// Drive 0 still gives 12 dB into the curve, 1 gives 60 dB: parts come out of the synth
// some 15-25 dB under full scale, and even a little drive should be heard.
constexpr float kMinDriveDb = 12;
constexpr float kDriveRangeDb = 48;
// What leaves the curve tops out near 1, whatever the drive and however loud the part:
// its level is brought back to the part's own over a phrase (slow followers of both
// powers), so a quiet part through the effect stays a quiet part and the type's Level
// alone sets what it gives out. Slow enough that a held note keeps the curve's sustain.
constexpr float kFollowHz = 0.5f;
// The offset the curve leaves while it saturates (the bias below) is no sound: a
// coupling capacitor's worth of high-pass takes it away.
constexpr float kDcBlockHz = 20;
constexpr float kPowerFloor = 1e-10f; ///< -100 dB
// A little offset makes the overdrive asymmetric, so even harmonics come too, as from a
// tube stage; taken off again after the curve.
constexpr float kBias = 0.15f;
constexpr int kGainEvery = 16;

struct AmpShape {
    float highPassHz;
    float lowPassHz;
    float bodyHz, bodyDb; ///< low shelf: the cabinet's weight
    float presenceHz, presenceDb;
};

// Larger amps reach lower and brighter; the small one is boxy and mid-heavy.
constexpr std::array<AmpShape, 5> kAmps { {
    { 30, 9000, 200, 0, 2000, 0 }, // off: only the curve
    { 180, 3200, 250, -2, 1200, 4 }, // small
    { 110, 4200, 200, 0, 1800, 3 }, // built-in
    { 80, 5000, 150, 3, 2200, 2 }, // two-stack
    { 60, 5600, 120, 5, 2500, 3 }, // three-stack
} };

} // namespace

void Drive::set(const DriveSettings& s)
{
    m_s = s;
    const float drive = sane(s.drive, 0.0f, 1.0f);
    m_gain = dbToGain(kMinDriveDb + drive * kDriveRangeDb + (s.hard ? 6.0f : 0.0f));
    m_dcBlock.setHighPass(kDcBlockHz, m_rate);
    m_inPower.setLowPass(kFollowHz, m_rate);
    m_outPower.setLowPass(kFollowHz, m_rate);
    const float pan = 0.5f + 0.5f * sane(s.pan, -1.0f, 1.0f);
    m_panL = std::cos(pan * kPi / 2) * std::sqrt(2.0f);
    m_panR = std::sin(pan * kPi / 2) * std::sqrt(2.0f);
    const AmpShape& amp = kAmps[static_cast<std::size_t>(s.amp)];
    m_inputHighPass.setHighPass(amp.highPassHz, m_rate);
    m_smooth.setLowPass(std::min(12000.0f, m_rate * 0.4f), m_rate);
    m_cabinet[0].set(Biquad::Kind::LowPass, amp.lowPassHz, 0.8f, 0, m_rate);
    m_cabinet[1].set(Biquad::Kind::LowShelf, amp.bodyHz, 0.7f, amp.bodyDb, m_rate);
    m_cabinet[2].set(Biquad::Kind::Peak, amp.presenceHz, 0.9f, amp.presenceDb, m_rate);
    if (s.toneHz > 0)
        m_tone.setLowPass(s.toneHz, m_rate);
    else
        m_tone.setBypass();
}

void Drive::process(float* left, float* right, int frames)
{
    for (int n = 0; n < frames; ++n) {
        const float x = 0.5f * (left[n] + right[n]);
        float y = m_dcBlock.process(shape(m_inputHighPass.process(x) * m_gain));
        y = m_smooth.process(y);
        for (Biquad& f : m_cabinet)
            y = f.process(y);
        y = m_tone.process(y);
        // Silence on both sides leaves the ratio at one, not at whatever noise gives. The
        // followers move over seconds: their ratio is taken afresh every few samples.
        const float in = m_inPower.process(x * x) + kPowerFloor;
        const float out = m_outPower.process(y * y) + kPowerFloor;
        if ((n & (kGainEvery - 1)) == 0)
            m_level = std::sqrt(in / out);
        y *= m_level;
        left[n] = y * m_panL;
        right[n] = y * m_panR;
    }
}

float Drive::shape(float x) const
{
    if (m_s.hard) {
        // Clipping with a short knee: a square-ish wave at high drive.
        const float c = std::clamp(x, -1.5f, 1.5f);
        return c - c * c * c / 6.75f;
    }
    return fastTanh(x + kBias) - fastTanh(kBias);
}

void Drive::reset()
{
    m_level = 1;
    m_inputHighPass.reset();
    m_dcBlock.reset();
    m_inPower.reset();
    m_outPower.reset();
    m_smooth.reset();
    for (Biquad& f : m_cabinet)
        f.reset();
    m_tone.reset();
}

void Enhancer::set(const EnhancerSettings& s)
{
    const float sens = sane(s.sens, 0.0f, 1.0f);
    m_mix = sane(s.mix, 0.0f, 1.0f);
    // More sensitivity: the enhanced range starts lower (5 kHz down to 1.2 kHz) and is
    // driven harder.
    const float hz = 5000.0f * std::exp2(-2.0f * sens);
    m_drive = 2.0f + 14.0f * sens;
    // A first-order split: the range added back never turns against the sound below it.
    for (OnePole& f : m_band)
        f.setHighPass(hz, m_rate);
}

void Enhancer::process(float* left, float* right, int frames)
{
    float* io[2] = { left, right };
    for (int c = 0; c < 2; ++c) {
        for (int n = 0; n < frames; ++n) {
            const float x = io[c][n];
            // The upper range through a curve: itself when quiet, its odd harmonics too
            // when it is strong. Symmetric, so no tone falls below the range.
            const float high = m_band[c].process(x);
            io[c][n] = x + m_mix * 1.5f * softClip(high * m_drive) / m_drive;
        }
    }
}

void Enhancer::reset()
{
    for (OnePole& f : m_band)
        f.reset();
}

} // namespace sequora::midi::effects
