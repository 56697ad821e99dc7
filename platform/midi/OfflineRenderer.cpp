#include "platform/midi/OfflineRenderer.h"

#include <algorithm>

namespace sequora::midi {

std::unique_ptr<OfflineRenderer> OfflineRenderer::create(const std::string& soundfont, int sampleRate,
                                                         std::string& error)
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

void OfflineRenderer::render(int16_t* out, uint32_t frames)
{
    uint32_t done = 0;
    runBlock(frames, [&](uint32_t frame) {
        const uint32_t upTo = frame >= frames ? frames
                                              : std::min(frames, done + m_core->framesToNearestBoundary(frame - std::min(frame, done)));
        if (upTo > done) {
            m_core->renderS16(out + std::size_t(done) * 2, static_cast<int>(upTo - done));
            done = upTo;
        }
    });
}

} // namespace sequora::midi
