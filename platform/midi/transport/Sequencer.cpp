#include "platform/midi/transport/Sequencer.h"

#include "platform/midi/transport/PartFilter.h"
#include "platform/midi/output/Output.h"
#include "platform/midi/transport/ChaseState.h"
#include "platform/midi/transport/LoopJump.h"
#include "platform/midi/transport/LoopTimeline.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <utility>

namespace sequora::midi {

namespace {

constexpr int64_t kUsPerSecond = 1'000'000;
constexpr int64_t kUsPerMs = 1000;
// A seek scans from the nearest chased state kept this many events before it, so that
// even a song of millions of events is chased in a fraction of an audio period.
constexpr std::size_t kCheckpointEvents = 8192;

} // namespace

// Position is kept as an anchor time (set by commands) plus the frames the output's clock
// has run since then; an event's frame is computed from the anchor each time, so nothing
// accumulates and there is no drift however long the piece. What is reported is what is
// heard: the clock less the output's latency. Status queries read a copy published under
// the lock, so they never wait for the output's clock. Times are played times: with a
// loop unrolled, the timeline says where in the song each stretch of them lies.
struct Sequencer::Impl final : EventSource {
    explicit Impl(std::unique_ptr<Output> out) : output(std::move(out)) {}

    PullResult pull(uint32_t frames, Block& block) override;
    PullResult pullLocked(uint32_t frames, Block& block);
    void strikeAgain() override
    {
        std::lock_guard lock(mutex);
        restrike = true;
    }

    // All below guarded by mutex, except output (the commanding thread's own).
    int64_t frameOf(int64_t timeUs) const { return tempo.framesFor(timeUs - anchorUs, rate); }
    /// Where the output's clock is: what has been dispatched.
    int64_t clockUs() const
    {
        int64_t us = anchorUs + tempo.songUsFor(framesRun, rate);
        return state == TransportState::Playing ? std::min(us, stopUs) : us;
    }
    /// Where the listener is. Stopping or pausing lets the output play out what it
    /// holds, so only while playing does the clock run ahead.
    int64_t heardUs() const
    {
        if (state != TransportState::Playing)
            return anchorUs;
        if (retimed.active && framesRun < latency) // still hearing the old tempo
            return std::min(retimed.heardUs + retimed.tempo.songUsFor(framesRun, rate), anchorUs);
        const int64_t frames = std::max<int64_t>(0, framesRun - latency);
        return std::min(anchorUs + tempo.songUsFor(frames, rate), stopUs);
    }
    void moveTo(int64_t us)
    {
        anchorUs = us;
        framesRun = 0;
        ending = false;
        segment = timeline.segmentAt(us);
        const auto& events = song.events();
        next = std::lower_bound(events.begin(), events.end(), us - segment.offsetUs,
                   [](const MidiEvent& e, int64_t t) { return e.timeUs < t; })
            - events.begin();
    }
    /// Playing on from @p atUs within the fading pass: the output takes up its level there.
    void resumeFade(Block& out, int64_t atUs) const
    {
        if (timeline.fades() && atUs > timeline.fadeStartUs())
            addFade(out, atUs, 0);
    }
    void addFade(Block& out, int64_t atUs, uint32_t frame) const
    {
        auto frames = [this](int64_t us) {
            return static_cast<uint32_t>((us * rate + kUsPerSecond / 2) / kUsPerSecond);
        };
        out.addFade(frames(atUs - timeline.fadeStartUs()), frames(timeline.fadeLengthUs()), frame);
    }
    void halt(TransportState to)
    {
        anchorUs = clockUs();
        framesRun = 0;
        ending = false;
        state = to;
    }
    void stopAtEnd()
    {
        anchorUs = stopUs;
        framesRun = 0;
        ending = false;
        state = TransportState::Stopped;
    }
    /// Call after every change, under the lock.
    void publish()
    {
        shownState.store(state);
        shownUs.store(state == TransportState::Closed ? 0 : tempo.listenerUs(heardUs()));
        shownLengthUs.store(tempo.listenerUs(timeline.lengthUs()));
    }
    /// The parts as the output's side now has them; call under the lock.
    void publishParts()
    {
        PartsView view;
        view.partCount = song.usesSecondPort() ? PartsView::kMaxParts : PartsView::kPartsPerPort;
        view.serial = ++partsSerial;
        parts.fill(view);
        shownParts.write(view);
    }
    /// A new tempo goes on from the clock's position; what is already on its way to the
    /// listener keeps the old one.
    void retime(const TempoScale& next)
    {
        if (state == TransportState::Playing) {
            retimed = {heardUs(), tempo, true};
            anchorUs = clockUs();
            framesRun = 0;
        }
        tempo = next;
    }
    /// Once the end is dispatched: plays on until the end is heard.
    PullResult untilHeard(int64_t endFrame)
    {
        const int64_t heardEnd = endFrame + latency;
        if (framesRun >= heardEnd) {
            stopAtEnd();
            return {};
        }
        ending = true;
        return {true, heardEnd - framesRun};
    }

