#pragma once
// The listener's tempo: the song plays at a percentage of its own speed. The transport
// keeps the song's own time and converts where time meets the outside: the output's
// frames, and the position and length it reports (a 3-minute song at 50 % lasts 6).

#include <cstdint>

namespace sequora::midi {

class TempoScale {
public:
    static constexpr int kNormal = 100;
    static constexpr int kMinPercent = 50;
    static constexpr int kMaxPercent = 200;

    static bool valid(int percent) { return percent >= kMinPercent && percent <= kMaxPercent; }

    TempoScale() = default;
    /// @p percent must be valid().
    explicit TempoScale(int percent)
        : m_percent(percent)
    {
    }

    int percent() const { return m_percent; }

    /// Frames of a clock running at @p rate that @p songUs of the song take, to the nearest.
    int64_t framesFor(int64_t songUs, int64_t rate) const;
    /// Song microseconds played in @p frames of that clock, rounded down.
    int64_t songUsFor(int64_t frames, int64_t rate) const;
    /// The listener's time of a song time, rounded down.
    int64_t listenerUs(int64_t songUs) const;
    /// The song time of a listener's time, rounded up, so that
    /// listenerUs(songUs(t)) >= t: a seek or an end given in listener's time is reached.
    int64_t songUs(int64_t listenerUs) const;

    bool operator==(const TempoScale&) const = default;

private:
    int m_percent = kNormal;
};

} // namespace sequora::midi
