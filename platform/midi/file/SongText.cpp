#include "platform/midi/file/SongText.h"

#include "platform/midi/file/LyricMarks.h"
#include "platform/midi/file/SmfReader.h"
#include "platform/midi/file/TempoMap.h"

#include <algorithm>
#include <map>
#include <new>
#include <optional>

namespace sequora::midi {

using namespace lyric;

namespace {

constexpr uint8_t kMetaText = 0x01;
constexpr uint8_t kMetaTrackName = 0x03;
constexpr uint8_t kMetaLyric = 0x05;
constexpr uint8_t kMetaCue = 0x07;
constexpr uint8_t kMetaSequencer = 0x7F;
// What is kept of a song's texts and display messages before they are sorted out.
constexpr std::size_t kMaxRawTexts = std::size_t(4) << 20;
constexpr std::size_t kMaxRawDisplayMessages = std::size_t(1) << 18;

enum class Break : uint8_t { None, Line, Paragraph };

struct RawText {
    int64_t tick = 0;
    int64_t timeUs = 0;
    int track = 0;
    uint8_t type = 0;
    std::string_view bytes;
};

struct RawSysEx {
    int64_t tick = 0;
    int64_t timeUs = 0;
    std::span<const uint8_t> bytes;
};

std::string_view view(std::span<const uint8_t> data)
{
    return { reinterpret_cast<const char*>(data.data()), data.size() };
}

// Gathers the texts and display messages of one file during the reader's pass; the
// views point into the file's bytes, which outlive it.
class TextCollector : public SmfTextSink {
public:
    void meta(int track, int64_t tick, uint8_t type, std::span<const uint8_t> data) override
    {
        if (type == kMetaSequencer) {
            if (view(data).starts_with(kXfVersionId))
                xfVersion = true;
            return;
        }
        const bool wanted = type == kMetaText || type == kMetaLyric || type == kMetaCue
            || (type == kMetaTrackName && track == 0);
        if (wanted && texts.size() < kMaxRawTexts)
            texts.push_back({ tick, 0, track, type, view(data) });
    }
    void sysex(int, int64_t tick, std::span<const uint8_t> data) override
    {
        if (sysexes.size() < kMaxRawDisplayMessages && mayBeDisplaySysEx(data))
            sysexes.push_back({ tick, 0, data });
    }
    void timeline(const TempoMap& map) override
    {
        for (RawText& t : texts)
            t.timeUs = map.timeUs(t.tick);
        for (RawSysEx& s : sysexes)
            s.timeUs = map.timeUs(s.tick);
    }

    std::vector<RawText> texts;
    std::vector<RawSysEx> sysexes;
    bool xfVersion = false;
};

} // namespace

// Sorts a collected file out into a SongText: which source the words come from, the
// song's one encoding, syllables and lines, the title and the display's changes.
class SongTextBuilder {
public:
    SongTextBuilder(SongText& out, TextCollector& texts)
        : m_out(out)
        , m_texts(texts)
    {
    }

    void build()
    {
        chooseSource();
        findTitle();
        detectEncoding();
        splitSyllables();
        decodeSyllables();
        buildLines();
        buildDisplay();
    }

private:
    struct Pending {
        int64_t timeUs;
        Break before;
        uint32_t offset; // in m_raw
        uint32_t length;
    };

