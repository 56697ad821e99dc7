// sequora-render IN.mid OUT.wav [--rate R] [--soundfont F] [--loops N] [--fade S]
//                [--tempo P] [--transpose N]
// Renders a song offline through the engine, as fast as the machine allows: 16-bit
// stereo WAV, the song's length plus a release tail. The soundfont, the effects and the
// listening level are the player's sound settings (SEQUORA_SOUNDFONT over them), so a
// file sounds as the player plays it; --soundfont chooses another font. A song with a
// marked loop plays it as the player does: N passes in all (default the player's
// setting, 2 until changed; 1 plays the file as written), then a pass fading out over S
// seconds (the player's, 8 until changed; 0: the file's own ending follows). At P % of
// its tempo (50-200) and N semitones up or down (-12 to 12, drum parts stay) when asked.

#include "platform/Settings.h"
#include "platform/midi/file/Song.h"
#include "platform/midi/output/WavWriter.h"
#include "platform/midi/output/fluidsynth/OfflineRenderer.h"
#include "platform/midi/transport/Sequencer.h"

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
constexpr int64_t kTailMs = 1500; // reverb and releases after the last event
constexpr uint32_t kBlockFrames = 16384; // large blocks: less overhead per frame
constexpr int kExitUsage = 2;
constexpr int kExitFailure = 1;

int usage()
{
    std::fprintf(stderr,
        "usage: sequora-render IN.mid OUT.wav [--rate R] [--soundfont F] [--loops N] [--fade S] "
        "[--tempo P] [--transpose N]\n");
    return kExitUsage;
}

// A whole number from @p lo to @p hi, all of @p text.
bool wholeNumber(std::string_view text, int lo, int hi, int& out)
{
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size() && out >= lo && out <= hi;
}

int fail(const std::string& message)
{
    std::fprintf(stderr, "sequora-render: %s\n", message.c_str());
    return kExitFailure;
}

bool parseInt(std::string_view text, int& out)
{
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size();
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string_view> files;
    int rate = kDefaultRate;
    std::string soundfont;
    const sequora::platform::PlayerSettings settings = sequora::platform::loadSettings();
    LoopPlayback loops = settings.loop;
    int fadeSeconds = loops.fadeMs / 1000;
    ListenerSettings listening;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--rate" && i + 1 < argc) {
            if (!wholeNumber(argv[++i], kMinRate, kMaxRate, rate))
                return fail("--rate takes a sample rate from 8000 to 192000");
        } else if (arg == "--loops" && i + 1 < argc) {
            if (!wholeNumber(
                    argv[++i], LoopPlayback::kMinLoops, LoopPlayback::kMaxLoops, loops.loops))
                return fail("--loops takes a number of passes from 1 to 9");
        } else if (arg == "--fade" && i + 1 < argc) {
            if (!wholeNumber(argv[++i], 0, LoopPlayback::kMaxFadeMs / 1000, fadeSeconds))
                return fail("--fade takes seconds from 0 to 20");
        } else if (arg == "--soundfont" && i + 1 < argc) {
            soundfont = argv[++i];
        } else if (arg == "--tempo" && i + 1 < argc) {
            if (!parseInt(argv[++i], listening.tempoPercent)
                || !TempoScale::valid(listening.tempoPercent))
                return fail("--tempo takes a percentage from 50 to 200");
        } else if (arg == "--transpose" && i + 1 < argc) {
            if (!parseInt(argv[++i], listening.transpose) || !listening.valid())
                return fail("--transpose takes semitones from -12 to 12");
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

    const SoundSetup sound = sequora::platform::effectiveSound(settings);
    if (soundfont.empty())
        soundfont = sound.soundfont;
    std::string error;
    auto renderer = OfflineRenderer::create(soundfont, rate, error);
    if (!renderer)
        return fail(error);
    renderer->setSound(sound.reverb, sound.chorus, sound.levelDb);
    OfflineRenderer& synth = *renderer;
    Sequencer sequencer(std::move(renderer));
    loops.fadeMs = fadeSeconds * 1000;
    sequencer.setLoopPlayback(loops);
    sequencer.setListening(listening);
    // What is heard: with a loop, the passes and the fade, in the listener's time.
    const int64_t lengthUs
        = TempoScale(listening.tempoPercent).listenerUs(LoopTimeline(song, loops).lengthUs());
    const int64_t songFrames = (lengthUs * rate + 999'999) / 1'000'000;
    sequencer.open(std::move(song));
    int64_t remaining = songFrames + kTailMs * rate / 1000;
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
