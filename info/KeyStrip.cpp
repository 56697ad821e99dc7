#include "info/KeyStrip.h"

#include <QColor>
#include <QPainter>

namespace KeyStrip {

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

bool sounds(const Keys& keys, int key)
{
    return (keys[std::size_t(key >> 6)] >> (key & 63)) & 1;
}

QRect keyRect(const QRect& area, int key)
{
    const int octave = key / 12;
    const int note = key % 12;
    const int x = area.left() + (octave * kWhitesPerOctave + kWhitesBefore[note]) * kWhiteKeyWidth;
    if (!kBlack[note])
        return QRect(x, area.top(), kWhiteKeyWidth - 1, area.height());
    // Centred on the line between two white keys, over the upper three fifths.
    return QRect(x - 1, area.top(), 2, area.height() * 3 / 5);
}

} // namespace

int keyboardWidth()
{
    return kWhiteKeys * kWhiteKeyWidth;
}

void paintKeyboard(QPainter& painter, const QRect& area)
{
    painter.fillRect(area, kGap);
    for (int key = 0; key < kKeys; ++key) {
        if (!kBlack[key % 12])
            painter.fillRect(keyRect(area, key), key % 12 == 0 ? kWhiteC : kWhite);
    }
    for (int key = 0; key < kKeys; ++key) {
        if (kBlack[key % 12])
            painter.fillRect(keyRect(area, key), kBlackKey);
    }
}

void paintSounding(QPainter& painter, const QRect& area, const Keys& keys)
{
    // White keys first, so a black one lit beside them stays on top.
    for (bool black : { false, true }) {
        for (int key = 0; key < kKeys; ++key) {
            if (kBlack[key % 12] == black && sounds(keys, key))
                painter.fillRect(keyRect(area, key), black ? kSoundingBlack : kSounding);
        }
    }
}

} // namespace KeyStrip
