#include "platform/midi/output/NullOutput.h"

#include <algorithm>

namespace sequora::midi {

NullOutput::NullOutput()
{
    m_clock = std::make_unique<ClockThread>(kRate, [this](uint32_t frames) {
        return runBlock(frames, [](uint32_t) {});
    });
}

NullOutput::~NullOutput()
{
    m_clock.reset(); // stop the thread while this object is still whole
}

void ManualClockOutput::advance(int64_t ms)
{
    // Blocks of at most a second keep each block's offsets small.
    constexpr int64_t kStepMs = 1000;
    runBlock(0, [](uint32_t) {}); // commands queued while stopped
    while (ms > 0) {
        const int64_t step = std::min(ms, kStepMs);
        runBlock(static_cast<uint32_t>(step * (kRate / 1000)), [](uint32_t) {});
        ms -= step;
    }
}

} // namespace sequora::midi
