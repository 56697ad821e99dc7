// Writes the fuzzers' starting points: small valid MIDI files of every shape the reader
// knows, the kinds of damage real files carry, and the command strings the player sends
// along with malformed ones. Run as: fuzz_seeds <corpus dir>  (fills smf/ and mci/).

#include "common/SmfWriter.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

using namespace sequora::test;
namespace fs = std::filesystem;

namespace {

// One bar of a short tune on two channels, with controllers and a pitch bend.
SmfTrack& tune(SmfTrack& t, int ch)
{
    return t.programChange(0, ch, 19 + ch)
        .controller(0, ch, 7, 100)
        .controller(0, ch, 0, 1)
        .noteOn(0, ch, 60, 100)
        .pitchBend(120, ch, 9000)
        .noteOff(360, ch, 60)
        .noteOn(0, ch, 64, 90)
        .channelPressure(240, ch, 40)
        .polyPressure(0, ch, 64, 30)
        .noteOff(240, ch, 64);
}

Bytes format0()
{
    SmfWriter smf(0, 480);
    tune(smf.addTrack().tempo(0, 500000).timeSignature(0, 4, 2), 0);
    return smf.bytes();
}

Bytes format1(int tracks)
{
    SmfWriter smf(1, 96);
    smf.addTrack().trackName(0, "conductor").tempo(0, 600000).tempo(384, 400000).endOfTrack(384);
    for (int i = 1; i < tracks; ++i)
        tune(smf.addTrack(), i % 16);
    return smf.bytes();
}

Bytes format2()
{
    SmfWriter smf(2, 240);
    tune(smf.addTrack().tempo(0, 450000), 0);
    tune(smf.addTrack().tempo(0, 700000), 1);
    return smf.bytes();
}

Bytes smpte(int fps)
{
    SmfWriter smf = SmfWriter::smpte(1, fps, 40);
    tune(smf.addTrack(), 0);
    tune(smf.addTrack(), 9);
    return smf.bytes();
}

Bytes runningStatus()
{
    SmfWriter smf(0, 480);
    SmfTrack& t = smf.addTrack().runningStatus().runningAcrossMeta();
    for (int i = 0; i < 8; ++i)
        t.noteOn(60, 0, 60 + i, 100).text(0, 0x01, "x").noteOn(60, 0, 60 + i, 0);
    return smf.bytes();
}

Bytes sysex()
{
    SmfWriter smf(0, 480);
    smf.addTrack()
        .sysex(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7})
        .sysex(10, {0x43, 0x10, 0x4C})
        .sysexEscape(0, {0x00, 0x00, 0xF7})
        .sysexEscape(5, {0xFA})
        .noteOn(0, 0, 60, 100)
        .noteOff(480, 0, 60);
    return smf.bytes();
}

// Extra header bytes, a foreign chunk between tracks, and a proprietary meta event.
Bytes extensions()
{
    SmfWriter smf(1, 480);
    smf.headerExtra({0xAB, 0xCD});
    tune(smf.addTrack().meta(0, 0x7F, {0x00, 0x20, 0x29, 0x01}), 0);
    smf.addChunk("XFIH", {1, 2, 3, 4, 5});
    tune(smf.addTrack(), 1);
    return smf.bytes();
}

Bytes missingEndOfTrack()
{
    SmfWriter smf(1, 480);
    tune(smf.addTrack().omitEndOfTrack(), 0);
    tune(smf.addTrack(), 1);
    return smf.bytes();
}

Bytes oddMessages()
{
    SmfWriter smf(0, 480);
    smf.addTrack()
        .raw({0x00, 0x45, 0x40})             // data with no status before it
        .noteOn(0, 0, 60, 100)
        .raw({0x00, 0xF2, 0x01, 0x02})       // song position pointer inside a file
        .raw({0x00, 0xF8})                   // a realtime byte
        .raw({0x00, 0x90, 0x90, 0x40})       // a status where data belongs
        .raw({0x8F, 0xFF, 0xFF, 0xFF, 0x7F}) // a five-byte delta
        .noteOff(0, 0, 60);
    return smf.bytes();
}