    void chooseSource()
    {
        bool xf = m_texts.xfVersion;
        bool karaoke = false;
        std::map<int, std::size_t> lyrics;
        std::map<int, std::size_t> words;
        for (const RawText& t : m_texts.texts) {
            if (t.type == kMetaCue && t.bytes.starts_with(kXfLyricsHeader)) {
                xf = true;
                if (!m_language)
                    m_language = languageHint(field(t.bytes, kXfLyricsHeader.size(), 2));
            } else if (t.type == kMetaText && isXfHeader(t.bytes)) {
                xf = true;
                if (!m_language && t.bytes.starts_with(kXfLanguageHeader))
                    m_language = languageHint(field(t.bytes, kXfLanguageHeader.size(), 0));
            } else if (t.type == kMetaText && isKaraokeTag(t.bytes)) {
                karaoke = true;
                if (!m_language && t.bytes[1] == 'L')
                    m_language = languageHint(t.bytes.substr(2));
            } else if (t.type == kMetaLyric && !t.bytes.empty()) {
                ++lyrics[t.track];
            } else if (t.type == kMetaText && !t.bytes.empty()) {
                ++words[t.track];
            }
        }
        // Several tracks may carry the same words (a melody track and a words track):
        // the one with the most is read.
        const auto most = [](const std::map<int, std::size_t>& counts) {
            std::pair<int, std::size_t> best { 0, 0 };
            for (const auto& [track, count] : counts)
                if (count > best.second)
                    best = { track, count };
            return best;
        };
        const auto [lyricTrack, lyricCount] = most(lyrics);
        const auto [wordTrack, wordCount] = most(words);

        if (karaoke && wordCount > lyricCount && !xf) {
            m_out.m_source = LyricSource::Karaoke;
            m_marks = kKaraokeMarks;
            take(kMetaText, wordTrack);
        } else if (lyricCount > 0) {
            m_out.m_source = xf ? LyricSource::Xf : LyricSource::LyricEvents;
            take(kMetaLyric, lyricTrack);
            m_marks = xf ? kXfMarks : lyricMarks();
        } else if (wordCount > 0) {
            m_out.m_source = LyricSource::TextEvents;
            m_marks = kLyricMarks;
            for (const RawText& t : m_texts.texts)
                if (t.type == kMetaText && !isKaraokeTag(t.bytes) && !isXfHeader(t.bytes))
                    m_words.push_back(&t);
            std::stable_sort(m_words.begin(), m_words.end(),
                [](const RawText* a, const RawText* b) { return a->timeUs < b->timeUs; });
        }
    }

    void take(uint8_t type, int track)
    {
        for (const RawText& t : m_texts.texts) {
            if (t.type != type || t.track != track || (type == kMetaText && (isKaraokeTag(t.bytes) || isXfHeader(t.bytes))))
                continue;
            // A melody doubled in the same track carries each syllable twice at one time:
            // sung once.
            if (!m_words.empty() && m_words.back()->timeUs == t.timeUs && m_words.back()->bytes == t.bytes)
                continue;
            m_words.push_back(&t);
        }
    }

    // Lyric events end lines with CR and paragraphs with LF; files converted from .kar
    // carry its slashes instead, and only then are those marks.
    Marks lyricMarks() const
    {
        for (const RawText* t : m_words)
            if (t->bytes.find_first_of("\r\n") != std::string_view::npos)
                return kLyricMarks;
        for (const RawText* t : m_words)
            if (!t->bytes.empty() && (t->bytes[0] == '/' || t->bytes[0] == '\\'))
                return kLyricMarksWithSlashes;
        return kLyricMarks;
    }

    void findTitle()
    {
        std::string_view karaoke, xf, name;
        for (const RawText& t : m_texts.texts) {
            if (karaoke.empty() && t.type == kMetaText && t.bytes.starts_with("@T"))
                karaoke = trimmed(t.bytes.substr(2));
            else if (xf.empty() && t.type == kMetaText && t.bytes.starts_with(kXfLanguageHeader))
                xf = trimmed(field(t.bytes, kXfLanguageHeader.size(), 1));
            else if (name.empty() && t.type == kMetaTrackName)
                name = trimmed(t.bytes);
        }
        m_title = !karaoke.empty() ? karaoke : !xf.empty() ? xf : name;
        m_title = m_title.substr(0, SongText::kMaxTitleBytes);
    }

