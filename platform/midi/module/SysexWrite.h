#pragma once
// A module's SysEx parameter write, read once for every reader of them (the part map,
// the model, the chase, the display): a GS data set (F0 41 dev model 12 a1 a2 a3 data...
// sum F7), an XG parameter change (F0 43 1n model a1 a2 a3 data... F7) or a universal
// message (F0 7E|7F dev sub-ID#1 data... F7).

#include <cstdint>
#include <optional>
#include <span>

namespace sequora::midi {

struct SysexWrite {
    uint8_t maker = 0; ///< kRoland, kYamaha, kUniversalRealtime or kUniversalNonRealtime
    uint8_t device = 0;
    uint8_t model = 0; ///< universal: sub-ID #1
    uint32_t address = 0; ///< three bytes, the high one first; universal: 0
    /// What is written from the address on; universal: from sub-ID #2 on. Roland's
    /// checksum is not part of it. May be empty.
    std::span<const uint8_t> data;
    /// Roland's: address, data and checksum add up to 0 modulo 128. Yamaha's and the
    /// universal messages carry none.
    bool checksumOk = true;
};

/// The bytes between F0 and F7 of a whole message (F0 ... F7, no status byte between);
/// nothing when @p msg is not one.
std::optional<std::span<const uint8_t>> sysexBody(std::span<const uint8_t> msg);

/// Reads @p msg, F0 ... F7. Nothing for a message of another maker or kind (a Roland
/// message other than a data set, a Yamaha one other than a parameter change), or too
/// short for its header.
std::optional<SysexWrite> readSysexWrite(std::span<const uint8_t> msg);
/// The same for the bytes between F0 and F7.
std::optional<SysexWrite> readSysexBody(std::span<const uint8_t> body);

} // namespace sequora::midi
