// Runs MCI command strings against the sequencer device, one per argument or, with no
// arguments, one per line of standard input; prints the result code and the reply.

#include "platform/mci/mci.h"
#include "platform/midi/file/SoundFontFile.h"
#include "platform/midi/transport/Sequencer.h"

#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

using namespace sequora::platform;

namespace {

constexpr unsigned kReplyCapacity = 256;
constexpr std::string_view kWaitWord = "wait";
constexpr std::string_view kSoundfontWord = "soundfont";

const char* describe(MCIERROR code)
{
    switch (code) {
    case kMciOk:
        return "ok";
    case kMciErrUnrecognizedKeyword:
        return "unrecognised keyword";
    case kMciErrUnrecognizedCommand:
        return "unrecognised command";
    case kMciErrInvalidDeviceName:
        return "no device open under that alias, or not a sequencer";
    case kMciErrMissingCommandString:
        return "empty command";
    case kMciErrBadInteger:
        return "not a whole number";
    case kMciErrMissingParameter:
        return "missing parameter";
    case kMciErrFileNotFound:
        return "file not found or unreadable";
    case kMciErrOutOfRange:
        return "out of range: beyond the end of the song, or a tempo, key or part it does not take";
    case kMciErrDuplicateAlias:
        return "alias already in use";
    case kMciErrNoClosingQuote:
        return "no closing quote";
    case kMciErrDuplicateFlags:
        return "keyword given twice";
    case kMciErrInvalidFile:
        return "not a playable MIDI file";
    case kMciErrSeqPortInUse:
        return "the sequencer is open under another alias";
    default:
        return "error";
    }
}

void usage()
{
    std::cerr << "usage: sequora-mci [COMMAND...]\n"
                 "Sends each COMMAND (or, without arguments, each line of standard input)\n"
                 "to the sequencer device and prints the result code and the reply:\n"
                 "  sequora-mci \"open /music/song.mid type sequencer alias m\" \"play m\" \\\n"
                 "              \"wait 5000\" \"status m position\" \"close m\"\n"
                 "A path with blanks goes in double quotes: 'open \"/music/a b.mid\" alias m'.\n"
                 "\"wait N\" pauses N milliseconds while playback goes on; it is not sent.\n"
                 "\"soundfont FILE\" makes the soft synth play on with FILE from where it is,\n"
                 "as the player's sound settings do (nothing is kept); it is not sent.\n"
                 "Blank lines and lines starting with # are skipped. Positions are in\n"
                 "tenths of a second. The exit status is 1 when any command failed.\n"
                 "The listener's settings, kept from song to song until changed:\n"
                 "  set m tempo 50..200          (percent; positions and length follow it)\n"
                 "  set m transpose -12..12      (semitones; drum parts stay)\n"
                 "  set m part 1..16|all mute on|off,  set m part N solo on|off\n"
                 "  status m tempo | transpose | part N mute | part N solo\n";
}

std::string_view trimmed(std::string_view s)
{
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    const auto last = s.find_last_not_of(" \t\r\n");
    return s.substr(first, last - first + 1);
}

// "wait N": true when the line is one; ms is -1 when N is not a whole number.
bool parseWait(std::string_view line, long long& ms)
{
    line = trimmed(line);
    if (line.size() <= kWaitWord.size()
        || (line[kWaitWord.size()] != ' ' && line[kWaitWord.size()] != '\t'))
        return false;
    for (std::size_t i = 0; i < kWaitWord.size(); ++i) {
        if ((line[i] | 0x20) != kWaitWord[i])
            return false;
    }
    const std::string_view number = trimmed(line.substr(kWaitWord.size()));
    ms = number.empty() ? -1 : 0;
    for (char c : number) {
        if (c < '0' || c > '9' || ms > 1'000'000'000) {
            ms = -1;
            break;
        }
        ms = ms * 10 + (c - '0');
    }
    return true;
}

// "soundfont FILE": true when the line is one; file is what follows the word.
bool parseSoundfont(std::string_view line, std::string& file)
{
    line = trimmed(line);
    if (line.size() <= kSoundfontWord.size() || !line.starts_with(kSoundfontWord)
        || (line[kSoundfontWord.size()] != ' ' && line[kSoundfontWord.size()] != '\t'))
        return false;
    file = std::string(trimmed(line.substr(kSoundfontWord.size())));
    return true;
}

bool switchSoundfont(const std::string& file)
{
    sequora::midi::SoundSetup setup = sequora::midi::engine::currentSetup();
    setup.soundfont = file;
    if (!sequora::midi::readSoundFontInfo(file).ok()) {
        std::cerr << "sequora-mci: " << file << ": not a whole soundfont\n";
        return false;
    }
    // Said before it begins, so that a listener can time the change from here.
    std::cout << "soundfont\t" << file << std::endl;
    std::string error;
    if (!sequora::midi::engine::apply(setup, error)) {
        std::cerr << "sequora-mci: " << error << '\n';
        return false;
    }
    return true;
}

// Returns false when the command failed.
bool run(const std::string& line)
{
    std::string file;
    if (parseSoundfont(line, file))
        return switchSoundfont(file);
    long long ms = 0;
    if (parseWait(line, ms)) {
        if (ms < 0) {
            std::cerr << "sequora-mci: wait needs a number of milliseconds\n";
            return false;
        }
        // A manual clock (tests) moves on by the same time; real outputs just play on.
        sequora::midi::engine::advanceManualClock(ms);
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return true;
    }
    char reply[kReplyCapacity] = {};
    const MCIERROR code = mciSendStringA(line.c_str(), reply, kReplyCapacity, nullptr);
    std::cout << code << '\t' << reply << std::endl;
    if (code != kMciOk)
        std::cerr << "sequora-mci: \"" << line << "\": " << describe(code) << '\n';
    return code == kMciOk;
}

} // namespace

int main(int argc, char** argv)
{
    bool ok = true;
    if (argc > 1) {
        const std::string_view first = argv[1];
        if (first == "-h" || first == "--help") {
            usage();
            return 0;
        }
        for (int i = 1; i < argc; ++i)
            ok = run(argv[i]) && ok;
    } else {
        std::string line;
        while (std::getline(std::cin, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            const std::string_view content = trimmed(line);
            if (content.empty() || content.front() == '#')
                continue;
            ok = run(line) && ok;
        }
    }
    return ok ? 0 : 1;
}
