#include "info/LcdPicture.h"

#include <QPainter>

namespace {

const QColor kPanel(178, 196, 96);
const QColor kDotOn(34, 40, 16);
const QColor kDotOff(160, 178, 86);
constexpr int kBorder = 3;

} // namespace

LcdPicture::LcdPicture(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void LcdPicture::setDots(const sequora::midi::ModuleDisplay& display)
{
    if (display.rows == m_display.rows)
        return;
    m_display.rows = display.rows;
    update();
}

void LcdPicture::paintEvent(QPaintEvent*)
{
    using sequora::midi::ModuleDisplay;
    QPainter painter(this);
    painter.fillRect(rect(), kPanel);
    const int side = std::min(width(), height()) - 2 * kBorder;
    const int pitch = std::max(1, side / ModuleDisplay::kDots);
    const int dot = std::max(1, pitch - 1); // a gap between dots, as on the glass
    const int left = (width() - pitch * ModuleDisplay::kDots) / 2;
    const int top = (height() - pitch * ModuleDisplay::kDots) / 2;
    for (int r = 0; r < ModuleDisplay::kDots; ++r) {
        for (int c = 0; c < ModuleDisplay::kDots; ++c) {
            painter.fillRect(left + c * pitch, top + r * pitch, dot, dot,
                m_display.dot(r, c) ? kDotOn : kDotOff);
        }
    }
}
