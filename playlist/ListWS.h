#pragma once
// The list-box message the editor sends to give its Playlist a sideways scroll width.

#include <cstdint>

class QWidget;

namespace ListWS {

/// Sets a list box's scrollable width in pixels (wParam); lParam is not used.
inline constexpr uint32_t LB_SETHORIZONTALEXTENT = 0x194;

/// Delivers wMsg to the list box hWnd. Only LB_SETHORIZONTALEXTENT is understood; any
/// other message, or a window that is not a list box, is ignored. Returns 0.
intptr_t SendMessageA(QWidget* hWnd, uint32_t wMsg, intptr_t wParam, intptr_t lParam);

} // namespace ListWS
