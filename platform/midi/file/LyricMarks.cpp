#include "platform/midi/file/LyricMarks.h"

#include <algorithm>

namespace sequora::midi::lyric {

std::size_t charLength(uint8_t lead, text::Encoding encoding)
{
    switch (encoding) {
    case text::Encoding::Cp932:
        return (lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC) ? 2 : 1;
    case text::Encoding::EucJp:
        return lead == 0x8F ? 3 : (lead == 0x8E || lead >= 0xA1) ? 2 : 1;
    case text::Encoding::Utf8:
    case text::Encoding::Latin1:
        break;
    }
    return 1;
}

bool isKaraokeTag(std::string_view s)
{
    return s.size() >= 2 && s[0] == '@'
        && std::string_view("KTLIVW").find(s[1]) != std::string_view::npos;
}

bool isXfHeader(std::string_view s)
{
    return s.starts_with(kXfHeader) || s.starts_with(kXfLanguageHeader);
}

std::string_view field(std::string_view s, std::size_t prefix, std::size_t index)
{
    s.remove_prefix(std::min(prefix, s.size()));
    for (std::size_t i = 0; i < index; ++i) {
        const std::size_t colon = s.find(':');
        if (colon == std::string_view::npos)
            return {};
        s.remove_prefix(colon + 1);
    }
    return s.substr(0, s.find(':'));
}

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && uint8_t(s.front()) <= ' ')
        s.remove_prefix(1);
    while (!s.empty() && uint8_t(s.back()) <= ' ')
        s.remove_suffix(1);
    return s;
}

std::optional<text::Encoding> languageHint(std::string_view tag)
{
    if (tag.starts_with("JP") || tag.starts_with("JAP"))
        return text::Encoding::Cp932;
    if (tag.starts_with("L1"))
        return text::Encoding::Latin1;
    return std::nullopt;
}

} // namespace sequora::midi::lyric
