#pragma once
// MCI command strings taken apart into a command record, before anything is executed.

#include "platform/mci/mci.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sequora::platform::mci {

enum class Verb { Open, Close, Play, Stop, Pause, Resume, Seek, Status, Set };
/// What status reads; the listener's settings are read with the words set writes them.
enum class StatusItem { Position, Length, Mode, Tempo, Transpose, Mute, Solo };
/// What set writes: "tempo N" (percent), "transpose N" (semitones, signed),
/// "part N mute on|off", "part N solo on|off" (N a part from 1, or "all").
enum class Setting { Tempo, Transpose, Mute, Solo };
enum class SeekTarget { Start, End, Position };

/// set ... part all
inline constexpr int kAllParts = -1;

/// One parsed command. Positions are in the device's unit (tenths of a second).
struct Command {
    Verb verb = Verb::Stop;
    std::string alias; ///< as written; compare with sameWord()
    std::string path; ///< open: the file token, quotes removed, otherwise untouched
    std::string deviceType; ///< open: the "type" value, empty when not given
    std::optional<int64_t> from; ///< play ... from N
    std::optional<int64_t> to; ///< play ... to N
    SeekTarget seekTarget = SeekTarget::Start;
    int64_t seekTo = 0; ///< seek ... to N
    StatusItem item = StatusItem::Mode;
    Setting setting = Setting::Tempo;
    int64_t number = 0; ///< set tempo / transpose: the value, as written (range unchecked)
    int64_t part = 0; ///< set and status of mute and solo: the part from 1, or kAllParts
    bool on = false; ///< set mute / solo
};

/// The parse outcome: code is kMciOk, or the result code the command string earns
/// before any device is looked at (syntax, numbers, keywords).
struct ParseResult {
    MCIERROR code = kMciOk;
    Command command;
};

struct Token {
    std::string text;
    bool quoted = false; ///< written as "..."; never taken for a keyword
};

/// Splits at blanks (space, tab, CR, LF); "..." makes one token with the quotes
/// removed. Returns kMciErrNoClosingQuote for an unterminated quote.
MCIERROR tokenize(std::string_view text, std::vector<Token>& out);

/// Parses one command string. Keywords and the verb are case-insensitive.
ParseResult parseCommand(std::string_view text);

/// ASCII case-insensitive comparison, as the interface compares keywords and aliases.
bool sameWord(std::string_view a, std::string_view b);

/// Lower-case ASCII form, used as the key of an alias.
std::string foldCase(std::string_view text);

} // namespace sequora::platform::mci
