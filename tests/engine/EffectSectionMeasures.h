#pragma once
// What the effect section adds, measured on renders: an echo's lag, the harmonics of a
// near-sine, and how far a measure moves over a held note. Shared by the effect render
// tests and the mode probes.

#include "engine/EffectMeasures.h"

#include <functional>

namespace sequora::test {

/// 5 ms envelope of the middle, dB.
inline std::vector<double> envelope(const Stereo& s)
{
    const std::size_t w = std::size_t(s.rate / 200);
    std::vector<double> out;
    for (std::size_t i = 0; i + w <= s.frames(); i += w) {
        double sum = 0;
        for (std::size_t j = i; j < i + w; ++j)
            sum += s.mid(j) * s.mid(j);
        out.push_back(dbOf(std::sqrt(sum / double(w))));
    }
    return out;
}

/// The lag of the first echo 60 ms to 1.2 s after the click's own peak, ms: the first
/// place that stands 12 dB above the piece without the message, at its top. 0 for none.
inline double echoLag(const Stereo& base, const Stereo& with)
{
    const std::vector<double> a = envelope(base), b = envelope(with);
    const auto direct = std::size_t(std::max_element(b.begin(), b.begin() + 100) - b.begin());
    for (std::size_t i = direct + 12; i < std::min(b.size(), direct + 240); ++i) {
        if (b[i] - a[i] <= 12)
            continue;
        std::size_t top = i;
        for (std::size_t j = i; j < std::min(b.size(), i + 15); ++j) {
            if (b[j] > b[top])
                top = j;
        }
        return 5.0 * double(top - direct);
    }
    return 0;
}

/// The energy above one and a half times the fundamental against the whole, dB, over
/// 0.4-1.4 s: the harmonics, untouched by a little vibrato.
inline double harmonicsDb(const Stereo& s, double hz)
{
    // Two second-order high-passes (Butterworth) at 1.5 f0.
    const double w = 2 * std::numbers::pi * 1.5 * hz / s.rate,
                 alpha = std::sin(w) / (2 * std::sqrt(0.5));
    const double a0 = 1 + alpha, b0 = (1 + std::cos(w)) / 2 / a0, b1 = -(1 + std::cos(w)) / a0;
    const double a1 = -2 * std::cos(w) / a0, a2 = (1 - alpha) / a0;
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0, u1 = 0, u2 = 0, z1 = 0, z2 = 0, high = 0, total = 0;
    for (std::size_t i = s.at(0.2); i < s.at(1.4); ++i) {
        const double x = s.mid(i);
        const double y = b0 * x + b1 * x1 + b0 * x2 - a1 * y1 - a2 * y2;
        x2 = x1, x1 = x, y2 = y1, y1 = y;
        const double z = b0 * y + b1 * u1 + b0 * u2 - a1 * z1 - a2 * z2;
        u2 = u1, u1 = y, z2 = z1, z1 = z;
        if (i >= s.at(0.4)) {
            high += z * z;
            total += x * x;
        }
    }
    return 10 * std::log10(std::max(high, 1e-30) / std::max(total, 1e-30));
}

/// How far a measure of 20 ms windows moves over 0.5-2 s: max less min.
inline double swing(const Stereo& s, const std::function<double(const Stereo&, double, double)>& of)
{
    double lo = 1e9, hi = -1e9;
    for (double t = 0.5; t + 0.02 < 2.0; t += 0.01) {
        const double v = of(s, t, t + 0.02);
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    return hi - lo;
}

} // namespace sequora::test
