#include "info/PartMeters.h"

#include <QPaintEvent>
#include <QPainter>

PartMeters::PartMeters(
    int rows, int pitch, int rowHeight, int levelWidth, int keysLeft, QWidget* parent)
    : QWidget(parent)
    , m_pitch(pitch)
    , m_rowHeight(rowHeight)
    , m_levelWidth(levelWidth)
    , m_keysLeft(keysLeft)
    , m_levels(rows)
    , m_keys(rows)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_keyboard = QPixmap(KeyStrip::keyboardWidth(), rowHeight);
    QPainter board(&m_keyboard);
    KeyStrip::paintKeyboard(board, m_keyboard.rect());
}

QRect PartMeters::levelRect(int row) const
{
    return QRect(0, row * m_pitch + 2, m_levelWidth, m_rowHeight - 4);
}

QRect PartMeters::keysRect(int row) const
{
    return QRect(m_keysLeft, row * m_pitch, KeyStrip::keyboardWidth(), m_rowHeight);
}

void PartMeters::setRow(int row, int level, const KeyStrip::Keys& keys, int elapsedMs)
{
    if (m_levels[row].setLevel(level, elapsedMs))
        update(levelRect(row));
    if (keys != m_keys[row]) {
        m_keys[row] = keys;
        update(keysRect(row));
    }
}

void PartMeters::silence()
{
    for (int row = 0; row < m_levels.size(); ++row) {
        if (m_levels[row].clear())
            update(levelRect(row));
        if (m_keys[row] != KeyStrip::Keys {}) {
            m_keys[row] = {};
            update(keysRect(row));
        }
    }
}

void PartMeters::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.fillRect(event->rect(), Qt::black);
    for (int row = 0; row < m_levels.size(); ++row) {
        if (event->region().intersects(levelRect(row)))
            m_levels[row].paint(painter, levelRect(row));
        const QRect keys = keysRect(row);
        if (event->region().intersects(keys)) {
            painter.drawPixmap(keys.topLeft(), m_keyboard);
            KeyStrip::paintSounding(painter, keys, m_keys[row]);
        }
    }
}
