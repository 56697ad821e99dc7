// A side-by-side of the system mode probes: small files that make channel 11 (or 10) a
// drum part the way GS, XG and GM2 modules expect, or keep it melodic, rendered by
// sequora-render, `fluidsynth -F` and `timidity -Ow` with the same soundfont. Each
// render's middle is read back and called a drum kit or a melodic part by how often it
// crosses zero (a kit's snare and hi-hat against a piano's low notes).
//
//   build/bench/bench_mode_probes [BUILD]     (SEQUORA_SOUNDFONT, default FluidR3_GM)

#include "common/SmfWriter.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using sequora::test::Bytes;
using sequora::test::SmfWriter;

namespace {

constexpr double kDrumCrossings = 0.06; ///< per sample: above, noise; below, tone

struct Probe {
    const char* name;
    const char* expect;
    std::vector<Bytes> sysex;
    int channel;
    int bankMsb;
};

Bytes gsDt1(uint8_t a1, uint8_t a2, uint8_t a3, uint8_t value, bool bad = false)
{
    const int sum = a1 + a2 + a3 + value;
    const auto checksum = static_cast<uint8_t>(((128 - sum % 128) % 128) ^ (bad ? 1 : 0));
    return {0x41, 0x10, 0x42, 0x12, a1, a2, a3, value, checksum, 0xF7};
}

void writeProbe(const Probe& p, const std::filesystem::path& file)
{
    SmfWriter smf(0, 480);
    auto& t = smf.addTrack();
    t.tempo(0, 500000);
    for (const Bytes& s : p.sysex)
        t.sysex(0, s);
    if (p.bankMsb >= 0)
        t.controller(0, p.channel, 0, p.bankMsb);
    t.programChange(0, p.channel, 0);
    t.controller(0, p.channel, 7, 110);
    for (int i = 0; i < 16; ++i) {
        const int key = i % 2 ? 42 : (i % 4 ? 38 : 36);
        t.noteOn(i == 0 ? 240 : 120, p.channel, key, 110).noteOff(120, p.channel, key);
    }
    t.endOfTrack(960);
    smf.writeFile(file);
}

/// Mean zero crossings per sample of the middle over the audible stretches; -1 unreadable.
double crossings(const std::filesystem::path& wav)
{
    std::ifstream in(wav, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    if (bytes.size() < 44)
        return -1;
    auto u16 = [&](std::size_t at) { return unsigned(uint8_t(bytes[at])) | unsigned(uint8_t(bytes[at + 1])) << 8; };
    auto u32 = [&](std::size_t at) { return u16(at) | u16(at + 2) << 16; };
    std::size_t at = 12;
    unsigned channels = 2;
    while (at + 8 <= bytes.size()) {
        const std::string id(bytes.data() + at, 4);
        const std::size_t size = u32(at + 4);
        if (id == "fmt ")
            channels = u16(at + 10);
        if (id == "data") {
            const std::size_t end = std::min(bytes.size(), at + 8 + size);
            const std::size_t frames = (end - at - 8) / (2 * channels);
            const std::size_t window = 2048;
            double sum = 0;
            int counted = 0;
            for (std::size_t w = 0; w + window <= frames; w += window) {
                int n = 0;
                double energy = 0;
                int previous = 0;
                for (std::size_t i = 0; i < window; ++i) {
                    int mid = 0;
                    for (unsigned c = 0; c < channels; ++c)
                        mid += int16_t(u16(at + 8 + ((w + i) * channels + c) * 2));
                    energy += double(mid) * mid;
                    if (i > 0 && (mid < 0) != (previous < 0))
                        ++n;
                    previous = mid;
                }
                if (energy / window > 300.0 * 300.0) { // louder than about -40 dBFS
                    sum += double(n) / window;
                    ++counted;
                }
            }
            return counted ? sum / counted : 0;
        }
        at += 8 + size + (size & 1);
    }
    return -1;
}

std::string verdict(double c)
{
    if (c < 0)
        return "no output";
    if (c == 0)
        return "silent";
    char text[48];
    std::snprintf(text, sizeof text, "%s (%.3f)", c > kDrumCrossings ? "drums" : "melodic", c);
    return text;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string build = argc > 1 ? argv[1] : "build";
    const char* env = std::getenv("SEQUORA_SOUNDFONT");
    const std::string font = env && *env ? env : "/usr/share/sounds/sf2/FluidR3_GM.sf2";
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "sequora-mode-probes";
    std::filesystem::create_directories(dir);
    {
        std::ofstream cfg(dir / "timidity.cfg");
        cfg << "soundfont " << font << "\n";
    }
    const Bytes gsReset = gsDt1(0x40, 0x00, 0x7F, 0x00);
    const Bytes xgOn {0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7};
    const Bytes gm2On {0x7E, 0x7F, 0x09, 0x03, 0xF7};
    const Bytes gm1On {0x7E, 0x7F, 0x09, 0x01, 0xF7};
    const std::vector<Probe> probes {
        {"gs-rhythm-part-11", "drums", {gsReset, gsDt1(0x40, 0x1A, 0x15, 0x01)}, 10, -1},
        {"gs-rhythm-part-11-off", "melodic", {gsReset, gsDt1(0x40, 0x1A, 0x15, 0x01), gsDt1(0x40, 0x1A, 0x15, 0x00)}, 10, -1},
        {"gs-bad-checksum", "melodic", {gsReset, gsDt1(0x40, 0x1A, 0x15, 0x01, true)}, 10, -1},
        {"gs-part-10-melodic", "melodic", {gsReset, gsDt1(0x40, 0x10, 0x15, 0x00)}, 9, -1},
        {"xg-kit-msb127-ch11", "drums", {xgOn}, 10, 127},
        {"xg-sfx-kit-msb126-ch11", "drums", {xgOn}, 10, 126},
        {"gm2-kit-msb120-ch11", "drums", {gm2On}, 10, 120},
        {"gm1-channel-10", "drums", {gm1On}, 9, 8},
        {"no-mode-channel-11", "melodic", {}, 10, -1},
    };
    std::printf("which part each plays on channel %s; soundfont %s\n", "11 (10 where named)", font.c_str());
    std::printf("%-24s %-8s %-18s %-18s %-18s\n", "probe", "module", "sequora-render", "fluidsynth -F", "timidity -Ow");
    for (const Probe& p : probes) {
        const auto mid = dir / (std::string(p.name) + ".mid");
        writeProbe(p, mid);
        const auto ours = dir / (std::string(p.name) + "-sequora.wav");
        const auto fs = dir / (std::string(p.name) + "-fluidsynth.wav");
        const auto tim = dir / (std::string(p.name) + "-timidity.wav");
        std::filesystem::remove(ours);
        std::filesystem::remove(fs);
        std::filesystem::remove(tim);
        const std::string q = "'";
        std::system(("SEQUORA_SOUNDFONT=" + q + font + q + " " + build + "/bin/sequora-render " + q + mid.string() + q
                        + " " + q + ours.string() + q + " >/dev/null 2>&1").c_str());
        std::system(("fluidsynth -ni -q -F " + q + fs.string() + q + " " + q + font + q + " " + q + mid.string() + q
                        + " >/dev/null 2>&1").c_str());
        std::system(("timidity -c " + q + (dir / "timidity.cfg").string() + q + " -Ow -o " + q + tim.string() + q + " "
                        + q + mid.string() + q + " >/dev/null 2>&1").c_str());
        std::printf("%-24s %-8s %-18s %-18s %-18s\n", p.name, p.expect, verdict(crossings(ours)).c_str(),
            verdict(crossings(fs)).c_str(), verdict(crossings(tim)).c_str());
    }
    return 0;
}
