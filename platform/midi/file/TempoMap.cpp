#include "platform/midi/file/TempoMap.h"

#include <algorithm>

namespace sequora::midi {

namespace {
constexpr uint64_t kUsPerSecond = 1000000;
constexpr int kDropFrameFps = 29; // stored as -29 in the header, runs at 30000/1001
} // namespace

TempoMap::TempoMap(uint32_t ticksPerQuarter)
    : TempoMap(kDefaultTempo, ticksPerQuarter == 0 ? 1 : ticksPerQuarter)
{
}

TempoMap::TempoMap(uint64_t rate, uint64_t denominator)
    : m_denominator(denominator)
{
    m_segments.push_back({0, 0, rate});
}

TempoMap TempoMap::smpte(int framesPerSecond, uint32_t ticksPerFrame)
{
    const uint64_t tpf = ticksPerFrame == 0 ? 1 : ticksPerFrame;
    // One tick lasts 1e6 / (fps * tpf) microseconds; 29.97 fps is 30000/1001.
    TempoMap map = framesPerSecond == kDropFrameFps
                       ? TempoMap(kUsPerSecond * 1001, 30000 * tpf)
                       : TempoMap(kUsPerSecond, uint64_t(framesPerSecond > 0 ? framesPerSecond : 1) * tpf);
    map.m_fixed = true;
    return map;
}

void TempoMap::addTempo(int64_t tick, uint32_t usPerQuarter)
{
    if (m_fixed || usPerQuarter == 0)
        return;
    Segment& last = m_segments.back();
    if (tick <= last.tick) {
        last.rate = usPerQuarter;
        return;
    }
    const Wide base = last.base + Wide(uint64_t(tick - last.tick)) * last.rate;
    m_segments.push_back({tick, base, usPerQuarter});
}

int64_t TempoMap::timeIn(const Segment& s, int64_t tick) const
{
    const uint64_t span = tick > s.tick ? uint64_t(tick - s.tick) : 0;
    const Wide scaled = s.base + Wide(span) * s.rate;
    // The 64-bit division is much cheaper than the 128-bit one and covers real songs.
    const Wide q = (scaled >> 64) == 0 ? Wide(uint64_t(scaled) / m_denominator) : scaled / m_denominator;
    return q > Wide(kMaxTimeUs) ? kMaxTimeUs : int64_t(q);
}

int64_t TempoMap::timeUs(int64_t tick) const
{
    auto it = std::upper_bound(m_segments.begin(), m_segments.end(), tick,
                               [](int64_t t, const Segment& s) { return t < s.tick; });
    return timeIn(it == m_segments.begin() ? *it : *(it - 1), tick);
}

int64_t TempoMap::Cursor::advance(int64_t tick)
{
    const auto& segs = m_map.m_segments;
    if (tick < m_lastTick)
        m_segment = 0; // out of order: start over, still correct
    while (m_segment + 1 < segs.size() && segs[m_segment + 1].tick <= tick)
        ++m_segment;
    m_lastTick = tick;
    m_lastTime = m_map.timeIn(segs[m_segment], tick);
    return m_lastTime;
}

} // namespace sequora::midi
