#pragma once
// How each source of a song's words marks its lines, paragraphs and blanks, and the tags
// and headers by which karaoke and XF files name themselves and their language: the small
// readers the song-text builder sorts a file's texts out with.

#include "platform/midi/file/TextDecoder.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace sequora::midi::lyric {

constexpr std::string_view kXfVersionId = "\x43\x7B\x00XF";
constexpr std::string_view kXfHeader = "XFhd:";
constexpr std::string_view kXfLanguageHeader = "XFln:";
constexpr std::string_view kXfLyricsHeader = "$Lyrc:";

// The marks of each source: which characters break a line or a paragraph, and which one
// stands for a blank.
struct Marks {
    std::string_view line;
    std::string_view paragraph;
    char blank = 0;
};

constexpr Marks kLyricMarks { "\r", "\n", 0 };
constexpr Marks kLyricMarksWithSlashes { "\r/", "\n\\", 0 };
constexpr Marks kKaraokeMarks { "/\r", "\\\n", 0 };
constexpr Marks kXfMarks { "/\r", "<\n", '^' };

/// Bytes of the character that starts with @p lead: marks are looked for only at the start
/// of a character, since a CP932 trail byte may be a backslash or a caret.
std::size_t charLength(uint8_t lead, text::Encoding encoding);
/// A .kar file's @ tag (@K, @T, @L, @I, @V, @W).
bool isKaraokeTag(std::string_view s);
/// XF's song or language header.
bool isXfHeader(std::string_view s);
/// Field @p index (0 = the first after the prefix) of a colon-separated header.
std::string_view field(std::string_view s, std::size_t prefix, std::size_t index);
std::string_view trimmed(std::string_view s);
/// The encoding a karaoke or XF language tag names, if any.
std::optional<text::Encoding> languageHint(std::string_view tag);

} // namespace sequora::midi::lyric
