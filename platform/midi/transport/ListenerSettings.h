#pragma once
// What the listener has set for the song being played: its tempo, its key, and which
// parts are muted or soloed. It stays as set from song to song until changed.

#include "platform/midi/transport/PartsSnapshot.h"
#include "platform/midi/transport/TempoScale.h"

#include <bitset>
#include <cstddef>

namespace sequora::midi {

struct ListenerSettings {
    static constexpr int kParts = PartsView::kMaxParts;
    static constexpr int kMinTranspose = -12;
    static constexpr int kMaxTranspose = 12;

    int tempoPercent = TempoScale::kNormal;
    int transpose = 0; ///< semitones, melodic parts only
    std::bitset<kParts> muted;
    std::bitset<kParts> soloed;

    /// Tempo and key within their ranges.
    bool valid() const
    {
        return TempoScale::valid(tempoPercent) && transpose >= kMinTranspose
            && transpose <= kMaxTranspose;
    }
    /// Whether @p part is heard: not muted, and soloed when any part is.
    bool heard(int part) const
    {
        return !muted[std::size_t(part)] && (soloed.none() || soloed[std::size_t(part)]);
    }
    bool operator==(const ListenerSettings&) const = default;
};

} // namespace sequora::midi
