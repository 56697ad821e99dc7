#pragma once
// Outputs that make no sound: NullOutput keeps real time on a clock thread (a player
// with no sound device still plays, silently); ManualClockOutput moves only when told
// to, for tests.

#include "platform/midi/output/ClockThread.h"
#include "platform/midi/output/Output.h"

#include <memory>

namespace sequora::midi {

class NullOutput final : public Output {
public:
    /// Microsecond frames: the clock thread needs no audio grid.
    static constexpr int kRate = 1'000'000;

    NullOutput();
    ~NullOutput() override;

    int sampleRate() const override { return kRate; }
    std::string name() const override { return "null"; }
    void wake() override { m_clock->wake(); }

protected:
    void sendShort(uint8_t, uint8_t, uint8_t) override {}
    void sendSysex(std::span<const uint8_t>) override {}

private:
    std::unique_ptr<ClockThread> m_clock;
};

class ManualClockOutput final : public Output {
public:
    static constexpr int kRate = 1'000'000;

    int sampleRate() const override { return kRate; }
    std::string name() const override { return "manual"; }

    /// Moves playback on by @p ms, dispatching (to nowhere) everything due.
    void advance(int64_t ms);

protected:
    void sendShort(uint8_t, uint8_t, uint8_t) override {}
    void sendSysex(std::span<const uint8_t>) override {}
};

} // namespace sequora::midi
