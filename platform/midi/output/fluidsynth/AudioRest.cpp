#include "platform/midi/output/fluidsynth/AudioRest.h"

namespace sequora::midi {

bool AudioRest::begin()
{
    uint64_t wakes = m_wakes.load(std::memory_order_acquire);
    if (m_restNext && wakes == m_wakesSeen) {
        // The last block found nothing to do and no command has come since.
        if (m_mode == Mode::Skip) {
            m_parkedAt.store(wakes);
            return false;
        }
        hold(wakes);
        wakes = m_wakes.load(std::memory_order_acquire);
    }
    m_parkedAt.store(kNotParked);
    m_wakesSeen = wakes; // what the commands so far queued, this block pulls
    return true;
}

void AudioRest::hold(uint64_t wakes)
{
    // The period just handed over was silence; the stream may run dry while the
    // transport has nothing to say. The next command wakes this at once.
    std::unique_lock lock(m_mutex);
    m_parkedAt.store(wakes);
    m_cv.wait(lock, [&] { return m_wakes.load() != wakes || m_stopping; });
}

void AudioRest::wake()
{
    {
        std::lock_guard lock(m_mutex);
        m_wakes.fetch_add(1, std::memory_order_acq_rel);
    }
    m_cv.notify_all();
}

void AudioRest::stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_cv.notify_all();
}

} // namespace sequora::midi
