// Render speed: sequora-render against `fluidsynth -ni -F out.wav -r 44100 SF file.mid`
// on the same songs and soundfont, in the same run. Each program renders each song a
// few times, alternating; the best wall time of each counts. Prints per song and in
// total the two times and their ratio (FluidSynth's time / ours: above 1 is faster).
// Then a piece of game music with a marked loop: ours plays it unrolled (`--loops 2`,
// twice and a fade), FluidSynth the file as written, so the two are compared per second
// of audio rendered.
// Then a GS song that uses the effect section (a delay send, two parts through the
// insertion effect) against its twin without those messages: what the section costs
// ours, and each beside FluidSynth on the same file.
// Then what following and publishing the parts for the parts window costs: the engine
// renders each song in this process with it and without it, alternating, and the ratio
// of the two best times (without / with: 1.00 is no cost).
//
//   bench_render [SONG.mid ...]     (default: a few of the openmsx songs)
//   env SEQUORA_RENDER=path/to/sequora-render, SEQUORA_SOUNDFONT=...

#include "BenchSoundfont.h"
#include "GsSong.h"
#include "common/LoopedSong.h"

#include "platform/midi/file/Song.h"
#include "platform/midi/output/fluidsynth/OfflineRenderer.h"
#include "platform/midi/transport/Sequencer.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kRuns = 3;
// The in-process renders are short and the difference small: more of them.
constexpr int kInProcessRuns = 5;
constexpr const char* kDefaultSongs[] = {"tttheme2.mid", "flying_scotsman.mid", "city_blues_redfarn.mid",
                                         "busy_schedule.mid", "harp_harmony.mid", "ultimate_run.mid"};

struct Timing {
    double wall = 1e300;
    double cpu = 1e300;
};

// Runs argv to completion with its output discarded; keeps the best wall and CPU seconds.
bool runTimed(const std::vector<std::string>& args, Timing& best)
{
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::fflush(nullptr); // or the child would write our buffered lines again
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return false;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
    best.wall = std::min(best.wall, wall);
    best.cpu = std::min(best.cpu, cpu);
    return true;
}

// Seconds of 16-bit stereo audio in a WAV file at @p rate (its header aside).
double audioSeconds(const std::string& wav, int rate)
{
    std::error_code ec;
    const auto bytes = fs::file_size(wav, ec);
    return ec ? 0.0 : double(bytes - 44) / 4.0 / rate;
}

