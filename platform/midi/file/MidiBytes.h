#pragma once
// MIDI status bytes and controller numbers, and the reset the engine sends.

#include <array>
#include <cstdint>

namespace sequora::midi {

constexpr uint8_t kChannels = 16;

constexpr uint8_t kNoteOff = 0x80;
constexpr uint8_t kNoteOn = 0x90;
constexpr uint8_t kPolyPressure = 0xA0;
constexpr uint8_t kControlChange = 0xB0;
constexpr uint8_t kProgramChange = 0xC0;
constexpr uint8_t kChannelPressure = 0xD0;
constexpr uint8_t kPitchBend = 0xE0;
constexpr uint8_t kSysExStart = 0xF0;
constexpr uint8_t kSysExEnd = 0xF7;

constexpr uint8_t kCcBankMsb = 0;
constexpr uint8_t kCcModulation = 1;
constexpr uint8_t kCcPortamentoTime = 5;
constexpr uint8_t kCcDataEntryMsb = 6;
constexpr uint8_t kCcVolume = 7;
constexpr uint8_t kCcPan = 10;
constexpr uint8_t kCcExpression = 11;
constexpr uint8_t kCcBankLsb = 32;
constexpr uint8_t kCcPortamentoTimeLsb = 37;
constexpr uint8_t kCcDataEntryLsb = 38;
constexpr uint8_t kCcSustain = 64;
constexpr uint8_t kCcPortamento = 65;
constexpr uint8_t kCcSostenuto = 66;
constexpr uint8_t kCcSoft = 67;
constexpr uint8_t kCcPortamentoControl = 84;
constexpr uint8_t kCcReverbSend = 91;
constexpr uint8_t kCcChorusSend = 93;
constexpr uint8_t kCcDelaySend = 94; ///< GS delay, XG variation
constexpr uint8_t kCcDataIncrement = 96;
constexpr uint8_t kCcDataDecrement = 97;
constexpr uint8_t kCcNrpnLsb = 98;
constexpr uint8_t kCcNrpnMsb = 99;
constexpr uint8_t kCcRpnLsb = 100;
constexpr uint8_t kCcRpnMsb = 101;
constexpr uint8_t kCcLoopStart = 111; ///< RPG Maker's mark: the song loops from here to its end
constexpr uint8_t kCcAllSoundOff = 120;
constexpr uint8_t kCcResetAllControllers = 121;
constexpr uint8_t kCcAllNotesOff = 123;
constexpr uint8_t kCcOmniOff = 124;
constexpr uint8_t kCcOmniOn = 125;
constexpr uint8_t kCcMonoOn = 126;
constexpr uint8_t kCcPolyOn = 127;

// SysEx: universal and the two module makers whose messages the engine reads.
constexpr uint8_t kUniversalNonRealtime = 0x7E;
constexpr uint8_t kUniversalRealtime = 0x7F;
constexpr uint8_t kRoland = 0x41;
constexpr uint8_t kGsModel = 0x42;
constexpr uint8_t kDataSet1 = 0x12;
constexpr uint8_t kYamaha = 0x43;
constexpr uint8_t kXgModel = 0x4C;

constexpr uint8_t kDefaultVolume = 100;
constexpr uint8_t kCentre7 = 64;
constexpr uint16_t kCentre14 = 8192;
constexpr uint8_t kNullParameter = 127; ///< RPN/NRPN 127/127 selects nothing

constexpr std::array<uint8_t, 6> kGmSystemOn { 0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7 };

/// A module with two ports has 32 parts: channel + 16 x port.
constexpr uint8_t kMaxParts = 32;

inline uint8_t channelOf(uint8_t status)
{
    return status & 0x0F;
}
/// The module half a file's port prefix addresses. Files name at most a few ports; those
/// above 1 fold onto the two halves by parity, so ports 0 and 2, 1 and 3 share parts.
inline uint8_t halfOfPort(uint8_t port)
{
    return port & 1;
}
/// The part (0-31) a channel message on @p port addresses.
inline uint8_t partOf(uint8_t status, uint8_t port)
{
    return uint8_t((status & 0x0F) | (port & 1) << 4);
}
inline uint8_t commandOf(uint8_t status)
{
    return status & 0xF0;
}

} // namespace sequora::midi
