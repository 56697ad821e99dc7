#include "platform/midi/file/LoopMarks.h"

#include "platform/midi/file/TempoMap.h"

#include <algorithm>
#include <string_view>

namespace sequora::midi {

namespace {

constexpr uint8_t kMetaText = 0x01;
constexpr uint8_t kMetaMarker = 0x06;
// Longer texts are lyrics or comments, never a loop mark: no need to look at them.
constexpr uint32_t kLongestMark = 32;

enum class Mark { None, Start, End };

// "loopStart", "Loop Start", "LOOPEND ": letter case and blanks do not count, nor the
// NUL that some writers end their texts with.
Mark markOf(const uint8_t* data, uint32_t length)
{
    if (length > kLongestMark)
        return Mark::None;
    char folded[kLongestMark];
    std::size_t n = 0;
    for (uint32_t i = 0; i < length; ++i) {
        const uint8_t c = data[i];
        if (c == ' ' || c == '\t' || c == '\0')
            continue;
        folded[n++]
            = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : static_cast<char>(c);
    }
    const std::string_view text(folded, n);
    if (text == "loopstart")
        return Mark::Start;
    if (text == "loopend")
        return Mark::End;
    return Mark::None;
}

} // namespace

void LoopMarks::meta(int64_t tick, uint8_t type, const uint8_t* data, uint32_t length)
{
    if (type != kMetaMarker && type != kMetaText)
        return;
    switch (markOf(data, length)) {
    case Mark::Start:
        m_firstStart = std::min(m_firstStart, tick);
        break;
    case Mark::End:
        // A file holding thousands of them is junk; what it says first is kept.
        if (m_ends.size() < kMaxEnds && (m_ends.empty() || m_ends.back() != tick))
            m_ends.push_back(tick);
        break;
    case Mark::None:
        break;
    }
}

std::optional<SongLoop> LoopMarks::resolve(
    const TempoMap& map, int64_t endTick, int64_t ticksPerBeat) const
{
    if (m_firstStart != kNone || !m_ends.empty()) {
        if (std::optional<SongLoop> loop = fromMarkers(map, endTick, ticksPerBeat))
            return loop;
    }
    if (m_firstController != kNone)
        return checked(map, m_firstController, endTick, ticksPerBeat);
    return std::nullopt;
}

std::optional<SongLoop> LoopMarks::fromMarkers(
    const TempoMap& map, int64_t endTick, int64_t ticksPerBeat) const
{
    const int64_t start = m_firstStart == kNone ? 0 : m_firstStart;
    if (m_ends.empty())
        return checked(map, start, endTick, ticksPerBeat);
    int64_t end = kNone;
    for (int64_t tick : m_ends) {
        if (tick > start)
            end = std::min(end, tick);
    }
    if (end == kNone)
        return std::nullopt; // the end comes before the start: a broken mark
    return checked(map, start, std::min(end, endTick), ticksPerBeat);
}

std::optional<SongLoop> LoopMarks::checked(
    const TempoMap& map, int64_t startTick, int64_t endTick, int64_t ticksPerBeat)
{
    if (startTick >= endTick || endTick - startTick < ticksPerBeat)
        return std::nullopt;
    const SongLoop loop { map.timeUs(startTick), map.timeUs(endTick) };
    if (loop.lengthUs() < kMinLoopUs)
        return std::nullopt;
    return loop;
}

} // namespace sequora::midi
