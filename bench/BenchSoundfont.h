#pragma once
// The soundfont the benchmarks compare figures with: SEQUORA_SOUNDFONT if set, else the
// small TimGM6mb, else whatever the engine would choose.

#include "platform/midi/output/fluidsynth/FluidSynthCore.h"

#include <filesystem>
#include <string>

namespace sequora::bench {

inline std::string benchSoundfont()
{
    constexpr const char* kTimGm6mb = "/usr/share/sounds/sf2/TimGM6mb.sf2";
    if (const char* env = std::getenv("SEQUORA_SOUNDFONT"); env && *env)
        return midi::FluidSynthCore::findSoundfont(env);
    std::error_code ec;
    if (std::filesystem::is_regular_file(kTimGm6mb, ec))
        return kTimGm6mb;
    return midi::FluidSynthCore::findSoundfont();
}

} // namespace sequora::bench
