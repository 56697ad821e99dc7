// Opening speed: Song::load on a generated 1,000,000-event file (16 tracks, hundreds of
// tempo changes), against FluidSynth's own MIDI file loader on the same file, in the
// same run. Two settings: each open in a fresh process (as when a player opens a song:
// new memory must be faulted in), and repeated opens in one warm process. Runs of the
// two alternate so both see the same machine load; prints figures and ratios. The same
// file with a loop marked (loopStart/loopEnd markers, and CC 111 again and again) is
// opened beside it: reading the loop must cost nothing noticeable.

#include "common/SmfWriter.h"
#include "platform/midi/file/Song.h"

#include <fluidsynth.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kTracks = 16;
constexpr int kChannelEvents = 1000000;
constexpr int kTempoChanges = 600;
constexpr int kDivision = 480;
constexpr int kFreshRuns = 15;
constexpr int kWarmRuns = 25;
constexpr int kFluidBlock = 64;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Tracks 1..15 hold note pairs (4 bytes per event, no running status); track 0 holds
// the tempo map.
sequora::test::Bytes makeSong(bool looped)
{
    sequora::test::SmfWriter smf(1, kDivision);
    const int perTrack = kChannelEvents / (kTracks - 1);
    const int extra = kChannelEvents - perTrack * (kTracks - 1);
    const uint32_t noteTicks = 32; // about 40 minutes at the tempos below
    const int64_t songTicks = int64_t(perTrack + extra) * noteTicks;

    auto& conductor = smf.addTrack();
    conductor.timeSignature(0, 4, 2);
    const uint32_t step = uint32_t(songTicks / kTempoChanges);
    for (int i = 0; i < kTempoChanges; ++i) {
        conductor.tempo(i == 0 ? 0 : step, 400000 + uint32_t(i % 37) * 7919);
        if (looped && i == kTempoChanges / 6)
            conductor.text(0, 0x06, "loopStart");
        if (looped && i == kTempoChanges * 5 / 6)
            conductor.text(0, 0x06, "loopEnd");
    }
    for (int t = 1; t < kTracks; ++t) {
        auto& track = smf.addTrack();
        const int ch = (t - 1) % 16;
        const int count = perTrack + (t == 1 ? extra : 0);
        for (int i = 0; i < count; ++i) {
            const int key = 36 + (i / 2 + t * 5) % 60;
            if (i % 2 == 0)
                track.noteOn(i == 0 ? 0 : noteTicks, ch, key, 90);
            else
                track.noteOff(noteTicks, ch, key, 64);
            if (looped && t == 2 && i % 5000 == 1)
                track.controller(0, ch, 111, 0);
        }
    }
    return smf.bytes();
}

struct Sample {
    double wallMs = 0;
    double cpuMs = 0; // this thread's CPU time, page faults included
};

double threadCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

// One way of opening the file: setup and teardown are not timed.
struct Contender {
    const char* name;
    std::function<void()> setup;
    std::function<bool()> open; // false: the file was not read
    std::function<void()> teardown;
    std::vector<Sample> fresh;
    std::vector<Sample> warm;

    Sample measure() const
    {
        setup();
        const double c0 = threadCpuMs();
        const auto t0 = Clock::now();
        const bool ok = open();
        const auto t1 = Clock::now();
        const double c1 = threadCpuMs();
        teardown();
        if (!ok)
            return {-1, -1};
        return {std::chrono::duration<double, std::milli>(t1 - t0).count(), c1 - c0};
    }

    // In a child process, so nothing of earlier runs is warm.
    Sample measureFresh() const
    {
        int fds[2];
        if (pipe(fds) != 0)
            return {-1, -1};
        const pid_t child = fork();
        if (child == 0) {
            const Sample s = measure();
            const ssize_t n = write(fds[1], &s, sizeof s);
            _exit(n == ssize_t(sizeof s) ? 0 : 1);
        }
        close(fds[1]);
        Sample s{-1, -1};
        if (read(fds[0], &s, sizeof s) != ssize_t(sizeof s))
            s = {-1, -1};
        close(fds[0]);
        waitpid(child, nullptr, 0);
        return s;
    }
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

struct Summary {
    double medianWall;
    double bestWall;
    double bestCpu;
};

Summary summarise(const std::vector<Sample>& samples)
{
    std::vector<double> wall;
    std::vector<double> cpu;
    for (const Sample& s : samples) {
        wall.push_back(s.wallMs);
        cpu.push_back(s.cpuMs);
    }
    return {median(wall), *std::min_element(wall.begin(), wall.end()),
            *std::min_element(cpu.begin(), cpu.end())};
}

void report(const char* setting, const Contender& ours, const Contender& peer, bool freshSet)
{
    const Summary a = summarise(freshSet ? ours.fresh : ours.warm);
    const Summary b = summarise(freshSet ? peer.fresh : peer.warm);
    std::printf("%s, %zu runs each:\n", setting, (freshSet ? ours.fresh : ours.warm).size());
    const char* row = "  %-42s median %7.2f ms   best %7.2f ms   best CPU %7.2f ms\n";
    std::printf(row, ours.name, a.medianWall, a.bestWall, a.bestCpu);
    std::printf(row, peer.name, b.medianWall, b.bestWall, b.bestCpu);
    std::printf("  ratio FluidSynth / Sequora: median %.2fx   best %.2fx   best CPU %.2fx\n",
                b.medianWall / a.medianWall, b.bestWall / a.bestWall, b.bestCpu / a.bestCpu);
}

} // namespace