    void detectEncoding()
    {
        // One sample of all the words together: a song is written in one code page.
        std::string all;
        for (const RawText* t : m_words) {
            all.append(t->bytes.substr(0, SongText::kMaxSyllableBytes));
            all += '\n';
        }
        const std::string_view samples[] = { all, m_title };
        m_out.m_encoding = text::detect(samples, m_language);
        // A UTF-8 title put on lyrics of an older code page (a file retitled by a newer
        // program) is read as UTF-8, and the words stay in their own.
        const std::string_view title[] = { m_title };
        const bool wide = std::any_of(m_title.begin(), m_title.end(), [](char c) { return (c & 0x80) != 0; });
        if (wide && m_out.m_encoding != text::Encoding::Utf8 && text::detect(title) == text::Encoding::Utf8) {
            const std::string_view words[] = { all };
            m_out.m_encoding = text::detect(words, m_language);
            m_titleAlone = true;
        }
    }

    void splitSyllables()
    {
        const text::Encoding encoding = m_out.m_encoding;
        Break pending = Break::None;
        bool marked = false;
        for (const RawText* t : m_words) {
            if (m_pending.size() >= SongText::kMaxSyllables)
                break;
            const std::string_view bytes = t->bytes.substr(0, SongText::kMaxSyllableBytes);
            // Plain text events are whole lines of text, not syllables.
            if (m_out.m_source == LyricSource::TextEvents)
                pending = std::max(pending, Break::Line);
            std::size_t start = m_raw.size();
            const auto finish = [&] {
                if (m_raw.size() > start) {
                    m_pending.push_back(
                        { t->timeUs, pending, uint32_t(start), uint32_t(m_raw.size() - start) });
                    m_raw += '\n';
                    pending = Break::None;
                }
                start = m_raw.size();
            };
            for (std::size_t i = 0; i < bytes.size();) {
                const char c = bytes[i];
                const std::size_t n = charLength(uint8_t(c), encoding);
                if (i + n > bytes.size())
                    break; // a character cut off by the event's end
                if (n == 1 && m_marks.line.find(c) != std::string_view::npos) {
                    finish();
                    pending = std::max(pending, Break::Line);
                    marked = true;
                } else if (n == 1 && m_marks.paragraph.find(c) != std::string_view::npos) {
                    finish();
                    pending = Break::Paragraph;
                    marked = true;
                } else if (n == 1 && c == m_marks.blank && c != 0) {
                    m_raw += ' ';
                } else if (n == 1 && uint8_t(c) < 0x20) {
                    // other control characters show as nothing
                } else {
                    m_raw.append(bytes.substr(i, n));
                }
                i += n;
            }
            finish();
        }
        // Without any marks, a pause starts a new line.
        if (!marked) {
            for (std::size_t i = 1; i < m_pending.size(); ++i)
                if (m_pending[i].timeUs - m_pending[i - 1].timeUs >= SongText::kLinePauseUs)
                    m_pending[i].before = Break::Line;
        }
    }

    void decodeSyllables()
    {
        // One decoding of all syllables at once, split again at the newlines put between
        // them (no syllable holds one, and no code page makes one part of a character).
        const std::string decoded = text::decode(m_raw, m_out.m_encoding);
        std::size_t pos = 0;
        m_out.m_syllables.reserve(m_pending.size());
        for (const Pending& p : m_pending) {
            const std::size_t end = decoded.find('\n', pos);
            if (end == std::string::npos)
                break;
            m_out.m_syllables.push_back({ p.timeUs, uint32_t(pos), uint32_t(end - pos) });
            pos = end + 1;
        }
        if (m_out.m_syllables.size() == m_pending.size()) {
            m_out.m_text = decoded;
        } else {
            // Should the split not come out even, decode one by one.
            m_out.m_syllables.clear();
            m_out.m_text.clear();
            for (const Pending& p : m_pending) {
                const std::string s = text::decode(
                    std::string_view(m_raw).substr(p.offset, p.length), m_out.m_encoding);
                m_out.m_syllables.push_back(
                    { p.timeUs, uint32_t(m_out.m_text.size()), uint32_t(s.size()) });
                m_out.m_text += s;
            }
        }
        m_out.m_title = m_titleAlone ? text::decodeText(m_title) : text::decode(m_title, m_out.m_encoding);
    }

