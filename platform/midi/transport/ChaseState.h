#pragma once
// What a synthesiser has been told up to some point of a song, per channel, so that a
// freshly reset synthesiser can be brought to the same state before playing on from
// there: programs and banks, controllers, RPN/NRPN values, pitch bend, channel pressure,
// the system reset SysEx (with the SysEx that followed it), the parts' system mode and
// drum parts, and the notes that are sounding, held by a key or by the sustain pedal.

#include "platform/midi/module/Module.h"

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace sequora::midi {

class Song;
struct MidiEvent;
struct Block;

class ChaseState {
public:
    /// Caps the SysEx kept after the last reset, so a song streaming SysEx stays cheap.
    static constexpr std::size_t kMaxSysex = 256;

    ChaseState() { clear(); }

    /// The state right after a reset: nothing set.
    void clear();
    /// Follows one event of @p song.
    void apply(const Song& song, const MidiEvent& event);
    /// Follows every event of @p song before @p timeUs.
    void scan(const Song& song, int64_t timeUs);
    /// Follows the events of @p song from index @p from on that come before @p timeUs;
    /// returns the index of the first one it did not follow.
    std::size_t scanFrom(const Song& song, std::size_t from, int64_t timeUs);
    /// Appends, at frame 0, the messages that bring a reset synthesiser to this state,
    /// notes aside.
    void emit(Block& out) const;
    /// The same for a synthesiser that is sounding: a restore to this state's system mode
    /// in place of the reset SysEx, which would cut every sound, then the rest as emit().
    void emitRestore(Block& out) const;
    /// Appends, at @p frame, a note-off for every note sounding, held by a key or the pedal.
    void emitNoteOffs(Block& out, uint32_t frame) const;
    /// Appends, at frame 0, a note-on for every note sounding on a melodic part, with its
    /// own velocity; a note only the pedal holds is released again at once, so the pedal
    /// keeps it. Drum parts are not struck again: their hits are over.
    void emitNotes(Block& out) const;
    /// The same for the one part @p ch (0-31).
    void emitPartNotes(uint8_t ch, Block& out) const;
    /// The parts' mode and drum parts as the song left them.
    const PartMap& parts() const { return m_module.parts(); }
    /// The whole module as the song left it.
    const Module& module() const { return m_module; }

private:
    static constexpr int16_t kUnset = -1;

    struct Parameter {
        bool nrpn = false;
        uint8_t msb = 0;
        uint8_t lsb = 0;
        int16_t dataMsb = kUnset;
        int16_t dataLsb = kUnset;
    };
    struct Channel {
        std::array<int16_t, 128> cc {};
        int16_t program = kUnset;
        int16_t programBankMsb = kUnset; ///< bank in force when the program was chosen
        int16_t programBankLsb = kUnset;
        int16_t bend = kUnset;
        int16_t pressure = kUnset;
        ParameterSelection selection;
        bool selectionSent = false; ///< a parameter number came since the last reset
        std::vector<Parameter> parameters; ///< in the order the song first used them
        /// (nrpn, msb, lsb) -> place in parameters: a song may use all 32768 of them,
        /// and each data entry must still find its parameter at once.
        std::unordered_map<uint16_t, uint16_t> parameterIndex;
        std::array<uint8_t, 128> velocity {}; ///< of each sounding note; 0: silent
        std::bitset<128> pedalHeld; ///< released, but the sustain pedal holds it
    };

    void controlChange(Channel& c, uint8_t cc, uint8_t value);
    static void noteOff(Channel& c, uint8_t key);
    static void releasePedal(Channel& c);
    Parameter* selectedParameter(Channel& c);
    void applySysex(const uint8_t* bytes, std::size_t length, bool escaped, uint8_t port);
    void emitChannel(const Channel& c, uint8_t ch, Block& out) const;
    /// Everything emit() sends after the reset SysEx.
    void emitAfterReset(Block& out) const;
    /// Keeps @p msg among the SysEx to replay, replacing an earlier write to the same
    /// module address, so a song that sets its parts again and again stays within the cap.
    void keepSysex(std::vector<uint8_t> msg, uint8_t port);
    /// After a SysEx that set what CCs or NRPNs also set: the chased CC and NRPN values
    /// take the module's, so whichever came last wins on replay too.
    void takeModuleValues(const ModuleChange& change);

    /// A SysEx to replay, with the port it came on (its part addresses depend on it).
    struct KeptSysex {
        uint8_t port = 0;
        std::vector<uint8_t> bytes;
    };

    std::array<Channel, kMaxParts> m_channels;
    std::vector<uint8_t> m_resetSysex; ///< F0 ... F7, empty if the song sent none yet
    std::vector<KeptSysex> m_sysex; ///< later SysEx messages, in order
    /// The last "use for rhythm part" of each part: kept apart from the SysEx above so
    /// that no cap can lose a drum part.
    std::array<std::vector<uint8_t>, kMaxParts> m_rhythmSysex;
    Module m_module;
};

} // namespace sequora::midi
