#include "platform/midi/output/effects/EffectTables.h"

#include <algorithm>
#include <array>

namespace sequora::midi::effects {

namespace {

// The third-octave series the GS frequency tables step through.
constexpr std::array<float, 17> kThirds { 200, 250, 315, 400, 500, 630, 800, 1000, 1250, 1600, 2000,
    2500, 3150, 4000, 5000, 6300, 8000 };

float third(int from, uint8_t v, int last)
{
    return kThirds[std::size_t(std::min(from + (v & 0x7F) / 8, last))];
}

constexpr std::array<float, 128> kXgLfo {
    0.00f,
    0.04f,
    0.08f,
    0.13f,
    0.17f,
    0.21f,
    0.25f,
    0.29f,
    0.34f,
    0.38f,
    0.42f,
    0.46f,
    0.51f,
    0.55f,
    0.59f,
    0.63f,
    0.67f,
    0.72f,
    0.76f,
    0.80f,
    0.84f,
    0.88f,
    0.93f,
    0.97f,
    1.01f,
    1.05f,
    1.09f,
    1.14f,
    1.18f,
    1.22f,
    1.26f,
    1.30f,
    1.35f,
    1.39f,
    1.43f,
    1.47f,
    1.51f,
    1.56f,
    1.60f,
    1.64f,
    1.68f,
    1.72f,
    1.77f,
    1.81f,
    1.85f,
    1.89f,
    1.94f,
    1.98f,
    2.02f,
    2.06f,
    2.10f,
    2.15f,
    2.19f,
    2.23f,
    2.27f,
    2.31f,
    2.36f,
    2.40f,
    2.44f,
    2.48f,
    2.52f,
    2.57f,
    2.61f,
    2.65f,
    2.69f,
    2.78f,
    2.86f,
    2.94f,
    3.03f,
    3.11f,
    3.20f,
    3.28f,
    3.37f,
    3.45f,
    3.53f,
    3.62f,
    3.70f,
    3.87f,
    4.04f,
    4.21f,
    4.37f,
    4.54f,
    4.71f,
    4.88f,
    5.05f,
    5.22f,
    5.38f,
    5.55f,
    5.72f,
    6.06f,
    6.39f,
    6.73f,
    7.07f,
    7.40f,
    7.74f,
    8.08f,
    8.41f,
    8.75f,
    9.08f,
    9.42f,
    9.76f,
    10.1f,
    10.8f,
    11.4f,
    12.1f,
    12.8f,
    13.5f,
    14.1f,
    14.8f,
    15.5f,
    16.2f,
    16.8f,
    17.5f,
    18.2f,
    19.5f,
    20.9f,
    22.2f,
    23.6f,
    24.9f,
    26.2f,
    27.6f,
    28.9f,
    30.3f,
    31.6f,
    33.0f,
    34.3f,
    37.0f,
    39.7f,
};

constexpr std::array<float, 27> kXgModDelayTail { 11.1f, 12.2f, 13.3f, 14.4f, 15.5f, 17.1f, 18.6f,
    20.2f, 21.8f, 23.3f, 24.9f, 26.5f, 28.0f, 29.6f, 31.2f, 32.8f, 34.3f, 35.9f, 37.5f, 39.0f,
    40.6f, 42.2f, 43.7f, 45.3f, 46.9f, 48.4f, 50.0f };

constexpr std::array<float, 61> kXgEq {
    20,
    22,
    25,
    28,
    32,
    36,
    40,
    45,
    50,
    56,
    63,
    70,
    80,
    90,
    100,
    110,
    125,
    140,
    160,
    180,
    200,
    225,
    250,
    280,
    315,
    355,
    400,
    450,
    500,
    560,
    630,
    700,
    800,
    900,
    1000,
    1100,
    1200,
    1400,
    1600,
    1800,
    2000,
    2200,
    2500,
    2800,
    3200,
    3600,
    4000,
    4500,
    5000,
    5600,
    6300,
    7000,
    8000,
    9000,
    10000,
    11000,
    12000,
    14000,
    16000,
    18000,
    20000,
};

constexpr std::array<float, 70> kXgReverbTime {
    0.3f,
    0.4f,
    0.5f,
    0.6f,
    0.7f,
    0.8f,
    0.9f,
    1.0f,
    1.1f,
    1.2f,
    1.3f,
    1.4f,
    1.5f,
    1.6f,
    1.7f,
    1.8f,
    1.9f,
    2.0f,
    2.1f,
    2.2f,
    2.3f,
    2.4f,
    2.5f,
    2.6f,
    2.7f,
    2.8f,
    2.9f,
    3.0f,
    3.1f,
    3.2f,
    3.3f,
    3.4f,
    3.5f,
    3.6f,
    3.7f,
    3.8f,
    3.9f,
    4.0f,
    4.1f,
    4.2f,
    4.3f,
    4.4f,
    4.5f,
    4.6f,
    4.7f,
    4.8f,
    4.9f,
    5.0f,
    5.5f,
    6.0f,
    6.5f,
    7.0f,
    7.5f,
    8.0f,
    8.5f,
    9.0f,
    9.5f,
    10.0f,
    11.0f,
    12.0f,
    13.0f,
    14.0f,
    15.0f,
    16.0f,
    17.0f,
    18.0f,
    19.0f,
    20.0f,
    25.0f,
    30.0f,
};

// The sampling rates of the XG lo-fi: the rate 44.1 kHz divided by 1, 2, 3 ... (as the
// manual prints them, rounded).
float xgLofiRate(int v)
{
    return 44100.0f / float(v + 1);
}

} // namespace

float gsPreDelayMs(uint8_t v)
{
    const int i = v & 0x7F;
    if (i < 50)
        return 0.1f * float(i);
    if (i < 60)
        return 5.0f + 0.5f * float(i - 50);
    if (i < 100)
        return 10.0f + float(i - 60);
    return std::min(100.0f, 50.0f + 2.0f * float(i - 100));
}

float gsDelayTime1Ms(uint8_t v)
{
    const int i = v & 0x7F;
    return i < 70 ? 200.0f + 5.0f * float(i) : std::min(1000.0f, 550.0f + 10.0f * float(i - 70));
}

float gsDelayTime2Ms(uint8_t v)
{
    const int i = v & 0x7F;
    return i < 80 ? 200.0f + 5.0f * float(i) : std::min(1000.0f, 600.0f + 10.0f * float(i - 80));
}

float gsDelayTime3Ms(uint8_t v)
{
    const int i = v & 0x7F;
    if (i < 50)
        return 0.1f * float(i);
    if (i < 60)
        return 5.0f + 0.5f * float(i - 50);
    if (i <= 90)
        return 10.0f + float(i - 60);
    if (i <= 116)
        return 50.0f + 10.0f * float(i - 91);
    return std::min(500.0f, 320.0f + 20.0f * float(i - 117));
}

float gsDelayTime4Ms(uint8_t v)
{
    return 5.0f * float(v & 0x7F);
}

float gsRate1Hz(uint8_t v)
{
    const int i = v & 0x7F;
    if (i <= 99)
        return 0.05f * float(i + 1);
    if (i <= 119)
        return 5.0f + 0.1f * float(i - 99);
    return std::min(10.0f, 7.0f + 0.5f * float(i - 119));
}

float gsRate2Hz(uint8_t v)
{
    return 0.05f * float((v & 0x7F) + 1);
}

float gsHfDampHz(uint8_t v)
{
    return (v & 0x7F) >= 0x78 ? 0.0f : third(2, v, 16);
}
float gsCutoffHz(uint8_t v)
{
    return third(1, v, 16);
}
float gsEqFreqHz(uint8_t v)
{
    return third(0, v, 15);
}
float gsLpfHz(uint8_t v)
{
    return (v & 0x7F) >= 0x78 ? 0.0f : third(1, v, 15);
}

float gsManualHz(uint8_t v)
{
    const int i = v & 0x7F;
    if (i < 20)
        return 100.0f + 10.0f * float(i);
    if (i < 55)
        return 300.0f + 20.0f * float(i - 20);
    return std::min(8000.0f, 1000.0f + 100.0f * float(i - 55));
}

float gsDelayCentreMs(uint8_t v)
{
    const int i = std::max(1, std::min(v & 0x7F, 0x73));
    struct Step {
        int from;
        float ms;
        float step;
    };
    // Each run starts at an index with a time and goes up by its step.
    constexpr std::array<Step, 9> kRuns { { { 1, 0.1f, 0.1f }, { 20, 2.0f, 0.2f },
        { 35, 5.0f, 0.5f }, { 45, 10.0f, 1.0f }, { 55, 20.0f, 2.0f }, { 70, 50.0f, 5.0f },
        { 80, 100.0f, 10.0f }, { 90, 200.0f, 20.0f }, { 105, 500.0f, 50.0f } } };
    const Step* run = &kRuns[0];
    for (const Step& s : kRuns) {
        if (i >= s.from)
            run = &s;
    }
    return run->ms + run->step * float(i - run->from);
}

float gsDelayRatio(uint8_t v)
{
    return float(std::clamp(v & 0x7F, 1, 0x78)) / 24.0f;
}

float xgLfoHz(uint8_t v)
{
    return kXgLfo[v & 0x7F];
}

float xgModDelayMs(uint8_t v)
{
    const int i = v & 0x7F;
    return i <= 100 ? 0.1f * float(i) : kXgModDelayTail[std::size_t(i - 101)];
}

float xgEqFreqHz(uint8_t v)
{
    return kXgEq[std::min<std::size_t>(v & 0x7F, kXgEq.size() - 1)];
}
float xgReverbTimeS(uint8_t v)
{
    return kXgReverbTime[std::min<std::size_t>(v & 0x7F, kXgReverbTime.size() - 1)];
}
float xgDelayTimeMs(uint8_t v)
{
    return 0.1f + 199.9f * float(v & 0x7F) / 127.0f;
}
float xgLofiRateHz(uint8_t v)
{
    return xgLofiRate(v & 0x7F);
}

float xgLongDelayMs(uint8_t msb, uint8_t lsb, float maxMs)
{
    const int tenths = (msb & 0x7F) << 7 | (lsb & 0x7F);
    return std::clamp(float(tenths) / 10.0f, 0.1f, maxMs);
}

} // namespace sequora::midi::effects
