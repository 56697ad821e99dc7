#pragma once
// MIDI out to an ALSA sequencer port (a hardware synthesiser, or another program such as
// a soft synth): a clock thread sends each event when it falls due.

#include "platform/midi/output/ClockThread.h"
#include "platform/midi/output/Output.h"

#include <memory>
#include <string>
#include <vector>

struct _snd_seq;
struct snd_midi_event;

namespace sequora::midi {

class AlsaSeqOutput final : public Output {
public:
    static constexpr int kRate = 1'000'000; ///< microsecond frames

    /// Connects to CLIENT:PORT (numbers, or a client name as ALSA accepts it).
    /// Null with @p error set when the port cannot be reached.
    static std::unique_ptr<AlsaSeqOutput> create(const std::string& address, std::string& error);
    ~AlsaSeqOutput() override;

    int sampleRate() const override { return kRate; }
    std::string name() const override { return "alsa:" + m_address; }
    void wake() override { m_clock->wake(); }

protected:
    void sendShort(uint8_t status, uint8_t data1, uint8_t data2) override;
    void sendSysex(std::span<const uint8_t> bytes) override;

private:
    AlsaSeqOutput() = default;
    void sendBytes(const uint8_t* bytes, long length);

    _snd_seq* m_seq = nullptr;
    snd_midi_event* m_encoder = nullptr;
    int m_port = -1;
    std::string m_address;
    std::unique_ptr<ClockThread> m_clock;
};

} // namespace sequora::midi
