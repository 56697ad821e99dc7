#include "platform/midi/module/PartParams.h"

namespace sequora::midi {

namespace {

// partParamRow() finds a row by its place.
static_assert([] {
    for (std::size_t i = 0; i < kPartParamTable.size(); ++i) {
        if (static_cast<std::size_t>(kPartParamTable[i].param) != i)
            return false;
    }
    return true;
}());

template <typename Pred> const PartParamRow* findRow(Pred pred)
{
    for (const PartParamRow& row : kPartParamTable) {
        if (pred(row))
            return &row;
    }
    return nullptr;
}

} // namespace

const PartParamRow* partParamRowForCc(uint8_t cc)
{
    return findRow([=](const PartParamRow& r) { return r.cc && *r.cc == cc; });
}

const PartParamRow* partParamRowForGsAddress(uint8_t address)
{
    return findRow([=](const PartParamRow& r) { return r.gsAddress == address; });
}

const PartParamRow* partParamRowForXgAddress(uint8_t address)
{
    return findRow([=](const PartParamRow& r) { return r.xgAddress == address; });
}

} // namespace sequora::midi
