#pragma once
// Renders a song offline and measures what a listener would hear change: level, pitch,
// brightness, attack, reverb tail, stereo width, vibrato. Shared by the module tests.

#include "platform/midi/output/fluidsynth/OfflineRenderer.h"
#include "platform/midi/transport/Sequencer.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

namespace sequora::test {

struct Stereo {
    int rate = 44100;
    std::vector<float> left, right;

    std::size_t frames() const { return left.size(); }
    std::size_t at(double seconds) const { return std::min(frames(), std::size_t(std::max(0.0, seconds) * rate)); }
    double mid(std::size_t i) const { return (left[i] + right[i]) / 2.0; }
};

inline Stereo renderSong(const midi::Song& song, double seconds, const char* soundfont)
{
    Stereo out;
    std::string error;
    auto renderer = midi::OfflineRenderer::create(soundfont, out.rate, error);
    if (!renderer)
        return out;
    midi::OfflineRenderer* r = renderer.get();
    midi::Sequencer seq(std::move(renderer));
    seq.open(song);
    seq.play();
    out.left.resize(std::size_t(seconds * out.rate));
    out.right.resize(out.left.size());
    r->renderFloat(out.left.data(), out.right.data(), static_cast<uint32_t>(out.left.size()));
    return out;
}

inline double dbOf(double rms) { return rms > 1e-9 ? 20 * std::log10(rms) : -180.0; }

/// RMS of the middle between two times, dBFS.
inline double levelDb(const Stereo& s, double from = 0, double to = 1e9)
{
    double sum = 0;
    const std::size_t a = s.at(from), b = s.at(to);
    for (std::size_t i = a; i < b; ++i)
        sum += s.mid(i) * s.mid(i);
    return b > a ? dbOf(std::sqrt(sum / double(b - a))) : -180.0;
}

/// Sides against the middle, dB.
inline double widthDb(const Stereo& s, double from = 0, double to = 1e9)
{
    double mid = 0, side = 0;
    for (std::size_t i = s.at(from); i < s.at(to); ++i) {
        const double d = (s.left[i] - s.right[i]) / 2.0;
        side += d * d;
        mid += s.mid(i) * s.mid(i);
    }
    return dbOf(std::sqrt(side)) - dbOf(std::sqrt(mid));
}

/// The right channel against the left, dB.
inline double balanceDb(const Stereo& s, double from, double to)
{
    double l = 0, r = 0;
    for (std::size_t i = s.at(from); i < s.at(to); ++i) {
        l += double(s.left[i]) * s.left[i];
        r += double(s.right[i]) * s.right[i];
    }
    return dbOf(std::sqrt(r)) - dbOf(std::sqrt(l));
}

/// Mean frequency of the middle, Hz: the slope's energy against the signal's.
inline double centroidHz(const Stereo& s, double from, double to)
{
    double x2 = 0, d2 = 0;
    for (std::size_t i = s.at(from) + 1; i < s.at(to); ++i) {
        const double d = s.mid(i) - s.mid(i - 1);
        d2 += d * d;
        x2 += s.mid(i) * s.mid(i);
    }
    return x2 > 0 ? s.rate / (2 * std::numbers::pi) * std::sqrt(d2 / x2) : 0.0;
}

/// Fundamental of the middle around @p at, Hz, by autocorrelation (50 Hz to 2 kHz).
inline double pitchHz(const Stereo& s, double at, double length = 0.08)
{
    const std::size_t a = s.at(at), n = s.at(at + length) - a;
    const int minLag = s.rate / 2000, maxLag = s.rate / 50;
    if (n <= std::size_t(maxLag))
        return 0;
    std::vector<double> r(std::size_t(maxLag) + 2, 0.0);
    for (int lag = 0; lag <= maxLag + 1; ++lag) {
        for (std::size_t i = a; i + std::size_t(lag) < a + n; ++i)
            r[std::size_t(lag)] += s.mid(i) * s.mid(i + std::size_t(lag));
    }
    // The first peak near the highest one: octave errors would double the ratio.
    const double top = *std::max_element(r.begin() + minLag, r.end() - 1);
    for (int lag = minLag; lag <= maxLag; ++lag) {
        const std::size_t l = std::size_t(lag);
        if (r[l] > r[l - 1] && r[l] >= r[l + 1] && r[l] > 0.85 * top) {
            const double denom = r[l - 1] - 2 * r[l] + r[l + 1];
            const double shift = denom != 0 ? 0.5 * (r[l - 1] - r[l + 1]) / denom : 0;
            return s.rate / (lag + shift);
        }
    }
    return 0;
}

/// Half the spread of the pitch between two times, cents.
inline double vibratoCents(const Stereo& s, double from, double to)
{
    std::vector<double> track;
    for (double t = from; t + 0.03 < to; t += 0.01) {
        if (const double f = pitchHz(s, t, 0.03); f > 0)
            track.push_back(f);
    }
    if (track.empty())
        return 0;
    // Octave slips of the tracker are not vibrato: keep what lies near the median.
    std::vector<double> sorted = track;
    std::nth_element(sorted.begin(), sorted.begin() + long(sorted.size() / 2), sorted.end());
    const double median = sorted[sorted.size() / 2];
    double lo = median, hi = median;
    for (double f : track) {
        if (std::abs(1200 * std::log2(f / median)) < 400) {
            lo = std::min(lo, f);
            hi = std::max(hi, f);
        }
    }
    return 1200 * std::log2(hi / lo) / 2;
}

/// Seconds from @p from until the middle's 5 ms level first reaches @p fraction of its
/// highest.
inline double attackSeconds(const Stereo& s, double from, double to, double fraction = 0.9)
{
    const std::size_t block = std::size_t(s.rate / 200);
    std::vector<double> env;
    for (std::size_t i = s.at(from); i + block <= s.at(to); i += block) {
        double sum = 0;
        for (std::size_t j = i; j < i + block; ++j)
            sum += s.mid(j) * s.mid(j);
        env.push_back(std::sqrt(sum / double(block)));
    }
    if (env.empty())
        return 0;
    const double top = *std::max_element(env.begin(), env.end());
    for (std::size_t k = 0; k < env.size(); ++k) {
        if (env[k] >= fraction * top)
            return double(k) / 200.0;
    }
    return 0;
}

} // namespace sequora::test
