#include "platform/MidiPorts.h"

#include <alsa/asoundlib.h>

namespace sequora::platform {

namespace {

constexpr unsigned kWritable = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;

void quietAlsa(const char*, int, const char*, int, const char*, ...) { }

} // namespace

QString MidiPort::address() const
{
    return QStringLiteral("%1:%2").arg(clientName).arg(port);
}

QString MidiPort::caption() const
{
    return QStringLiteral("%1 (%2:%3)").arg(portName).arg(client).arg(port);
}

QList<MidiPort> midiOutputPorts()
{
    QList<MidiPort> ports;
    snd_lib_error_set_handler(&quietAlsa);
    snd_seq_t* seq = nullptr;
    if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_OUTPUT, 0) < 0)
        return ports;
    const int self = snd_seq_client_id(seq);
    snd_seq_client_info_t* client = nullptr;
    snd_seq_port_info_t* port = nullptr;
    snd_seq_client_info_alloca(&client);
    snd_seq_port_info_alloca(&port);
    snd_seq_client_info_set_client(client, -1);
    while (snd_seq_query_next_client(seq, client) >= 0) {
        const int id = snd_seq_client_info_get_client(client);
        const QString clientName = QString::fromUtf8(snd_seq_client_info_get_name(client));
        // The system's timer and announce ports, and another copy of this program.
        if (id == SND_SEQ_CLIENT_SYSTEM || id == self)
            continue;
        snd_seq_port_info_set_client(port, id);
        snd_seq_port_info_set_port(port, -1);
        while (snd_seq_query_next_port(seq, port) >= 0) {
            if ((snd_seq_port_info_get_capability(port) & kWritable) != kWritable)
                continue;
            if (snd_seq_port_info_get_capability(port) & SND_SEQ_PORT_CAP_NO_EXPORT)
                continue;
            ports.append({ id, snd_seq_port_info_get_port(port), clientName,
                QString::fromUtf8(snd_seq_port_info_get_name(port)) });
        }
    }
    snd_seq_close(seq);
    return ports;
}

} // namespace sequora::platform
