#include "platform/midi/transport/TempoScale.h"

namespace sequora::midi {

namespace {

constexpr int64_t kUsPerSecond = 1'000'000;

// Hours of song at a microsecond clock times the percentage overflow 64 bits.
using Wide = __int128;

int64_t divideRoundingUp(Wide n, Wide d)
{
    return static_cast<int64_t>(n >= 0 ? (n + d - 1) / d : n / d);
}

} // namespace

int64_t TempoScale::framesFor(int64_t songUs, int64_t rate) const
{
    const Wide n = Wide(songUs) * rate * kNormal;
    const Wide d = Wide(kUsPerSecond) * m_percent;
    return static_cast<int64_t>((n >= 0 ? n + d / 2 : n - d / 2) / d);
}

int64_t TempoScale::songUsFor(int64_t frames, int64_t rate) const
{
    return static_cast<int64_t>(Wide(frames) * kUsPerSecond * m_percent / (Wide(rate) * kNormal));
}

int64_t TempoScale::listenerUs(int64_t songUs) const
{
    return static_cast<int64_t>(Wide(songUs) * kNormal / m_percent);
}

int64_t TempoScale::songUs(int64_t listenerUs) const
{
    return divideRoundingUp(Wide(listenerUs) * m_percent, kNormal);
}

} // namespace sequora::midi
