#pragma once
// A clock for outputs without an audio device: a thread that runs blocks of real time.
// While playing it wakes at the next event or every few milliseconds (so the position
// moves on smoothly); while stopped it sleeps until the transport wakes it.

#include "platform/midi/output/Output.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace sequora::midi {

class ClockThread {
public:
    /// Runs one block of the given number of frames and reports what comes next.
    using Step = std::function<PullResult(uint32_t frames)>;

    /// Longest sleep while playing: the position is never older than this.
    static constexpr std::chrono::milliseconds kMaxSleep{10};

    /// @p alreadyDue: time that counts as gone by before the clock starts (a clock taking
    /// over from another that stopped).
    ClockThread(int sampleRate, Step step, std::chrono::nanoseconds alreadyDue = {});
    ~ClockThread();
    ClockThread(const ClockThread&) = delete;
    ClockThread& operator=(const ClockThread&) = delete;

    void wake();

private:
    void run();

    const int m_rate;
    const Step m_step;
    const std::chrono::nanoseconds m_alreadyDue;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_woken = false;
    bool m_quit = false;
    std::thread m_thread; // last: starts once everything above is ready
};

} // namespace sequora::midi
