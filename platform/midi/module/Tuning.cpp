// MIDI Tuning Standard messages, and every tuning a part has merged into one key table:
// a channel of the soft synth holds one tuning at a time, so a MIDI Tuning program, an
// octave tuning and GS scale tuning must become a single table.

#include "platform/midi/module/Module.h"

#include "platform/midi/file/MidiBytes.h"

#include <algorithm>

namespace sequora::midi {

namespace {

constexpr uint8_t kMidiTuning = 0x08;
constexpr uint8_t kBulkDump = 0x01;
constexpr uint8_t kNoteChange = 0x02;
constexpr uint8_t kKeyBasedDump = 0x04;
constexpr uint8_t kNoteChangeWithBank = 0x07;
constexpr uint8_t kOctaveOneByte = 0x08;
constexpr uint8_t kOctaveTwoBytes = 0x09;
constexpr std::size_t kNameBytes = 16;
constexpr std::size_t kKeys = 128;

std::array<float, 128> equalTemperament()
{
    std::array<float, 128> cents {};
    for (std::size_t k = 0; k < kKeys; ++k)
        cents[k] = float(k) * 100.0f;
    return cents;
}

/// A key's pitch as MIDI Tuning writes it (semitone, then 14 bits of a semitone); no
/// value for 7F 7F 7F, "leave this key".
std::optional<float> keyPitch(const uint8_t* p)
{
    if (p[0] == 0x7F && p[1] == 0x7F && p[2] == 0x7F)
        return std::nullopt;
    return float(p[0]) * 100.0f + float(p[1] << 7 | p[2]) * 100.0f / 16384.0f;
}

} // namespace

ModuleChange Module::followTuning(std::span<const uint8_t> msg)
{
    // F0 7E|7F dev 08 nn ... F7
    const ModuleChange all {ModuleChange::Tuning | ModuleChange::AllParts};
    if (msg.size() < 7 || msg[3] != kMidiTuning)
        return {ModuleChange::Refused};
    auto programOf = [this](uint8_t bank, uint8_t program) -> TuningProgram& {
        const auto found = std::find_if(m_tuningPrograms.begin(), m_tuningPrograms.end(),
            [&](const TuningProgram& t) { return t.bank == bank && t.program == program; });
        if (found != m_tuningPrograms.end())
            return *found;
        m_tuningPrograms.push_back({bank, program, equalTemperament()});
        return m_tuningPrograms.back();
    };
    switch (msg[4]) {
    case kBulkDump:
    case kKeyBasedDump: {
        const bool banked = msg[4] == kKeyBasedDump;
        const std::size_t data = 6 + (banked ? 1 : 0) + kNameBytes;
        if (msg[1] != kUniversalNonRealtime || msg.size() != data + 3 * kKeys + 2)
            return {ModuleChange::Refused};
        uint8_t sum = 0;
        for (std::size_t i = 1; i + 2 < msg.size(); ++i)
            sum ^= msg[i];
        if ((sum & 0x7F) != msg[msg.size() - 2])
            return {ModuleChange::Refused};
        TuningProgram& t = programOf(banked ? msg[5] : 0, msg[banked ? 6 : 5]);
        for (std::size_t k = 0; k < kKeys; ++k) {
            if (const auto cents = keyPitch(&msg[data + 3 * k]))
                t.cents[k] = *cents;
        }
        return all;
    }
    case kNoteChange:
    case kNoteChangeWithBank: {
        const bool banked = msg[4] == kNoteChangeWithBank;
        const std::size_t at = banked ? 7 : 6;
        if (msg.size() < at + 2 || msg.size() != at + 1 + 4 * std::size_t(msg[at]) + 1)
            return {ModuleChange::Refused};
        TuningProgram& t = programOf(banked ? msg[5] : 0, msg[banked ? 6 : 5]);
        for (std::size_t i = 0; i < msg[at]; ++i) {
            const uint8_t* change = &msg[at + 1 + 4 * i];
            if (const auto cents = keyPitch(change + 1))
                t.cents[change[0]] = *cents;
        }
        return all;
    }
    case kOctaveOneByte:
    case kOctaveTwoBytes: {
        const bool wide = msg[4] == kOctaveTwoBytes;
        if (msg.size() != 8 + (wide ? 24u : 12u) + 1)
            return {ModuleChange::Refused};
        // Channels 16-15, 14-8 and 7-1, a bit each.
        const uint32_t mask = uint32_t(msg[5] & 0x03) << 14 | uint32_t(msg[6] & 0x7F) << 7 | (msg[7] & 0x7F);
        for (uint8_t ch = 0; ch < kChannels; ++ch) {
            if (!(mask >> ch & 1))
                continue;
            for (std::size_t n = 0; n < 12; ++n) {
                m_part[ch].octaveTuning[n] = wide
                    ? float((int(msg[8 + 2 * n]) << 7 | msg[9 + 2 * n]) - int(kCentre14)) * 100.0f / kCentre14
                    : float(int(msg[8 + n]) - 64);
            }
        }
        return all;
    }
    default:
        return {};
    }
}

std::optional<std::array<double, 128>> Module::keyTuning(uint8_t ch) const
{
    const PartState& p = m_part[ch & 0x1F];
    const TuningProgram* program = nullptr;
    if (p.tuningSelected) {
        const auto found = std::find_if(m_tuningPrograms.begin(), m_tuningPrograms.end(),
            [&](const TuningProgram& t) { return t.bank == p.tuningBank && t.program == p.tuningProgram; });
        if (found != m_tuningPrograms.end())
            program = &*found;
    }
    std::array<double, 128> cents {};
    bool tuned = false;
    for (std::size_t k = 0; k < kKeys; ++k) {
        cents[k] = (program ? program->cents[k] : double(k) * 100.0) + p.octaveTuning[k % 12] + p.scaleTuning[k % 12];
        tuned = tuned || cents[k] != double(k) * 100.0;
    }
    if (!tuned)
        return std::nullopt;
    return cents;
}

} // namespace sequora::midi
