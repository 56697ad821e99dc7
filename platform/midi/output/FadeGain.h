#pragma once
// The fade that ends a looped song: a gain on the synthesiser's output, ahead of the
// limiter, that counts its own frames once told where in the fade it is. The level falls
// as (1 - t/T)^2 over the fade's length T: it starts gently, ears hear it as an even
// fade, and it ends in silence rather than a cut. Nothing of the song's own state (its
// volumes, the module's master volume) is touched.

#include <cstdint>

namespace sequora::midi {

class FadeGain {
public:
    /// From now on the fade is @p at frames in, of @p length frames in all.
    void start(uint32_t at, uint32_t length)
    {
        m_active = true;
        m_at = at;
        m_length = length;
    }
    /// Back to the full level.
    void clear() { m_active = false; }
    bool active() const { return m_active; }
    /// The level at the frame the fade has reached: 1 without a fade, 0 past its end.
    float level() const;

    /// Applies the fade to @p frames frames of @p left and @p right, and moves on.
    void apply(float* left, float* right, int frames);
    /// Moves on over @p frames frames of silence.
    void skip(int frames)
    {
        if (m_active)
            m_at += static_cast<uint64_t>(frames);
    }

private:
    bool m_active = false;
    uint64_t m_at = 0;
    uint64_t m_length = 0;
};

} // namespace sequora::midi
