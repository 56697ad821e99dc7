#pragma once
// A FluidSynth synthesiser without an audio driver, driven block by block by its user:
// deterministic, as fast as the machine allows. Used by sequora-render and the tests.

#include "platform/midi/output/fluidsynth/FluidSynthCore.h"
#include "platform/midi/output/Output.h"

#include <memory>
#include <string>
#include <vector>

namespace sequora::midi {

class OfflineRenderer final : public Output {
public:
    /// Events land on FluidSynth's block grid: within half a block of their time.
    static constexpr uint32_t kGrid = FluidSynthCore::kGrid;

    /// @p soundfont: a path, or empty for the default (see FluidSynthCore::findSoundfont).
    static std::unique_ptr<OfflineRenderer> create(const std::string& soundfont, int sampleRate,
                                                   std::string& error);

    int sampleRate() const override { return m_core->sampleRate(); }
    std::string name() const override { return "offline"; }
    /// The limiter's look-ahead: an event dispatched at frame f sounds at f + latency.
    int latencyFrames() const override { return m_core->latency(); }
    void setSound(bool reverb, bool chorus, double levelDb) override
    {
        m_core->setSound(reverb, chorus, levelDb);
    }
    /// Reads the song's presets at once: nothing renders until the next block is asked for.
    void prepare(const Song* song) override;
    /// The soundfont's name for the preset chosen.
    std::string instrumentName(const PresetRequest& request) const override;
    const FluidSynthCore& core() const { return *m_core; }

    /// Renders the next @p frames frames as interleaved 16-bit stereo into @p out,
    /// dispatching every event due within them at its offset, rounded to the nearest
    /// grid line. Blocks that are multiples of kGrid keep every event within half a
    /// block of its time; odd sizes may delay an event by up to a block.
    void render(int16_t* out, uint32_t frames);
    /// Renders into two float buffers, the same samples as render() before conversion.
    void renderFloat(float* left, float* right, uint32_t frames);

    /// Frames the synthesiser itself has rendered; it stops once nothing sounds and the
    /// transport is not playing.
    uint64_t framesSynthesised() const { return m_core->framesSynthesised(); }

protected:
    void sendShort(uint8_t status, uint8_t data1, uint8_t data2) override
    {
        m_core->sendShort(status, data1, data2);
    }
    void sendSysex(std::span<const uint8_t> bytes) override { m_core->sendSysex(bytes); }
    void sendPortShort(uint8_t port, uint8_t status, uint8_t data1, uint8_t data2) override
    {
        m_core->sendShort(status, data1, data2, port);
    }
    void sendPortSysex(uint8_t port, std::span<const uint8_t> bytes) override
    {
        m_core->sendSysex(bytes, port);
    }
    bool hasSecondPort() const override { return true; }
    void silence() override { m_core->silence(); }
    void reset() override { m_core->reset(); }
    void restore(SystemMode mode) override { m_core->restore(mode); }
    void fade(uint32_t at, uint32_t length) override { m_core->fade(at, length); }

private:
    explicit OfflineRenderer(std::unique_ptr<FluidSynthCore> core) : m_core(std::move(core)) {}

    std::unique_ptr<FluidSynthCore> m_core;
    std::vector<float> m_left;
    std::vector<float> m_right;
};

} // namespace sequora::midi
