#pragma once
// One part's level as a module's front panel draws it: a row of segments lit up to the
// level the engine publishes (it jumps with each note-on and falls back by itself), and
// a peak mark that holds a moment above it, then follows it down.

#include <QRect>

class QPainter;

class PartLevel {
public:
    static constexpr int kSegments = 16;
    static constexpr int kFullScale = 127;
    /// How long the peak mark holds before it falls, and how fast it falls (of 127).
    static constexpr int kPeakHoldMs = 700;
    static constexpr int kPeakFallPerSecond = 120;

    /// The level now (0-127), @p elapsedMs after the last one given. Returns whether
    /// what is drawn changed.
    bool setLevel(int level, int elapsedMs);
    /// Silent: the level and the peak mark go. Returns whether what is drawn changed.
    bool clear();
    int level() const { return m_level; }
    int peak() const { return int(m_peak + 0.5f); }

    void paint(QPainter& painter, const QRect& area) const;

private:
    static int segmentsFor(float level);

    int m_level = 0;
    float m_peak = 0;
    int m_heldMs = 0;
};
