// The effect section's messages: GS 40 01 40-5A (chorus to delay, delay), 40 02 (EQ),
// 40 03 (EFX), 40 1x 2C and 40 4x 20/22 (part sends and switches); XG 02 01 40-75
// (variation), 02 40 (multi EQ), 03 nn (insertion blocks).

#include "platform/midi/module/EffectSection.h"

#include <algorithm>

namespace sequora::midi {

namespace {

constexpr uint8_t kGsGainLow = 0x34;
constexpr uint8_t kGsGainHigh = 0x4C;

bool isGain(uint8_t v)
{
    return v >= kGsGainLow && v <= kGsGainHigh;
}

using Write = EffectSection::Write;

template <typename T> Write assign(T& slot, T value)
{
    if (slot == value)
        return Write::Same;
    slot = value;
    return Write::Changed;
}

/// A value the module takes only within its range; outside it, it keeps what it had.
template <typename T> Write checked(bool inRange, T& slot, T value)
{
    return inRange ? assign(slot, value) : Write::Refused;
}

Write changedIf(bool changed)
{
    return changed ? Write::Changed : Write::Same;
}

} // namespace

void XgEffectBlock::setType(uint8_t msb, uint8_t lsb)
{
    typeMsb = msb;
    typeLsb = lsb;
    // A type the tables lack plays dry; its parameters start from nothing rather than
    // from the type before, so what a type write leaves never depends on what came first.
    const XgEffectParams* p = EffectSection::xgEffectDefaults(msb, lsb);
    params = p ? *p : XgEffectParams {};
}

void EffectSection::reset(SystemMode mode)
{
    *this = EffectSection {};
    eqOn.fill(true);
    gsDelayMacro(0, delay, delayToReverb);
    // XG's power-on types; in GS and the GM modes they are there but fed by nothing.
    variation.setType(0x05, 0x00);
    for (XgEffectBlock& block : insertion)
        block.setType(0x49, 0x00);
    (void)mode;
}

void EffectSection::setEfxType(uint8_t msb, uint8_t lsb)
{
    efxMsb = msb;
    efxLsb = lsb;
    const GsEfxParams* p = gsEfxDefaults(msb, lsb);
    efx = p ? *p : GsEfxParams {};
}

EffectSection::Write EffectSection::gsSystem(uint16_t address, uint8_t value)
{
    const uint8_t v = value & 0x7F;
    switch (address) {
    case 0x0140:
        return assign(chorusToDelay, v);
    case 0x0150: {
        GsDelayParams p;
        uint8_t toReverb = 0;
        if (!gsDelayMacro(v, p, toReverb))
            return Write::Refused;
        const bool changed = !(p == delay) || toReverb != delayToReverb;
        delay = p;
        delayToReverb = toReverb;
        return changedIf(changed);
    }
    case 0x0151:
        return checked(v <= 7, delay.preLpf, v);
    case 0x0152:
        return checked(v >= 0x01 && v <= 0x73, delay.timeCentre, v);
    case 0x0153:
        return checked(v >= 0x01 && v <= 0x78, delay.ratioLeft, v);
    case 0x0154:
        return checked(v >= 0x01 && v <= 0x78, delay.ratioRight, v);
    case 0x0155:
        return assign(delay.levelCentre, v);
    case 0x0156:
        return assign(delay.levelLeft, v);
    case 0x0157:
        return assign(delay.levelRight, v);
    case 0x0158:
        return assign(delay.level, v);
    case 0x0159:
        return assign(delay.feedback, v);
    case 0x015A:
        return assign(delayToReverb, v);
    case 0x0200:
        return checked(v <= 1, eq.lowFreq, v);
    case 0x0201:
        return checked(isGain(v), eq.lowGain, v);
    case 0x0202:
        return checked(v <= 1, eq.highFreq, v);
    case 0x0203:
        return checked(isGain(v), eq.highGain, v);
    case 0x0300: {
        const EffectSection before = *this;
        setEfxType(v, efxLsb);
        return changedIf(!(before == *this));
    }
    case 0x0301: {
        const EffectSection before = *this;
        setEfxType(efxMsb, v);
        return changedIf(!(before == *this));
    }
    case 0x0317:
        return assign(efxToReverb, v);
    case 0x0318:
        return assign(efxToChorus, v);
    case 0x0319:
        return assign(efxToDelay, v);
    default:
        break;
    }
    if (address >= 0x0303 && address <= 0x0316)
        return assign(efx[address - 0x0303], v);
    return Write::Other;
}

EffectSection::Write EffectSection::gsPart(
    uint8_t ch, uint8_t block, uint8_t address, uint8_t value)
{
    const std::size_t part = ch % kParts;
    const uint8_t v = value & 0x7F;
    if (block == 0x10 && address == 0x2C)
        return assign(send[part], v);
    if (block == 0x40 && address == 0x20 && v <= 1)
        return assign(eqOn[part], v != 0);
    if (block == 0x40 && address == 0x22 && v <= 1)
        return assign(efxOn[part], v != 0);
    return Write::Other;
}

EffectSection::Write EffectSection::xg(
    uint8_t high, uint8_t mid, uint8_t low, uint8_t value, bool alone)
{
    const uint8_t v = value & 0x7F;
    const auto params = [&](XgEffectBlock& b, uint8_t first, uint8_t firstHigh) -> Write {
        // P1-P10 as MSB/LSB pairs from @p first, P11-P16 from @p firstHigh.
        if (low >= first && low < first + 20) {
            const std::size_t i = std::size_t(low - first) / 2;
            return (low - first) % 2 ? assign(b.params.lsb[i], v) : assign(b.params.msb[i], v);
        }
        if (low >= firstHigh && low < firstHigh + 6)
            return assign(b.params.lsb[std::size_t(10 + low - firstHigh)], v);
        return Write::Other;
    };
    const auto type = [&](XgEffectBlock& b, bool isMsb) {
        const XgEffectBlock before = b;
        if (isMsb)
            b.setType(v, alone ? 0 : b.typeLsb);
        else
            b.setType(b.typeMsb, v);
        return changedIf(!(before == b));
    };
    if (high == 0x02 && mid == 0x01) {
        XgVariation& var = variation;
        switch (low) {
        case 0x40:
            return type(var, true);
        case 0x41:
            return type(var, false);
        case 0x56:
            return assign(var.ret, v);
        case 0x57:
            return checked(v > 0, var.pan, v);
        case 0x58:
            return assign(var.toReverb, v);
        case 0x59:
            return assign(var.toChorus, v);
        case 0x5A:
            return checked(v <= 1, var.system, v == 1);
        case 0x5B:
            return assign(var.part, v < kParts ? v : XgEffectBlock::kNoPart);
        default:
            return params(var, 0x42, 0x70);
        }
    }
    if (high == 0x02 && mid == 0x40) {
        if (low == 0x00) {
            XgEqParams p = multiEq;
            return checked(XgEqParams::preset(v, p), multiEq, p);
        }
        if (low == 0x04)
            return checked(v <= 1, multiEq.lowShape, v);
        if (low == 0x14)
            return checked(v <= 1, multiEq.highShape, v);
        // Four bytes a band from 01: gain, frequency, Q, shape or unused.
        const int band = (low - 1) / 4;
        const int field = (low - 1) % 4;
        if (low < 0x01 || band > 4 || field == 3)
            return Write::Other;
        if (field == 0)
            return checked(isGain(v), multiEq.gain[std::size_t(band)], v);
        if (field == 1)
            return checked(v <= 60, multiEq.freq[std::size_t(band)], v);
        return checked(v >= 1 && v <= 120, multiEq.q[std::size_t(band)], v);
    }
    if (high == 0x03 && mid < kXgInsertions) {
        XgEffectBlock& block = insertion[mid];
        switch (low) {
        case 0x00:
            return type(block, true);
        case 0x01:
            return type(block, false);
        case 0x0C:
            return assign(block.part, v < kParts ? v : XgEffectBlock::kNoPart);
        default:
            break;
        }
        if (low >= 0x02 && low <= 0x0B)
            return assign(block.params.lsb[std::size_t(low - 0x02)], v);
        if (low >= 0x20 && low <= 0x25)
            return assign(block.params.lsb[std::size_t(10 + low - 0x20)], v);
        if (low >= 0x30 && low <= 0x43)
            return params(block, 0x30, 0xFF);
    }
    return Write::Other;
}

} // namespace sequora::midi
