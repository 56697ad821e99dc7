#pragma once
// Reads back what an external renderer wrote (sequora-render, `fluidsynth -F`,
// `timidity -Ow`): a 16-bit PCM WAV, mono or stereo, as the float frames the effect
// measures take.

#include "engine/EffectMeasures.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace sequora::bench {

inline std::optional<test::Stereo> readWav16(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    if (bytes.size() < 44 || std::string(bytes.data(), 4) != "RIFF"
        || std::string(bytes.data() + 8, 4) != "WAVE")
        return std::nullopt;
    auto u16 = [&](std::size_t at) {
        return unsigned(uint8_t(bytes[at])) | unsigned(uint8_t(bytes[at + 1])) << 8;
    };
    auto u32 = [&](std::size_t at) { return u16(at) | u16(at + 2) << 16; };
    test::Stereo out;
    unsigned channels = 0, bits = 0;
    for (std::size_t at = 12; at + 8 <= bytes.size();) {
        const std::string id(bytes.data() + at, 4);
        const std::size_t size = u32(at + 4);
        if (id == "fmt " && at + 24 <= bytes.size()) {
            channels = u16(at + 10);
            out.rate = static_cast<int>(u32(at + 12));
            bits = u16(at + 22);
        } else if (id == "data") {
            if (bits != 16 || channels < 1 || channels > 2)
                return std::nullopt;
            // A renderer killed mid-write leaves a size past the end: take what is there.
            const std::size_t end = std::min(bytes.size(), at + 8 + size);
            const std::size_t frames = (end - at - 8) / (2 * channels);
            out.left.resize(frames);
            out.right.resize(frames);
            for (std::size_t i = 0; i < frames; ++i) {
                const std::size_t base = at + 8 + i * channels * 2;
                out.left[i] = int16_t(u16(base)) / 32768.0f;
                out.right[i] = channels == 2 ? int16_t(u16(base + 2)) / 32768.0f : out.left[i];
            }
            return out;
        }
        at += 8 + size + (size & 1);
    }
    return std::nullopt;
}

} // namespace sequora::bench
