// Timing: a generated 40-minute click track whose tempo changes on every beat, rendered
// offline by the engine and by FluidSynth's own MIDI player (64-frame periods, as its
// file renderer uses), both at 44.1 kHz with the same soundfont. Every click's onset is
// found in the audio and compared with the time the tempo map gives it; prints the worst
// and the last error of each side by side.
//
//   bench_timing [MINUTES]     (default 40)

#include "common/SmfWriter.h"
#include "BenchSoundfont.h"
#include "platform/midi/output/fluidsynth/FluidSynthCore.h"
#include "platform/midi/output/fluidsynth/OfflineRenderer.h"
#include "platform/midi/transport/Sequencer.h"

#include <fluidsynth.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace sequora::midi;

namespace {

constexpr int kRate = 44100;
constexpr uint16_t kPpq = 480;
constexpr uint32_t kTempos[] = {487'653, 412'347, 530'011, 456'789}; // µs per quarter
constexpr int kBeatsPerClick = 4;
constexpr int kClickKey = 76;   // hi wood block
constexpr int kDrums = 9;
// Search window around each expected onset, in frames: wide after it, so that a player
// that drifts late is measured rather than losing its clicks (clicks are ~1.8 s apart).
constexpr int64_t kBefore = 1000;
constexpr int64_t kAfter = 30000;
constexpr uint32_t kOurBlock = 4096;
constexpr int kFluidBlock = 64;

int64_t frameAt(int64_t us) { return (us * kRate + 500'000) / 1'000'000; }

// Finds, in audio fed block by block, the first sample over a threshold near each
// expected onset.
class OnsetFinder {
public:
    /// @p attack: frames the click's sample takes from its start to the threshold.
    OnsetFinder(std::vector<int64_t> expected, int threshold, int64_t attack)
        : m_expected(std::move(expected)), m_threshold(threshold), m_attack(attack)
    {
    }

    void feed(const int16_t* stereo, int frames)
    {
        for (int i = 0; i < frames; ++i, ++m_at) {
            while (m_next < m_expected.size() && m_at > m_expected[m_next] + kAfter) {
                ++m_missing;
                ++m_next;
            }
            if (m_next >= m_expected.size())
                return;
            if (m_at >= m_expected[m_next] - kBefore && std::abs(int(stereo[2 * i])) > m_threshold) {
                const int64_t error = m_at - m_attack - m_expected[m_next];
                m_worst = std::max(m_worst, std::abs(error));
                m_sum += error;
                m_last = error;
                ++m_found;
                ++m_next;
            }
        }
    }
    void report(const char* who) const
    {
        std::printf("%-26s %6d/%zu found  worst %4lld frames (%.2f ms)  mean %+7.1f  last %+5lld frames\n", who, m_found,
                    m_expected.size(), static_cast<long long>(m_worst), m_worst * 1000.0 / kRate,
                    m_found ? double(m_sum) / m_found : 0.0, static_cast<long long>(m_last));
    }

private:
    std::vector<int64_t> m_expected;
    int m_threshold;
    int64_t m_attack;
    std::size_t m_next = 0;
    int64_t m_at = 0;
    int m_found = 0;
    int m_missing = 0;
    int64_t m_worst = 0;
    int64_t m_sum = 0;
    int64_t m_last = 0;
};

// Writes the click track; returns each click's time in µs and the song's length.
std::vector<int64_t> writeClickTrack(const fs::path& path, int minutes, int64_t& lengthUs)
{
    sequora::test::SmfWriter smf(0, kPpq);
    auto& track = smf.addTrack();
    std::vector<int64_t> clicks;
    int64_t us = 0;
    for (int beat = 0; us < int64_t(minutes) * 60'000'000; ++beat) {
        const uint32_t tempo = kTempos[beat % std::size(kTempos)];
        track.tempo(0, tempo);
        if (beat % kBeatsPerClick == 0) {
            clicks.push_back(us);
            track.noteOn(0, kDrums, kClickKey, 120).noteOff(kPpq / 8, kDrums, kClickKey);
            track.controller(kPpq - kPpq / 8, 0, 7, 100);
        } else {
            track.controller(kPpq, 0, 7, 100);
        }
        us += tempo;
    }
    track.endOfTrack(0);
    smf.writeFile(path);
    lengthUs = us;
    return clicks;
}

double seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

} // namespace

int main(int argc, char** argv)
{
    const int minutes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 40;
    const std::string soundfont = sequora::bench::benchSoundfont();
    if (soundfont.empty()) {
        std::fprintf(stderr, "bench_timing: no soundfont\n");
        return 1;
    }
    const fs::path file = fs::temp_directory_path() / ("bench_timing." + std::to_string(getpid()) + ".mid");
    int64_t lengthUs = 0;
    const std::vector<int64_t> clicksUs = writeClickTrack(file, minutes, lengthUs);
    std::vector<int64_t> expected;
    for (int64_t us : clicksUs)
        expected.push_back(frameAt(us));
    std::printf("%d-minute click track, %zu clicks, a tempo change on every beat, %s\n", minutes, clicksUs.size(),
                soundfont.c_str());

    std::string error;
    auto renderer = OfflineRenderer::create(soundfont, kRate, error);
    if (!renderer) {
        std::fprintf(stderr, "bench_timing: %s\n", error.c_str());
        return 1;
    }
    OfflineRenderer& synth = *renderer;
    Sequencer sequencer(std::move(renderer));

    // A lone click on a synth block boundary gives the level to detect onsets at and how
    // long the sample itself takes to get there (not a timing error of either player).
    // A fresh synthesiser's first voice starts a little differently: measure the second.
    constexpr uint32_t kCalibration = 16 * kOurBlock; // whole blocks keep the synth on its grid
    const int64_t secondUs = int64_t(kCalibration) * 1'000'000 / kRate + 1; // on frame kCalibration
    std::vector<int16_t> one(std::size_t(kCalibration) * 2);
    sequencer.open(Song::fromEvents({{0, uint8_t(0x90 | kDrums), kClickKey, 120, 0, 0},
                                     {secondUs, uint8_t(0x90 | kDrums), kClickKey, 120, 0, 0}},
                                    {}, secondUs + 500'000));
    sequencer.play();
    synth.render(one.data(), kCalibration);
    synth.render(one.data(), kCalibration);
    int peak = 0;
    for (int16_t s : one)
        peak = std::max(peak, std::abs(int(s)));
    const int threshold = peak / 10;
    int64_t attack = 0;
    while (std::abs(int(one[std::size_t(attack) * 2])) <= threshold)
        ++attack;
    std::vector<int16_t> buffer(std::size_t(kOurBlock) * 2);

    // Our attack includes the limiter's look-ahead, which the position reports; FluidSynth's
    // player has none, and plays at FluidSynth's default gain.
    constexpr double kFluidDefaultGain = 0.2;
    const int64_t latency = synth.latencyFrames();
    const int theirThreshold = static_cast<int>(threshold * kFluidDefaultGain / FluidSynthCore::kGain);

    auto start = std::chrono::steady_clock::now();
    OnsetFinder ours(expected, threshold, attack);
    if (!sequencer.open(file.string()).playable()) {
        std::fprintf(stderr, "bench_timing: the engine cannot read its own click track\n");
        return 1;
    }
    sequencer.play();
    for (int64_t done = 0; done < frameAt(lengthUs) + kRate; done += kOurBlock) {
        synth.render(buffer.data(), kOurBlock);
        ours.feed(buffer.data(), kOurBlock);
    }
    const double ourSeconds = seconds(start);

    start = std::chrono::steady_clock::now();
    OnsetFinder theirs(expected, theirThreshold, attack - latency);
    fluid_settings_t* settings = new_fluid_settings();
    fluid_settings_setnum(settings, "synth.sample-rate", kRate);
    fluid_settings_setstr(settings, "player.timing-source", "sample");
    fluid_settings_setint(settings, "synth.lock-memory", 0);
    fluid_synth_t* fsynth = new_fluid_synth(settings);
    fluid_synth_sfload(fsynth, soundfont.c_str(), 1);
    fluid_player_t* player = new_fluid_player(fsynth);
    fluid_player_add(player, file.c_str());
    fluid_player_play(player);
    std::vector<int16_t> small(std::size_t(kFluidBlock) * 2);
    while (fluid_player_get_status(player) == FLUID_PLAYER_PLAYING) {
        fluid_synth_write_s16(fsynth, kFluidBlock, small.data(), 0, 2, small.data(), 1, 2);
        theirs.feed(small.data(), kFluidBlock);
    }
    for (int b = 0; b < kRate / kFluidBlock; ++b) { // the last click's ring
        fluid_synth_write_s16(fsynth, kFluidBlock, small.data(), 0, 2, small.data(), 1, 2);
        theirs.feed(small.data(), kFluidBlock);
    }
    delete_fluid_player(player);
    delete_fluid_synth(fsynth);
    delete_fluid_settings(settings);
    const double theirSeconds = seconds(start);

    std::printf("onset error against the file's times, at %d Hz (threshold %d, the sample's own attack of %lld frames"
                " taken off):\n", kRate, threshold, static_cast<long long>(attack));
    ours.report("sequora engine");
    theirs.report("fluidsynth player");
    std::printf("render time: sequora %.1f s, fluidsynth %.1f s\n", ourSeconds, theirSeconds);
    fs::remove(file);
    return 0;
}
