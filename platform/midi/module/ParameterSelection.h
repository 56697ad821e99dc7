#pragma once
// Which RPN or NRPN a part's data entry goes to. CC 101 and 100 choose an RPN, CC 99 and
// 98 an NRPN; the kind of the last number sent is the one in force, and its pair 127/127
// (the null parameter) chooses nothing. Followed the same way by the module model and by
// the chase.

#include "platform/midi/file/MidiBytes.h"

#include <cstdint>
#include <optional>

namespace sequora::midi {

struct SelectedParameter {
    bool nrpn = false;
    uint8_t msb = 0;
    uint8_t lsb = 0;
};

enum class DataEntry : uint8_t { Msb, Lsb, Increment, Decrement };

/// The data entry controllers (6, 38, 96, 97); nothing for any other.
std::optional<DataEntry> dataEntryOf(uint8_t cc);

struct ParameterSelection {
    uint8_t rpnMsb = kNullParameter;
    uint8_t rpnLsb = kNullParameter;
    uint8_t nrpnMsb = kNullParameter;
    uint8_t nrpnLsb = kNullParameter;
    bool nrpnSelected = false; ///< the last number sent was an NRPN's
    bool operator==(const ParameterSelection&) const = default;

    /// Follows CC 99, 98, 101 and 100; false for any other controller.
    bool select(uint8_t cc, uint8_t value);
    /// Nothing chosen, as at power-on and after Reset All Controllers.
    void clear() { *this = ParameterSelection {}; }
    /// The parameter data entry goes to; nothing while the null parameter is chosen.
    std::optional<SelectedParameter> current() const;
};

} // namespace sequora::midi
