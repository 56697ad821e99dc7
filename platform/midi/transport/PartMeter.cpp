#include "platform/midi/transport/PartMeter.h"

#include <algorithm>

namespace sequora::midi {

namespace {

constexpr int kFullScale = 127;
constexpr int64_t kUsPerSecond = 1'000'000;

} // namespace

void PartMeter::reset()
{
    m_parts.fill(Part {});
    m_struckAgeUs = 0;
}

void PartMeter::noteOn(int part, int key, int velocity, int volume, int expression, int64_t ageUs)
{
    Part& p = m_parts[part];
    p.used = true;
    set(p.down, key);
    clear(p.pedalled, key);
    if (ageUs < kStruckShownUs)
        set(p.struck, key);
    // As it has fallen since: blocks can be long (a test's clock, a stalled output).
    const float level
        = float(velocity) * float(volume) * float(expression) / float(kFullScale * kFullScale)
        - float(kFallPerSecond) * float(ageUs) / float(kUsPerSecond);
    p.level = std::max(p.level, level);
}

void PartMeter::noteOff(int part, int key)
{
    Part& p = m_parts[part];
    if (!test(p.down, key))
        return;
    clear(p.down, key);
    if (p.pedalDown)
        set(p.pedalled, key);
}

void PartMeter::pedal(int part, bool down)
{
    Part& p = m_parts[part];
    p.pedalDown = down;
    if (!down)
        p.pedalled = {};
}

void PartMeter::notesOff(int part)
{
    Part& p = m_parts[part];
    if (p.pedalDown) {
        p.pedalled[0] |= p.down[0];
        p.pedalled[1] |= p.down[1];
    }
    p.down = {};
}

void PartMeter::silence(int part)
{
    Part& p = m_parts[part];
    p.level = 0;
    p.down = p.pedalled = p.struck = p.struckBefore = {};
}

void PartMeter::silenceAll(bool ringing)
{
    for (Part& p : m_parts) {
        p.down = p.pedalled = {};
        p.pedalDown = false;
        if (!ringing) {
            p.level = 0;
            p.struck = p.struckBefore = {};
        }
    }
}

void PartMeter::advance(int64_t frames, int64_t rate)
{
    if (frames <= 0 || rate <= 0)
        return;
    const float fall = float(kFallPerSecond) * float(frames) / float(rate);
    for (Part& p : m_parts)
        p.level = std::max(0.0f, p.level - fall);
    // Two generations: a key struck just now is shown for one to two of them. A time
    // longer than one leaves nothing struck before it.
    const int64_t us = frames * kUsPerSecond / rate;
    m_struckAgeUs += us;
    if (m_struckAgeUs >= kStruckShownUs) {
        m_struckAgeUs = 0;
        for (Part& p : m_parts) {
            p.struckBefore = us >= kStruckShownUs ? Keys {} : p.struck;
            p.struck = {};
        }
    }
}

void PartMeter::fill(PartsView& view) const
{
    for (int i = 0; i < view.partCount && i < PartsView::kMaxParts; ++i) {
        const Part& p = m_parts[std::size_t(i)];
        PartView& v = view.parts[std::size_t(i)];
        v.level = static_cast<uint8_t>(std::clamp(p.level + 0.5f, 0.0f, float(kFullScale)));
        for (std::size_t w = 0; w < 2; ++w)
            v.keys[w] = p.down[w] | p.pedalled[w] | p.struck[w] | p.struckBefore[w];
        if (p.used)
            v.flags |= PartView::Used;
    }
}

} // namespace sequora::midi
