#include "platform/mci/mci.h"

#include "platform/Settings.h"
#include "platform/System.h"
#include "platform/mci/MciCommand.h"
#include "platform/midi/transport/Sequencer.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

namespace sequora::platform {

namespace {

using namespace mci;
using midi::TransportState;

constexpr int64_t kMsPerUnit = 100; // the device's unit is a tenth of a second
constexpr const char* kLogVariable = "SEQUORA_MCI_LOG";
constexpr std::string_view kSequencerType = "sequencer";

// The engine, its sound set up on first use as the user's settings and the environment
// say, as a system's MIDI mapper is before any program opens a device.
midi::Sequencer& engineSequencer()
{
    static std::once_flag configured;
    std::call_once(configured, [] {
        const PlayerSettings settings = loadSettings();
        midi::engine::configure(effectiveSound(settings));
        midi::engine::sequencer().setLoopPlayback(settings.loop);
    });
    return midi::engine::sequencer();
}

struct Device {
    std::string alias; // as written when opened
    std::string path; // the resolved file path
};

// Open devices by folded alias. The engine plays one song, so at most one device is
// open at a time; the table still answers every alias lookup.
struct DeviceTable {
    std::mutex mutex;
    std::map<std::string, Device> devices;
};

DeviceTable& table()
{
    static DeviceTable instance;
    return instance;
}

struct Outcome {
    MCIERROR code = kMciOk;
    std::string reply;
};

int64_t toUnits(int64_t ms)
{
    return ms / kMsPerUnit;
}

MCIERROR openErrorFor(midi::ReadStatus status)
{
    switch (status) {
    case midi::ReadStatus::NotFound:
    case midi::ReadStatus::Unreadable:
        return kMciErrFileNotFound;
    default:
        return kMciErrInvalidFile;
    }
}

Outcome executeOpen(const Command& cmd, std::map<std::string, Device>& devices)
{
    if (!cmd.deviceType.empty() && !sameWord(cmd.deviceType, kSequencerType))
        return { kMciErrInvalidDeviceName, {} };
    const std::string key = foldCase(cmd.alias);
    if (devices.contains(key))
        return { kMciErrDuplicateAlias, {} };
    if (!devices.empty())
        return { kMciErrSeqPortInUse, {} };

    const std::string path = resolveShortPath(cmd.path);
    const midi::ReadResult read = engineSequencer().open(path);
    if (!read.playable())
        return { openErrorFor(read.status), {} };
    devices.emplace(key, Device { cmd.alias, path });
    return {};
}

std::string modeWord(TransportState state)
{
    switch (state) {
    case TransportState::Playing:
        return "playing";
    case TransportState::Paused:
        return "paused";
    case TransportState::Stopped:
        return "stopped";
    case TransportState::Closed:
        break;
    }
    return "not ready";
}

Outcome executePlay(const Command& cmd, midi::Sequencer& seq)
{
    const int64_t lengthMs = seq.lengthMs();
    const int64_t fromMs = cmd.from ? *cmd.from * kMsPerUnit : seq.positionMs();
    const int64_t toMs = cmd.to ? *cmd.to * kMsPerUnit : -1;
    if (fromMs > lengthMs || toMs > lengthMs || (cmd.to && toMs < fromMs))
        return { kMciErrOutOfRange, {} };
    if (cmd.from)
        seq.seek(fromMs);
    seq.play(toMs);
    return {};
}

Outcome executeSeek(const Command& cmd, midi::Sequencer& seq)
{
    int64_t targetMs = 0;
    switch (cmd.seekTarget) {
    case SeekTarget::Start:
        break;
    case SeekTarget::End:
        targetMs = seq.lengthMs();
        break;
    case SeekTarget::Position:
        targetMs = cmd.seekTo * kMsPerUnit;
        if (targetMs > seq.lengthMs())
            return { kMciErrOutOfRange, {} };
        break;
    }
    seq.seek(targetMs);
    return {};
}

// A part the open song has, counted from 1.
bool partExists(int64_t part, const midi::Sequencer& seq)
{
    return part >= 1 && part <= seq.partCount();
}

Outcome executeStatus(const Command& cmd, const midi::Sequencer& seq)
{
    switch (cmd.item) {
    case StatusItem::Position:
        return { kMciOk, std::to_string(toUnits(seq.positionMs())) };
    case StatusItem::Length:
        return { kMciOk, std::to_string(toUnits(seq.lengthMs())) };
    case StatusItem::Mode:
        break;
    case StatusItem::Tempo:
        return { kMciOk, std::to_string(seq.listening().tempoPercent) };
    case StatusItem::Transpose:
        return { kMciOk, std::to_string(seq.listening().transpose) };
    case StatusItem::Mute:
    case StatusItem::Solo: {
        if (!partExists(cmd.part, seq))
            return { kMciErrOutOfRange, {} };
        const midi::ListenerSettings now = seq.listening();
        const auto& flags = cmd.item == StatusItem::Mute ? now.muted : now.soloed;
        return { kMciOk, flags[std::size_t(cmd.part - 1)] ? "true" : "false" };
    }
    }
    return { kMciOk, modeWord(seq.state()) };
}

// Tempo, key, mute and solo: the engine keeps them from song to song. A value out of
// range or a part the song does not have is refused, and nothing changes.
Outcome executeSet(const Command& cmd, midi::Sequencer& seq)
{
    midi::ListenerSettings next = seq.listening();
    switch (cmd.setting) {
    case Setting::Tempo:
        if (!midi::TempoScale::valid(static_cast<int>(std::min<int64_t>(cmd.number, INT32_MAX))))
            return { kMciErrOutOfRange, {} };
        next.tempoPercent = static_cast<int>(cmd.number);
        break;
    case Setting::Transpose:
        if (cmd.number < midi::ListenerSettings::kMinTranspose
            || cmd.number > midi::ListenerSettings::kMaxTranspose)
            return { kMciErrOutOfRange, {} };
        next.transpose = static_cast<int>(cmd.number);
        break;
    case Setting::Mute:
    case Setting::Solo: {
        auto& flags = cmd.setting == Setting::Mute ? next.muted : next.soloed;
        if (cmd.part == kAllParts) {
            for (int part = 0; part < midi::ListenerSettings::kParts; ++part)
                flags[std::size_t(part)] = cmd.on && part < seq.partCount();
        } else if (partExists(cmd.part, seq)) {
            flags[std::size_t(cmd.part - 1)] = cmd.on;
        } else {
            return { kMciErrOutOfRange, {} };
        }
        break;
    }
    }
    if (!seq.setListening(next))
        return { kMciErrOutOfRange, {} };
    return {};
}

Outcome execute(const Command& cmd)
{
    DeviceTable& t = table();
    std::lock_guard lock(t.mutex);
    if (cmd.verb == Verb::Open)
        return executeOpen(cmd, t.devices);

    const auto found = t.devices.find(foldCase(cmd.alias));
    if (found == t.devices.end())
        return { kMciErrInvalidDeviceName, {} };

    midi::Sequencer& seq = engineSequencer();
    switch (cmd.verb) {
    case Verb::Close:
        seq.close();
        t.devices.erase(found);
        return {};
    case Verb::Play:
        return executePlay(cmd, seq);
    case Verb::Stop:
        seq.stop();
        return {};
    case Verb::Pause:
        seq.pause();
        return {};
    case Verb::Resume:
        // Only a paused device resumes; on any other it does nothing.
        if (seq.state() == TransportState::Paused)
            seq.play();
        return {};
    case Verb::Seek:
        return executeSeek(cmd, seq);
    case Verb::Status:
        return executeStatus(cmd, seq);
    case Verb::Set:
        return executeSet(cmd, seq);
    case Verb::Open:
        break;
    }
    return { kMciErrUnrecognizedCommand, {} };
}

// Line breaks would split the one-line record; they are written as \r and \n.
void appendVisible(std::string& line, std::string_view text)
{
    for (char c : text) {
        if (c == '\n')
            line += "\\n";
        else if (c == '\r')
            line += "\\r";
        else
            line += c;
    }
}

void logCommand(std::string_view command, MCIERROR code, std::string_view reply)
{
    const char* logPath = std::getenv(kLogVariable);
    if (!logPath || !*logPath)
        return;
    std::string line = "\"";
    appendVisible(line, command);
    line += "\"\t" + std::to_string(code) + "\t\"";
    appendVisible(line, reply);
    line += "\"\n";
    // Opened per command so the file can be read, moved or removed between commands.
    if (std::FILE* file = std::fopen(logPath, "ab")) {
        std::fwrite(line.data(), 1, line.size(), file);
        std::fclose(file);
    }
}

} // namespace

MCIERROR mciSendStringA(
    const char* command, char* returnString, unsigned returnLength, void* /*callback*/)
{
    const std::string_view text = command ? command : "";
    const ParseResult parsed = parseCommand(text);
    Outcome outcome = parsed.code == kMciOk ? execute(parsed.command) : Outcome { parsed.code, {} };

    std::string delivered;
    if (outcome.code == kMciOk && returnString && returnLength > 0) {
        delivered = outcome.reply.substr(0, returnLength - 1);
        std::memcpy(returnString, delivered.c_str(), delivered.size() + 1);
    }
    logCommand(text, outcome.code, delivered);
    return outcome.code;
}

void prepareSequencer()
{
    engineSequencer();
}

} // namespace sequora::platform
