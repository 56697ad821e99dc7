// Opening a song's words: SongText::load on a generated 1,000,000-event file that
// carries 100,000 lyric events (Shift_JIS syllables, a line mark every eighth), against
// the engine's own Song::load of the same file, in the same run, as a ratio. Then the
// lyrics window following that file: the longest time its thread spends on any step.

#include "common/SmfWriter.h"
#include "info/SongTextLoader.h"
#include "info/frmLyrics.h"
#include "platform/midi/file/Song.h"
#include "platform/midi/file/SongText.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <vector>

namespace {

constexpr int kTracks = 16;
constexpr int kEvents = 1000000;
constexpr int kLyrics = 100000;
constexpr int kDivision = 480;
constexpr int kRuns = 15;
constexpr uint32_t kTicksPerLyric = 120;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Track 0: tempo and the words; tracks 1..15: note pairs making up the other events.
sequora::test::Bytes makeSong()
{
    sequora::test::SmfWriter smf(1, kDivision);
    auto& words = smf.addTrack();
    words.tempo(0, 500000).trackName(0, "\x83\x65\x83\x58\x83\x67");
    static const char* const kKana[] = { "\x82\xB3", "\x82\xAD", "\x82\xE7", "\x82\xCC", "\x95\x5C",
        "\x82\xA0", "\x82\xA2", "\x82\xA4" };
    for (int i = 0; i < kLyrics; ++i)
        words.text(i == 0 ? 0 : kTicksPerLyric, 0x05,
            std::string(kKana[i % 8]) + (i % 8 == 7 ? "\r" : ""));
    const int notes = kEvents - kLyrics;
    const int perTrack = notes / (kTracks - 1);
    const uint32_t noteTicks = uint32_t(int64_t(kLyrics) * kTicksPerLyric / perTrack);
    for (int t = 1; t < kTracks; ++t) {
        auto& track = smf.addTrack();
        const int count = perTrack + (t == 1 ? notes - perTrack * (kTracks - 1) : 0);
        for (int i = 0; i < count; ++i) {
            const int key = 36 + (i / 2 + t * 5) % 60;
            if (i % 2 == 0)
                track.noteOn(i == 0 ? 0 : noteTicks, (t - 1) % 16, key, 90);
            else
                track.noteOff(noteTicks, (t - 1) % 16, key, 64);
        }
    }
    return smf.bytes();
}

double ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

struct Summary {
    double median;
    double best;
};

Summary summarise(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return { v[v.size() / 2], v.front() };
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const fs::path path = fs::temp_directory_path() / "sequora-bench-lyrics.mid";
    const sequora::test::Bytes bytes = makeSong();
    sequora::test::SmfWriter::writeBytes(path, bytes);

    // Runs alternate so that both see the same machine load.
    std::vector<double> texts;
    std::vector<double> engine;
    std::size_t syllables = 0;
    std::size_t events = 0;
    for (int run = 0; run < kRuns; ++run) {
        {
            sequora::midi::SongText song;
            const auto t0 = Clock::now();
            const bool ok = sequora::midi::SongText::load(path.string(), song).playable();
            texts.push_back(ms(Clock::now() - t0));
            if (!ok)
                return 1;
            syllables = song.syllableCount();
        }
        {
            sequora::midi::Song song;
            const auto t0 = Clock::now();
            const bool ok = sequora::midi::Song::load(path.string(), song).playable();
            engine.push_back(ms(Clock::now() - t0));
            if (!ok)
                return 1;
            events = song.events().size();
        }
    }
    const Summary a = summarise(texts);
    const Summary b = summarise(engine);
    std::printf(
        "file: %zu bytes, %zu playable events, %zu syllables\n", bytes.size(), events, syllables);
    const char* row = "  %-40s median %7.2f ms   best %7.2f ms\n";
    std::printf("%d runs each:\n", kRuns);
    std::printf(row, "SongText::load (title, words, display)", a.median, a.best);
    std::printf(row, "Song::load (the engine's open)", b.median, b.best);
    std::printf("  ratio SongText / Song: median %.2fx   best %.2fx\n", a.median / b.median,
        a.best / b.best);

    // The window: follow() asks for the texts and returns; the read goes on elsewhere;
    // showing them is one more step. The longest of these is what a tick may wait.
    QApplication app(argc, argv);
    SongTextLoader loader;
    frmLyrics window(loader);
    window.show();
    double longest = 0;
    QElapsedTimer step;
    step.start();
    window.follow(path.string(), 0);
    longest = std::max(longest, double(step.nsecsElapsed()) / 1e6);
    QObject::connect(
        &loader, &SongTextLoader::loaded, &window, [&] { step.restart(); }, Qt::DirectConnection);
    const auto waited = Clock::now();
    loader.waitForDone();
    const double reading = ms(Clock::now() - waited);
    QCoreApplication::processEvents();
    longest = std::max(longest, double(step.nsecsElapsed()) / 1e6);
    for (int64_t units = 0; units < 6000; units += 7) {
        step.restart();
        window.follow(path.string(), units);
        longest = std::max(longest, double(step.nsecsElapsed()) / 1e6);
    }
    std::printf("the lyrics window on this file: read off its thread in %.1f ms; the longest "
                "step on its own thread %.2f ms (a monitor tick is 10 ms); line shown: %s\n",
        reading, longest, qPrintable(window.currentLine()));
    if (!std::getenv("SEQUORA_BENCH_KEEP"))
        fs::remove(path);
    return 0;
}