    void buildLines()
    {
        std::vector<LyricLine>& lines = m_out.m_lines;
        for (std::size_t i = 0; i < m_out.m_syllables.size(); ++i) {
            const Break before = m_pending[i].before;
            if (lines.empty() || before != Break::None
                || lines.back().count >= SongText::kMaxLineSyllables) {
                lines.push_back({ uint32_t(i), 0, before == Break::Paragraph });
            }
            ++lines.back().count;
        }
    }

    void buildDisplay()
    {
        std::vector<RawSysEx>& messages = m_texts.sysexes;
        std::stable_sort(messages.begin(), messages.end(),
            [](const RawSysEx& a, const RawSysEx& b) { return a.timeUs < b.timeUs; });
        ModuleDisplay display;
        for (const RawSysEx& m : messages) {
            if (!applyDisplaySysEx(m.bytes, display))
                continue;
            std::vector<DisplayChange>& changes = m_out.m_display;
            if (!changes.empty() && changes.back().timeUs == m.timeUs)
                changes.back().display = display;
            else if (changes.size() < SongText::kMaxDisplayChanges)
                changes.push_back({ m.timeUs, display });
        }
    }

    SongText& m_out;
    TextCollector& m_texts;
    std::vector<const RawText*> m_words;
    Marks m_marks = kLyricMarks;
    std::optional<text::Encoding> m_language;
    std::string_view m_title;
    bool m_titleAlone = false;
    std::string m_raw;
    std::vector<Pending> m_pending;
};

ReadResult SongText::parse(std::span<const uint8_t> bytes, SongText& out)
{
    out = SongText();
    try {
        TextCollector texts;
        Song song;
        ReadResult result = SmfReader::readTexts(bytes, texts, song);
        if (!result.playable())
            return result;
        SongTextBuilder(out, texts).build();
        return result;
    } catch (const std::bad_alloc&) {
        out = SongText();
        return { ReadStatus::TooLarge, "not enough memory to read this file's texts" };
    }
}

ReadResult SongText::load(const std::string& path, SongText& out)
{
    out = SongText();
    FileBytes file;
    ReadResult result = Song::readFile(path, file);
    if (result.status == ReadStatus::Complete)
        result = parse(file.bytes(), out);
    if (out.m_title.empty()) {
        std::string_view name = path;
        name.remove_prefix(std::min(name.size(), name.rfind('/') + 1));
        if (const std::size_t dot = name.rfind('.'); dot != std::string_view::npos && dot > 0)
            name = name.substr(0, dot);
        out.m_title = text::decodeText(name);
        out.m_titleFromFileName = true;
    }
    return result;
}

std::size_t SongText::sungBy(int64_t timeUs) const
{
    const auto it = std::upper_bound(m_syllables.begin(), m_syllables.end(), timeUs,
        [](int64_t t, const Syllable& s) { return t < s.timeUs; });
    return std::size_t(it - m_syllables.begin());
}

std::size_t SongText::lineOf(std::size_t syllable) const
{
    if (m_lines.empty())
        return 0;
    const auto it = std::upper_bound(m_lines.begin(), m_lines.end(), syllable,
        [](std::size_t s, const LyricLine& line) { return s < line.first; });
    return it == m_lines.begin() ? 0 : std::size_t(it - m_lines.begin()) - 1;
}

const ModuleDisplay* SongText::displayAt(int64_t timeUs) const
{
    const auto it = std::upper_bound(m_display.begin(), m_display.end(), timeUs,
        [](int64_t t, const DisplayChange& c) { return t < c.timeUs; });
    return it == m_display.begin() ? nullptr : &std::prev(it)->display;
}

} // namespace sequora::midi
