#include "info/PartLevel.h"

#include <QColor>
#include <QPainter>

#include <algorithm>

namespace {

const QColor kUnlit(40, 40, 0);
const QColor kLit(128, 128, 0);
const QColor kLoud(200, 200, 40);
const QColor kPeak(255, 230, 80);
// The top quarter of the scale lights brighter, as a panel's last segments do.
constexpr int kLoudSegments = 4;

} // namespace

int PartLevel::segmentsFor(float level)
{
    // A level above zero lights at least one segment, so a soft note still shows.
    if (level <= 0.5f)
        return 0;
    return std::clamp(int(level * kSegments / kFullScale + 0.999f), 1, kSegments);
}

bool PartLevel::setLevel(int level, int elapsedMs)
{
    level = std::clamp(level, 0, kFullScale);
    const int oldLit = segmentsFor(float(m_level));
    const int oldPeak = segmentsFor(m_peak);
    m_level = level;
    if (float(level) >= m_peak) {
        m_peak = float(level);
        m_heldMs = 0;
    } else if ((m_heldMs += elapsedMs) > kPeakHoldMs) {
        m_peak = std::max(
            float(level), m_peak - float(kPeakFallPerSecond) * float(elapsedMs) / 1000.0f);
    }
    return segmentsFor(float(m_level)) != oldLit || segmentsFor(m_peak) != oldPeak;
}

bool PartLevel::clear()
{
    const bool shown = segmentsFor(float(m_level)) > 0 || segmentsFor(m_peak) > 0;
    m_level = 0;
    m_peak = 0;
    m_heldMs = 0;
    return shown;
}

void PartLevel::paint(QPainter& painter, const QRect& area) const
{
    const int pitch = std::max(2, area.width() / kSegments);
    const int lit = segmentsFor(float(m_level));
    const int peak = segmentsFor(m_peak);
    for (int i = 0; i < kSegments; ++i) {
        QColor colour = kUnlit;
        if (i + 1 == peak && peak > lit)
            colour = kPeak;
        else if (i < lit)
            colour = i >= kSegments - kLoudSegments ? kLoud : kLit;
        painter.fillRect(area.left() + i * pitch, area.top(), pitch - 1, area.height(), colour);
    }
}
