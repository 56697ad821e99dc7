#pragma once
// The module's reverb and chorus as a file sets them (GS macros, character, level and
// time; XG effect types), and the soft synth settings each comes nearest to.

#include <cstdint>

namespace sequora::midi {

struct ReverbSettings {
    double roomSize = 0;
    double damp = 0;
    double width = 0;
    double level = 0;
    bool operator==(const ReverbSettings&) const = default;
};

struct ChorusSettings {
    int voices = 0;
    double level = 0;
    double speedHz = 0;
    double depthMs = 0;
    bool triangle = false;
    bool operator==(const ChorusSettings&) const = default;
};

/// The reverb and chorus a type stands for; types are GS numbers (reverb 0-7: Room 1-3,
/// Hall 1-2, Plate, Delay, Panning Delay; chorus 0-7: Chorus 1-4, Feedback, Flanger,
/// Short Delay, Short Delay FB) and a few XG types beyond them.
enum class ReverbType : uint8_t {
    Room1, Room2, Room3, Hall1, Hall2, Plate, Delay, PanDelay, // GS order
    Stage1, Stage2, WhiteRoom, Tunnel, Basement, Off,
};
enum class ChorusType : uint8_t {
    Chorus1, Chorus2, Chorus3, Chorus4, Feedback, Flanger, ShortDelay, ShortDelayFb, // GS order
    Celeste, Off,
};

struct EffectState {
    ReverbType reverb = ReverbType::Hall2;
    uint8_t reverbLevel = 64; ///< GS reverb level, XG reverb return: 64 is the type's own
    uint8_t reverbTime = 64;  ///< 64 is the type's own
    ChorusType chorus = ChorusType::Chorus3;
    uint8_t chorusLevel = 64;
    bool operator==(const EffectState&) const = default;

    /// GS reverb macro: the character, level and time it stands for.
    void setGsReverbMacro(uint8_t macro);
    void setGsChorusMacro(uint8_t macro);
    /// XG effect types (MSB, LSB); false for a type not known, which is ignored.
    bool setXgReverbType(uint8_t msb, uint8_t lsb);
    bool setXgChorusType(uint8_t msb, uint8_t lsb);

    ReverbSettings reverbSettings() const;
    ChorusSettings chorusSettings() const;
};

} // namespace sequora::midi
