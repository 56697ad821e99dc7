#include "platform/midi/file/ModuleDisplay.h"

#include "platform/midi/file/MidiBytes.h"
#include "platform/midi/module/SysexWrite.h"

#include <algorithm>
#include <cstddef>

namespace sequora::midi {

namespace {

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

// The write @p message (the bytes after F0, the F7 at the end or not) makes to a display
// area, if it is one a module takes.
std::optional<SysexWrite> displayWrite(std::span<const uint8_t> message)
{
    if (!message.empty() && message.back() == kSysExEnd)
        message = message.first(message.size() - 1);
    const std::optional<SysexWrite> w = readSysexBody(message);
    if (!w || !w->checksumOk || w->data.empty())
        return std::nullopt;
    for (const DisplayArea& a : kAreas) {
        if (a.maker == w->maker && a.model == w->model && w->address >= a.address
            && w->address < a.address + a.size)
            return w;
    }
    return std::nullopt;
}

} // namespace

bool mayBeDisplaySysEx(std::span<const uint8_t> message)
{
    return displayWrite(message).has_value();
}

bool applyDisplaySysEx(std::span<const uint8_t> message, ModuleDisplay& display)
{
    const std::optional<SysexWrite> w = displayWrite(message);
    return w && write(display, w->maker, w->model, w->address, w->data);
}

} // namespace sequora::midi
