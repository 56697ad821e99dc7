#include "platform/mci/MciCommand.h"

#include <array>
#include <utility>

namespace sequora::platform::mci {

namespace {

// Integers are unsigned 32-bit values on the real interface; longer ones are refused.
constexpr int64_t kMaxInteger = 0xFFFFFFFFLL;
// A signed value (a key a few semitones down) is a 32-bit signed one.
constexpr int64_t kMaxSigned = 0x7FFFFFFFLL;

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

char lowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool isKeyword(const Token& token, std::string_view word)
{
    return !token.quoted && sameWord(token.text, word);
}

struct VerbName {
    std::string_view word;
    Verb verb;
};

constexpr std::array kVerbs {
    VerbName { "open", Verb::Open },
    VerbName { "close", Verb::Close },
    VerbName { "play", Verb::Play },
    VerbName { "stop", Verb::Stop },
    VerbName { "pause", Verb::Pause },
    VerbName { "resume", Verb::Resume },
    VerbName { "seek", Verb::Seek },
    VerbName { "status", Verb::Status },
    VerbName { "set", Verb::Set },
};

// Walks the tokens after the verb and its device name.
class Cursor {
public:
    Cursor(const std::vector<Token>& tokens, std::size_t at)
        : m_tokens(tokens)
        , m_at(at)
    {
    }

    bool done() const { return m_at >= m_tokens.size(); }
    const Token& take() { return m_tokens[m_at++]; }

    MCIERROR value(std::string& out)
    {
        if (done())
            return kMciErrMissingParameter;
        out = take().text;
        return kMciOk;
    }

    MCIERROR integer(int64_t& out)
    {
        if (done())
            return kMciErrMissingParameter;
        return parseInteger(take().text, out);
    }

    /// An integer with an optional sign.
    static MCIERROR parseSigned(std::string_view text, int64_t& out)
    {
        const bool negative = !text.empty() && text.front() == '-';
        if (!text.empty() && (text.front() == '-' || text.front() == '+'))
            text.remove_prefix(1);
        int64_t magnitude = 0;
        if (const MCIERROR code = parseInteger(text, magnitude))
            return code;
        if (magnitude > kMaxSigned)
            return kMciErrBadInteger;
        out = negative ? -magnitude : magnitude;
        return kMciOk;
    }

    static MCIERROR parseInteger(std::string_view text, int64_t& out)
    {
        if (text.empty())
            return kMciErrBadInteger;
        int64_t value = 0;
        for (char c : text) {
            if (c < '0' || c > '9')
                return kMciErrBadInteger;
            value = value * 10 + (c - '0');
            if (value > kMaxInteger)
                return kMciErrBadInteger;
        }
        out = value;
        return kMciOk;
    }

private:
    const std::vector<Token>& m_tokens;
    std::size_t m_at;
};

MCIERROR parseOpen(const std::vector<Token>& tokens, Command& cmd)
{
    // An unquoted keyword where the file should be means the file was left out, as
    // in "open  type sequencer alias x".
    const Token& file = tokens[1];
    if (file.text.empty() || isKeyword(file, "type") || isKeyword(file, "alias"))
        return kMciErrMissingParameter;
    cmd.path = file.text;

    bool haveType = false;
    bool haveAlias = false;
    Cursor rest(tokens, 2);
    while (!rest.done()) {
        const Token& word = rest.take();
        std::string* slot = nullptr;
        bool* seen = nullptr;
        if (isKeyword(word, "type")) {
            slot = &cmd.deviceType;
            seen = &haveType;
        } else if (isKeyword(word, "alias")) {
            slot = &cmd.alias;
            seen = &haveAlias;
        } else {
            return kMciErrUnrecognizedKeyword;
        }
        if (*seen)
            return kMciErrDuplicateFlags;
        *seen = true;
        if (const MCIERROR code = rest.value(*slot))
            return code;
        if (slot->empty())
            return kMciErrMissingParameter;
    }
    // Without an alias the device is known by its file name.
    if (!haveAlias)
        cmd.alias = cmd.path;
    return kMciOk;
}

MCIERROR parsePlay(Cursor& rest, Command& cmd)
{
    while (!rest.done()) {
        const Token& word = rest.take();
        std::optional<int64_t>* slot = isKeyword(word, "from") ? &cmd.from
            : isKeyword(word, "to")                            ? &cmd.to
                                                               : nullptr;
        if (!slot)
            return kMciErrUnrecognizedKeyword;
        if (slot->has_value())
            return kMciErrDuplicateFlags;
        int64_t value = 0;
        if (const MCIERROR code = rest.integer(value))
            return code;
        *slot = value;
    }
    return kMciOk;
}

MCIERROR parseSeek(Cursor& rest, Command& cmd)
{
    if (rest.done())
        return kMciErrMissingParameter;
    if (!isKeyword(rest.take(), "to"))
        return kMciErrUnrecognizedKeyword;
    if (rest.done())
        return kMciErrMissingParameter;
    const Token& target = rest.take();
    if (isKeyword(target, "start")) {
        cmd.seekTarget = SeekTarget::Start;
    } else if (isKeyword(target, "end")) {
        cmd.seekTarget = SeekTarget::End;
    } else {
        cmd.seekTarget = SeekTarget::Position;
        if (const MCIERROR code = Cursor::parseInteger(target.text, cmd.seekTo))
            return code;
    }
    if (!rest.done())
        return isKeyword(rest.take(), "to") ? kMciErrDuplicateFlags : kMciErrUnrecognizedKeyword;
    return kMciOk;
}

// "part N" followed by "mute" or "solo"; with @p allowAll, N may be "all".
MCIERROR parsePart(Cursor& rest, Command& cmd, bool allowAll)
{
    if (rest.done())
        return kMciErrMissingParameter;
    const Token& number = rest.take();
    if (allowAll && isKeyword(number, "all"))
        cmd.part = kAllParts;
    else if (const MCIERROR code = Cursor::parseInteger(number.text, cmd.part))
        return code;
    if (rest.done())
        return kMciErrMissingParameter;
    const Token& what = rest.take();
    if (isKeyword(what, "mute"))
        cmd.setting = Setting::Mute;
    else if (isKeyword(what, "solo"))
        cmd.setting = Setting::Solo;
    else
        return kMciErrUnrecognizedKeyword;
    return kMciOk;
}

MCIERROR parseStatus(Cursor& rest, Command& cmd)
{
    if (rest.done())
        return kMciErrMissingParameter;
    const Token& item = rest.take();
    if (isKeyword(item, "position")) {
        cmd.item = StatusItem::Position;
    } else if (isKeyword(item, "length")) {
        cmd.item = StatusItem::Length;
    } else if (isKeyword(item, "mode")) {
        cmd.item = StatusItem::Mode;
    } else if (isKeyword(item, "tempo")) {
        cmd.item = StatusItem::Tempo;
    } else if (isKeyword(item, "transpose")) {
        cmd.item = StatusItem::Transpose;
    } else if (isKeyword(item, "part")) {
        if (const MCIERROR code = parsePart(rest, cmd, false))
            return code;
        cmd.item = cmd.setting == Setting::Mute ? StatusItem::Mute : StatusItem::Solo;
    } else {
        return kMciErrUnrecognizedKeyword;
    }
    return rest.done() ? kMciOk : kMciErrUnrecognizedKeyword;
}

MCIERROR parseSet(Cursor& rest, Command& cmd)
{
    if (rest.done())
        return kMciErrMissingParameter;
    const Token& item = rest.take();
    if (isKeyword(item, "tempo")) {
        cmd.setting = Setting::Tempo;
        if (const MCIERROR code = rest.integer(cmd.number))
            return code;
    } else if (isKeyword(item, "transpose")) {
        cmd.setting = Setting::Transpose;
        if (rest.done())
            return kMciErrMissingParameter;
        if (const MCIERROR code = Cursor::parseSigned(rest.take().text, cmd.number))
            return code;
    } else if (isKeyword(item, "part")) {
        if (const MCIERROR code = parsePart(rest, cmd, true))
            return code;
        if (rest.done())
            return kMciErrMissingParameter;
        const Token& value = rest.take();
        if (isKeyword(value, "on"))
            cmd.on = true;
        else if (isKeyword(value, "off"))
            cmd.on = false;
        else
            return kMciErrUnrecognizedKeyword;
    } else {
        return kMciErrUnrecognizedKeyword;
    }
    return rest.done() ? kMciOk : kMciErrUnrecognizedKeyword;
}

} // namespace

bool sameWord(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lowerAscii(a[i]) != lowerAscii(b[i]))
            return false;
    }
    return true;
}

