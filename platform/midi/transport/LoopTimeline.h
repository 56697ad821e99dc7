#pragma once
// A song with a loop, played as a game's soundtrack CD plays it: the intro, the loop a
// number of times, then a pass that fades out and ends the song. The timeline maps the
// time a listener hears (played time) onto the song's own time, stretch by stretch.

#include "platform/midi/file/Song.h"

#include <cstdint>
#include <optional>

namespace sequora::midi {

/// How songs with a marked loop are played. Takes effect from the next open.
struct LoopPlayback {
    static constexpr int kMinLoops = 1;
    static constexpr int kMaxLoops = 9;
    static constexpr int kMaxFadeMs = 20'000;

    int loops = 2; ///< passes of the loop in all; 1 plays the file as written
    int fadeMs = 8000; ///< the fading pass after the last; 0: the file's own ending follows
    /// The same within the limits above.
    LoopPlayback clamped() const;
    bool operator==(const LoopPlayback&) const = default;
};

class LoopTimeline {
public:
    /// One stretch of played time over which the song runs straight on.
    struct Segment {
        int index = 0;
        int64_t offsetUs = 0; ///< played time minus song time
        int64_t endSongUs = 0; ///< the first song time after it: events from there on are not in it
        bool jumps = false; ///< at its end the song goes back to the loop start
    };

    /// Played time is song time.
    LoopTimeline() = default;
    LoopTimeline(const Song& song, LoopPlayback playback)
        : LoopTimeline(song.loop(), song.lengthUs(), playback)
    {
    }
    /// A song of @p songLengthUs with @p loop, if any.
    LoopTimeline(const std::optional<SongLoop>& loop, int64_t songLengthUs, LoopPlayback playback);

    /// Whether the loop is played more than once (else played time is song time).
    bool unrolled() const { return m_segments > 1; }
    int64_t lengthUs() const { return m_lengthUs; }
    int64_t loopStartUs() const { return m_loop.startUs; }

    /// The segment that plays at @p playedUs; a jump's instant belongs to the segment
    /// after it.
    Segment segmentAt(int64_t playedUs) const;
    Segment next(const Segment& s) const { return segment(s.index + 1); }
    int64_t songUs(int64_t playedUs) const { return playedUs - segmentAt(playedUs).offsetUs; }

    /// The fading pass, in played time: it ends the song.
    bool fades() const { return m_fadeUs > 0; }
    int64_t fadeStartUs() const { return m_lengthUs - m_fadeUs; }
    int64_t fadeLengthUs() const { return m_fadeUs; }

private:
    Segment segment(int index) const;

    SongLoop m_loop;
    int64_t m_songLengthUs = 0;
    int64_t m_lengthUs = 0;
    int64_t m_fadeUs = 0;
    int m_segments = 1;
};

} // namespace sequora::midi
