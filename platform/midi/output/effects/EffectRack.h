#pragma once
// The module's effect section on the audio: each part's dry sound goes to the insertion
// effect it is assigned to (GS EFX, an XG insertion block, the XG variation as an
// insertion) or straight to the mix; the parts' sends, the insertion outputs' sends and
// the chorus's send feed the third system effect (GS delay, XG variation); the master EQ
// takes the mix but the parts switched off from it. The state comes from the module
// model (EffectSection); apply() turns it into chain settings without allocating, so it
// may run on the audio thread between blocks.

#include "platform/midi/module/EffectSection.h"
#include "platform/midi/output/effects/EffectChain.h"
#include "platform/midi/output/effects/MasterEq.h"

#include <array>
#include <memory>

namespace sequora::midi::effects {

class EffectRack {
public:
    static constexpr std::size_t kParts = EffectSection::kParts;
    /// Chains: the insertion slots (the GS EFX is the first), then the third system effect.
    static constexpr std::size_t kInsertions = EffectSection::kXgInsertions;
    static constexpr std::size_t kThird = kInsertions;
    static constexpr std::size_t kSlots = kInsertions + 1;
    static constexpr int kBlock = 256;

    /// What a section asks of the rack.
    struct Needs {
        bool parts = false; ///< the parts' dry sounds one by one
        bool eq = false; ///< a master EQ that is not flat
        std::array<bool, kSlots> inSlots {}; ///< which slots run an effect
        bool any() const { return parts || eq; }
        Needs& operator|=(const Needs& o);
        bool operator==(const Needs&) const = default;
    };
    /// What @p section in @p mode asks for now. Types not built ask for nothing: the
    /// parts assigned to them stay dry.
    static Needs needs(const EffectSection& section, SystemMode mode);
    /// Whether part @p ch plays through the GS insertion effect: its reverb and chorus
    /// sends are then the effect's.
    static bool efxTakes(const EffectSection& section, SystemMode mode, uint8_t ch);

    EffectRack();
    ~EffectRack();
    /// Takes the memory of the slots @p needs asks for (others stay dry), forgets the rest.
    void prepare(float rate, const Needs& needs);
    const Needs& prepared() const { return m_prepared; }
    /// Follows @p section in @p mode: chains, routing, sends, EQ.
    void apply(const EffectSection& section, SystemMode mode);

    /// Mixes the parts' dry pairs (@p partLeft[p], @p partRight[p]) and the synthesiser's
    /// own reverb and chorus returns into @p left, @p right (overwritten).
    void processParts(const float* const* partLeft, const float* const* partRight,
        const float* reverbLeft, const float* reverbRight, const float* chorusLeft,
        const float* chorusRight, float* left, float* right, int frames);
    /// The whole mix at once, in place: the master EQ alone (nothing else is heard without
    /// the parts one by one).
    void processMix(float* left, float* right, int frames);
    /// Every tail silenced.
    void reset();

private:
    void processChunk(const float* const* partLeft, const float* const* partRight,
        const float* reverbLeft, const float* reverbRight, const float* chorusLeft,
        const float* chorusRight, float* left, float* right, int offset, int frames);

    struct Buffer {
        std::array<float, kBlock> left {}, right {};
        void clear(int n)
        {
            std::fill_n(left.data(), n, 0.0f);
            std::fill_n(right.data(), n, 0.0f);
        }
    };

    float m_rate = 44100;
    Needs m_prepared;
    std::array<std::unique_ptr<EffectChain>, kSlots> m_chains;
    std::array<bool, kSlots> m_live {}; ///< the slot runs now
    std::array<float, kSlots> m_slotSend {}; ///< an insertion output's send to the third effect
    bool m_thirdSystem = false; ///< the third effect is fed by sends (not a part)
    float m_thirdLeft = 1, m_thirdRight = 1; ///< its return and pan
    std::array<int8_t, kParts> m_route {}; ///< the slot a part goes through, -1 none
    std::array<float, kParts> m_send {};
    std::array<bool, kParts> m_eqOn {};
    float m_chorusToThird = 0;
    MasterEq m_eq;
    std::array<Buffer, kSlots> m_slotIn;
    Buffer m_eqMix, m_dryMix;
    std::array<float, kBlock> m_thirdIn {};
};

} // namespace sequora::midi::effects
