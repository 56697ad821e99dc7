#pragma once
// A compressor and a limiter for the effect types that have them: the level of the louder
// channel, followed with an attack and a release, sets a gain that keeps what passes a
// threshold within the ratio, and a make-up gain after it.

#include "platform/midi/output/effects/Dsp.h"

namespace sequora::midi::effects {

struct DynamicsSettings {
    float thresholdDb = -20;
    float ratio = 4; ///< 1 .. 100
    float attackMs = 5;
    float releaseMs = 150;
    float makeUpDb = 0;
};

class Dynamics {
public:
    void prepare(float rate) { m_rate = rate; }
    void set(const DynamicsSettings& s);
    void process(float* left, float* right, int frames);
    void reset() { m_env.reset(); }

private:
    float m_rate = 44100;
    DynamicsSettings m_s;
    EnvelopeFollower m_env;
    float m_threshold = 0.1f;
    float m_makeUp = 1;
};

} // namespace sequora::midi::effects
