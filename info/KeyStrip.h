#pragma once
// The keys sounding on one part, drawn as a compact keyboard of all 128: white keys three
// pixels wide, black keys set into their upper part, the sounding ones lit.

#include <QRect>

#include <array>
#include <cstdint>

class QPainter;

namespace KeyStrip {

using Keys = std::array<uint64_t, 2>; ///< bit n: key n sounds

inline constexpr int kWhiteKeyWidth = 3;
/// The width the 75 white keys of 0-127 take.
int keyboardWidth();

/// The keys at rest, filling @p area.
void paintKeyboard(QPainter& painter, const QRect& area);
/// The keys of @p keys lit, over a keyboard at rest in @p area.
void paintSounding(QPainter& painter, const QRect& area, const Keys& keys);

} // namespace KeyStrip
