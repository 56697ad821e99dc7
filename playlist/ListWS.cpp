#include "playlist/ListWS.h"

#include "playlist/ListBox.h"

#include <limits>

namespace ListWS {

intptr_t SendMessageA(QWidget* hWnd, uint32_t wMsg, intptr_t wParam, intptr_t /*lParam*/)
{
    auto* list = qobject_cast<ListBox*>(hWnd);
    if (list == nullptr || wMsg != LB_SETHORIZONTALEXTENT)
        return 0;
    // The extent travels in the low word, as the list box reads it.
    const int pixels = static_cast<int>(wParam & std::numeric_limits<uint16_t>::max());
    list->setHorizontalExtent(pixels);
    return 0;
}

} // namespace ListWS
