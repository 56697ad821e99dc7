#pragma once
// How the engine makes its sound: where its messages go, and for the soft synth which
// soundfont, which effects and how loud. Plain values; the device layer fills them from
// the user's settings and the environment.

#include <cstdint>
#include <string>

namespace sequora::midi {

struct SoundSetup {
    enum class Device : uint8_t {
        SoftSynth, ///< FluidSynth through the audio server
        AlsaPort, ///< an ALSA sequencer port (a hardware synth, TiMidity, ...)
        None, ///< no sound; time goes on
        ManualClock, ///< tests: no sound, and time moves only when a test moves it
    };
    static constexpr double kMinLevelDb = -12.0;
    static constexpr double kMaxLevelDb = 6.0;

    Device device = Device::SoftSynth;
    /// AlsaPort: the port as ALSA names it, "CLIENT:PORT" (numbers or the client's name).
    std::string port;
    /// SoftSynth: the soundfont's path; empty for the distribution's General MIDI font.
    std::string soundfont;
    bool reverb = true;
    bool chorus = true;
    /// The soft synth's listening level, from kMinLevelDb to kMaxLevelDb; the limiter
    /// still keeps every peak under -0.5 dBFS.
    double levelDb = 0.0;

    bool operator==(const SoundSetup&) const = default;
};

} // namespace sequora::midi
