#include "platform/midi/transport/LoopTimeline.h"

#include <algorithm>

namespace sequora::midi {

namespace {
constexpr int64_t kUsPerMs = 1000;
}

LoopPlayback LoopPlayback::clamped() const
{
    return { std::clamp(loops, kMinLoops, kMaxLoops), std::clamp(fadeMs, 0, kMaxFadeMs) };
}

LoopTimeline::LoopTimeline(
    const std::optional<SongLoop>& loop, int64_t songLengthUs, LoopPlayback playback)
{
    playback = playback.clamped();
    m_songLengthUs = songLengthUs;
    m_lengthUs = m_songLengthUs;
    if (!loop || playback.loops <= 1)
        return;
    m_loop = *loop;
    const int64_t length = m_loop.lengthUs();
    // The passes after the first each add a loop; the fading pass goes on looping for as
    // long as the fade lasts, or else the file's own ending follows the last pass.
    m_fadeUs = playback.fadeMs * kUsPerMs;
    const int64_t repeats = playback.loops - 1;
    if (m_fadeUs > 0) {
        m_lengthUs = m_loop.endUs + repeats * length + m_fadeUs;
        m_segments = playback.loops + static_cast<int>((m_fadeUs + length - 1) / length);
    } else {
        m_lengthUs = m_songLengthUs + repeats * length;
        m_segments = playback.loops;
    }
}

LoopTimeline::Segment LoopTimeline::segment(int index) const
{
    // A stretch that runs to the song's end takes the events at its very end too.
    if (!unrolled())
        return { 0, 0, m_songLengthUs + 1, false };
    index = std::clamp(index, 0, m_segments - 1);
    const bool last = index == m_segments - 1;
    Segment s;
    s.index = index;
    s.offsetUs = index * m_loop.lengthUs();
    s.jumps = !last;
    s.endSongUs = last && !fades() ? m_songLengthUs + 1 : m_loop.endUs;
    return s;
}

LoopTimeline::Segment LoopTimeline::segmentAt(int64_t playedUs) const
{
    if (!unrolled() || playedUs < m_loop.endUs)
        return segment(0);
    const int64_t passes = (playedUs - m_loop.endUs) / m_loop.lengthUs();
    return segment(static_cast<int>(std::min<int64_t>(1 + passes, m_segments - 1)));
}

} // namespace sequora::midi
