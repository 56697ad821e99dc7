#include "info/PartLevel.h"

#include <QPainter>

#include <algorithm>

namespace {

const QColor kBackground(0, 0, 0);
const QColor kUnlit(40, 40, 0);
const QColor kLit(128, 128, 0);
const QColor kLoud(200, 200, 40);
const QColor kPeak(255, 230, 80);
// The top quarter of the scale lights brighter, as a panel's last segments do.
constexpr int kLoudSegments = 4;

} // namespace

PartLevel::PartLevel(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

int PartLevel::segmentsFor(float level)
{
    // A level above zero lights at least one segment, so a soft note still shows.
    if (level <= 0.5f)
        return 0;
    return std::clamp(int(level * kSegments / kFullScale + 0.999f), 1, kSegments);
}

void PartLevel::setLevel(int level, int elapsedMs)
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
    if (segmentsFor(float(m_level)) != oldLit || segmentsFor(m_peak) != oldPeak)
        update();
}

void PartLevel::clear()
{
    const bool shown = m_level > 0 || m_peak > 0.5f;
    m_level = 0;
    m_peak = 0;
    m_heldMs = 0;
    if (shown)
        update();
}

void PartLevel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), kBackground);
    const int pitch = std::max(2, width() / kSegments);
    const int lit = segmentsFor(float(m_level));
    const int peak = segmentsFor(m_peak);
    const int top = 2;
    const int height = std::max(1, this->height() - 2 * top);
    for (int i = 0; i < kSegments; ++i) {
        QColor colour = kUnlit;
        if (i + 1 == peak && peak > lit)
            colour = kPeak;
        else if (i < lit)
            colour = i >= kSegments - kLoudSegments ? kLoud : kLit;
        painter.fillRect(i * pitch, top, pitch - 1, height, colour);
    }
}
