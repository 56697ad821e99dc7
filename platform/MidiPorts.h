#pragma once
// The ALSA sequencer ports a player can send to (hardware synths, TiMidity, FluidSynth
// run as a server, ...), read afresh on each call.

#include <QList>
#include <QString>

namespace sequora::platform {

struct MidiPort {
    int client = 0;
    int port = 0;
    QString clientName;
    QString portName;
    /// How the settings and SEQUORA_MIDI_OUT name it after "alsa:": "CLIENT:PORT" by the
    /// client's name, which stays when the numbers change from one start to the next.
    QString address() const;
    /// How the window shows it: "TiMidity port 0 (128:0)".
    QString caption() const;
};

/// The ports that take subscriptions for writing, but for the system's own (client 0) and
/// this program's. None when there is no ALSA sequencer.
QList<MidiPort> midiOutputPorts();

} // namespace sequora::platform
