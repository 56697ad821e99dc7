// Feeds arbitrary bytes to the MIDI file reader and checks what it promises about the
// result: a refusal leaves an empty song; a playable song is in time order, holds only
// channel messages and SysEx with valid data bytes, and ends no earlier than its events;
// an RMID wrapper changes nothing. A playable song then goes where a player sends it:
// every event into an output block, and a seek to the middle through the chase state.
// The texts' pass over the same bytes agrees on what can be read, and its lines hold
// every syllable once, in time order.

#include "platform/midi/transport/ChaseState.h"
#include "platform/midi/output/Output.h"
#include "platform/midi/file/Song.h"
#include "platform/midi/file/SongText.h"
#include "platform/midi/file/TempoMap.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

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

bool sameSong(const Song& a, const Song& b)
{
    if (a.lengthUs() != b.lengthUs() || a.trackCount() != b.trackCount() || a.format() != b.format()
        || a.sysexData() != b.sysexData() || a.events().size() != b.events().size())
        return false;
    for (std::size_t i = 0; i < a.events().size(); ++i) {
        const MidiEvent& x = a.events()[i];
        const MidiEvent& y = b.events()[i];
        if (x.timeUs != y.timeUs || x.status != y.status || x.data1 != y.data1 || x.data2 != y.data2
            || x.sysexOffset != y.sysexOffset || x.sysexLength != y.sysexLength)
            return false;
    }
    return true;
}

// The same image inside "RIFF" size "RMID" "data" size ... must read the same.
void checkRmid(const uint8_t* data, std::size_t size, const ReadResult& plain, const Song& song)
{
    if (size < 4 || std::memcmp(data, "MThd", 4) != 0 || size > 0xFFFFFF00u)
        return;
    std::vector<uint8_t> riff{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'R', 'M', 'I', 'D', 'd', 'a', 't', 'a'};
    const auto le32 = [&riff](std::size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            riff[at + i] = uint8_t(v >> (8 * i));
    };
    le32(4, uint32_t(size + 12 + (size & 1)));
    riff.resize(20);
    le32(16, uint32_t(size));
    riff.insert(riff.end(), data, data + size);
    if (size & 1)
        riff.push_back(0);
    Song wrapped;
    const ReadResult r = Song::parse(riff, wrapped);
    if (r.status != plain.status || !sameSong(song, wrapped))
        broken("the RMID-wrapped file reads differently");
}

void checkBlock(const Block& block)
{
    for (const OutMessage& m : block.messages) {
        if (m.kind == OutMessage::Kind::Short) {
            if (m.status < 0x80 || m.status > 0xEF || ((m.data1 | m.data2) & 0x80))
                broken("an output message that is not a channel message");
        } else if (m.kind == OutMessage::Kind::SysEx) {
            if (m.sysexOffset > block.sysex.size() || m.sysexLength > block.sysex.size() - m.sysexOffset)
                broken("an output SysEx outside its block");
            const std::span<const uint8_t> bytes = block.sysexOf(m);
            if (bytes.size() < 2 || bytes.front() != 0xF0 || bytes.back() != 0xF7)
                broken("an output SysEx that is not framed F0 ... F7");
        }
    }
}

void checkPlayback(const Song& song)
{
    Block block;
    for (const MidiEvent& e : song.events())
        block.addEvent(song, e);
    checkBlock(block);

    ChaseState chase;
    chase.scan(song, song.lengthUs() / 2);
    Block restore;
    chase.emit(restore);
    chase.emitNotes(restore);
    checkBlock(restore);
}

} // namespace

void checkTexts(const uint8_t* data, std::size_t size, const ReadResult& song)
{
    SongText texts;
    const ReadResult r = SongText::parse({data, size}, texts);
    // Only the song's reader counts events against its limit.
    if (song.status != ReadStatus::TooLarge && r.playable() != song.playable())
        broken("the texts' pass and the song's reader disagree");
    std::size_t next = 0;
    for (const LyricLine& line : texts.lines()) {
        if (line.first != next || line.count == 0 || line.count > SongText::kMaxLineSyllables)
            broken("the lines do not hold the syllables once each");
        next += line.count;
    }
    if (next != texts.syllableCount())
        broken("syllables outside every line");
    for (std::size_t i = 1; i < texts.syllableCount(); ++i) {
        if (texts.syllableTimeUs(i) < texts.syllableTimeUs(i - 1))
            broken("syllables out of time order");
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    Song song;
    const ReadResult result = Song::parse({data, size}, song);
    if (result.message.empty())
        broken("a result without a message");
    if (result.playable()) {
        checkPlayable(song);
        checkPlayback(song);
    }
    else if (!song.events().empty() || !song.sysexData().empty())
        broken("a refused file left events behind");
    checkRmid(data, size, result, song);
    checkTexts(data, size, result);
    return 0;
}
