#pragma once
// The renderers the mode probes compare, each a command line that turns a MIDI file into a
// WAV file, and a cache that renders each file once per renderer.

#include "WavFile.h"
#include "common/SmfWriter.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace sequora::bench {

namespace fs = std::filesystem;
using test::Bytes;
using test::SmfWriter;
using test::Stereo;

constexpr int kProbeRate = 44100;

struct Renderer {
    std::string name;
    std::function<std::string(const fs::path& mid, const fs::path& wav)> command;
};

inline std::string quoted(const std::string& s)
{
    return "'" + s + "'";
}

inline std::vector<Renderer> renderers(
    const std::vector<std::string>& builds, const std::string& font, const fs::path& cfg)
{
    std::vector<Renderer> out;
    for (std::size_t i = 0; i < builds.size(); ++i) {
        const std::string exe = builds[i] + "/bin/sequora-render";
        // Named after the worktree the build folder sits in, so two builds tell apart.
        fs::path folder = fs::absolute(builds[i]).lexically_normal();
        if (!folder.has_filename())
            folder = folder.parent_path();
        const std::string tree = folder.parent_path().filename().string();
        out.push_back({ "sq:" + tree.substr(0, 12), [=](const fs::path& mid, const fs::path& wav) {
                           return "SEQUORA_SOUNDFONT=" + quoted(font) + " " + quoted(exe) + " "
                               + quoted(mid.string()) + " " + quoted(wav.string()) + " --rate "
                               + std::to_string(kProbeRate);
                       } });
    }
    out.push_back({ "fluidsynth -F", [=](const fs::path& mid, const fs::path& wav) {
                       return "fluidsynth -ni -q -r " + std::to_string(kProbeRate) + " -F "
                           + quoted(wav.string()) + " " + quoted(font) + " " + quoted(mid.string());
                   } });
    out.push_back({ "timidity -Ow", [=](const fs::path& mid, const fs::path& wav) {
                       return "timidity -c " + quoted(cfg.string()) + " -s "
                           + std::to_string(kProbeRate) + " -Ow --preserve-silence -o "
                           + quoted(wav.string()) + " " + quoted(mid.string());
                   } });
    return out;
}

/// Renders each file once per renderer: many rows share the file without their message.
class RenderCache {
public:
    RenderCache(fs::path dir, std::vector<Renderer> renderers)
        : m_dir(std::move(dir))
        , m_renderers(std::move(renderers))
    {
    }

    const std::vector<Renderer>& renderers() const { return m_renderers; }

    const std::optional<Stereo>& render(std::size_t renderer, const SmfWriter& smf)
    {
        const Bytes bytes = smf.bytes();
        const std::string key(bytes.begin(), bytes.end());
        auto& slot = m_done[{ renderer, key }];
        if (slot.rendered)
            return slot.audio;
        char name[32];
        std::snprintf(name, sizeof name, "%016zx", std::hash<std::string> {}(key));
        const fs::path mid = m_dir / (std::string(name) + ".mid");
        const fs::path wav = m_dir / (std::string(name) + "-" + std::to_string(renderer) + ".wav");
        SmfWriter::writeBytes(mid, bytes);
        fs::remove(wav);
        std::system((m_renderers[renderer].command(mid, wav) + " >/dev/null 2>&1").c_str());
        slot.audio = readWav16(wav);
        slot.rendered = true;
        fs::remove(wav);
        return slot.audio;
    }

private:
    struct Slot {
        bool rendered = false;
        std::optional<Stereo> audio;
    };
    fs::path m_dir;
    std::vector<Renderer> m_renderers;
    std::map<std::pair<std::size_t, std::string>, Slot> m_done;
};

} // namespace sequora::bench