std::string foldCase(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = lowerAscii(c);
    return out;
}

MCIERROR tokenize(std::string_view text, std::vector<Token>& out)
{
    out.clear();
    std::size_t i = 0;
    while (i < text.size()) {
        if (isBlank(text[i])) {
            ++i;
            continue;
        }
        Token token;
        if (text[i] == '"') {
            const std::size_t close = text.find('"', i + 1);
            if (close == std::string_view::npos)
                return kMciErrNoClosingQuote;
            token.text = text.substr(i + 1, close - i - 1);
            token.quoted = true;
            i = close + 1;
        } else {
            const std::size_t start = i;
            while (i < text.size() && !isBlank(text[i]))
                ++i;
            token.text = text.substr(start, i - start);
        }
        out.push_back(std::move(token));
    }
    return kMciOk;
}

ParseResult parseCommand(std::string_view text)
{
    ParseResult result;
    // Kept from call to call: the player's monitor sends its status queries a hundred
    // times a second, and each would otherwise allocate the list anew.
    thread_local std::vector<Token> tokens;
    if ((result.code = tokenize(text, tokens)) != kMciOk)
        return result;
    if (tokens.empty()) {
        result.code = kMciErrMissingCommandString;
        return result;
    }

    Command& cmd = result.command;
    bool known = false;
    for (const VerbName& v : kVerbs) {
        if (isKeyword(tokens[0], v.word)) {
            cmd.verb = v.verb;
            known = true;
            break;
        }
    }
    if (!known) {
        result.code = kMciErrUnrecognizedCommand;
        return result;
    }
    if (tokens.size() < 2) {
        result.code = kMciErrMissingParameter;
        return result;
    }
    if (cmd.verb == Verb::Open) {
        result.code = parseOpen(tokens, cmd);
        return result;
    }

    cmd.alias = tokens[1].text;
    if (cmd.alias.empty()) {
        result.code = kMciErrMissingParameter;
        return result;
    }
    Cursor rest(tokens, 2);
    switch (cmd.verb) {
    case Verb::Play:
        result.code = parsePlay(rest, cmd);
        break;
    case Verb::Seek:
        result.code = parseSeek(rest, cmd);
        break;
    case Verb::Status:
        result.code = parseStatus(rest, cmd);
        break;
    case Verb::Set:
        result.code = parseSet(rest, cmd);
        break;
    default:
        result.code = rest.done() ? kMciOk : kMciErrUnrecognizedKeyword;
        break;
    }
    return result;
}

} // namespace sequora::platform::mci
