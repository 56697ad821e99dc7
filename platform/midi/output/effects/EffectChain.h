#pragma once
// One effect slot of a module (the GS insertion effect, an XG insertion block, the XG
// variation, the GS delay): the blocks a type is made of, run one after another or side
// by side, the balance of direct and effect sound, an EQ, a pan and a level. What a type
// and its parameter bytes mean is worked out elsewhere (GsEffectTypes, XgEffectTypes)
// into ChainSettings; this class only runs them. Every block's memory is taken in
// prepare(); set() and process() allocate nothing, so a type can change mid-song on the
// audio thread.

#include "platform/midi/output/effects/Chorus.h"
#include "platform/midi/output/effects/Drive.h"
#include "platform/midi/output/effects/Dynamics.h"
#include "platform/midi/output/effects/EqBank.h"
#include "platform/midi/output/effects/LoFi.h"
#include "platform/midi/output/effects/Motion.h"
#include "platform/midi/output/effects/PitchShift.h"
#include "platform/midi/output/effects/Reverb.h"
#include "platform/midi/output/effects/TapDelay.h"

#include <array>
#include <cstdint>

namespace sequora::midi::effects {

enum class Block : uint8_t {
    None,
    Eq,
    Enhancer,
    Drive,
    Phaser,
    AutoWah,
    Rotary,
    Tremolo,
    Chorus,
    TapDelay,
    Reverb,
    GateReverb,
    PitchShift,
    LoFi,
    Dynamics,
};

struct Stage {
    Block block = Block::None;
    uint8_t instance = 0; ///< Drive and Chorus come twice (OD1/OD2, chorus into flanger)
    float dry = 0; ///< what the stage passes of its input besides the block's output
    float wet = 1;
    float pan = 0; ///< side by side: where the stage sits, -1 .. 1
    float level = 1; ///< side by side: its level
};

struct ChainSettings {
    static constexpr int kMaxStages = 5;
    enum class Layout { Series, Parallel };

    Layout layout = Layout::Series;
    std::array<Stage, kMaxStages> stages {};
    int stageCount = 0;

    // What the blocks do; only those a stage uses matter.
    std::array<EqBand, EqBank::kMaxBands> eq {};
    int eqCount = 0;
    EnhancerSettings enhancer;
    std::array<DriveSettings, 2> drive {};
    PhaserSettings phaser;
    AutoWahSettings autoWah;
    RotarySettings rotary;
    TremoloSettings tremolo;
    std::array<ChorusSettings, 2> chorus {};
    TapDelaySettings delay;
    ReverbSettings reverb;
    GateReverbSettings gate;
    PitchShiftSettings pitch;
    LoFiSettings lofi;
    DynamicsSettings dynamics;

    float dry = 0; ///< the input passed around the whole chain
    float wet = 1;
    std::array<EqBand, 3> post {}; ///< the type's closing EQ (low and high gain)
    int postCount = 0;
    float pan = 0; ///< balance of the result, -1 .. 1
    float level = 1;
};

class EffectChain {
public:
    static constexpr int kBlockFrames = 256;

    /// Takes every block's memory; call before the first set() and whenever the rate changes.
    void prepare(float rate);
    /// Switches to @p s. A chain of other blocks starts from silence; the same blocks
    /// keep ringing with their new settings.
    void set(const ChainSettings& s);
    /// Nothing: the input passes as it is (a type not built, or Thru).
    void bypass();
    bool bypassed() const { return m_bypass; }
    /// In place. Output is bounded: a non-finite sample resets the chain to silence.
    void process(float* left, float* right, int frames);
    void reset();

private:
    void runStage(const Stage& st, float* l, float* r, int frames);
    void processChunk(float* left, float* right, int frames);

    float m_rate = 44100;
    bool m_bypass = true;
    ChainSettings m_s;
    EqBank m_eq, m_post;
    Enhancer m_enhancer;
    std::array<Drive, 2> m_drive;
    Phaser m_phaser;
    AutoWah m_autoWah;
    Rotary m_rotary;
    Tremolo m_tremolo;
    std::array<Chorus, 2> m_chorus;
    TapDelay m_delay;
    Reverb m_reverb;
    GateReverb m_gate;
    PitchShift m_pitch;
    LoFi m_lofi;
    Dynamics m_dynamics;
    float m_panL = 1, m_panR = 1;

    std::array<float, kBlockFrames> m_dryL {}, m_dryR {};
    std::array<float, kBlockFrames> m_sumL {}, m_sumR {};
    std::array<float, kBlockFrames> m_tmpL {}, m_tmpR {};
};

} // namespace sequora::midi::effects
