// A short song written the way a 1990s GS song was: a GS reset, the Hall 1 reverb macro,
// master volume, a pad alone whose filter opens by NRPN over the two bars of the intro, a saw lead
// gliding by portamento, a bass line moved down an octave by part key shift, a snare retuned by its
// drum-key NRPN, and a fade by master volume at the end; the lead sends to the delay
// (macro Delay 1) and the bass plays through the insertion effect (Overdrive). It is
// written to a file, with a twin that lacks the delay and insertion messages, and both are
// rendered by each sequora-render given (say, the builds before and after a change),
// `fluidsynth -F` and `timidity -Ow`; each render is measured where a listener would hear
// these messages, the effect section as what the twin lacks.
//
//   build/bench/bench_gs_song [BUILD ...]    (SEQUORA_SOUNDFONT, default FluidR3_GM)

#include "GsSong.h"
#include "common/SmfWriter.h"
#include "engine/EffectMeasures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using sequora::test::Bytes;
using sequora::test::SmfWriter;
using sequora::test::Stereo;

namespace {

Stereo readWav(const std::filesystem::path& wav)
{
    Stereo s;
    std::ifstream in(wav, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    auto u16 = [&](std::size_t at) {
        return unsigned(uint8_t(bytes[at])) | unsigned(uint8_t(bytes[at + 1])) << 8;
    };
    auto u32 = [&](std::size_t at) { return u16(at) | u16(at + 2) << 16; };
    std::size_t at = 12;
    unsigned channels = 2;
    while (bytes.size() >= 44 && at + 8 <= bytes.size()) {
        const std::size_t size = u32(at + 4);
        const std::string id(bytes.data() + at, 4);
        if (id == "fmt ") {
            channels = u16(at + 10);
            s.rate = int(u32(at + 12));
        }
        if (id == "data") {
            const std::size_t end = std::min(bytes.size(), at + 8 + size);
            for (std::size_t i = at + 8; i + 2 * channels <= end; i += 2 * channels) {
                s.left.push_back(int16_t(u16(i)) / 32768.0f);
                s.right.push_back(int16_t(u16(i + (channels > 1 ? 2 : 0))) / 32768.0f);
            }
            break;
        }
        at += 8 + size + (size & 1);
    }
    return s;
}

// The effect section as what @p s has and its twin @p dry lacks, over bars 2-8: the
// difference's level against the twin's; the echo's lag, where the onsets of what @p s
// has beyond @p noDelay line up best with the twin's (50-800 ms); and how much the mean
// frequency moved with the insertion effect alone.
struct SectionFigures {
    double lagMs = 0;
    double differenceDb = -180;
    double brighter = 1;
};

SectionFigures sectionFigures(const Stereo& s, const Stereo& noDelay, const Stereo& dry)
{
    namespace t = sequora::test;
    SectionFigures f;
    if (s.frames() != dry.frames() || s.frames() != noDelay.frames()
        || s.frames() < std::size_t(s.rate))
        return f;
    auto minus = [](const Stereo& a, const Stereo& b) {
        Stereo d;
        d.rate = a.rate;
        d.left.resize(a.frames());
        d.right.resize(a.frames());
        for (std::size_t i = 0; i < a.frames(); ++i) {
            d.left[i] = a.left[i] - b.left[i];
            d.right[i] = a.right[i] - b.right[i];
        }
        return d;
    };
    f.differenceDb = t::levelDb(minus(s, dry), 4.0, 18.0) - t::levelDb(dry, 4.0, 18.0);
    f.brighter = t::centroidHz(noDelay, 4.0, 18.0) / std::max(1.0, t::centroidHz(dry, 4.0, 18.0));
    const Stereo echo = minus(s, noDelay);
    if (t::levelDb(echo, 4.0, 18.0) - t::levelDb(dry, 4.0, 18.0) < -60)
        return f;
    // Onsets: the rise of 5 ms envelopes.
    const std::size_t bin = std::size_t(s.rate) / 200;
    auto onsets = [&](const Stereo& x) {
        std::vector<double> env, rise;
        for (std::size_t at = x.at(4.0); at + bin <= x.at(18.0); at += bin) {
            double sum = 0;
            for (std::size_t i = at; i < at + bin; ++i)
                sum += x.mid(i) * x.mid(i);
            env.push_back(std::sqrt(sum / double(bin)));
        }
        for (std::size_t i = 1; i < env.size(); ++i)
            rise.push_back(std::max(0.0, env[i] - env[i - 1]));
        return rise;
    };
    const std::vector<double> a = onsets(dry);
    const std::vector<double> b = onsets(echo);
    double best = 0;
    for (std::size_t lag = 10; lag <= 160 && lag < b.size(); ++lag) {
        double sum = 0;
        for (std::size_t i = 0; i + lag < b.size(); ++i)
            sum += a[i] * b[i + lag];
        if (sum > best) {
            best = sum;
            f.lagMs = double(lag) * 5;
        }
    }
    return f;
}

void report(const char* who, const Stereo& s, const Stereo& noDelay, const Stereo& dry)
{
    if (s.frames() < std::size_t(s.rate)) {
        std::printf("%-22s no output\n", who);
        return;
    }
    namespace t = sequora::test;
    // Bar n starts at 2n seconds. The pad sweeps alone in bars 0 and 1; the fade is bar 9.
    const double closed = t::centroidHz(s, 0.2, 0.9);
    const double open = t::centroidHz(s, 3.2, 3.9);
    const double body = t::levelDb(s, 4.0, 18.0);
    const double fadeEnd = t::levelDb(s, 19.5, 20.0);
    const SectionFigures fx = sectionFigures(s, noDelay, dry);
    std::printf("%-22s %8.1f %8.0f %8.0f %8.2f %8.1f %8.1f %8.1f %8.0f %8.2f\n", who, body, closed,
        open, open / std::max(closed, 1.0), fadeEnd - t::levelDb(s, 17.0, 18.0),
        t::widthDb(s, 4.0, 18.0), fx.differenceDb, fx.lagMs, fx.brighter);
}

} // namespace

int main(int argc, char** argv)
{
    const char* env = std::getenv("SEQUORA_SOUNDFONT");
    const std::string font = env && *env ? env : "/usr/share/sounds/sf2/FluidR3_GM.sf2";
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "sequora-gs-song";
    std::filesystem::create_directories(dir);
    const auto mid = dir / "gs-song.mid";
    // The song, a twin without the delay, and one without the delay and the insertion.
    const std::filesystem::path songs[3]
        = { mid, dir / "gs-song-no-delay.mid", dir / "gs-song-dry.mid" };
    using sequora::bench::writeGsSong;
    writeGsSong(songs[0], {});
    writeGsSong(songs[1], { .delay = false });
    writeGsSong(songs[2], { .delay = false, .efx = false });
    {
        std::ofstream cfg(dir / "timidity.cfg");
        cfg << "soundfont " << font << "\n";
    }
    std::printf("%s (soundfont %s)\n", mid.c_str(), font.c_str());
    std::printf("%-22s %8s %8s %8s %8s %8s %8s %8s %8s %8s\n", "renderer", "level", "pad-shut",
        "pad-open", "opening", "fade-dB", "width", "fx-dB", "echo-ms", "brighter");
    const std::string q = "'";
    std::vector<std::string> builds;
    for (int i = 1; i < argc; ++i)
        builds.push_back(argv[i]);
    if (builds.empty())
        builds.push_back("build");
    // Renders the song and its twin with @p command (input and output appended) and reports.
    auto both = [&](const std::string& who, const std::string& tag, const std::string& command,
                    const std::string& options) {
        Stereo renders[3];
        for (int k = 0; k < 3; ++k) {
            const auto wav = dir / (tag + "-" + std::to_string(k) + ".wav");
            std::filesystem::remove(wav);
            const std::string in = q + songs[k].string() + q;
            const std::string out = q + wav.string() + q;
            std::system(
                (command + (options.empty() ? in + " " + out : out + " " + q + font + q + " " + in)
                    + " >/dev/null 2>&1")
                    .c_str());
            renders[k] = readWav(wav);
        }
        report(who.substr(0, 22).c_str(), renders[0], renders[1], renders[2]);
    };
    for (std::size_t i = 0; i < builds.size(); ++i)
        both("sequora " + builds[i], "sequora-" + std::to_string(i),
            "SEQUORA_SOUNDFONT=" + q + font + q + " " + builds[i] + "/bin/sequora-render ", "");
    both("fluidsynth -F", "fluidsynth", "fluidsynth -ni -q -F ", "font");
    // timidity takes its output after -o and the soundfont from its configuration.
    {
        Stereo renders[3];
        for (int k = 0; k < 3; ++k) {
            const auto wav = dir / ("timidity-" + std::to_string(k) + ".wav");
            std::filesystem::remove(wav);
            std::system(("timidity -c " + q + (dir / "timidity.cfg").string() + q
                + " -Ow --preserve-silence -o " + q + wav.string() + q + " " + q + songs[k].string()
                + q + " >/dev/null 2>&1")
                            .c_str());
            renders[k] = readWav(wav);
        }
        report("timidity -Ow", renders[0], renders[1], renders[2]);
    }
    std::printf("level: dBFS over bars 2-8; pad-shut/open: mean frequency (Hz) early in bar 0 and "
                "late in bar 1; "
                "fade-dB: the last half second against bar 8; width: sides against middle, dB; "
                "fx-dB: what a "
                "twin without the delay and insertion messages lacks, against it, bars 2-8; "
                "echo-ms: the lag of what "
                "the delay adds (0: none heard); brighter: mean frequency with the insertion "
                "effect against without\n");
    return 0;
}