int main()
{
    const fs::path path = fs::temp_directory_path() / "sequora-bench-open.mid";
    const sequora::test::Bytes bytes = makeSong(false);
    sequora::test::SmfWriter::writeBytes(path, bytes);
    const fs::path loopedPath = fs::temp_directory_path() / "sequora-bench-open-looped.mid";
    sequora::test::SmfWriter::writeBytes(loopedPath, makeSong(true));

    sequora::midi::Song song;
    // Freeing the previous song is teardown, as deleting FluidSynth's player is.
    Contender ours{"Song::load (read, tempo map, merge)", [&] { song = sequora::midi::Song(); },
                   [&] { return sequora::midi::Song::load(path.string(), song).playable(); }, [] {}, {}, {}};
    Contender looped { "Song::load, the same with a loop marked",
        [&] { song = sequora::midi::Song(); },
        [&] {
            return sequora::midi::Song::load(loopedPath.string(), song).playable()
                && song.loop().has_value();
        },
        [] {}, {}, {} };

    // FluidSynth reads the file when its player first runs: time from adding the file to
    // the moment the player knows the song's total ticks (one 64-frame block rendered).
    for (int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG})
        fluid_set_log_function(level, nullptr, nullptr);
    fluid_settings_t* settings = new_fluid_settings();
    fluid_settings_setint(settings, "synth.reverb.active", 0);
    fluid_settings_setint(settings, "synth.chorus.active", 0);
    fluid_settings_setint(settings, "synth.polyphony", 16);
    fluid_synth_t* synth = new_fluid_synth(settings);
    fluid_player_t* player = nullptr;
    float left[kFluidBlock];
    float right[kFluidBlock];
    int fluidTicks = 0;
    Contender fluid{
        "FluidSynth player load (until total ticks)",
        [&] { player = new_fluid_player(synth); },
        [&] {
            fluid_player_add(player, path.c_str());
            fluid_player_play(player);
            while ((fluidTicks = fluid_player_get_total_ticks(player)) <= 0
                   && fluid_player_get_status(player) == FLUID_PLAYER_PLAYING)
                fluid_synth_write_float(synth, kFluidBlock, left, 0, 1, right, 0, 1);
            return fluidTicks > 0;
        },
        [&] {
            fluid_player_stop(player);
            delete_fluid_player(player);
        },
        {},
        {}};

    for (int round = 0; round < kFreshRuns; ++round) {
        ours.fresh.push_back(ours.measureFresh());
        looped.fresh.push_back(looped.measureFresh());
        fluid.fresh.push_back(fluid.measureFresh());
    }
    for (int round = 0; round < kWarmRuns; ++round) {
        ours.warm.push_back(ours.measure());
        looped.warm.push_back(looped.measure());
        fluid.warm.push_back(fluid.measure());
    }
    delete_fluid_synth(synth);
    delete_fluid_settings(settings);
    if (!std::getenv("SEQUORA_BENCH_KEEP")) {
        fs::remove(path);
        fs::remove(loopedPath);
    }
    for (const Contender* c : { &ours, &fluid, &looped })
        for (const auto* set : {&c->fresh, &c->warm})
            for (const Sample& s : *set)
                if (s.wallMs < 0) {
                    std::fprintf(stderr, "bench_open: %s could not read the file\n", c->name);
                    return 1;
                }

    std::printf("file: %zu bytes, %d tracks, %zu events, %d tempo changes, %.1f s long, %d ticks\n",
                bytes.size(), song.trackCount(), song.events().size(), kTempoChanges,
                double(song.lengthUs()) / 1e6, fluidTicks);
    report("each open in a fresh process", ours, fluid, true);
    report("repeated opens in one process", ours, fluid, false);
    const Summary plainFresh = summarise(ours.fresh);
    const Summary loopedFresh = summarise(looped.fresh);
    const Summary plainWarm = summarise(ours.warm);
    const Summary loopedWarm = summarise(looped.warm);
    std::printf("with a loop marked: fresh median %7.2f ms (best CPU %7.2f), warm median %7.2f ms "
                "(best CPU %7.2f)\n",
        loopedFresh.medianWall, loopedFresh.bestCpu, loopedWarm.medianWall, loopedWarm.bestCpu);
    std::printf("  ratio plain / looped: fresh median %.2fx, best CPU %.2fx; warm median %.2fx, "
                "best CPU %.2fx"
                " (1.00: the loop costs nothing)\n",
        plainFresh.medianWall / loopedFresh.medianWall, plainFresh.bestCpu / loopedFresh.bestCpu,
        plainWarm.medianWall / loopedWarm.medianWall, plainWarm.bestCpu / loopedWarm.bestCpu);
    return 0;
}
