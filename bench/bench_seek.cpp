// Seek cost: seek + chase + the first period after play (which dispatches the chased state
// and strikes the held notes again) at 20 points of each openmsx song and of a dense
// file of a million events, through the offline synthesiser. Prints the worst and the
// median, in milliseconds and as a share of one audio period (1024 frames, 23 ms): the
// time between the seek and the sound is a gap only if it is longer than a period.
//
//   build/bench/bench_seek [SONG.mid ...]     (SEQUORA_SOUNDFONT, default TimGM6mb)

#include "BenchSoundfont.h"
#include "platform/midi/file/MidiBytes.h"
#include "platform/midi/output/fluidsynth/OfflineRenderer.h"
#include "platform/midi/transport/Sequencer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

using namespace sequora;
using namespace sequora::midi;

namespace {

constexpr int kRate = 44100;
constexpr uint32_t kPeriod = 1024;
constexpr int kPoints = 20;
constexpr double kGoalMs = 5.0;

Song denseSong(std::size_t count)
{
    // Ten minutes of notes, controllers and bends on every channel, a pedal on some.
    std::vector<MidiEvent> events;
    events.reserve(count);
    std::mt19937 random(7);
    const int64_t length = 600'000'000;
    for (std::size_t i = 0; events.size() < count; ++i) {
        const int64_t t = static_cast<int64_t>(i) * length / static_cast<int64_t>(count / 2);
        const auto ch = static_cast<uint8_t>(i % 16);
        const auto key = static_cast<uint8_t>(36 + random() % 60);
        events.push_back({t, static_cast<uint8_t>(kNoteOn | ch), key, 90, 0, 0});
        switch (i % 4) {
        case 0:
            events.push_back({t + 1, static_cast<uint8_t>(kControlChange | ch), kCcExpression,
                static_cast<uint8_t>(random() % 128), 0, 0});
            break;
        case 1:
            events.push_back({t + 1, static_cast<uint8_t>(kPitchBend | ch), 0, static_cast<uint8_t>(random() % 128), 0, 0});
            break;
        case 2:
            events.push_back({t + 1, static_cast<uint8_t>(kControlChange | ch), kCcSustain,
                static_cast<uint8_t>(i % 8 < 4 ? 127 : 0), 0, 0});
            break;
        default:
            events.push_back({t + 1, static_cast<uint8_t>(kNoteOff | ch), key, 0, 0, 0});
            break;
        }
    }
    std::stable_sort(events.begin(), events.end(), [](const MidiEvent& a, const MidiEvent& b) { return a.timeUs < b.timeUs; });
    return Song::fromEvents(std::move(events), {}, length + 1'000'000);
}

struct Figures {
    std::vector<double> ms;
};

void measure(const std::string& font, const std::string& name, const Song& song, Figures& all)
{
    std::string error;
    auto renderer = OfflineRenderer::create(font, kRate, error);
    if (!renderer) {
        std::fprintf(stderr, "bench_seek: %s\n", error.c_str());
        std::exit(1);
    }
    OfflineRenderer* out = renderer.get();
    Sequencer seq(std::move(renderer));
    seq.open(song);
    std::vector<int16_t> buffer(2 * kPeriod);
    seq.play();
    out->render(buffer.data(), kPeriod);
    std::mt19937 random(static_cast<unsigned>(song.events().size()));
    std::uniform_int_distribution<int64_t> at(0, std::max<int64_t>(0, song.lengthUs() / 1000 - 1));
    std::vector<double> times;
    for (int i = 0; i < kPoints; ++i) {
        // Playing, as a user seeking would be: a period of music, then the seek.
        out->render(buffer.data(), kPeriod);
        const auto start = std::chrono::steady_clock::now();
        seq.seek(at(random));
        seq.play();
        out->render(buffer.data(), kPeriod);
        const auto end = std::chrono::steady_clock::now();
        // What the period costs without a seek is what playing costs anyway.
        const auto plainStart = std::chrono::steady_clock::now();
        out->render(buffer.data(), kPeriod);
        const auto plainEnd = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::milli>((end - start) - (plainEnd - plainStart)).count());
    }
    std::sort(times.begin(), times.end());
    std::printf("%-28s %9zu events  median %6.2f ms  worst %6.2f ms\n", name.c_str(), song.events().size(),
        times[times.size() / 2], times.back());
    all.ms.insert(all.ms.end(), times.begin(), times.end());
}

} // namespace

int main(int argc, char** argv)
{
    const std::string font = bench::benchSoundfont();
    std::vector<std::filesystem::path> songs;
    for (int i = 1; i < argc; ++i)
        songs.emplace_back(argv[i]);
    if (songs.empty()) {
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator("/usr/share/games/openttd/baseset/openmsx", ec)) {
            if (e.path().extension() == ".mid")
                songs.push_back(e.path());
        }
        std::sort(songs.begin(), songs.end());
    }
    std::printf("seek + chase + first period after play, %d points each, soundfont %s\n", kPoints, font.c_str());
    Figures songsFigures;
    for (const auto& path : songs) {
        Song song;
        if (!Song::load(path.string(), song).playable())
            continue;
        measure(font, path.filename().string(), song, songsFigures);
    }
    Figures dense;
    measure(font, "dense (1 M events)", denseSong(1'000'000), dense);
    const double period = 1000.0 * kPeriod / kRate;
    auto summary = [&](const char* what, std::vector<double> v) {
        if (v.empty())
            return;
        std::sort(v.begin(), v.end());
        std::printf("%-28s median %6.2f ms  worst %6.2f ms  = %.2f of a period (%.1f ms), %.2f of the %.0f ms goal\n",
            what, v[v.size() / 2], v.back(), v.back() / period, period, v.back() / kGoalMs, kGoalMs);
    };
    summary("all songs", songsFigures.ms);
    summary("dense file", dense.ms);
    return 0;
}
