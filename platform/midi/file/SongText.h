#pragma once
// The words of a song, read from its file: the title, the lyrics with their times and
// line breaks, and what the song writes on the sound module's display. Read apart from
// the song's playable events, by a pass of the SMF reader that keeps only texts.

#include "platform/midi/file/ModuleDisplay.h"
#include "platform/midi/file/Song.h"
#include "platform/midi/file/TextDecoder.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sequora::midi {

/// Where a song's words come from.
enum class LyricSource : uint8_t {
    None, ///< no words at all
    LyricEvents, ///< lyric meta events; CR ends a line, LF a paragraph
    Karaoke, ///< .kar text events: @ tags, "/" new line, "\" new paragraph
    Xf, ///< Yamaha XF lyrics: "/" new line, "<" new page, "^" a blank
    TextEvents, ///< plain text events, when the song has nothing else
};

/// One line of lyrics: syllables [first, first + count).
struct LyricLine {
    uint32_t first = 0;
    uint32_t count = 0;
    bool newParagraph = false; ///< a paragraph (or page) begins with this line
};

/// The display as a song has written it, from timeUs on.
struct DisplayChange {
    int64_t timeUs = 0;
    ModuleDisplay display;
};

class SongText {
public:
    /// Beyond these the rest is left out: a million syllables are still shown.
    static constexpr std::size_t kMaxSyllables = std::size_t(1) << 21;
    static constexpr std::size_t kMaxSyllableBytes = 512;
    static constexpr std::size_t kMaxDisplayChanges = 1u << 16;
    static constexpr std::size_t kMaxTitleBytes = 256;
    /// A line never holds more syllables than this, marks or not.
    static constexpr uint32_t kMaxLineSyllables = 256;
    /// Without marks, a pause this long between syllables starts a new line.
    static constexpr int64_t kLinePauseUs = 1'000'000;

    /// Reads a file's texts. The title falls back to the file's name (decoded) when the
    /// song names itself nowhere.
    static ReadResult load(const std::string& path, SongText& out);
    /// Reads the texts of an SMF image; the title stays empty when the song has none.
    static ReadResult parse(std::span<const uint8_t> bytes, SongText& out);

    /// UTF-8.
    const std::string& title() const { return m_title; }
    bool titleFromFileName() const { return m_titleFromFileName; }
    LyricSource source() const { return m_source; }
    text::Encoding encoding() const { return m_encoding; }

    std::size_t syllableCount() const { return m_syllables.size(); }
    /// A syllable's text (UTF-8, marks removed) and the time it is sung.
    std::string_view syllable(std::size_t i) const
    {
        return std::string_view(m_text).substr(m_syllables[i].offset, m_syllables[i].length);
    }
    int64_t syllableTimeUs(std::size_t i) const { return m_syllables[i].timeUs; }
    /// How many syllables have been sung by timeUs (those at or before it).
    std::size_t sungBy(int64_t timeUs) const;

    const std::vector<LyricLine>& lines() const { return m_lines; }
    /// The line holding syllable i (the last line for i past the end).
    std::size_t lineOf(std::size_t syllable) const;

    /// Every change of the module's display, in time order.
    const std::vector<DisplayChange>& displayChanges() const { return m_display; }
    /// The display as written up to timeUs; null before the first message.
    const ModuleDisplay* displayAt(int64_t timeUs) const;

    /// The song's loop and length, so a window can tell where in the song a moment
    /// of a loop played again lies.
    const std::optional<SongLoop>& loop() const { return m_loop; }
    int64_t lengthUs() const { return m_lengthUs; }

private:
    friend class SongTextBuilder;
    struct Syllable {
        int64_t timeUs;
        uint32_t offset;
        uint32_t length;
    };

    std::string m_title;
    bool m_titleFromFileName = false;
    LyricSource m_source = LyricSource::None;
    text::Encoding m_encoding = text::Encoding::Utf8;
    std::string m_text; ///< every syllable's text, one after another
    std::vector<Syllable> m_syllables;
    std::vector<LyricLine> m_lines;
    std::vector<DisplayChange> m_display;
    std::optional<SongLoop> m_loop;
    int64_t m_lengthUs = 0;
};

} // namespace sequora::midi
