#include "platform/midi/output/ClockThread.h"

#include <algorithm>

namespace sequora::midi {

namespace {
// Frames per step at most, so a stall (a suspended machine) does not make one huge block.
constexpr int64_t kMaxFramesPerStep = 1 << 24;
} // namespace

ClockThread::ClockThread(int sampleRate, Step step, std::chrono::nanoseconds alreadyDue)
    : m_rate(sampleRate), m_step(std::move(step)), m_alreadyDue(alreadyDue), m_thread([this] { run(); })
{
}

ClockThread::~ClockThread()
{
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_cv.notify_one();
    m_thread.join();
}

void ClockThread::wake()
{
    {
        std::lock_guard lock(m_mutex);
        m_woken = true;
    }
    m_cv.notify_one();
}

void ClockThread::run()
{
    using Clock = std::chrono::steady_clock;
    // Frames are counted from a start time, not added up per wake-up, so sleeping late
    // never makes the clock drift.
    Clock::time_point start = Clock::now() - std::chrono::duration_cast<Clock::duration>(m_alreadyDue);
    int64_t framesDone = 0;
    std::unique_lock lock(m_mutex);
    while (!m_quit) {
        m_woken = false;
        const int64_t elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
        const int64_t due = elapsed * m_rate / 1'000'000'000;
        const int64_t frames = std::clamp<int64_t>(due - framesDone, 0, kMaxFramesPerStep);
        framesDone += frames;
        lock.unlock();
        const PullResult result = m_step(static_cast<uint32_t>(frames));
        lock.lock();
        if (m_quit)
            break;
        if (!result.playing) {
            m_cv.wait(lock, [this] { return m_woken || m_quit; });
            // Time spent stopped does not count: start afresh.
            start = Clock::now();
            framesDone = 0;
            continue;
        }
        auto sleep = std::chrono::duration_cast<Clock::duration>(kMaxSleep);
        if (result.framesToNext >= 0) {
            const auto toNext = std::chrono::nanoseconds((result.framesToNext + 1) * 1'000'000'000 / m_rate);
            sleep = std::min(sleep, std::chrono::duration_cast<Clock::duration>(toNext));
        }
        m_cv.wait_for(lock, sleep, [this] { return m_woken || m_quit; });
    }
}

} // namespace sequora::midi
