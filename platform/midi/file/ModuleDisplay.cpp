#include "platform/midi/file/ModuleDisplay.h"

#include <algorithm>
#include <cstddef>

namespace sequora::midi {

namespace {

constexpr uint8_t kRoland = 0x41;
constexpr uint8_t kYamaha = 0x43;
constexpr uint8_t kRolandDataSet = 0x12; // DT1
constexpr uint8_t kYamahaParameter = 0x10; // high nibble of the device byte
constexpr uint8_t kEnd = 0xF7;

enum class Area : uint8_t { Letters, RolandDots, YamahaDots };

// One display area a module takes writes to: its maker and model, the address where the
// area starts and how many bytes it holds.
struct DisplayArea {
    uint8_t maker;
    uint8_t model;
    uint32_t address;
    uint32_t size;
    Area area;
};

constexpr DisplayArea kAreas[] = {
    { kRoland, 0x45, 0x100000, 32, Area::Letters }, // GS: display letters
    { kRoland, 0x45, 0x100100, 64, Area::RolandDots }, // GS: dot display, page 1
    { kYamaha, 0x4C, 0x060000, 32, Area::Letters }, // XG: display letters
    { kYamaha, 0x4C, 0x070000, 48, Area::YamahaDots }, // XG: display bitmap
};

// Roland's dot data: 16 rows in each of four blocks of five columns (the last block has
// one), the left column in bit 4. Yamaha's: three blocks of seven, the left in bit 6.
struct DotLayout {
    int columnsPerByte;
    int topBit;
};
constexpr DotLayout kRolandDots { 5, 4 };
constexpr DotLayout kYamahaDots { 7, 6 };

void writeDots(
    ModuleDisplay& display, const DotLayout& layout, uint32_t offset, std::span<const uint8_t> data)
{
    for (std::size_t i = 0; i < data.size(); ++i) {
        const uint32_t index = offset + uint32_t(i);
        const int block = int(index) / ModuleDisplay::kDots;
        const int row = int(index) % ModuleDisplay::kDots;
        uint16_t& bits = display.rows[std::size_t(row)];
        for (int k = 0; k < layout.columnsPerByte; ++k) {
            const int column = block * layout.columnsPerByte + k;
            if (column >= ModuleDisplay::kDots)
                break;
            const uint16_t mask = uint16_t(1u << (15 - column));
            if ((data[i] >> (layout.topBit - k)) & 1)
                bits |= mask;
            else
                bits &= uint16_t(~mask);
        }
    }
    display.hasPicture = true;
}

void writeLetters(
    ModuleDisplay& display, uint32_t offset, uint32_t size, std::span<const uint8_t> data)
{
    std::string& letters = display.letters;
    if (letters.size() < offset + data.size())
        letters.resize(std::min<std::size_t>(size, offset + data.size()), ' ');
    for (std::size_t i = 0; i < data.size() && offset + i < size; ++i) {
        const uint8_t c = data[i];
        // The modules' own fonts agree with ASCII on its printable part only.
        letters[offset + i] = c >= 0x20 && c < 0x7F ? char(c) : ' ';
    }
    display.hasLetters = true;
}

// Sends a write of data at address to the area that holds it.
bool write(ModuleDisplay& display, uint8_t maker, uint8_t model, uint32_t address,
    std::span<const uint8_t> data)
{
    for (const DisplayArea& a : kAreas) {
        if (a.maker != maker || a.model != model || address < a.address
            || address >= a.address + a.size || data.empty())
            continue;
        const uint32_t offset = address - a.address;
        data = data.first(std::min<std::size_t>(data.size(), a.size - offset));
        const ModuleDisplay before = display;
        switch (a.area) {
        case Area::Letters:
            writeLetters(display, offset, a.size, data);
            break;
        case Area::RolandDots:
            writeDots(display, kRolandDots, offset, data);
            break;
        case Area::YamahaDots:
            writeDots(display, kYamahaDots, offset, data);
            break;
        }
        return !(display == before);
    }
    return false;
}

std::span<const uint8_t> withoutEnd(std::span<const uint8_t> message)
{
    if (!message.empty() && message.back() == kEnd)
        message = message.first(message.size() - 1);
    return message;
}

} // namespace

bool mayBeDisplaySysEx(std::span<const uint8_t> m)
{
    if (m.size() >= 8 && m[0] == kRoland && m[2] == 0x45 && m[3] == kRolandDataSet)
        return m[4] == 0x10;
    if (m.size() >= 6 && m[0] == kYamaha && (m[1] & 0xF0) == kYamahaParameter && m[2] == 0x4C)
        return m[3] == 0x06 || m[3] == 0x07;
    return false;
}

bool applyDisplaySysEx(std::span<const uint8_t> message, ModuleDisplay& display)
{
    if (!mayBeDisplaySysEx(message))
        return false;
    const std::span<const uint8_t> m = withoutEnd(message);
    for (const uint8_t b : m) {
        if (b & 0x80)
            return false; // a status byte inside: no message a module would take
    }
    if (m[0] == kRoland) {
        // F0 41 dev 45 12 a1 a2 a3 data... sum F7: address, data and sum add up to 0
        // modulo 128.
        if (m.size() < 9)
            return false;
        unsigned sum = 0;
        for (std::size_t i = 4; i < m.size(); ++i)
            sum += m[i];
        if (sum % 128 != 0)
            return false;
        const uint32_t address = uint32_t(m[4]) << 16 | uint32_t(m[5]) << 8 | m[6];
        return write(display, kRoland, m[2], address, m.subspan(7, m.size() - 8));
    }
    // F0 43 1n 4C a1 a2 a3 data... F7: XG parameter changes carry no checksum.
    if (m.size() < 7)
        return false;
    const uint32_t address = uint32_t(m[3]) << 16 | uint32_t(m[4]) << 8 | m[5];
    return write(display, kYamaha, m[2], address, m.subspan(6));
}

} // namespace sequora::midi
