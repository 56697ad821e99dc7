// Seek cost: seek + chase + the first period after play (which dispatches the chased state
// and strikes the held notes again) at 20 points of each openmsx song and of a dense
// file of a million events, through the offline synthesiser. Prints the worst and the
// median, in milliseconds and as a share of one audio period (1024 frames, 23 ms): the
// time between the seek and the sound is a gap only if it is longer than a period.
// Beside it, the cost of a loop's jump back on the audio thread: the period holding
// the jump less a plain one, at every jump of each song given a loop (its middle half),
// of the game piece with its own loop, and of the dense file.
//
//   build/bench/bench_seek [SONG.mid ...]     (SEQUORA_SOUNDFONT, default TimGM6mb)

#include "BenchSoundfont.h"
#include "common/LoopedSong.h"
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

double periodMs(OfflineRenderer& out, std::vector<int16_t>& buffer)
{
    const auto start = std::chrono::steady_clock::now();
    out.render(buffer.data(), kPeriod);
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

// Every jump of @p song's loop played nine times with a 20 s fade: the period that holds
// it, less the period after.
void measureJumps(const std::string& font, const std::string& name, const Song& song, Figures& all)
{
    std::string error;
    auto renderer = OfflineRenderer::create(font, kRate, error);
    if (!renderer) {
        std::fprintf(stderr, "bench_seek: %s\n", error.c_str());
        std::exit(1);
    }
    OfflineRenderer* out = renderer.get();
    Sequencer seq(std::move(renderer));
    const LoopPlayback playback { LoopPlayback::kMaxLoops, LoopPlayback::kMaxFadeMs };
    seq.setLoopPlayback(playback);
    seq.open(song);
    const LoopTimeline timeline(song, playback);
    std::vector<int16_t> buffer(2 * kPeriod);
    std::vector<double> times;
    for (LoopTimeline::Segment s = timeline.segmentAt(0); s.jumps; s = timeline.next(s)) {
        // Half a period before the jump, then a period of music up to there.
        const int64_t jumpMs = (s.endSongUs + s.offsetUs) / 1000;
        const int64_t before = 1000 * kPeriod / kRate / 2;
        seq.seek(std::max<int64_t>(0, jumpMs - before - 1000 * kPeriod / kRate));
        seq.play();
        out->render(buffer.data(), kPeriod);
        const double jump = periodMs(*out, buffer);
        times.push_back(jump - periodMs(*out, buffer));
    }
    std::sort(times.begin(), times.end());
    std::printf("%-28s %9zu events  %2zu jumps  median %6.2f ms  worst %6.2f ms\n", name.c_str(),
        song.events().size(), times.size(), times[times.size() / 2], times.back());
    all.ms.insert(all.ms.end(), times.begin(), times.end());
}

// The song's middle half as its loop.
Song withLoop(Song song)
{
    if (!song.loop())
        song.setLoop(SongLoop { song.lengthUs() / 4, song.lengthUs() * 3 / 4 });
    return song;
}

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
    std::vector<std::pair<std::string, Song>> loaded;
    for (const auto& path : songs) {
        Song song;
        if (!Song::load(path.string(), song).playable())
            continue;
        measure(font, path.filename().string(), song, songsFigures);
        loaded.emplace_back(path.filename().string(), std::move(song));
    }
    Figures dense;
    const Song denseOne = denseSong(1'000'000);
    measure(font, "dense (1 M events)", denseOne, dense);

    std::printf("\nthe jump back at a loop's end: the period holding it less a plain one, loop "
                "played %d times\n",
        LoopPlayback::kMaxLoops);
    Figures songJumps;
    Figures denseJumps;
    Song game;
    Song::parse(test::loopedSong(test::LoopMark::Markers), game);
    measureJumps(font, "game piece (its own loop)", game, songJumps);
    for (const auto& [name, song] : loaded)
        measureJumps(font, name, withLoop(song), songJumps);
    measureJumps(font, "dense (1 M events)", withLoop(denseOne), denseJumps);
    const double period = 1000.0 * kPeriod / kRate;
    auto summary = [&](const char* what, std::vector<double> v) {
        if (v.empty())
            return;
        std::sort(v.begin(), v.end());
        std::printf("%-28s median %6.2f ms  worst %6.2f ms  = %.2f of a period (%.1f ms), %.2f of the %.0f ms goal\n",
            what, v[v.size() / 2], v.back(), v.back() / period, period, v.back() / kGoalMs, kGoalMs);
    };
    summary("seek, all songs", songsFigures.ms);
    summary("jump, all songs", songJumps.ms);
    summary("seek, dense file", dense.ms);
    summary("jump, dense file", denseJumps.ms);
    return 0;
}
