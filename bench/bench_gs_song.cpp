// A short song written the way a 1990s GS song was: a GS reset, the Hall 1 reverb macro,
// master volume, a pad alone whose filter opens by NRPN over the two bars of the intro, a saw lead gliding by
// portamento, a bass line moved down an octave by part key shift, a snare retuned by its
// drum-key NRPN, and a fade by master volume at the end. It is written to a file and
// rendered by each sequora-render given (say, the builds before and after a change),
// `fluidsynth -F` and `timidity -Ow`, and each render is measured where a listener would
// hear these messages.
//
//   build/bench/bench_gs_song [BUILD ...]    (SEQUORA_SOUNDFONT, default FluidR3_GM)

#include "common/SmfWriter.h"
#include "engine/EffectMeasures.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using sequora::test::Bytes;
using sequora::test::SmfWriter;
using sequora::test::Stereo;

namespace {

constexpr int kPpq = 480;          // at 120 bpm: 960 ticks a second
constexpr uint32_t kBar = 4 * kPpq;

struct Event {
    uint32_t tick;
    Bytes bytes; ///< a channel message, or a SysEx payload after F0
    bool sysex = false;
};

Bytes gs(uint8_t a1, uint8_t a2, uint8_t a3, uint8_t v)
{
    return {0x41, 0x10, 0x42, 0x12, a1, a2, a3, v, static_cast<uint8_t>((128 - (a1 + a2 + a3 + v) % 128) % 128), 0xF7};
}

void writeTrack(SmfWriter& smf, std::vector<Event> events, uint32_t end)
{
    std::stable_sort(events.begin(), events.end(), [](const Event& a, const Event& b) { return a.tick < b.tick; });
    auto& t = smf.addTrack();
    uint32_t now = 0;
    for (const Event& e : events) {
        const uint32_t delta = e.tick - now;
        now = e.tick;
        if (e.sysex)
            t.sysex(delta, e.bytes);
        else
            t.channel(delta, e.bytes[0], e.bytes[1], e.bytes.size() > 2 ? e.bytes[2] : 0);
    }
    t.endOfTrack(end > now ? end - now : 0);
}

void note(std::vector<Event>& out, uint32_t at, uint32_t length, int ch, int key, int vel)
{
    out.push_back({at, {uint8_t(0x90 | ch), uint8_t(key), uint8_t(vel)}});
    out.push_back({at + length, {uint8_t(0x80 | ch), uint8_t(key), 0}});
}

void cc(std::vector<Event>& out, uint32_t at, int ch, int n, int v)
{
    out.push_back({at, {uint8_t(0xB0 | ch), uint8_t(n), uint8_t(v)}});
}

constexpr uint32_t kBars = 10;

void writeSong(const std::filesystem::path& file)
{
    SmfWriter smf(1, kPpq);
    auto& conductor = smf.addTrack();
    conductor.tempo(0, 500000).endOfTrack(kBars * kBar);

    std::vector<Event> setup;
    setup.push_back({0, {0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7}, true});
    setup.push_back({10, gs(0x40, 0x01, 0x30, 0x03), true}); // reverb macro Hall 1
    setup.push_back({20, gs(0x40, 0x00, 0x04, 0x64), true}); // master volume 100
    setup.push_back({30, gs(0x40, 0x12, 0x16, 0x34), true}); // part 2 (bass) key shift -12
    // The fade: master volume from 100 down to 0 over the last bar.
    for (int i = 1; i <= 16; ++i)
        setup.push_back({(kBars - 1) * kBar + uint32_t(i) * kBar / 16, gs(0x40, 0x00, 0x04, uint8_t(100 - i * 100 / 16)), true});
    writeTrack(smf, setup, kBars * kBar);

    std::vector<Event> lead; // channel 1: saw lead with portamento
    lead.push_back({40, {0xC0, 81}});
    cc(lead, 40, 0, 65, 127);
    cc(lead, 40, 0, 5, 40);
    const int melody[] = {72, 76, 79, 84, 79, 76, 74, 77, 81, 79, 77, 74, 72, 71, 72, 67};
    for (int i = 0; i < 16; ++i)
        note(lead, 2 * kBar + uint32_t(i) * kBar / 2, kBar / 2 - 60, 0, melody[i], 90);
    writeTrack(smf, lead, kBars * kBar);

    std::vector<Event> bass; // channel 2: written an octave up, shifted down by the part
    bass.push_back({40, {0xC1, 33}});
    const int roots[] = {48, 45, 41, 43};
    for (uint32_t bar = 2; bar < kBars - 1; ++bar)
        for (int beat = 0; beat < 4; ++beat)
            note(bass, bar * kBar + uint32_t(beat) * kPpq, kPpq - 40, 1, roots[bar % 4] + (beat == 2 ? 7 : 0), 100);
    writeTrack(smf, bass, kBars * kBar);

    std::vector<Event> pad; // channel 3: a pad whose filter opens over the intro
    pad.push_back({40, {0xC2, 81}}); // a saw: bright enough for the sweep to be heard
    cc(pad, 40, 2, 99, 0x01);
    cc(pad, 40, 2, 98, 0x20);
    cc(pad, 40, 2, 6, 0);
    for (uint32_t step = 1; step <= 32; ++step)
        cc(pad, step * kBar / 16, 2, 6, int(std::min<uint32_t>(127, step * 4)));
    for (uint32_t bar = 0; bar < kBars - 1; ++bar)
        for (int key : {0, 4, 7})
            note(pad, bar * kBar, kBar - 20, 2, roots[bar % 4] + 12 + key, 70);
    writeTrack(smf, pad, kBars * kBar);

    std::vector<Event> drums; // channel 10: the snare tuned up four semitones
    cc(drums, 40, 9, 99, 0x18);
    cc(drums, 40, 9, 98, 38);
    cc(drums, 40, 9, 6, 68);
    for (uint32_t beat = 8; beat < (kBars - 1) * 4; ++beat) {
        note(drums, beat * kPpq, 100, 9, beat % 2 ? 38 : 36, 110);
        note(drums, beat * kPpq + kPpq / 2, 60, 9, 42, 80);
    }
    writeTrack(smf, drums, kBars * kBar);
    smf.writeFile(file);
}

Stereo readWav(const std::filesystem::path& wav)
{
    Stereo s;
    std::ifstream in(wav, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    auto u16 = [&](std::size_t at) { return unsigned(uint8_t(bytes[at])) | unsigned(uint8_t(bytes[at + 1])) << 8; };
    auto u32 = [&](std::size_t at) { return u16(at) | u16(at + 2) << 16; };
    std::size_t at = 12;
    unsigned channels = 2;
    while (bytes.size() >= 44 && at + 8 <= bytes.size()) {
        const std::size_t size = u32(at + 4);
        const std::string id(bytes.data() + at, 4);
        if (id == "fmt ") {
            channels = u16(at + 10);
            s.rate = int(u32(at + 12));
        }
        if (id == "data") {
            const std::size_t end = std::min(bytes.size(), at + 8 + size);
            for (std::size_t i = at + 8; i + 2 * channels <= end; i += 2 * channels) {
                s.left.push_back(int16_t(u16(i)) / 32768.0f);
                s.right.push_back(int16_t(u16(i + (channels > 1 ? 2 : 0))) / 32768.0f);
            }
            break;
        }
        at += 8 + size + (size & 1);
    }
    return s;
}

void report(const char* who, const Stereo& s)
{
    if (s.frames() < std::size_t(s.rate)) {
        std::printf("%-22s no output\n", who);
        return;
    }
    namespace t = sequora::test;
    // Bar n starts at 2n seconds. The pad sweeps alone in bars 0 and 1; the fade is bar 9.
    const double closed = t::centroidHz(s, 0.2, 0.9);
    const double open = t::centroidHz(s, 3.2, 3.9);
    const double body = t::levelDb(s, 4.0, 18.0);
    const double fadeEnd = t::levelDb(s, 19.5, 20.0);
    std::printf("%-22s %8.1f %8.0f %8.0f %8.2f %8.1f %8.1f\n", who, body, closed, open, open / std::max(closed, 1.0),
        fadeEnd - t::levelDb(s, 17.0, 18.0), t::widthDb(s, 4.0, 18.0));
}

} // namespace

int main(int argc, char** argv)
{
    const char* env = std::getenv("SEQUORA_SOUNDFONT");
    const std::string font = env && *env ? env : "/usr/share/sounds/sf2/FluidR3_GM.sf2";
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "sequora-gs-song";
    std::filesystem::create_directories(dir);
    const auto mid = dir / "gs-song.mid";
    writeSong(mid);
    {
        std::ofstream cfg(dir / "timidity.cfg");
        cfg << "soundfont " << font << "\n";
    }
    std::printf("%s (soundfont %s)\n", mid.c_str(), font.c_str());
    std::printf("%-22s %8s %8s %8s %8s %8s %8s\n", "renderer", "level", "pad-shut", "pad-open", "opening", "fade-dB",
        "width");
    const std::string q = "'";
    std::vector<std::string> builds;
    for (int i = 1; i < argc; ++i)
        builds.push_back(argv[i]);
    if (builds.empty())
        builds.push_back("build");
    for (std::size_t i = 0; i < builds.size(); ++i) {
        const auto wav = dir / ("sequora-" + std::to_string(i) + ".wav");
        std::filesystem::remove(wav);
        std::system(("SEQUORA_SOUNDFONT=" + q + font + q + " " + builds[i] + "/bin/sequora-render " + q + mid.string() + q
                        + " " + q + wav.string() + q + " >/dev/null 2>&1").c_str());
        report(("sequora " + builds[i]).substr(0, 22).c_str(), readWav(wav));
    }
    const auto fs = dir / "fluidsynth.wav";
    const auto tim = dir / "timidity.wav";
    std::system(("fluidsynth -ni -q -F " + q + fs.string() + q + " " + q + font + q + " " + q + mid.string() + q
                    + " >/dev/null 2>&1").c_str());
    std::system(("timidity -c " + q + (dir / "timidity.cfg").string() + q + " -Ow --preserve-silence -o " + q + tim.string()
                    + q + " " + q + mid.string() + q + " >/dev/null 2>&1").c_str());
    report("fluidsynth -F", readWav(fs));
    report("timidity -Ow", readWav(tim));
    std::printf("level: dBFS over bars 2-8; pad-shut/open: mean frequency (Hz) early in bar 0 and late in bar 1; "
                "fade-dB: the last half second against bar 8; width: sides against middle, dB\n");
    return 0;
}
