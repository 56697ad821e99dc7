#include "player/ListenerCommands.h"

#include "platform/mci/mci.h"
#include "platform/midi/transport/Sequencer.h"

#include <string>

namespace sequora::player {

namespace {

// "set midifile " and what to set.
bool set(const std::string& what)
{
    const std::string command = std::string("set ") + kDeviceAlias + " " + what;
    return platform::mciSendStringA(command.c_str(), nullptr, 0, nullptr) == platform::kMciOk;
}

std::string onOff(bool on)
{
    return on ? " on" : " off";
}

} // namespace

midi::ListenerSettings listenerSettings()
{
    midi::PartsView view;
    midi::ListenerSettings out;
    if (!midi::engine::sequencer().readParts(view))
        return midi::engine::sequencer().listening();
    out.tempoPercent = view.tempoPercent;
    out.transpose = view.transpose;
    for (int i = 0; i < view.partCount; ++i) {
        out.muted[std::size_t(i)] = view.parts[std::size_t(i)].has(midi::PartView::Muted);
        out.soloed[std::size_t(i)] = view.parts[std::size_t(i)].has(midi::PartView::Soloed);
    }
    return out;
}

bool setTempo(int percent)
{
    return set("tempo " + std::to_string(percent));
}

bool setTranspose(int semitones)
{
    return set("transpose " + std::to_string(semitones));
}

bool setPartMuted(int part, bool on)
{
    return set("part " + std::to_string(part) + " mute" + onOff(on));
}

bool setPartSoloed(int part, bool on)
{
    return set("part " + std::to_string(part) + " solo" + onOff(on));
}

bool resetListening()
{
    bool ok = set("tempo 100");
    ok = set("transpose 0") && ok;
    ok = set("part all mute off") && ok;
    return set("part all solo off") && ok;
}

} // namespace sequora::player
