#pragma once
// The value tables the modules' manuals print for effect parameters: a byte of a GS or
// XG message and what it stands for in milliseconds, hertz or seconds. Bytes out of a
// table's range read as its nearest end.

#include <cstdint>

namespace sequora::midi::effects {

// GS (SC-88 Pro and later), insertion effects and the delay.
float gsPreDelayMs(uint8_t v); ///< 0.0-4.9 by 0.1, -9.5 by 0.5, -50 by 1, -100 by 2 ms
float gsDelayTime1Ms(uint8_t v); ///< 200-545 by 5, then -1000 by 10 ms
float gsDelayTime2Ms(uint8_t v); ///< 200-595 by 5, then -1000 by 10 ms
float gsDelayTime3Ms(uint8_t v); ///< 0-500 ms in five steps of resolution
float gsDelayTime4Ms(uint8_t v); ///< 0-635 by 5 ms
float gsRate1Hz(uint8_t v); ///< 0.05-5.00 by 0.05, -7.0 by 0.1, -10 by 0.5 Hz
float gsRate2Hz(uint8_t v); ///< 0.05-6.40 by 0.05 Hz
/// 315 Hz - 8 kHz in third octaves, eight values a step; 0 from 0x78 on: no damping.
float gsHfDampHz(uint8_t v);
float gsCutoffHz(uint8_t v); ///< 250 Hz - 8 kHz in third octaves, eight values a step
float gsEqFreqHz(uint8_t v); ///< 200 Hz - 6.3 kHz in third octaves, eight values a step
/// 250 Hz - 6.3 kHz in third octaves, eight values a step; 0 from 0x78 on: no filter.
float gsLpfHz(uint8_t v);
float gsManualHz(uint8_t v); ///< 100-290 by 10, -980 by 20, -8000 by 100 Hz
/// The GS delay's centre time: 0.1 ms to 1 s (0x01-0x73), finer at the short end.
float gsDelayCentreMs(uint8_t v);
/// The GS delay's left and right times as a share of the centre: 4 % a step (0x01-0x78).
float gsDelayRatio(uint8_t v);

// XG (MU series), variation and insertion effects.
float xgLfoHz(uint8_t v); ///< 0-39.7 Hz
float xgModDelayMs(uint8_t v); ///< chorus and flanger delay offset, 0-50 ms
float xgEqFreqHz(uint8_t v); ///< 20 Hz - 20 kHz (0-60)
float xgReverbTimeS(uint8_t v); ///< 0.3-30 s (0-69)
float xgDelayTimeMs(uint8_t v); ///< initial delays and early reflections, 0.1-200 ms
float xgLofiRateHz(uint8_t v); ///< 44.1 kHz down to 345 Hz
/// A 14-bit delay time of 0.1 ms steps as XG writes it (MSB, LSB), at most @p maxMs.
float xgLongDelayMs(uint8_t msb, uint8_t lsb, float maxMs);

} // namespace sequora::midi::effects