// Renders @p path through the engine in this process, parts followed or not; wall seconds.
double renderInProcess(const std::string& path, const std::string& soundfont, bool followingParts)
{
    using namespace sequora::midi;
    constexpr int kRate = 44100;
    constexpr uint32_t kBlock = 1024; // the live output's period: one publication each
    Song song;
    std::string error;
    auto renderer = OfflineRenderer::create(soundfont, kRate, error);
    if (!Song::load(path, song).playable() || !renderer)
        return 0;
    OfflineRenderer& synth = *renderer;
    Sequencer sequencer(std::move(renderer));
    sequencer.setFollowingParts(followingParts);
    int64_t remaining = song.lengthUs() * kRate / 1'000'000;
    sequencer.open(std::move(song));
    sequencer.play();
    std::vector<int16_t> buffer(std::size_t(kBlock) * 2);
    const auto start = std::chrono::steady_clock::now();
    for (; remaining > 0; remaining -= kBlock)
        synth.render(buffer.data(), kBlock);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv)
{
    const std::string render = sequora::bench::ourRenderer(argv[0]);
    const std::string soundfont = sequora::bench::benchSoundfont();
    if (!fs::exists(render) || soundfont.empty()) {
        std::fprintf(stderr, "bench_render: needs %s and a soundfont\n", render.c_str());
        return 1;
    }
    const std::vector<std::string> songs = sequora::bench::benchSongs(argc, argv, kDefaultSongs);
    if (songs.empty()) {
        std::fprintf(stderr, "bench_render: no songs (install openttd-openmsx or name some)\n");
        return 1;
    }
    const fs::path dir = fs::temp_directory_path() / ("bench_render." + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string ours = (dir / "ours.wav").string();
    const std::string theirs = (dir / "theirs.wav").string();

    std::printf("soundfont %s, best of %d runs each, wall seconds (CPU seconds)\n", soundfont.c_str(), kRuns);
    std::printf("%-28s %16s %16s %7s %7s\n", "song", "sequora-render", "fluidsynth -F", "wall x", "CPU x");
    Timing totalOurs{0, 0}, totalTheirs{0, 0};
    for (const std::string& song : songs) {
        Timing a, b;
        bool ok = true;
        for (int run = 0; run < kRuns && ok; ++run) {
            ok = runTimed({render, song, ours, "--rate", "44100", "--soundfont", soundfont}, a)
                 && runTimed({"fluidsynth", "-ni", "-F", theirs, "-r", "44100", soundfont, song}, b);
        }
        if (!ok) {
            std::fprintf(stderr, "bench_render: a renderer failed on %s\n", song.c_str());
            fs::remove_all(dir);
            return 1;
        }
        std::printf("%-28s %7.2f (%6.2f) %7.2f (%6.2f) %7.2f %7.2f\n", fs::path(song).filename().c_str(), a.wall,
                    a.cpu, b.wall, b.cpu, b.wall / a.wall, b.cpu / a.cpu);
        totalOurs.wall += a.wall;
        totalOurs.cpu += a.cpu;
        totalTheirs.wall += b.wall;
        totalTheirs.cpu += b.cpu;
    }
    std::printf("%-28s %7.2f (%6.2f) %7.2f (%6.2f) %7.2f %7.2f\n", "total", totalOurs.wall, totalOurs.cpu,
                totalTheirs.wall, totalTheirs.cpu, totalTheirs.wall / totalOurs.wall, totalTheirs.cpu / totalOurs.cpu);
    std::printf("render speed ratio (fluidsynth / sequora-render, wall): %.2f\n", totalTheirs.wall / totalOurs.wall);

    const std::string game = (dir / "looped.mid").string();
    sequora::test::SmfWriter::writeBytes(
        game, sequora::test::loopedSong(sequora::test::LoopMark::Markers));
    // The piece as written by both, and unrolled by ours: the first pair says what this
    // music costs each, the second what playing its loop again adds.
    Timing once, looped, fluid;
    double onceAudio = 0, loopedAudio = 0, fluidAudio = 0;
    for (int run = 0; run < kRuns; ++run) {
        if (!runTimed(
                { render, game, ours, "--rate", "44100", "--soundfont", soundfont, "--loops", "1" },
                once)
            || !(onceAudio = audioSeconds(ours, 44100))
            || !runTimed(
                { render, game, ours, "--rate", "44100", "--soundfont", soundfont, "--loops", "2" },
                looped)
            || !(loopedAudio = audioSeconds(ours, 44100))
            || !runTimed(
                { "fluidsynth", "-ni", "-F", theirs, "-r", "44100", soundfont, game }, fluid)
            || !(fluidAudio = audioSeconds(theirs, 44100))) {
            std::fprintf(stderr, "bench_render: a renderer failed on the looped piece\n");
            fs::remove_all(dir);
            return 1;
        }
    }
    auto perSecond = [](const Timing& t, double audio) { return t.wall / audio; };
    std::printf("\nlooped game piece, wall seconds per second of audio (audio seconds):\n");
    std::printf("  sequora-render --loops 1 (as written)   %.4f (%5.1f s)\n",
        perSecond(once, onceAudio), onceAudio);
    std::printf("  sequora-render --loops 2 (unrolled)     %.4f (%5.1f s)\n",
        perSecond(looped, loopedAudio), loopedAudio);
    std::printf("  fluidsynth -F (as written)              %.4f (%5.1f s)\n",
        perSecond(fluid, fluidAudio), fluidAudio);
    std::printf("looped render speed ratio per second of audio (fluidsynth / sequora-render "
                "--loops 2): %.2f"
                " (as written: %.2f)\n",
        perSecond(fluid, fluidAudio) / perSecond(looped, loopedAudio),
        perSecond(fluid, fluidAudio) / perSecond(once, onceAudio));
    // 80 s of music: long enough that loading the soundfont does not hide the effects.
    const std::string fxSong = (dir / "gs-effects.mid").string();
    const std::string plainSong = (dir / "gs-plain.mid").string();
    sequora::bench::writeGsSong(fxSong, { .efxOnPad = true, .bars = 40 });
    sequora::bench::writeGsSong(plainSong, { .delay = false, .efx = false, .bars = 40 });
    Timing fxOurs, fxTheirs, plainOurs, plainTheirs;
    for (int run = 0; run < kRuns; ++run) {
        if (!runTimed({ render, fxSong, ours, "--rate", "44100", "--soundfont", soundfont }, fxOurs)
            || !runTimed({ render, plainSong, ours, "--rate", "44100", "--soundfont", soundfont },
                plainOurs)
            || !runTimed({ "fluidsynth", "-ni", "-F", theirs, "-r", "44100", soundfont, fxSong },
                fxTheirs)
            || !runTimed({ "fluidsynth", "-ni", "-F", theirs, "-r", "44100", soundfont, plainSong },
                plainTheirs)) {
            std::fprintf(stderr, "bench_render: a renderer failed on the GS song\n");
            fs::remove_all(dir);
            return 1;
        }
    }
    std::printf("\nGS song, 80 s, wall seconds (CPU seconds)\n");
    std::printf("%-28s %16s %16s %7s %7s\n", "song", "sequora-render", "fluidsynth -F", "wall x",
        "CPU x");
    auto line = [](const char* name, const Timing& a, const Timing& b) {
        std::printf("%-28s %7.2f (%6.2f) %7.2f (%6.2f) %7.2f %7.2f\n", name, a.wall, a.cpu, b.wall,
            b.cpu, b.wall / a.wall, b.cpu / a.cpu);
    };
    line("delay + 2 EFX parts", fxOurs, fxTheirs);
    line("same without them", plainOurs, plainTheirs);
    std::printf("effect section cost (sequora with / without, wall): %.2f, CPU: %.2f (aim <= 1.30)\n",
        fxOurs.wall / plainOurs.wall, fxOurs.cpu / plainOurs.cpu);

    std::printf("\nthe parts followed and published each 1024-frame period, in-process render, best of %d\n", kInProcessRuns);
    std::printf("%-28s %10s %10s %7s\n", "song", "with", "without", "ratio");
    double with = 0, without = 0;
    for (const std::string& song : songs) {
        double a = 1e300, b = 1e300;
        for (int run = 0; run < kInProcessRuns; ++run) {
            a = std::min(a, renderInProcess(song, soundfont, true));
            b = std::min(b, renderInProcess(song, soundfont, false));
        }
        std::printf("%-28s %10.3f %10.3f %7.3f\n", fs::path(song).filename().c_str(), a, b, b / a);
        with += a;
        without += b;
    }
    std::printf("parts snapshot cost ratio (without / with, wall): %.3f\n", without / with);
    fs::remove_all(dir);
    return 0;
}
