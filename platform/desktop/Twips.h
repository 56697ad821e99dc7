#pragma once
// Window geometry is laid out in twips; the screen works in pixels.

namespace sequora::platform {

inline constexpr int kTwipsPerPixel = 15;

constexpr int twips(int value)
{
    return value / kTwipsPerPixel;
}

} // namespace sequora::platform
