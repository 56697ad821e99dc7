#include "platform/midi/Sequencer.h"

#include "platform/midi/ChaseState.h"
#include "platform/midi/Output.h"

#include <algorithm>
#include <mutex>

namespace sequora::midi {

namespace {

constexpr int64_t kUsPerSecond = 1'000'000;
constexpr int64_t kUsPerMs = 1000;

} // namespace

// Position is kept as an anchor time (set by commands) plus the frames the output's clock
// has run since then; an event's frame is computed from the anchor each time, so nothing
// accumulates and there is no drift however long the piece.
struct Sequencer::Impl final : EventSource {
    explicit Impl(std::unique_ptr<Output> out) : output(std::move(out)) {}

    PullResult pull(uint32_t frames, Block& block) override;

    // All below guarded by mutex, except output (the commanding thread's own).
    int64_t frameOf(int64_t timeUs) const
    {
        return ((timeUs - anchorUs) * rate + kUsPerSecond / 2) / kUsPerSecond;
    }
    int64_t currentUs() const
    {
        int64_t us = anchorUs + framesRun * kUsPerSecond / rate;
        return state == TransportState::Playing ? std::min(us, stopUs) : us;
    }
    void moveTo(int64_t us)
    {
        anchorUs = us;
        framesRun = 0;
        const auto& events = song.events();
        next = std::lower_bound(events.begin(), events.end(), us,
                                [](const MidiEvent& e, int64_t t) { return e.timeUs < t; })
               - events.begin();
    }
    void halt(TransportState to)
    {
        anchorUs = currentUs();
        framesRun = 0;
        state = to;
    }

