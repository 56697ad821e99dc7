#pragma once
// A part's key shift, level, pan and effect sends, as GS and XG files write them by SysEx
// and, all but the key shift, by a controller: either way sets the same value, and
// whichever comes last wins. One row each, read by the model and by the chase.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace sequora::midi {

enum class PartParam : uint8_t {
    KeyShift,
    Level,
    Pan,
    ReverbSend,
    ChorusSend,
    DelaySend, ///< GS delay, XG variation: kept for the effect that will take it
};
constexpr std::size_t kPartParams = 6;

struct PartParamRow {
    PartParam param;
    uint8_t gsAddress; ///< GS 40 1x nn, patch part parameters
    uint8_t xgAddress; ///< XG 08 pp nn, multi part
    std::optional<uint8_t> cc; ///< the controller that sets the same value
    uint8_t low; ///< a SysEx write outside low..high is ignored (a controller takes any)
    uint8_t high;
    uint8_t powerOn; ///< as written
    uint8_t bias; ///< the part keeps the written value less this
    bool movesNotes; ///< a change moves the part's notes rather than its mix
};

// Key shift: 0x28-0x58 is -24..+24 semitones. Pan 0 is the modules' random pan, which is
// nothing a file can mean for a whole song. Every part starts with a reverb send of 40.
constexpr std::array<PartParamRow, kPartParams> kPartParamTable { {
    { PartParam::KeyShift, 0x16, 0x08, std::nullopt, 0x28, 0x58, 64, 64, true },
    { PartParam::Level, 0x19, 0x0B, 7, 0, 127, 100, 0, false },
    { PartParam::Pan, 0x1C, 0x0E, 10, 1, 127, 64, 0, false },
    { PartParam::ReverbSend, 0x22, 0x13, 91, 0, 127, 40, 0, false },
    { PartParam::ChorusSend, 0x21, 0x12, 93, 0, 127, 0, 0, false },
    { PartParam::DelaySend, 0x2C, 0x14, 94, 0, 127, 0, 0, false },
} };

constexpr const PartParamRow& partParamRow(PartParam param)
{
    return kPartParamTable[static_cast<std::size_t>(param)];
}
/// What a part holds for @p param at power-on, after the bias.
constexpr int partParamPowerOn(PartParam param)
{
    return partParamRow(param).powerOn - partParamRow(param).bias;
}

const PartParamRow* partParamRowForCc(uint8_t cc);
const PartParamRow* partParamRowForGsAddress(uint8_t address);
const PartParamRow* partParamRowForXgAddress(uint8_t address);

} // namespace sequora::midi
