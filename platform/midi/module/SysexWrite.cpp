#include "platform/midi/module/SysexWrite.h"

#include "platform/midi/file/MidiBytes.h"

#include <algorithm>

namespace sequora::midi {

namespace {

constexpr uint8_t kYamahaParameterChange = 0x10; // the device byte's high nibble
constexpr std::size_t kRolandHeader = 7; // 41 dev model 12 a1 a2 a3
constexpr std::size_t kYamahaHeader = 6; // 43 1n model a1 a2 a3
constexpr std::size_t kUniversalHeader = 3; // 7E|7F dev sub-ID#1

bool hasStatusByte(std::span<const uint8_t> bytes)
{
    return std::any_of(bytes.begin(), bytes.end(), [](uint8_t b) { return (b & 0x80) != 0; });
}

uint32_t addressAt(std::span<const uint8_t> body, std::size_t at)
{
    return uint32_t(body[at]) << 16 | uint32_t(body[at + 1]) << 8 | body[at + 2];
}

// The body is known to hold no status byte.
std::optional<SysexWrite> parse(std::span<const uint8_t> body)
{
    if (body.size() < kUniversalHeader)
        return std::nullopt;
    SysexWrite w;
    w.maker = body[0];
    w.device = body[1];
    w.model = body[2];
    switch (w.maker) {
    case kUniversalRealtime:
    case kUniversalNonRealtime:
        w.data = body.subspan(kUniversalHeader);
        return w;
    case kRoland: {
        // The checksum follows the data.
        if (body.size() < kRolandHeader + 1 || body[3] != kDataSet1)
            return std::nullopt;
        w.address = addressAt(body, 4);
        w.data = body.subspan(kRolandHeader, body.size() - kRolandHeader - 1);
        unsigned sum = 0;
        for (std::size_t i = 4; i < body.size(); ++i)
            sum += body[i];
        w.checksumOk = sum % 128 == 0;
        return w;
    }
    case kYamaha:
        if (body.size() < kYamahaHeader || (w.device & 0xF0) != kYamahaParameterChange)
            return std::nullopt;
        w.address = addressAt(body, 3);
        w.data = body.subspan(kYamahaHeader);
        return w;
    default:
        return std::nullopt;
    }
}

} // namespace

std::optional<std::span<const uint8_t>> sysexBody(std::span<const uint8_t> msg)
{
    if (msg.size() < 2 || msg.front() != kSysExStart || msg.back() != kSysExEnd)
        return std::nullopt;
    const std::span<const uint8_t> body = msg.subspan(1, msg.size() - 2);
    if (hasStatusByte(body))
        return std::nullopt;
    return body;
}

std::optional<SysexWrite> readSysexWrite(std::span<const uint8_t> msg)
{
    const std::optional<std::span<const uint8_t>> body = sysexBody(msg);
    return body ? parse(*body) : std::nullopt;
}

std::optional<SysexWrite> readSysexBody(std::span<const uint8_t> body)
{
    return hasStatusByte(body) ? std::nullopt : parse(body);
}

} // namespace sequora::midi
