// Feeds arbitrary bytes to the MIDI file reader and checks what it promises about the
// result: a refusal leaves an empty song; a playable song is in time order, holds only
// channel messages and SysEx with valid data bytes, and ends no earlier than its events.

#include "platform/midi/Song.h"
#include "platform/midi/TempoMap.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace sequora::midi;

namespace {

[[noreturn]] void broken(const char* what)
{
    std::fprintf(stderr, "fuzz_smf: %s\n", what);
    std::abort();
}

bool validStatus(uint8_t s) { return (s >= 0x80 && s <= 0xEF) || s == 0xF0 || s == 0xF7; }

void checkPlayable(const Song& song)
{
    if (song.trackCount() <= 0)
        broken("a playable song without tracks");
    if (song.lengthUs() < 0 || song.lengthUs() > TempoMap::kMaxTimeUs)
        broken("length out of range");
    int64_t previous = 0;
    const std::size_t sysexSize = song.sysexData().size();
    for (const MidiEvent& e : song.events()) {
        if (e.timeUs < previous)
            broken("events out of time order");
        previous = e.timeUs;
        if (e.timeUs > song.lengthUs())
            broken("an event after the end of the song");
        if (!validStatus(e.status))
            broken("an event with a status that is neither a channel message nor SysEx");
        if ((e.data1 | e.data2) & 0x80)
            broken("a data byte with its top bit set");
        if (e.status >= 0xF0
            && (e.sysexOffset > sysexSize || e.sysexLength > sysexSize - e.sysexOffset))
            broken("a SysEx payload outside the SysEx store");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    Song song;
    const ReadResult result = Song::parse({data, size}, song);
    if (result.message.empty())
        broken("a result without a message");
    if (result.playable())
        checkPlayable(song);
    else if (!song.events().empty() || !song.sysexData().empty())
        broken("a refused file left events behind");
    return 0;
}