    std::unique_ptr<Output> output;
    mutable std::mutex mutex;
    Song song;
    TransportState state = TransportState::Closed;
    int64_t rate = 44100;
    int64_t latency = 0;    ///< the output's, in frames
    int64_t anchorUs = 0;
    int64_t framesRun = 0;
    int64_t stopUs = 0;     ///< where playing ends: the length, or the end given to play()
    bool ending = false;    ///< everything up to stopUs is out; its sound is on its way
    std::size_t next = 0;   ///< first event not yet dispatched
    LoopTimeline timeline; ///< the song's loop unrolled, or played time is song time
    LoopTimeline::Segment segment; ///< the stretch of the timeline being dispatched
    LoopJump jump; ///< the jump back to the loop start
    LoopPlayback loopPlayback; ///< for the next open
    ChaseState chase;       ///< what the output has been told up to the position
    Block pending;          ///< commands for the output, sent at the start of the next block
    bool restrike = false;  ///< the output lost its notes: strike them again on the next pull
    TempoScale tempo;       ///< the listener's: song time to the output's frames
    struct Retimed {
        int64_t heardUs = 0; ///< where the listener was when the tempo changed
        TempoScale tempo;    ///< the tempo before
        bool active = false; ///< the anchor is where the tempo changed, while playing
    } retimed;
    PartFilter parts;       ///< the listener's mute, solo and key; the parts' meter
    bool followingParts = true;
    uint32_t partsSerial = 0;

    /// The chased state before every kCheckpointEvents-th event of the song: the
    /// commanding thread's own, like the song itself.
    std::vector<std::pair<std::size_t, ChaseState>> checkpoints;

