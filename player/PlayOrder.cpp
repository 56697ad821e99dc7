#include "player/PlayOrder.h"

#include <chrono>
#include <cmath>
#include <random>

namespace sequora::player {

namespace {
constexpr int kFloatMantissaBits = 24;
} // namespace

int randomNextIndex(int count, float r)
{
    // Worked in double: (count - 1) * r + 1 is exact there, so r < 1 can never round up
    // to an index past the last entry.
    return static_cast<int>(std::floor(static_cast<double>(count - 1) * r + 1.0));
}

float drawFromClock()
{
    const auto seed = std::chrono::high_resolution_clock::now().time_since_epoch().count();
    std::mt19937 generator(static_cast<std::mt19937::result_type>(seed));
    // The top 24 bits make a float in [0, 1) exactly; uniform_real_distribution<float>
    // may round up to 1.
    const auto bits = generator() >> (32 - kFloatMantissaBits);
    return std::ldexp(static_cast<float>(bits), -kFloatMantissaBits);
}

} // namespace sequora::player
