#pragma once
// What the listener has set for the parts, applied to every block on its way to the
// output, so every output gets it: a muted part (or one left out of a solo) has its notes
// held back, the other melodic parts play in the listener's key (drum parts stay put, as
// by a module's key shift), and each note-off reaches the note its note-on sounded
// whatever the key did meanwhile. It also follows what the output is told, for the
// parts' meter and the instrument each part asks for.

#include "platform/midi/file/MidiBytes.h"
#include "platform/midi/module/Module.h"
#include "platform/midi/transport/ListenerSettings.h"
#include "platform/midi/transport/PartMeter.h"
#include "platform/midi/transport/PartsSnapshot.h"

#include <array>
#include <cstdint>
#include <vector>

namespace sequora::midi {

class ChaseState;
struct Block;
struct OutMessage;

class PartFilter {
public:
    PartFilter();

    const ListenerSettings& settings() const { return m_settings; }
    /// Whether blocks pass as they are: nothing muted or soloed, no key of the listener's.
    bool passive() const { return m_settings.muted.none() && m_settings.soloed.none() && m_settings.transpose == 0; }
    /// Takes @p next. With @p playing, appends to @p out what the change needs at once:
    /// the sound of a part falling silent ends, and a part heard again has the notes
    /// @p chase says are sounding struck again (its melodic notes; drum hits are over).
    void change(const ListenerSettings& next, const ChaseState& chase, bool playing, Block& out);
    /// Rewrites @p block, @p frames long at @p rate, as the listener is to hear it, and
    /// follows it on the meter.
    void apply(Block& block, uint32_t frames, int64_t rate);
    /// A new song: no part used yet.
    void newSong() { m_meter.reset(); }
    /// Writes the listener's settings and each part's instrument, flags, level and keys.
    void fill(PartsView& view) const;

private:
    static constexpr uint8_t kNone = 0xFF;

    /// Rewrites one message in place; false when the listener is not to hear it. A note
    /// struck again in another key first ends the note it sounded: that goes to @p kept.
    bool pass(OutMessage& m, const Block& block, int64_t ageUs, std::vector<OutMessage>& kept);
    /// Whether a note-off or pressure for @p key, which sounds nothing itself, may go out
    /// as it is: no other key sounds that note now.
    bool strayIsHarmless(int part, uint8_t key) const;
    void forgetNotes(int part) { m_sent[std::size_t(part)].fill(kNone); }
    void forgetAll();

    ListenerSettings m_settings;
    /// The key each pressed key sounds, per part; kNone when it sounds nothing.
    std::array<std::array<uint8_t, 128>, kMaxParts> m_sent {};
    /// The module as the output has been told: drum parts, volumes, programs.
    Module m_module;
    std::array<uint8_t, kMaxParts> m_expression {};
    PartMeter m_meter;
    std::vector<OutMessage> m_kept; ///< reused from block to block
};

} // namespace sequora::midi