    std::atomic<TransportState> shownState{TransportState::Closed};
    std::atomic<int64_t> shownUs{0};
    std::atomic<int64_t> shownLengthUs{0};
    PartsSnapshot shownParts;
};

PullResult Sequencer::Impl::pull(uint32_t frames, Block& block)
{
    std::lock_guard lock(mutex);
    const PullResult result = pullLocked(frames, block);
    if (followingParts || !parts.passive())
        parts.apply(block, frames, rate);
    if (followingParts)
        publishParts();
    return result;
}

PullResult Sequencer::Impl::pullLocked(uint32_t frames, Block& block)
{
    // Ahead of the commands queued since, so that a seek's silence comes after it (a play
    // strikes its notes again itself, and a key struck twice only starts again).
    if (std::exchange(restrike, false) && state == TransportState::Playing && !ending) {
        chase.emit(block);
        chase.emitNotes(block);
        resumeFade(block, clockUs());
    }
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
    const int64_t endFrame = std::max(frameOf(stopUs), ending ? int64_t(0) : blockStart);
    if (ending) {
        framesRun = blockEnd;
        const PullResult result = untilHeard(endFrame);
        publish();
        return result;
    }
    const bool reachesEnd = endFrame <= blockEnd;
    const auto& events = song.events();
    // Where in this block something at @p atUs goes, if it is due in it.
    auto place = [&](int64_t atUs, uint32_t& offset) {
        const int64_t f = std::max(frameOf(atUs), blockStart);
        if (atUs > stopUs || (f >= blockEnd && !reachesEnd))
            return false;
        offset = static_cast<uint32_t>(f - blockStart);
        return true;
    };
    bool fadeDue = timeline.fades() && frameOf(timeline.fadeStartUs()) >= blockStart;
    auto fadeUpTo = [&](int64_t atUs) {
        uint32_t offset = 0;
        if (fadeDue && timeline.fadeStartUs() <= atUs && place(timeline.fadeStartUs(), offset)) {
            addFade(block, timeline.fadeStartUs(), offset);
            fadeDue = false;
        }
    };
    // The song's events in order, and at the end of a stretch that loops, the jump back.
    for (;;) {
        const bool inStretch = next < events.size() && events[next].timeUs < segment.endSongUs;
        if (!inStretch && !segment.jumps)
            break;
        const int64_t at = (inStretch ? events[next].timeUs : segment.endSongUs) + segment.offsetUs;
        fadeUpTo(at);
        uint32_t offset = 0;
        if (!place(at, offset))
            break;
        if (inStretch) {
            block.addEvent(song, events[next], offset);
            chase.apply(song, events[next]);
            ++next;
        } else {
            jump.apply(chase, block, offset);
            segment = timeline.next(segment);
            next = jump.firstEvent();
        }
    }
    fadeUpTo(stopUs);
    framesRun = blockEnd;
    if (reachesEnd) {
        block.add(OutMessage::Kind::Release, static_cast<uint32_t>(endFrame - blockStart));
        const PullResult result = untilHeard(endFrame);
        publish();
        return result;
    }
    publish();
    int64_t toNext = endFrame - blockEnd;
    int64_t nextUs = segment.jumps ? segment.endSongUs + segment.offsetUs : stopUs;
    if (next < events.size())
        nextUs = std::min(nextUs, events[next].timeUs + segment.offsetUs);
    if (fadeDue)
        nextUs = std::min(nextUs, timeline.fadeStartUs());
    if (nextUs <= stopUs)
        toNext = std::min(toNext, std::max<int64_t>(0, frameOf(nextUs) - blockEnd));
    return {true, toNext};
}

Sequencer::Sequencer(std::unique_ptr<Output> output) : m_impl(std::make_unique<Impl>(std::move(output)))
{
    m_impl->rate = m_impl->output->sampleRate();
    m_impl->latency = m_impl->output->latencyFrames();
    m_impl->publishParts();
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
    d.output->prepare(&song);
    std::vector<std::pair<std::size_t, ChaseState>> checkpoints;
    LoopTimeline timeline(song, d.loopPlayback);
    LoopJump jump;
    {
        ChaseState state;
        const auto& events = song.events();
        bool jumpReady = !timeline.unrolled();
        for (std::size_t i = 0; i < events.size(); ++i) {
            if (i > 0 && i % kCheckpointEvents == 0)
                checkpoints.emplace_back(i, state);
            if (!jumpReady && events[i].timeUs >= timeline.loopStartUs()) {
                jump.prepare(song, state, i);
                jumpReady = true;
            }
            state.apply(song, events[i]);
        }
        if (!jumpReady)
            jump.prepare(song, state, events.size());
    }
    std::swap(d.checkpoints, checkpoints);
    {
        std::lock_guard lock(d.mutex);
        std::swap(d.song, song); // the old song is freed below, outside the lock
        std::swap(d.jump, jump);
        d.timeline = timeline;
        d.state = TransportState::Stopped;
        d.stopUs = d.timeline.lengthUs();
        d.moveTo(0);
        d.chase.clear();
        d.pending.clear();
        d.pending.add(OutMessage::Kind::Silence);
        d.pending.add(OutMessage::Kind::Reset);
        d.parts.newSong();
        d.publish();
        d.publishParts();
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
        d.timeline = LoopTimeline();
        d.jump.clear();
        d.moveTo(0);
        d.chase.clear();
        d.pending.clear();
        d.pending.add(OutMessage::Kind::Silence);
        d.pending.add(OutMessage::Kind::Reset);
        d.publish();
        d.parts.newSong();
        d.publishParts();
    }
    d.checkpoints.clear();
    d.output->prepare(nullptr);
    d.output->wake();
}

bool Sequencer::isOpen() const
{
    return m_impl->shownState.load() != TransportState::Closed;
}

void Sequencer::play(int64_t endMs)
{
    Impl& d = *m_impl;
    {
        std::lock_guard lock(d.mutex);
        const int64_t lengthUs = d.timeline.lengthUs();
        const int64_t stopUs
            = endMs >= 0 ? std::min(d.tempo.songUs(endMs * kUsPerMs), lengthUs) : lengthUs;
        switch (d.state) {
        case TransportState::Closed:
            return;
        case TransportState::Playing:
            // Already playing: only where it ends may change, and not to before what
            // has gone out already.
            if (stopUs > d.clockUs()) {
                if (d.ending) {
                    // The old end went out and the clock ran on past it: go on from
                    // there as a new play would, rather than sending what lies in
                    // between all at once.
                    d.anchorUs = d.stopUs;
                    d.framesRun = 0;
                    d.ending = false;
                    d.chase.emit(d.pending);
                    d.chase.emitNotes(d.pending);
                    d.resumeFade(d.pending, d.anchorUs);
                }
                d.stopUs = stopUs;
                d.publish();
            }
            return;
        case TransportState::Stopped:
        case TransportState::Paused:
            if (stopUs <= d.anchorUs)
                return; // nothing to play: stays where it is, stopped
            d.stopUs = stopUs;
            d.state = TransportState::Playing;
            d.framesRun = 0;
            d.retimed.active = false;
            // Silence lifted the pedals and ended the notes (and may have reset the
            // synth): restore the state, and strike again what would still be sounding.
            d.chase.emit(d.pending);
            d.chase.emitNotes(d.pending);
            d.resumeFade(d.pending, d.anchorUs);
            d.publish();
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
        // In the last moment, with the end already out, the song is over: it stops there.
        d.halt(d.ending ? TransportState::Stopped : TransportState::Paused);
        d.pending.add(OutMessage::Kind::Silence);
        d.publish();
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
        d.publish();
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
        const int64_t lengthMs = d.tempo.listenerUs(d.timeline.lengthUs()) / kUsPerMs;
        targetUs = d.tempo.songUs(std::clamp<int64_t>(ms, 0, lengthMs) * kUsPerMs);
        if (ms >= lengthMs)
            targetUs = d.timeline.lengthUs(); // the end is the end, to the microsecond
    }
    seekUs(targetUs);
}

void Sequencer::seekUs(int64_t targetUs)
{
    Impl& d = *m_impl;
    {
        std::lock_guard lock(d.mutex);
        d.state = TransportState::Stopped;
        d.moveTo(targetUs);
        d.pending.add(OutMessage::Kind::Silence);
        d.pending.add(OutMessage::Kind::Reset);
        d.publish();
    }
    // The song changes only on this thread, so it can be read without the lock; the
    // scan of a long song then never holds up the output's clock. A point in a later
    // pass of a loop sounds as the same point of the first.
    targetUs = d.timeline.songUs(targetUs);
    ChaseState chase;
    std::size_t from = 0;
    const auto& events = d.song.events();
    for (auto it = d.checkpoints.rbegin(); it != d.checkpoints.rend(); ++it) {
        if (events[it->first - 1].timeUs < targetUs) {
            chase = it->second;
            from = it->first;
            break;
        }
    }
    chase.scanFrom(d.song, from, targetUs);
    {
        std::lock_guard lock(d.mutex);
        d.chase = std::move(chase);
        d.chase.emit(d.pending);
    }
    d.output->wake();
}

void Sequencer::setLoopPlayback(const LoopPlayback& playback)
{
    m_impl->loopPlayback = playback.clamped();
}

LoopPlayback Sequencer::loopPlayback() const
{
    return m_impl->loopPlayback;
}

int64_t Sequencer::positionMs() const
{
    return m_impl->shownUs.load() / kUsPerMs;
}

int64_t Sequencer::lengthMs() const
{
    return m_impl->shownLengthUs.load() / kUsPerMs;
}

TransportState Sequencer::state() const
{
    return m_impl->shownState.load();
}

std::unique_ptr<Output> Sequencer::replaceOutput(std::unique_ptr<Output> output)
{
    Impl& d = *m_impl;
    TransportState was = TransportState::Closed;
    int64_t atUs = 0;
    int64_t endUs = 0;
    {
        std::lock_guard lock(d.mutex);
        was = d.state;
        atUs = d.heardUs();
        endUs = d.stopUs;
    }
    d.output->attach(nullptr);
    std::unique_ptr<Output> old = std::exchange(d.output, std::move(output));
    {
        std::lock_guard lock(d.mutex);
        d.rate = d.output->sampleRate();
        d.latency = d.output->latencyFrames();
        d.pending.clear();
    }
    d.output->prepare(was == TransportState::Closed ? nullptr : &d.song);
    d.output->attach(m_impl.get());
    if (was == TransportState::Closed) {
        d.output->wake();
        return old;
    }
    // Back where the listener was, with what sounded there: a playing song plays on to
    // the same end, a paused one waits to be resumed, a stopped one stays.
    seekUs(atUs);
    if (was == TransportState::Playing) {
        std::lock_guard lock(d.mutex);
        if (endUs > d.anchorUs) {
            d.stopUs = endUs;
            d.state = TransportState::Playing;
            d.framesRun = 0;
            d.chase.emitNotes(d.pending);
            d.publish();
        }
    } else if (was == TransportState::Paused) {
        std::lock_guard lock(d.mutex);
        d.state = TransportState::Paused;
        d.publish();
    }
    d.output->wake();
    return old;
}

ListenerSettings Sequencer::listening() const
{
    std::lock_guard lock(m_impl->mutex);
    return m_impl->parts.settings();
}

bool Sequencer::setListening(const ListenerSettings& next)
{
    if (!next.valid())
        return false;
    Impl& d = *m_impl;
    {
        std::lock_guard lock(d.mutex);
        if (next.tempoPercent != d.tempo.percent())
            d.retime(TempoScale(next.tempoPercent));
        d.parts.change(next, d.chase, d.state == TransportState::Playing && !d.ending, d.pending);
        d.publish();
        d.publishParts();
    }
    d.output->wake();
    return true;
}

int Sequencer::partCount() const
{
    std::lock_guard lock(m_impl->mutex);
    return m_impl->song.usesSecondPort() ? PartsView::kMaxParts : PartsView::kPartsPerPort;
}

bool Sequencer::readParts(PartsView& out) const
{
    return m_impl->shownParts.read(out);
}

void Sequencer::setFollowingParts(bool on)
{
    std::lock_guard lock(m_impl->mutex);
    m_impl->followingParts = on;
}

std::string Sequencer::instrumentName(const PartView& part) const
{
    return m_impl->output->instrumentName({part.has(PartView::Drum), part.bank, part.program});
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
        d.latency = d.output->latencyFrames();
        d.pending.clear();
    }
    d.output->attach(m_impl.get());
}

Output& Sequencer::output()
{
    return *m_impl->output;
}

} // namespace sequora::midi
