#pragma once
// What a song shows on the sound module's own display: a line of letters and a 16 x 16
// dot picture, sent as SysEx (Roland GS modules, Yamaha XG modules).

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace sequora::midi {

/// The display as the messages so far have left it.
struct ModuleDisplay {
    static constexpr int kDots = 16; ///< the picture is kDots x kDots

    std::string letters; ///< printable ASCII, as written (up to 32)
    std::array<uint16_t, kDots> rows {}; ///< one word per row; bit 15 is the left column
    bool hasLetters = false;
    bool hasPicture = false;

    bool dot(int row, int column) const { return (rows[std::size_t(row)] >> (15 - column)) & 1; }
    bool operator==(const ModuleDisplay&) const = default;
};

/// Applies one SysEx message (its bytes after F0, F7 included or not) to @p display.
/// True when it was a display message and changed what is written; anything else,
/// a Roland message with a bad checksum included, leaves @p display as it was.
bool applyDisplaySysEx(std::span<const uint8_t> message, ModuleDisplay& display);

/// Whether the message is a write to a display area that applyDisplaySysEx() takes (it
/// may still change nothing).
bool mayBeDisplaySysEx(std::span<const uint8_t> message);

} // namespace sequora::midi
