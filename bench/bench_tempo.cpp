// The listener's tempo: `sequora-render --tempo P` against `fluidsynth -F` on the same
// song written at that tempo (every tempo of the file scaled by 100/P), at 50 % and
// 200 %, in the same run. Each renders each song a few times, alternating; the best wall
// time counts, per second of the audio it wrote. Prints per song and tempo both times,
// the length of both renders (ours has a 1.5 s release tail after the song) and the
// ratio (FluidSynth's time per second / ours: above 1 is faster).
//
//   bench_tempo [SONG.mid ...]      (default: a few of the openmsx songs)
//   env SEQUORA_RENDER=path/to/sequora-render, SEQUORA_SOUNDFONT=...

#include "BenchSoundfont.h"
#include "WavFile.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kRuns = 3;
constexpr int kTempi[] = { 50, 200 };
constexpr uint32_t kDefaultTempo = 500000; // microseconds a quarter, when a file sets none
constexpr uint32_t kMaxTempo = 0xFFFFFF;
constexpr const char* kDefaultSongs[]
    = { "tttheme2.mid", "flying_scotsman.mid", "busy_schedule.mid" };

using Bytes = std::vector<uint8_t>;

uint32_t be32(const Bytes& b, std::size_t at)
{
    return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}

void putBe32(Bytes& b, std::size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + std::size_t(i)] = uint8_t(v >> (24 - 8 * i));
}

bool readVlq(const Bytes& b, std::size_t& at, std::size_t end, uint32_t& out)
{
    out = 0;
    for (int i = 0; i < 4 && at < end; ++i) {
        const uint8_t c = b[at++];
        out = out << 7 | (c & 0x7F);
        if (!(c & 0x80))
            return true;
    }
    return false;
}

uint32_t scaled(uint32_t tempo, int percent)
{
    return std::min<uint64_t>(kMaxTempo, (uint64_t(tempo) * 100 + percent / 2) / uint64_t(percent));
}

