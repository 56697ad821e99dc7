#pragma once
// The Japanese Gothic faces the windows are drawn in, with fallbacks for Linux.

#include <QFont>

namespace sequora::platform {

/// "ＭＳ ゴシック" where installed, else a fixed-pitch Japanese Gothic (IPAGothic,
/// Noto Sans Mono CJK, ...) at the same point size.
QFont gothicFont(double pointSize, int weight = 400);

/// "ＭＳ Ｐゴシック" where installed, else a proportional Japanese Gothic.
QFont pGothicFont(double pointSize, int weight = 400);

} // namespace sequora::platform
