#pragma once
// The audio callback's rest: with nothing to play and nothing sounding, the callback does
// not run the transport and the synthesiser again until a command comes. How it rests
// depends on whose thread calls it.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace sequora::midi {

class AudioRest {
public:
    enum class Mode {
        None, ///< a driver not known to take a pause: it streams on
        Hold, ///< the driver's own thread (PulseAudio, ALSA): it waits, the stream runs dry
        Skip, ///< JACK's process thread, which must never wait: silence at once, nothing run
    };

    /// Before the driver that calls back is opened.
    void setMode(Mode mode) { m_mode = mode; }

    /// The audio thread's, at the start of a period. With nothing to do since the last
    /// one: Hold waits here until a command comes; Skip returns false, and the period is
    /// silence without running anything. True: run the period.
    bool begin();
    /// The audio thread's, at the end of a period that ran: @p idle, nothing to play and
    /// nothing sounding, so the next may rest.
    void end(bool idle) { m_restNext = idle && m_mode != Mode::None; }

    /// A command came: a resting callback runs its next period.
    void wake();
    /// The callback rests and no command came since: nothing can change until one does.
    bool parked() const { return m_parkedAt.load() == m_wakes.load(); }
    /// For good: a resting callback lets the driver's thread end.
    void stop();

private:
    /// The audio thread waits while the transport has had no command since @p wakes.
    void hold(uint64_t wakes);

    static constexpr uint64_t kNotParked = ~uint64_t(0);
    Mode m_mode = Mode::None;
    bool m_restNext = false; ///< the audio thread's own: the last block found nothing to do
    uint64_t m_wakesSeen = 0; ///< the audio thread's own: m_wakes when its last block pulled
    std::atomic<uint64_t> m_wakes { 0 }; ///< commands so far; changed under m_mutex
    std::atomic<uint64_t> m_parkedAt { kNotParked }; ///< m_wakes the resting callback saw
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_stopping = false; ///< guarded by m_mutex
};

} // namespace sequora::midi
