// Opening speed: Song::load on a generated 1,000,000-event file (16 tracks, hundreds of
// tempo changes), against FluidSynth's own MIDI file loader on the same file in the
// same run. Best of several runs each; prints both figures and their ratio.

#include "common/SmfWriter.h"
#include "platform/midi/Song.h"

#include <fluidsynth.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>

namespace {

constexpr int kTracks = 16;
constexpr int kChannelEvents = 1000000;
constexpr int kTempoChanges = 600;
constexpr int kDivision = 480;
constexpr int kRuns = 15;
constexpr int kFluidBlock = 64;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Tracks 1..15 hold note pairs (4 bytes per event, no running status); track 0 holds
// the tempo map.
sequora::test::Bytes makeSong()
{
    sequora::test::SmfWriter smf(1, kDivision);
    const int perTrack = kChannelEvents / (kTracks - 1);
    const int extra = kChannelEvents - perTrack * (kTracks - 1);
    const uint32_t noteTicks = 32; // about 40 minutes at the tempos below
    const int64_t songTicks = int64_t(perTrack + extra) * noteTicks;

    auto& conductor = smf.addTrack();
    conductor.timeSignature(0, 4, 2);
    const uint32_t step = uint32_t(songTicks / kTempoChanges);
    for (int i = 0; i < kTempoChanges; ++i)
        conductor.tempo(i == 0 ? 0 : step, 400000 + uint32_t(i % 37) * 7919);
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
        }
    }
    return smf.bytes();
}

double bestMs(const std::function<void()>& setup, const std::function<void()>& timed,
              const std::function<void()>& teardown)
{
    double best = 1e30;
    for (int i = 0; i < kRuns; ++i) {
        setup();
        const auto t0 = Clock::now();
        timed();
        const auto t1 = Clock::now();
        teardown();
        best = std::min(best, std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
    return best;
}

} // namespace

int main()
{
    const fs::path path = fs::temp_directory_path() / "sequora-bench-open.mid";
    const sequora::test::Bytes bytes = makeSong();
    sequora::test::SmfWriter::writeBytes(path, bytes);

    sequora::midi::Song song;
    sequora::midi::ReadResult result;
    const double oursMs = bestMs([] {}, [&] { result = sequora::midi::Song::load(path.string(), song); }, [] {});
    if (!result.playable()) {
        std::fprintf(stderr, "bench_open: %s\n", result.message.c_str());
        return 1;
    }

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
    const double fluidMs = bestMs(
        [&] { player = new_fluid_player(synth); },
        [&] {
            fluid_player_add(player, path.c_str());
            fluid_player_play(player);
            while ((fluidTicks = fluid_player_get_total_ticks(player)) <= 0
                   && fluid_player_get_status(player) == FLUID_PLAYER_PLAYING)
                fluid_synth_write_float(synth, kFluidBlock, left, 0, 1, right, 0, 1);
        },
        [&] {
            fluid_player_stop(player);
            delete_fluid_player(player);
        });
    delete_fluid_synth(synth);
    delete_fluid_settings(settings);
    if (!std::getenv("SEQUORA_BENCH_KEEP"))
        fs::remove(path);

    std::printf("file: %zu bytes, %d tracks, %zu events, %d tempo changes, %.1f s long\n",
                bytes.size(), song.trackCount(), song.events().size(), kTempoChanges,
                double(song.lengthUs()) / 1e6);
    std::printf("Song::load (read + tempo map + merge)   best of %d: %8.2f ms\n", kRuns, oursMs);
    std::printf("FluidSynth player load (%d ticks)   best of %d: %8.2f ms\n", fluidTicks, kRuns, fluidMs);
    std::printf("ratio FluidSynth / Sequora: %.2fx\n", fluidMs / oursMs);
    return 0;
}
