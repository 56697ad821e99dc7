#include "platform/midi/output/fluidsynth/OfflineRenderer.h"

#include <algorithm>
#include <cmath>

namespace sequora::midi {

std::unique_ptr<OfflineRenderer> OfflineRenderer::create(
    const std::string& soundfont, int sampleRate, std::string& error)
{
    const std::string path = FluidSynthCore::findSoundfont(soundfont);
    if (path.empty()) {
        error = soundfont.empty() ? "no soundfont found (set SEQUORA_SOUNDFONT)"
                                  : "no such soundfont: " + soundfont;
        return nullptr;
    }
    auto core = FluidSynthCore::create(path, sampleRate, false, error);
    if (!core)
        return nullptr;
    return std::unique_ptr<OfflineRenderer>(new OfflineRenderer(std::move(core)));
}

std::string OfflineRenderer::instrumentName(const PresetRequest& request) const
{
    if (std::string name = m_core->presetName(request); !name.empty())
        return name;
    return Output::instrumentName(request);
}

void OfflineRenderer::prepare(const Song* song)
{
    if (song)
        m_core->usePresets(FluidSynthCore::presetsOf(*song), FluidSynthCore::effectsOf(*song));
    else
        m_core->usePresets({});
}

void OfflineRenderer::renderFloat(float* left, float* right, uint32_t frames)
{
    uint32_t done = 0;
    const PullResult result = runBlock(
        frames, [&](uint32_t frame) { m_core->renderUpTo(frame, frames, done, left, right); });
    m_core->settle(!result.playing);
}

void OfflineRenderer::render(int16_t* out, uint32_t frames)
{
    m_left.resize(frames);
    m_right.resize(frames);
    renderFloat(m_left.data(), m_right.data(), frames);
    constexpr float kFullScale = 32767.0f;
    for (uint32_t i = 0; i < frames; ++i) {
        out[2 * i]
            = static_cast<int16_t>(std::lrint(std::clamp(m_left[i], -1.0f, 1.0f) * kFullScale));
        out[2 * i + 1]
            = static_cast<int16_t>(std::lrint(std::clamp(m_right[i], -1.0f, 1.0f) * kFullScale));
    }
}

} // namespace sequora::midi
