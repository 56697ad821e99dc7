#pragma once
// A look-ahead peak limiter for the synthesiser's stereo output. The signal is delayed by
// a millisecond and a half; the gain that each sample needs is known before it leaves,
// and the gain ramps down to it over the look-ahead, so no sample ever leaves above the
// ceiling and nothing clicks. Material that already fits passes through bit for bit,
// only delayed. Fixed buffers: nothing is allocated or locked while processing.

#include <array>
#include <cstdint>

namespace sequora::midi {

class Limiter {
public:
    /// Largest sample that leaves the limiter: -0.5 dBFS. What the gain aims at sits a
    /// hair above a rounding step of 16-bit audio (30933.52 of 32767), so that the
    /// loudest samples of a limited passage do not round to one value in a row: a run
    /// at the peak reads as a flat top.
    static constexpr float kCeiling = 0.9440544f;
    static constexpr double kLookaheadSeconds = 0.0015;
    static constexpr double kReleaseSeconds = 0.15;
    /// Upper bound of the look-ahead in frames, for rates up to 192 kHz.
    static constexpr int kMaxLookahead = 512;

    explicit Limiter(int sampleRate);

    /// Frames by which the output lags the input.
    int lookahead() const { return m_lookahead; }
    /// Limits @p frames frames of @p left and @p right in place; what comes out is what
    /// went in lookahead() frames earlier.
    void process(float* left, float* right, int frames);
    /// Forgets the signal and any gain reduction: the next sample starts from silence.
    void reset();
    /// The gain applied to the last sample that left (1 when nothing is being limited).
    float gain() const { return m_lastGain; }

private:
    float nextGain(float peak);

    int m_lookahead = 0;
    double m_releaseCoeff = 0;
    int64_t m_index = 0; ///< samples so far
    int m_pos = 0; ///< m_index modulo the look-ahead

    // The input, delayed by the look-ahead.
    std::array<float, kMaxLookahead> m_delayLeft {};
    std::array<float, kMaxLookahead> m_delayRight {};

    // Sliding minimum of the gain each sample needs, over the look-ahead plus one
    // (a queue of increasing gains in a ring).
    std::array<float, kMaxLookahead + 1> m_minGain {};
    std::array<int64_t, kMaxLookahead + 1> m_minIndex {};
    int m_minHead = 0;
    int m_minCount = 0;

    double m_envelope
        = 1; ///< the minimum, released slowly back towards 1 (a float would stall short of it)

    // Moving average of the envelope over the look-ahead: the ramp.
    std::array<float, kMaxLookahead> m_ramp {};
    double m_rampSum = 0;
    int m_rampBelowOne = 0; ///< entries under 1: none means the gain is exactly 1
    float m_lastGain = 1;
};

} // namespace sequora::midi
