#pragma once
// The soundfont the benchmarks compare figures with: SEQUORA_SOUNDFONT if set, else the
// small TimGM6mb, else whatever the engine would choose.

#include "platform/midi/output/fluidsynth/FluidSynthCore.h"

#include <cstdlib>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

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

/// sequora-render beside a benchmark: SEQUORA_RENDER if set, else bin/ of the build folder
/// that holds the benchmark's bench/.
inline std::string ourRenderer(const char* argv0)
{
    if (const char* env = std::getenv("SEQUORA_RENDER"))
        return env;
    return (std::filesystem::absolute(argv0).parent_path().parent_path() / "bin" / "sequora-render")
        .string();
}

/// The songs named on the command line, else those of @p defaults the openmsx set has.
inline std::vector<std::string> benchSongs(
    int argc, char** argv, std::span<const char* const> defaults)
{
    constexpr const char* kOpenmsx = "/usr/share/games/openttd/baseset/openmsx";
    std::vector<std::string> songs(argv + 1, argv + argc);
    if (songs.empty()) {
        for (const char* name : defaults) {
            const std::filesystem::path path = std::filesystem::path(kOpenmsx) / name;
            if (std::filesystem::exists(path))
                songs.push_back(path.string());
        }
    }
    return songs;
}

} // namespace sequora::bench
