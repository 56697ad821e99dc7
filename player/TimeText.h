#pragma once
// Texts of the display panel (time and track number) and the reading of position replies.

#include <QString>

#include <cstdint>
#include <optional>
#include <string>

namespace sequora::player {

/// The device counts in tenths of a second.
inline constexpr int64_t kUnitsPerSecond = 10;

/// Whole seconds shown for a time in device units: the nearest second, halves to the
/// even neighbour (5 units give 0, 15 give 2, 25 give 2).
int64_t displayedSeconds(int64_t units);

/// Minutes (at least two digits, never capped) ":" two-digit seconds. A negative time
/// (a position reported past the length) shows as "00:00".
QString timeText(int64_t units);

/// "[0n]" below 10, "[n]" from 10 on; n is 1-based.
QString trackNumberText(int64_t n);

/// A position reply as a number of units; nothing when the device gave no answer (no
/// file open) or something that is not a whole number.
std::optional<int64_t> unitsFromReply(const std::string& reply);

} // namespace sequora::player
