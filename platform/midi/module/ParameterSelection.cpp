#include "platform/midi/module/ParameterSelection.h"

namespace sequora::midi {

std::optional<DataEntry> dataEntryOf(uint8_t cc)
{
    switch (cc) {
    case kCcDataEntryMsb:
        return DataEntry::Msb;
    case kCcDataEntryLsb:
        return DataEntry::Lsb;
    case kCcDataIncrement:
        return DataEntry::Increment;
    case kCcDataDecrement:
        return DataEntry::Decrement;
    default:
        return std::nullopt;
    }
}

bool ParameterSelection::select(uint8_t cc, uint8_t value)
{
    switch (cc) {
    case kCcNrpnMsb:
        nrpnMsb = value;
        break;
    case kCcNrpnLsb:
        nrpnLsb = value;
        break;
    case kCcRpnMsb:
        rpnMsb = value;
        break;
    case kCcRpnLsb:
        rpnLsb = value;
        break;
    default:
        return false;
    }
    nrpnSelected = cc == kCcNrpnMsb || cc == kCcNrpnLsb;
    return true;
}

std::optional<SelectedParameter> ParameterSelection::current() const
{
    const uint8_t msb = nrpnSelected ? nrpnMsb : rpnMsb;
    const uint8_t lsb = nrpnSelected ? nrpnLsb : rpnLsb;
    if (msb == kNullParameter && lsb == kNullParameter)
        return std::nullopt;
    return SelectedParameter { nrpnSelected, msb, lsb };
}

} // namespace sequora::midi
