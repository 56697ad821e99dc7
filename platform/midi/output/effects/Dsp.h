#pragma once
// The small pieces every effect is made of: filters, delay lines, oscillators and an
// envelope follower. Memory is taken once, in prepare(); processing never allocates.
// Every state a signal can circle in is flushed to zero below the audible floor, so a
// feedback loop fading out does not fall into denormal numbers.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace sequora::midi::effects {

constexpr float kPi = std::numbers::pi_v<float>;
constexpr float kTwoPi = 2 * kPi;
/// Far below the last bit of 24-bit audio; states under it are set to zero.
constexpr float kFloor = 1e-15f;

inline float flush(float x)
{
    return std::abs(x) < kFloor ? 0.0f : x;
}
inline float dbToGain(float db)
{
    return std::pow(10.0f, db / 20.0f);
}
/// tanh by its [7/6] Pade approximant: within 1e-4 of it everywhere, at a fraction of its cost.
/// Past 4.97 the approximant overshoots 1, and tanh is within 1e-4 of 1 there anyway.
inline float fastTanh(float x)
{
    const float c = std::clamp(x, -4.97f, 4.97f);
    const float s = c * c;
    const float num = c * (135135.0f + s * (17325.0f + s * (378.0f + s)));
    const float den = 135135.0f + s * (62370.0f + s * (3150.0f + s * 28.0f));
    return std::clamp(num / den, -1.0f, 1.0f);
}
/// Smooth saturation, unity slope at zero, approaching +-1.
inline float softClip(float x)
{
    return fastTanh(x);
}
/// Keeps a value that may come from anywhere finite and in range.
inline float sane(float x, float lo, float hi)
{
    return std::isfinite(x) ? std::clamp(x, lo, hi) : lo;
}

/// First-order low- or high-pass (one pole, matched at DC/Nyquist).
class OnePole {
public:
    void setLowPass(float hz, float rate)
    {
        m_a = std::exp(-kTwoPi * sane(hz, 1.0f, rate * 0.49f) / rate);
        m_high = false;
    }
    void setHighPass(float hz, float rate)
    {
        setLowPass(hz, rate);
        m_high = true;
    }
    /// Passes everything (a filter switched off).
    void setBypass()
    {
        m_a = 0;
        m_high = false;
    }
    float process(float x)
    {
        m_z = flush(x + m_a * (m_z - x));
        return m_high ? x - m_z : m_z;
    }
    void reset() { m_z = 0; }

private:
    float m_a = 0;
    float m_z = 0;
    bool m_high = false;
};

/// Second-order section (transposed direct form II), coefficients after the well-known
/// audio-EQ cookbook formulas.
class Biquad {
public:
    enum class Kind { LowPass, HighPass, BandPass, Peak, LowShelf, HighShelf, AllPass };

    void set(Kind kind, float hz, float q, float gainDb, float rate);
    void setFlat() { m_b0 = 1, m_b1 = m_b2 = m_a1 = m_a2 = 0; }
    float process(float x)
    {
        const float y = m_b0 * x + m_z1;
        m_z1 = flush(m_b1 * x - m_a1 * y + m_z2);
        m_z2 = flush(m_b2 * x - m_a2 * y);
        return y;
    }
    void reset() { m_z1 = m_z2 = 0; }

private:
    float m_b0 = 1, m_b1 = 0, m_b2 = 0, m_a1 = 0, m_a2 = 0;
    float m_z1 = 0, m_z2 = 0;
};

