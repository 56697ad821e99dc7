#pragma once
// Legacy text (file names, song titles, lyrics) into UTF-8: one decoder for all of them.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace sequora::midi::text {

/// Windows-1252 is the Western last resort, as browsers read "latin1": ISO-8859-1 with
/// printable characters (curly quotes, dashes, the euro) where it has C1 controls.
enum class Encoding : uint8_t { Utf8, Cp932, EucJp, Cp1252 };

/// One encoding for all of @p samples together (a song's texts, or one name): each candidate
/// tried strictly in order UTF-8, then CP932 and EUC-JP (chosen between by which reads as
/// Japanese: EUC-JP kana bytes are also valid CP932 halfwidth katakana). When none reads
/// every sample, the one that reads the most samples, then reads most as Japanese
/// (Windows-1252 counting too, without its five undefined bytes); Windows-1252 last.
/// @p hint (e.g. an XF language tag said Japanese => Cp932) is tried first when it decodes
/// strictly.
Encoding detect(
    std::span<const std::string_view> samples, std::optional<Encoding> hint = std::nullopt);

/// Whether every sample decodes strictly in @p encoding.
bool decodesAll(std::span<const std::string_view> samples, Encoding encoding);

/// UTF-8 text of @p bytes in @p encoding; never fails: a character that does not decode
/// (a damaged double-byte pair, an undefined byte) becomes one U+FFFD.
std::string decode(std::string_view bytes, Encoding encoding);

/// detect() on one text, then decode(): what names, titles and lyrics all call.
std::string decodeText(std::string_view bytes);

} // namespace sequora::midi::text
