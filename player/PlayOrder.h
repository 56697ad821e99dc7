#pragma once
// The choice of the next entry in random order.

namespace sequora::player {

/// int((count - 1) * r + 1) for a draw r in [0, 1): an index from 1 to count - 1. The
/// first entry is never drawn (it plays as the start of the list) and the current
/// entry may come again; there is no retry.
int randomNextIndex(int count, float r);

/// One draw from [0, 1) in single precision, from a generator reseeded from the clock
/// before the draw.
float drawFromClock();

} // namespace sequora::player
