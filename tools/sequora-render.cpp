// sequora-render IN.mid OUT.wav [--rate R] [--soundfont F]
// Renders a song offline through the engine, as fast as the machine allows: 16-bit
// stereo WAV, the song's length plus a release tail.

#include "platform/midi/output/fluidsynth/OfflineRenderer.h"
#include "platform/midi/transport/Sequencer.h"
#include "platform/midi/file/Song.h"
#include "platform/midi/output/WavWriter.h"

#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

using namespace sequora::midi;

namespace {

constexpr int kDefaultRate = 44100;
constexpr int kMinRate = 8000;
constexpr int kMaxRate = 192000;
constexpr int64_t kTailMs = 1500;      // reverb and releases after the last event
constexpr uint32_t kBlockFrames = 16384; // large blocks: less overhead per frame
constexpr int kExitUsage = 2;
constexpr int kExitFailure = 1;

int usage()
{
    std::fprintf(stderr, "usage: sequora-render IN.mid OUT.wav [--rate R] [--soundfont F]\n");
    return kExitUsage;
}

int fail(const std::string& message)
{
    std::fprintf(stderr, "sequora-render: %s\n", message.c_str());
    return kExitFailure;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string_view> files;
    int rate = kDefaultRate;
    std::string soundfont;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--rate" && i + 1 < argc) {
            const std::string_view value = argv[++i];
            auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), rate);
            if (ec != std::errc() || end != value.data() + value.size() || rate < kMinRate || rate > kMaxRate)
                return fail("--rate takes a sample rate from 8000 to 192000");
        } else if (arg == "--soundfont" && i + 1 < argc) {
            soundfont = argv[++i];
        } else if (arg.starts_with("--")) {
            return usage();
        } else {
            files.push_back(arg);
        }
    }
    if (files.size() != 2)
        return usage();
    const std::string in(files[0]);
    const std::string out(files[1]);

    Song song;
    const ReadResult read = Song::load(in, song);
    if (!read.playable())
        return fail(in + ": " + read.message);

    std::string error;
    auto renderer = OfflineRenderer::create(soundfont, rate, error);
    if (!renderer)
        return fail(error);
    OfflineRenderer& synth = *renderer;
    Sequencer sequencer(std::move(renderer));

    const int64_t songFrames = (song.lengthUs() * rate + 999'999) / 1'000'000;
    int64_t remaining = songFrames + kTailMs * rate / 1000;
    sequencer.open(std::move(song));
    sequencer.play();

    WavWriter wav;
    if (!wav.open(out, rate, 2))
        return fail(wav.error());
    std::vector<int16_t> buffer(std::size_t(kBlockFrames) * 2);
    while (remaining > 0) {
        const auto frames = static_cast<uint32_t>(std::min<int64_t>(remaining, kBlockFrames));
        synth.render(buffer.data(), frames);
        if (!wav.write(buffer.data(), frames))
            return fail(wav.error());
        remaining -= frames;
    }
    if (!wav.close())
        return fail(wav.error());
    return 0;
}
