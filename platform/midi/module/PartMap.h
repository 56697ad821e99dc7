#pragma once
// How a module reads a file's bank selects and drum parts: which system mode the song
// put it in (GM1, GM2, GS, XG, or none), which parts play drums, and so which soundfont
// preset each part asks for. Followed message by message, the same way by the soft
// synth that plays and by the chase that brings a fresh synth to a point of the song.

#include "platform/midi/file/MidiBytes.h"

#include <array>
#include <cstdint>
#include <span>

namespace sequora::midi {

enum class SystemMode : uint8_t {
    None, ///< no mode message yet: GS-style bank MSB, channel 10 the drum part
    Gm1,  ///< bank select ignored, channel 10 drums (a GS module's rhythm parts still apply)
    Gm2,  ///< MSB 120 a drum kit, 121 melodic with LSB the variation
    Gs,   ///< MSB the variation; drum parts set by "use for rhythm part"
    Xg,   ///< MSB 127 a drum kit, 126 an SFX kit, 64 an SFX voice; LSB the variation
};

/// A soundfont preset as a part asks for it, before falling back to what the font has.
struct PresetRequest {
    static constexpr uint16_t kDrumBank = 128; ///< where soundfonts keep their drum kits

    bool drum = false;
    uint16_t bank = 0; ///< soundfont bank; kDrumBank for a kit
    uint8_t program = 0;

    bool operator==(const PresetRequest&) const = default;
};

/// What a SysEx message means to the part map.
enum class SysexMeaning : uint8_t {
    Other,      ///< not a mode or part message: passed on as it is
    Reset,      ///< a system mode message: every part back to the mode's power-on state
    RhythmPart, ///< GS "use for rhythm part" for one part
    Refused,    ///< a mode or part message that is malformed (bad GS checksum, bad value)
};

class PartMap {
public:
    /// XG's SFX kits play the GS SFX set (kit 57) where the font has one.
    static constexpr uint8_t kSfxKitProgram = 56;
    static constexpr uint8_t kDrumChannel = 9;

    struct Sysex {
        SysexMeaning meaning = SysexMeaning::Other;
        SystemMode mode = SystemMode::None; ///< for Reset
        uint8_t channel = 0;                ///< for RhythmPart
        uint8_t rhythm = 0;                 ///< for RhythmPart: 0 melodic, 1 or 2 the drum map
    };
    /// GS numbers its parts 1-16 with the drum part 10 first: block 0 is part 10,
    /// blocks 1-9 parts 1-9, blocks A-F parts 11-16.
    static uint8_t channelOfGsBlock(uint8_t block)
    {
        if (block == 0)
            return kDrumChannel;
        return block < 0x0A ? static_cast<uint8_t>(block - 1) : block;
    }
    /// Reads @p msg (F0 ... F7) without changing anything.
    static Sysex classify(std::span<const uint8_t> msg);

    PartMap() { reset(SystemMode::None); }

    /// Every part to @p mode's power-on state: program 0, banks 0, channel 10 the drums.
    void reset(SystemMode mode);
    /// Follows a channel message. Returns true when it chose a program (the part's
    /// request may have changed).
    bool followShort(uint8_t status, uint8_t data1, uint8_t data2, uint8_t port = 0);
    /// Follows a SysEx (F0 ... F7) and says what it was. After a RhythmPart the part's
    /// request may have changed; after a Reset every part's has.
    /// @p port: the song's port it came on; a part it addresses is then 17-32.
    Sysex followSysex(std::span<const uint8_t> msg, uint8_t port = 0);

    SystemMode mode() const { return m_mode; }
    bool isDrum(uint8_t channel) const;
    /// The rhythm map of a part under GS rules (0: melodic).
    uint8_t rhythm(uint8_t channel) const { return m_parts[channel & 0x1F].rhythm; }
    PresetRequest request(uint8_t channel) const;

    bool operator==(const PartMap&) const = default;

private:
    struct Part {
        uint8_t bankMsb = 0;        ///< as last sent
        uint8_t bankLsb = 0;
        uint8_t programBankMsb = 0; ///< in force when the program was chosen
        uint8_t programBankLsb = 0;
        uint8_t program = 0;
        uint8_t rhythm = 0;         ///< GS: 0 melodic, 1 or 2 a drum map
        bool operator==(const Part&) const = default;
    };

    std::array<Part, kMaxParts> m_parts {};
    SystemMode m_mode = SystemMode::None;
};

} // namespace sequora::midi