    std::unique_ptr<Output> output;
    mutable std::mutex mutex;
    Song song;
    TransportState state = TransportState::Closed;
    int64_t rate = 44100;
    int64_t anchorUs = 0;
    int64_t framesRun = 0;
    int64_t stopUs = 0;     ///< where playing ends: the length, or the end given to play()
    std::size_t next = 0;   ///< first event not yet dispatched
    ChaseState chase;       ///< what the output has been told up to the position
    Block pending;          ///< commands for the output, sent at the start of the next block
};

PullResult Sequencer::Impl::pull(uint32_t frames, Block& block)
{
    std::lock_guard lock(mutex);
    if (!pending.messages.empty()) {
        block.append(pending);
        pending.clear();
    }
    if (state != TransportState::Playing)
        return {};

    const int64_t blockStart = framesRun;
    const int64_t blockEnd = framesRun + frames;
    // The end belongs to the block that reaches it: everything up to it, the end
    // itself included, goes out in this block, at offsets up to `frames`.
    const int64_t endFrame = std::max(frameOf(stopUs), blockStart);
    const bool ending = endFrame <= blockEnd;
    const auto& events = song.events();
    while (next < events.size()) {
        const MidiEvent& e = events[next];
        if (e.timeUs > stopUs)
            break;
        const int64_t f = std::max(frameOf(e.timeUs), blockStart);
        if (f >= blockEnd && !ending)
            break;
        block.addEvent(song, e, static_cast<uint32_t>(f - blockStart));
        chase.apply(song, e);
        ++next;
    }
    if (ending) {
        block.add(OutMessage::Kind::Release, static_cast<uint32_t>(endFrame - blockStart));
        anchorUs = stopUs;
        framesRun = 0;
        state = TransportState::Stopped;
        return {};
    }
    framesRun = blockEnd;
    int64_t toNext = endFrame - blockEnd;
    if (next < events.size() && events[next].timeUs <= stopUs)
        toNext = std::min(toNext, std::max<int64_t>(0, frameOf(events[next].timeUs) - blockEnd));
    return {true, toNext};
}

Sequencer::Sequencer(std::unique_ptr<Output> output) : m_impl(std::make_unique<Impl>(std::move(output)))
{
    m_impl->rate = m_impl->output->sampleRate();
    m_impl->output->attach(m_impl.get());
}

Sequencer::~Sequencer()
{
    m_impl->output->attach(nullptr);
}

ReadResult Sequencer::open(const std::string& path)
{
    Song song;
    ReadResult result = Song::load(path, song);
    if (!result.playable()) {
        close();
        return result;
    }
    open(std::move(song));
    return result;
}

void Sequencer::open(Song song)
{
    Impl& d = *m_impl;
    {
        std::lock_guard lock(d.mutex);
        std::swap(d.song, song); // the old song is freed below, outside the lock
        d.state = TransportState::Stopped;
        d.stopUs = d.song.lengthUs();
        d.moveTo(0);
        d.chase.clear();
        d.pending.clear();
        d.pending.add(OutMessage::Kind::Silence);
        d.pending.add(OutMessage::Kind::Reset);
    }
    d.output->wake();
}

void Sequencer::close()
{
    Impl& d = *m_impl;
    Song old;
    {
        std::lock_guard lock(d.mutex);
        if (d.state == TransportState::Closed)
            return;
        std::swap(d.song, old);
        d.state = TransportState::Closed;
        d.moveTo(0);
        d.chase.clear();
        d.pending.clear();
        d.pending.add(OutMessage::Kind::Silence);
        d.pending.add(OutMessage::Kind::Reset);
    }
    d.output->wake();
}

bool Sequencer::isOpen() const
{
    std::lock_guard lock(m_impl->mutex);
    return m_impl->state != TransportState::Closed;
}

void Sequencer::play(int64_t endMs)
{
    Impl& d = *m_impl;
    {
        std::lock_guard lock(d.mutex);
        const int64_t lengthUs = d.song.lengthUs();
        const int64_t stopUs = endMs >= 0 ? std::min(endMs * kUsPerMs, lengthUs) : lengthUs;
        switch (d.state) {
        case TransportState::Closed:
            return;
        case TransportState::Playing:
            // Already playing: only where it ends may change.
            if (stopUs > d.currentUs())
                d.stopUs = stopUs;
            return;
        case TransportState::Stopped:
        case TransportState::Paused:
            if (stopUs <= d.anchorUs)
                return; // nothing to play: stays where it is, stopped
            d.stopUs = stopUs;
            d.state = TransportState::Playing;
            d.framesRun = 0;
            // Silence lifted the pedals (and may have reset the synth): restore the state.
            d.chase.emit(d.pending);
            break;
        }
    }
    d.output->wake();
}

void Sequencer::pause()
{
    Impl& d = *m_impl;
    {
        std::lock_guard lock(d.mutex);
        if (d.state != TransportState::Playing)
            return;
        d.halt(TransportState::Paused);
        d.pending.add(OutMessage::Kind::Silence);
    }
    d.output->wake();
}

void Sequencer::stop()
{
    Impl& d = *m_impl;
    {
        std::lock_guard lock(d.mutex);
        if (d.state == TransportState::Closed)
            return;
        if (d.state == TransportState::Playing)
            d.halt(TransportState::Stopped);
        d.state = TransportState::Stopped;
        d.pending.add(OutMessage::Kind::Silence);
    }
    d.output->wake();
}

void Sequencer::seek(int64_t ms)
{
    Impl& d = *m_impl;
    int64_t targetUs = 0;
    {
        std::lock_guard lock(d.mutex);
        if (d.state == TransportState::Closed)
            return;
        targetUs = std::clamp<int64_t>(ms, 0, d.song.lengthUs() / kUsPerMs) * kUsPerMs;
        if (ms >= d.song.lengthUs() / kUsPerMs)
            targetUs = d.song.lengthUs(); // the end is the end, to the microsecond
        d.state = TransportState::Stopped;
        d.moveTo(targetUs);
        d.pending.add(OutMessage::Kind::Silence);
        d.pending.add(OutMessage::Kind::Reset);
    }
    // The song changes only on this thread, so it can be read without the lock; the
    // scan of a long song then never holds up the output's clock.
    ChaseState chase;
    chase.scan(d.song, targetUs);
    {
        std::lock_guard lock(d.mutex);
        d.chase = std::move(chase);
        d.chase.emit(d.pending);
    }
    d.output->wake();
}

int64_t Sequencer::positionMs() const
{
    std::lock_guard lock(m_impl->mutex);
    return m_impl->state == TransportState::Closed ? 0 : m_impl->currentUs() / kUsPerMs;
}

int64_t Sequencer::lengthMs() const
{
    std::lock_guard lock(m_impl->mutex);
    return m_impl->song.lengthUs() / kUsPerMs;
}

TransportState Sequencer::state() const
{
    std::lock_guard lock(m_impl->mutex);
    return m_impl->state;
}

void Sequencer::setOutput(std::unique_ptr<Output> output)
{
    close();
    Impl& d = *m_impl;
    d.output->attach(nullptr);
    d.output = std::move(output);
    {
        std::lock_guard lock(d.mutex);
        d.rate = d.output->sampleRate();
        d.pending.clear();
    }
    d.output->attach(m_impl.get());
}

Output& Sequencer::output()
{
    return *m_impl->output;
}

} // namespace sequora::midi