/// A ring of samples read at any delay up to its capacity, with linear interpolation.
class DelayLine {
public:
    /// Takes the memory for @p maxSamples of delay.
    void prepare(int maxSamples)
    {
        std::size_t size = 1;
        while (size < std::size_t(std::max(maxSamples, 1)) + 2)
            size <<= 1;
        m_buffer.assign(size, 0.0f);
        m_mask = size - 1;
        m_write = 0;
    }
    void reset() { std::fill(m_buffer.begin(), m_buffer.end(), 0.0f); }
    int capacity() const { return static_cast<int>(m_mask) - 1; }
    void push(float x)
    {
        m_write = (m_write + 1) & m_mask;
        m_buffer[m_write] = flush(x);
    }
    /// A delay in whole samples and the fraction between them.
    struct Position {
        std::size_t whole = 0;
        float frac = 0;
    };
    /// @p delay samples ago, clamped to the capacity: worked out once for a delay that
    /// holds still over a block.
    Position position(float delay) const
    {
        const float d = std::clamp(delay, 0.0f, float(capacity()));
        const auto whole = static_cast<std::size_t>(d);
        return { whole, d - float(whole) };
    }
    float read(Position p) const
    {
        const float a = m_buffer[(m_write - p.whole) & m_mask];
        const float b = m_buffer[(m_write - p.whole - 1) & m_mask];
        return a + p.frac * (b - a);
    }
    /// The sample pushed @p delay samples ago (0: the last one), clamped to the capacity.
    float read(float delay) const { return read(position(delay)); }

private:
    std::vector<float> m_buffer;
    std::size_t m_mask = 0;
    std::size_t m_write = 0;
};

/// A low-frequency oscillator, phase in cycles.
class Lfo {
public:
    enum class Wave { Sine, Triangle, Square, SawUp, SawDown };

    void setRate(float hz, float rate) { m_step = sane(hz, 0.0f, 50.0f) / rate; }
    void setWave(Wave w) { m_wave = w; }
    void setPhase(float cycles) { m_phase = cycles - std::floor(cycles); }
    float phase() const { return m_phase; }
    /// The value at the current phase offset by @p offset cycles, -1..1; then advances.
    float next(float offset = 0)
    {
        const float v = valueAt(m_phase + offset);
        m_phase += m_step;
        if (m_phase >= 1)
            m_phase -= 1;
        return v;
    }
    float valueAt(float cycles) const
    {
        const float p = cycles - std::floor(cycles);
        switch (m_wave) {
        case Wave::Sine:
            return std::sin(kTwoPi * p);
        case Wave::Triangle:
            return p < 0.5f ? 4 * p - 1 : 3 - 4 * p;
        case Wave::Square:
            return p < 0.5f ? 1.0f : -1.0f;
        case Wave::SawUp:
            return 2 * p - 1;
        case Wave::SawDown:
            return 1 - 2 * p;
        }
        return 0;
    }

private:
    Wave m_wave = Wave::Sine;
    float m_phase = 0;
    float m_step = 0;
};

/// Follows the level of a signal: fast up, slower down.
class EnvelopeFollower {
public:
    void set(float attackMs, float releaseMs, float rate)
    {
        m_attack = std::exp(-1.0f / (std::max(attackMs, 0.01f) * 0.001f * rate));
        m_release = std::exp(-1.0f / (std::max(releaseMs, 0.01f) * 0.001f * rate));
    }
    float process(float x)
    {
        const float a = std::abs(x);
        const float k = a > m_env ? m_attack : m_release;
        m_env = flush(a + k * (m_env - a));
        return m_env;
    }
    void reset() { m_env = 0; }

private:
    float m_attack = 0, m_release = 0, m_env = 0;
};

/// A value that glides to its target over a few milliseconds, so that moving a delay
/// time or a gain does not click.
class Glide {
public:
    void set(float milliseconds, float rate)
    {
        m_k = std::exp(-1.0f / (std::max(milliseconds, 0.01f) * 0.001f * rate));
    }
    void jump(float v) { m_value = m_target = v; }
    void target(float v) { m_target = v; }
    /// Whether the value has come within @p tolerance of its target; then it is there.
    bool settle(float tolerance)
    {
        if (std::abs(m_value - m_target) >= tolerance)
            return false;
        m_value = m_target;
        return true;
    }
    float next()
    {
        m_value = m_target + m_k * (m_value - m_target);
        return m_value;
    }
    float value() const { return m_value; }

private:
    float m_k = 0, m_value = 0, m_target = 0;
};

} // namespace sequora::midi::effects
