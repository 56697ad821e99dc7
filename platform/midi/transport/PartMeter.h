#pragma once
// What sounds on each part, followed from the messages that reach the output: the keys
// held down or by the pedal (and those struck a moment ago, so that a drum hit shows),
// and a level that jumps with each note-on and falls back as a module's front panel
// draws it. The audio side's own: no lock, no allocation.

#include "platform/midi/transport/PartsSnapshot.h"

#include <array>
#include <cstdint>

namespace sequora::midi {

class PartMeter {
public:
    /// Level units (of 127) a bar falls in a second.
    static constexpr int kFallPerSecond = 190;
    /// A key struck stays shown at least this long, however short its note.
    static constexpr int64_t kStruckShownUs = 60'000;

    PartMeter() { reset(); }

    /// Nothing sounds and no part is used (a new song, a reset of the module).
    void reset();
    /// The song chose an instrument or played a note on @p part.
    void use(int part) { m_parts[part].used = true; }
    /// A note-on that sounds: @p volume and @p expression as the part has them (0-127),
    /// struck @p ageUs before the end of the time last let pass.
    void noteOn(int part, int key, int velocity, int volume, int expression, int64_t ageUs);
    void noteOff(int part, int key);
    void pedal(int part, bool down);
    /// All notes off on @p part: the keys go, or stay with the pedal.
    void notesOff(int part);
    /// All sound off on @p part: keys and level go at once.
    void silence(int part);
    /// Every part: sound off, or (@p ringing) notes released with the pedal up.
    void silenceAll(bool ringing);
    /// Lets @p frames of a clock running at @p rate pass: levels fall, struck keys fade.
    /// The notes of that time follow, each with its age.
    void advance(int64_t frames, int64_t rate);
    /// Writes level, keys and the Used flag of each of @p view's parts.
    void fill(PartsView& view) const;

private:
    using Keys = std::array<uint64_t, 2>;
    struct Part {
        float level = 0;
        Keys down {}; ///< note-on given, no note-off yet
        Keys pedalled {}; ///< released while the pedal was down
        Keys struck {}; ///< struck in this and the last kStruckShownUs
        Keys struckBefore {};
        bool pedalDown = false;
        bool used = false;
    };
    static void set(Keys& k, int key) { k[key >> 6] |= uint64_t(1) << (key & 63); }
    static void clear(Keys& k, int key) { k[key >> 6] &= ~(uint64_t(1) << (key & 63)); }
    static bool test(const Keys& k, int key) { return (k[key >> 6] >> (key & 63)) & 1; }

    std::array<Part, PartsView::kMaxParts> m_parts {};
    int64_t m_struckAgeUs = 0;
};

} // namespace sequora::midi
