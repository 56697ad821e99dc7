#include "info/KeyStrip.h"

#include <QPainter>

namespace {

constexpr int kKeys = 128;
constexpr int kWhiteKeys = 75; // of keys 0-127
// Which of the twelve is black, and each one's white keys before it in the octave.
constexpr bool kBlack[12]
    = { false, true, false, true, false, false, true, false, true, false, true, false };
constexpr int kWhitesBefore[12] = { 0, 1, 1, 2, 2, 3, 4, 4, 5, 5, 6, 6 };
constexpr int kWhitesPerOctave = 7;

// Dim keys on the display's black, each C a little lighter to find the octaves by; the
// sounding keys in the display's brightest colours.
const QColor kWhite(52, 52, 36);
const QColor kWhiteC(80, 80, 52);
const QColor kBlackKey(0, 0, 0);
const QColor kGap(0, 0, 0);
const QColor kSounding(240, 220, 70);
const QColor kSoundingBlack(255, 160, 40);

bool sounds(const KeyStrip::Keys& keys, int key)
{
    return (keys[std::size_t(key >> 6)] >> (key & 63)) & 1;
}

} // namespace

int KeyStrip::keyboardWidth()
{
    return kWhiteKeys * kWhiteKeyWidth;
}

KeyStrip::KeyStrip(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QRect KeyStrip::keyRect(int key, int height)
{
    const int octave = key / 12;
    const int note = key % 12;
    const int whiteIndex = octave * kWhitesPerOctave + kWhitesBefore[note];
    if (!kBlack[note])
        return QRect(whiteIndex * kWhiteKeyWidth, 0, kWhiteKeyWidth - 1, height);
    // Centred on the line between two white keys, over the upper three fifths.
    return QRect(whiteIndex * kWhiteKeyWidth - 1, 0, 2, height * 3 / 5);
}

void KeyStrip::setKeys(const Keys& keys)
{
    if (keys == m_keys)
        return;
    m_keys = keys;
    update();
}

void KeyStrip::resizeEvent(QResizeEvent*)
{
    m_keyboard = QPixmap();
}

void KeyStrip::paintEvent(QPaintEvent*)
{
    if (m_keyboard.isNull()) {
        m_keyboard = QPixmap(size());
        QPainter board(&m_keyboard);
        board.fillRect(rect(), kGap);
        for (int key = 0; key < kKeys; ++key) {
            if (!kBlack[key % 12])
                board.fillRect(keyRect(key, height()), key % 12 == 0 ? kWhiteC : kWhite);
        }
        for (int key = 0; key < kKeys; ++key) {
            if (kBlack[key % 12])
                board.fillRect(keyRect(key, height()), kBlackKey);
        }
    }
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_keyboard);
    if (m_keys == Keys {})
        return;
    // White keys first, so a black one lit beside them stays on top.
    for (bool black : { false, true }) {
        for (int key = 0; key < kKeys; ++key) {
            if (kBlack[key % 12] == black && sounds(m_keys, key))
                painter.fillRect(keyRect(key, height()), black ? kSoundingBlack : kSounding);
        }
    }
}