Bytes withFormat(int format)
{
    SmfWriter smf(format, 480);
    tune(smf.addTrack(), 0);
    return smf.bytes();
}

void writeText(const fs::path& path, const std::string& text)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << text;
}

void writeSmf(const fs::path& dir)
{
    const Bytes song = format1(3);
    std::vector<std::pair<std::string, Bytes>> files{
        {"format0.mid", format0()},
        {"format1.mid", song},
        {"format1-30-tracks.mid", format1(30)},
        {"format2.mid", format2()},
        {"smpte24.mid", smpte(24)},
        {"smpte25.mid", smpte(25)},
        {"smpte29.mid", smpte(29)},
        {"smpte30.mid", smpte(30)},
        {"running-status.mid", runningStatus()},
        {"sysex.mid", sysex()},
        {"extensions.mid", extensions()},
        {"rmid.rmi", wrappedRmid(song)},
        {"rmid-cut.rmi", truncated(wrappedRmid(song), 20)},
        {"missing-end-of-track.mid", missingEndOfTrack()},
        {"odd-messages.mid", oddMessages()},
        {"format5.mid", withFormat(5)},
        {"truncated.mid", truncated(song, 7)},
        {"header-only.mid", truncated(song, song.size() - 14)},
        {"track-length-huge.mid", withChunkLength(song, 1, 0xFFFFFFFF)},
        {"track-length-zero.mid", withChunkLength(song, 2, 0)},
        {"header-length-huge.mid", withChunkLength(song, 0, 0xFFFFFFF0)},
        {"more-tracks-declared.mid", SmfWriter(1, 480).trackCount(9).bytes()},
        {"division-zero.mid", SmfWriter(0, 0).trackCount(1).bytes()},
        {"smpte-bad-fps.mid", SmfWriter(0).division(0xE628).trackCount(1).bytes()},
        {"riff-wave.wav", Bytes{'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E'}},
        {"not-midi.txt", Bytes{'h', 'e', 'l', 'l', 'o', '\n'}},
    };
    for (const auto& [name, bytes] : files)
        SmfWriter::writeBytes(dir / name, bytes);
}

void writeMci(const fs::path& dir)
{
    const std::vector<std::string> commands{
        "open /tmp/a.mid type sequencer alias midifile",
        "open \"/tmp/My Songs/a b.mid\" type sequencer alias m",
        "OPEN /Music/Song%20One.MID TYPE Sequencer ALIAS MidiFile",
        "open /tmp/a.mid",
        "open  type sequencer alias midifile",
        "open \"/tmp/a b.mid alias x",
        "play midifile",
        "play midifile from 0",
        "PLAY MidiFile FROM 5 TO 9",
        "play midifile from 4294967295",
        "play midifile from 4294967296",
        "stop midifile ",
        "pause midifile ",
        "resume midifile ",
        "close midifile",
        "seek midifile to START",
        "seek midifile to end",
        "seek midifile to 1234",
        "seek midifile to 1 to 2",
        "status midifile position",
        "status midifile length",
        "  status\t\tmidifile   MODE \t ",
        "stop midifile\r\n",
        "\"play\" midifile",
        "set midifile tempo 50",
        "SET MidiFile TEMPO 201",
        "set midifile transpose -12",
        "set midifile transpose +2147483648",
        "set midifile part 10 mute on",
        "set midifile part all solo off",
        "set midifile part 3 solo maybe",
        "status midifile part 16 mute",
        "status midifile transpose",
        "",
    };
    for (std::size_t i = 0; i < commands.size(); ++i)
        writeText(dir / ("command-" + std::to_string(i) + ".txt"), commands[i]);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus dir>\n", argv[0]);
        return 2;
    }
    const fs::path root(argv[1]);
    fs::create_directories(root / "smf");
    fs::create_directories(root / "mci");
    writeSmf(root / "smf");
    writeMci(root / "mci");
    return 0;
}