// The file at @p percent of its tempo: each tempo event scaled in place, and a scaled
// default tempo put first (a tempo of the file's own at tick 0 follows it and wins).
// Empty for a file it cannot walk, or one timed in SMPTE frames (no tempo to scale).
Bytes atTempo(Bytes file, int percent)
{
    if (file.size() < 14 || std::string(file.begin(), file.begin() + 4) != "MThd"
        || (file[12] & 0x80))
        return {};
    std::size_t at = 8 + be32(file, 4);
    bool first = true;
    while (at + 8 <= file.size()) {
        const bool track
            = std::string(file.begin() + std::ptrdiff_t(at), file.begin() + std::ptrdiff_t(at) + 4)
            == "MTrk";
        const std::size_t length = be32(file, at + 4);
        const std::size_t start = at + 8;
        const std::size_t end = std::min(file.size(), start + length);
        if (track) {
            std::size_t p = start;
            uint8_t running = 0;
            while (p < end) {
                uint32_t delta = 0;
                if (!readVlq(file, p, end, delta) || p >= end)
                    return {};
                uint8_t status = file[p];
                if (status >= 0x80)
                    ++p;
                else
                    status = running;
                if (status == 0xFF) {
                    if (p >= end)
                        return {};
                    const uint8_t type = file[p++];
                    uint32_t size = 0;
                    if (!readVlq(file, p, end, size) || p + size > end)
                        return {};
                    if (type == 0x51 && size == 3) {
                        const uint32_t t = scaled(
                            uint32_t(file[p]) << 16 | uint32_t(file[p + 1]) << 8 | file[p + 2],
                            percent);
                        file[p] = uint8_t(t >> 16);
                        file[p + 1] = uint8_t(t >> 8);
                        file[p + 2] = uint8_t(t);
                    }
                    p += size;
                } else if (status == 0xF0 || status == 0xF7) {
                    uint32_t size = 0;
                    if (!readVlq(file, p, end, size) || p + size > end)
                        return {};
                    p += size;
                } else if (status >= 0x80) {
                    running = status;
                    p += (status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0 ? 1 : 2;
                } else {
                    return {}; // data with no status to run on
                }
            }
            if (first) {
                const uint32_t t = scaled(kDefaultTempo, percent);
                const Bytes tempo { 0x00, 0xFF, 0x51, 0x03, uint8_t(t >> 16), uint8_t(t >> 8),
                    uint8_t(t) };
                file.insert(file.begin() + std::ptrdiff_t(start), tempo.begin(), tempo.end());
                putBe32(file, at + 4, uint32_t(length + tempo.size()));
                first = false;
                at += tempo.size();
            }
        }
        at += 8 + length;
    }
    return first ? Bytes {} : file;
}

bool runTimed(const std::vector<std::string>& args, double& best)
{
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::fflush(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)
        || WEXITSTATUS(status) != 0)
        return false;
    best = std::min(
        best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    return true;
}

double seconds(const fs::path& wav)
{
    const std::optional<sequora::test::Stereo> audio = sequora::bench::readWav16(wav);
    return audio && audio->rate > 0 ? double(audio->left.size()) / audio->rate : 0.0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string render = sequora::bench::ourRenderer(argv[0]);
    const std::string soundfont = sequora::bench::benchSoundfont();
    if (!fs::exists(render) || soundfont.empty()) {
        std::fprintf(stderr, "bench_tempo: needs %s and a soundfont\n", render.c_str());
        return 1;
    }
    const std::vector<std::string> songs = sequora::bench::benchSongs(argc, argv, kDefaultSongs);
    if (songs.empty()) {
        std::fprintf(stderr, "bench_tempo: no songs (install openttd-openmsx or name some)\n");
        return 1;
    }
    const fs::path dir = fs::temp_directory_path() / ("bench_tempo." + std::to_string(getpid()));
    fs::create_directories(dir);
    const fs::path ours = dir / "ours.wav";
    const fs::path theirs = dir / "theirs.wav";
    const fs::path rewritten = dir / "at-tempo.mid";

    std::printf("soundfont %s, best of %d runs each; wall ms per second of audio (audio seconds)\n",
        soundfont.c_str(), kRuns);
    std::printf("%-24s %6s %22s %22s %8s\n", "song", "tempo", "sequora-render --tempo",
        "fluidsynth -F, file", "ratio");
    double totalOurs = 0, totalTheirs = 0;
    int rows = 0;
    for (const std::string& song : songs) {
        std::ifstream in(song, std::ios::binary);
        const Bytes original((std::istreambuf_iterator<char>(in)), {});
        for (int percent : kTempi) {
            const Bytes file = atTempo(original, percent);
            if (file.empty()) {
                std::printf("%-24s %5d%% (a file this cannot rewrite)\n",
                    fs::path(song).filename().c_str(), percent);
                continue;
            }
            std::ofstream(rewritten, std::ios::binary)
                .write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
            double a = 1e300, b = 1e300;
            bool ok = true;
            for (int run = 0; run < kRuns && ok; ++run) {
                ok = runTimed({ render, song, ours.string(), "--rate", "44100", "--soundfont",
                                  soundfont, "--tempo", std::to_string(percent) },
                         a)
                    && runTimed({ "fluidsynth", "-ni", "-F", theirs.string(), "-r", "44100",
                                    soundfont, rewritten.string() },
                        b);
            }
            const double oursSeconds = seconds(ours);
            const double theirSeconds = seconds(theirs);
            if (!ok || oursSeconds <= 0 || theirSeconds <= 0) {
                std::fprintf(stderr, "bench_tempo: a renderer failed on %s at %d %%\n",
                    song.c_str(), percent);
                fs::remove_all(dir);
                return 1;
            }
            const double ourRate = 1000 * a / oursSeconds;
            const double theirRate = 1000 * b / theirSeconds;
            std::printf("%-24s %5d%% %10.2f (%8.2f) %10.2f (%8.2f) %8.2f\n",
                fs::path(song).filename().c_str(), percent, ourRate, oursSeconds, theirRate,
                theirSeconds, theirRate / ourRate);
            totalOurs += ourRate;
            totalTheirs += theirRate;
            ++rows;
        }
    }
    if (rows > 0)
        std::printf(
            "tempo render speed ratio (fluidsynth / sequora-render, per second of audio): %.2f\n",
            totalTheirs / totalOurs);
    fs::remove_all(dir);
    return 0;
}
