#pragma once
// The bytes the effect section's messages write, grouped as the modules group them:
// what an effect slot's parameters are, before anything is made of them. The model keeps
// these; the effects' processing reads them (output/effects).

#include <array>
#include <cstdint>

namespace sequora::midi {

/// The twenty parameter bytes of the GS insertion effect, addresses 40 03 03 to 40 03 16.
using GsEfxParams = std::array<uint8_t, 20>;

/// The parameters of an XG effect block: P1-P16 (the LSBs) and, for the parameters that
/// take fourteen bits (long delay times), the MSBs of P1-P10.
struct XgEffectParams {
    std::array<uint8_t, 16> lsb {};
    std::array<uint8_t, 10> msb {};
    bool operator==(const XgEffectParams&) const = default;
};

/// The GS delay's parameters (40 01 51-59) as a file leaves them; a macro (40 01 50)
/// writes all of them at once. Power-on: macro 0, Delay 1.
struct GsDelayParams {
    uint8_t preLpf = 0; ///< 0-7: 0 none, then 8 kHz down by half an octave a step
    uint8_t timeCentre = 97; ///< 0x01-0x73: 0.1 ms - 1 s (the manual's table)
    uint8_t ratioLeft = 1; ///< 0x01-0x78: the left tap, 4 % - 500 % of the centre
    uint8_t ratioRight = 1;
    uint8_t levelCentre = 127;
    uint8_t levelLeft = 0;
    uint8_t levelRight = 0;
    uint8_t level = 64; ///< the return, 127 = unity
    uint8_t feedback = 79; ///< 0x40 none; -64..+63 as -98..+97 %, from the centre tap
    bool operator==(const GsDelayParams&) const = default;
};

/// The GS master EQ, 40 02 00-03.
struct GsEqParams {
    uint8_t lowFreq = 1; ///< 0: 200 Hz, 1: 400 Hz
    uint8_t lowGain = 64; ///< 0x34-0x4C: -12..+12 dB
    uint8_t highFreq = 1; ///< 0: 3 kHz, 1: 6 kHz
    uint8_t highGain = 64;
    bool operator==(const GsEqParams&) const = default;
    bool flat() const { return lowGain == 64 && highGain == 64; }
};

/// The XG multi EQ, 02 40 01-14: per band gain (0x34-0x4C), frequency (the XG EQ table),
/// Q (10-120: 1.0-12.0); the first and last bands a shelf (0) or a peak (1).
struct XgEqParams {
    std::array<uint8_t, 5> gain { 64, 64, 64, 64, 64 };
    std::array<uint8_t, 5> freq { 12, 28, 34, 46, 52 };
    std::array<uint8_t, 5> q { 7, 7, 7, 7, 7 };
    uint8_t lowShape = 0;
    uint8_t highShape = 0;
    bool operator==(const XgEqParams&) const = default;
    bool flat() const;
    /// The bands of an XG EQ type (0 Flat, 1 Jazz, 2 Pops, 3 Rock, 4 Concert); false for others.
    static bool preset(uint8_t type, XgEqParams& out);
};

} // namespace sequora::midi
