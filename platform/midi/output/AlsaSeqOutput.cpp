#include "platform/midi/output/AlsaSeqOutput.h"

#include "platform/midi/file/MidiBytes.h"

#include <alsa/asoundlib.h>

namespace sequora::midi {

namespace {

constexpr std::size_t kEncoderBuffer = 16;

long messageLength(uint8_t status)
{
    const uint8_t command = commandOf(status);
    return command == kProgramChange || command == kChannelPressure ? 2 : 3;
}

} // namespace

std::unique_ptr<AlsaSeqOutput> AlsaSeqOutput::create(const std::string& address, std::string& error)
{
    std::unique_ptr<AlsaSeqOutput> out(new AlsaSeqOutput());
    out->m_address = address;
    if (snd_seq_open(&out->m_seq, "default", SND_SEQ_OPEN_OUTPUT, 0) < 0) {
        out->m_seq = nullptr;
        error = "cannot open the ALSA sequencer";
        return nullptr;
    }
    snd_seq_set_client_name(out->m_seq, "Sequora");
    out->m_port = snd_seq_create_simple_port(out->m_seq, "Sequora out",
                                             SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
                                             SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    snd_seq_addr_t dest{};
    if (out->m_port < 0 || snd_seq_parse_address(out->m_seq, &dest, address.c_str()) < 0) {
        error = "no such ALSA sequencer port: " + address;
        return nullptr;
    }
    if (snd_seq_connect_to(out->m_seq, out->m_port, dest.client, dest.port) < 0) {
        error = "cannot connect to the ALSA sequencer port " + address;
        return nullptr;
    }
    if (snd_midi_event_new(kEncoderBuffer, &out->m_encoder) < 0) {
        out->m_encoder = nullptr;
        error = "cannot create an ALSA MIDI encoder";
        return nullptr;
    }
    AlsaSeqOutput* self = out.get();
    out->m_clock = std::make_unique<ClockThread>(kRate, [self](uint32_t frames) {
        return self->runBlock(frames, [](uint32_t) {});
    });
    return out;
}

AlsaSeqOutput::~AlsaSeqOutput()
{
    m_clock.reset();
    if (m_encoder)
        snd_midi_event_free(m_encoder);
    if (m_seq) {
        snd_seq_drain_output(m_seq);
        snd_seq_close(m_seq);
    }
}

void AlsaSeqOutput::sendShort(uint8_t status, uint8_t data1, uint8_t data2)
{
    const uint8_t bytes[3] = {status, data1, data2};
    sendBytes(bytes, messageLength(status));
}

void AlsaSeqOutput::sendBytes(const uint8_t* bytes, long length)
{
    snd_seq_event_t ev;
    snd_seq_ev_clear(&ev);
    snd_midi_event_reset_encode(m_encoder);
    if (snd_midi_event_encode(m_encoder, bytes, length, &ev) != length || ev.type == SND_SEQ_EVENT_NONE)
        return;
    snd_seq_ev_set_source(&ev, m_port);
    snd_seq_ev_set_subs(&ev);
    snd_seq_ev_set_direct(&ev);
    snd_seq_event_output_direct(m_seq, &ev);
}

void AlsaSeqOutput::sendSysex(std::span<const uint8_t> bytes)
{
    snd_seq_event_t ev;
    snd_seq_ev_clear(&ev);
    snd_seq_ev_set_sysex(&ev, static_cast<unsigned>(bytes.size()), const_cast<uint8_t*>(bytes.data()));
    snd_seq_ev_set_source(&ev, m_port);
    snd_seq_ev_set_subs(&ev);
    snd_seq_ev_set_direct(&ev);
    snd_seq_event_output_direct(m_seq, &ev);
}

} // namespace sequora::midi
