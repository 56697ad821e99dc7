#include "platform/midi/file/TextDecoder.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <iconv.h>

namespace sequora::midi::text {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD"; // U+FFFD
constexpr std::size_t kChunk = 1024;

// ---- UTF-8 -----------------------------------------------------------------------------

/// Length of the well-formed UTF-8 sequence at @p i (no overlongs, surrogates or values
/// past U+10FFFF), 0 when there is none.
std::size_t utf8Sequence(std::string_view s, std::size_t i)
{
    const auto byte = [&](std::size_t k) { return uint8_t(s[k]); };
    const uint8_t b0 = byte(i);
    if (b0 < 0x80)
        return 1;
    std::size_t len = 0;
    uint8_t lo = 0x80, hi = 0xBF; // allowed range of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3;
        lo = b0 == 0xE0 ? 0xA0 : 0x80;
        hi = b0 == 0xED ? 0x9F : 0xBF;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4;
        lo = b0 == 0xF0 ? 0x90 : 0x80;
        hi = b0 == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (i + len > s.size() || byte(i + 1) < lo || byte(i + 1) > hi)
        return 0;
    for (std::size_t k = 2; k < len; ++k)
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF)
            return 0;
    return len;
}

bool isUtf8(std::string_view s)
{
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t len = utf8Sequence(s, i);
        if (len == 0)
            return false;
        i += len;
    }
    return true;
}

std::string decodeUtf8(std::string_view s)
{
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t len = utf8Sequence(s, i);
        if (len == 0) {
            out += kReplacement;
            ++i;
        } else {
            out.append(s.substr(i, len));
            i += len;
        }
    }
    return out;
}

// ---- the Japanese code pages, through iconv ----------------------------------------------

/// One iconv descriptor per code page and thread, opened on first use: a song's lyrics
/// decode thousands of short texts, and iconv_open is not free.
class Converter {
public:
    explicit Converter(const char* from)
        : m_cd(iconv_open("UTF-8", from))
    {
    }
    ~Converter()
    {
        if (valid())
            iconv_close(m_cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool valid() const { return m_cd != iconv_t(-1); }

    /// Converts @p in, appending to @p out when it is given. Strict: false at the first
    /// invalid or incomplete sequence. Lenient: such a character becomes one U+FFFD and
    /// reading goes on after it; @p charLength (bytes of the character a lead byte
    /// starts) tells how far, else one byte.
    bool convert(std::string_view in, std::string* out, bool strict,
        std::size_t (*charLength)(uint8_t lead) = nullptr)
    {
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        auto* src = const_cast<char*>(in.data());
        std::size_t srcLeft = in.size();
        std::array<char, kChunk> buffer;
        while (srcLeft > 0) {
            char* dst = buffer.data();
            std::size_t dstLeft = buffer.size();
            const std::size_t rc = iconv(m_cd, &src, &srcLeft, &dst, &dstLeft);
            const int error = rc == std::size_t(-1) ? errno : 0;
            if (out)
                out->append(buffer.data(), std::size_t(dst - buffer.data()));
            if (error == 0 || error == E2BIG)
                continue;
            if (strict)
                return false;
            if (out)
                *out += kReplacement;
            if (error == EINVAL) // a character cut off at the end
                break;
            // A damaged pair is one character: its trail byte goes with it, unless that
            // is an ASCII character of its own (a lead byte at the end of a word).
            std::size_t skip = 1;
            const std::size_t length = charLength != nullptr ? charLength(uint8_t(*src)) : 1;
            while (skip < length && skip < srcLeft && uint8_t(src[skip]) >= 0x80)
                ++skip;
            src += skip;
            srcLeft -= skip;
            iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        }
        return true;
    }

private:
    iconv_t m_cd;
};

/// How much a character reads as everyday Japanese: kana and common (level 1) kanji most,
/// punctuation and fullwidth letters some, rare (level 2) kanji and halfwidth katakana
/// little, anything else (Greek, box drawing, extensions, JIS X 0212) nothing. Codes are
/// the character's bytes, big-endian.
struct JapaneseRange {
    uint16_t first, last;
    int weight;
};

constexpr JapaneseRange kCp932Ranges[] = {
    { 0x00A1, 0x00DF, 1 }, // halfwidth katakana
    { 0x8140, 0x81FC, 2 }, // punctuation and symbols, the long vowel mark
    { 0x824F, 0x829A, 2 }, // fullwidth digits and letters
    { 0x829F, 0x82F1, 4 }, // hiragana
    { 0x8340, 0x8396, 4 }, // katakana
    { 0x889F, 0x9872, 4 }, // level 1 kanji
    { 0x989F, 0xEAA4, 1 }, // level 2 kanji
};

constexpr JapaneseRange kEucJpRanges[] = {
    { 0x8EA1, 0x8EDF, 1 }, // halfwidth katakana
    { 0xA1A1, 0xA1FE, 2 },
    { 0xA3B0, 0xA3FA, 2 },
    { 0xA4A1, 0xA4F3, 4 },
    { 0xA5A1, 0xA5F6, 4 },
    { 0xB0A1, 0xCFD3, 4 },
    { 0xD0A1, 0xF4A6, 1 },
};

std::size_t cp932Length(uint8_t lead)
{
    return (lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC) ? 2 : 1;
}

std::size_t eucJpLength(uint8_t lead)
{
    if (lead == 0x8F)
        return 3;
    return lead == 0x8E || lead >= 0xA1 ? 2 : 1;
}

struct JapaneseCodePage {
    Encoding encoding;
    const char* iconvName;
    std::size_t (*charLength)(uint8_t lead);
    std::span<const JapaneseRange> ranges;
};

constexpr JapaneseCodePage kCodePages[] = {
    { Encoding::Cp932, "CP932", cp932Length, kCp932Ranges },
    { Encoding::EucJp, "EUC-JP", eucJpLength, kEucJpRanges },
};

const JapaneseCodePage& codePage(Encoding encoding)
{
    return encoding == Encoding::Cp932 ? kCodePages[0] : kCodePages[1];
}

Converter& converter(Encoding encoding)
{
    thread_local Converter cp932(kCodePages[0].iconvName);
    thread_local Converter eucJp(kCodePages[1].iconvName);
    thread_local Converter cp1252("CP1252");
    switch (encoding) {
    case Encoding::Cp932:
        return cp932;
    case Encoding::EucJp:
        return eucJp;
    case Encoding::Utf8:
    case Encoding::Cp1252:
        break;
    }
    return cp1252;
}

/// Text already known to decode strictly in @p page, so every character is whole.
int japaneseScore(std::string_view s, const JapaneseCodePage& page)
{
    int score = 0;
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t len = std::min(page.charLength(uint8_t(s[i])), s.size() - i);
        const uint16_t code
            = len == 1 ? uint8_t(s[i]) : uint16_t(uint8_t(s[i]) << 8 | uint8_t(s[i + 1]));
        if (len <= 2)
            for (const JapaneseRange& r : page.ranges)
                if (code >= r.first && code <= r.last)
                    score += r.weight;
        i += len;
    }
    return score;
}

/// Where the next C1 control byte stands alone, walking whole characters: glibc's EUC-JP
/// passes 0x80-0xA0 through as controls, which no name or song text holds, so CP932 text
/// (whose lead bytes they are) would otherwise read as EUC-JP too.
std::size_t nextControl(std::string_view s, std::size_t from, const JapaneseCodePage& page)
{
    for (std::size_t i = from; i < s.size();) {
        const auto b = uint8_t(s[i]);
        const std::size_t len = page.charLength(b);
        if (len == 1 && b >= 0x80 && b <= 0xA0)
            return i;
        i += len;
    }
    return std::string_view::npos;
}

/// Converts @p s piece by piece between lone control bytes, each of which is invalid.
bool convertJapanese(std::string_view s, Encoding encoding, std::string* out, bool strict)
{
    const JapaneseCodePage& page = codePage(encoding);
    Converter& c = converter(encoding);
    for (std::size_t i = 0;;) {
        const std::size_t stop = nextControl(s, i, page);
        if (!c.convert(s.substr(i, stop == std::string_view::npos ? s.size() - i : stop - i), out,
                strict, page.charLength))
            return false;
        if (stop == std::string_view::npos)
            return true;
        if (strict)
            return false;
        if (out)
            *out += kReplacement;
        i = stop + 1;
    }
}

bool decodesStrictly(std::string_view s, Encoding encoding)
{
    switch (encoding) {
    case Encoding::Utf8:
        return isUtf8(s);
    case Encoding::Cp1252:
        // Its five undefined bytes are what no Western text holds.
        return converter(encoding).valid() && converter(encoding).convert(s, nullptr, true);
    case Encoding::Cp932:
    case Encoding::EucJp: {
        return converter(encoding).valid() && convertJapanese(s, encoding, nullptr, true);
    }
    }
    return false;
}

bool allDecode(std::span<const std::string_view> samples, Encoding encoding)
{
    for (const std::string_view s : samples)
        if (!decodesStrictly(s, encoding))
            return false;
    return true;
}

int japaneseScore(std::span<const std::string_view> samples, Encoding encoding)
{
    int score = 0;
    for (const std::string_view s : samples)
        score += japaneseScore(s, codePage(encoding));
    return score;
}

/// No candidate reads every sample: the one that reads the most of them, then the one
/// whose readable samples read most as Japanese; Windows-1252 when none reads any.
Encoding readsBest(std::span<const std::string_view> samples)
{
    struct Reading {
        Encoding encoding;
        std::size_t valid = 0;
        int score = 0;
    };
    Reading best { Encoding::Cp1252 };
    for (const Encoding encoding :
        { Encoding::Utf8, Encoding::Cp932, Encoding::EucJp, Encoding::Cp1252 }) {
        Reading r { encoding };
        for (const std::string_view s : samples) {
            if (!decodesStrictly(s, encoding))
                continue;
            ++r.valid;
            if (encoding == Encoding::Cp932 || encoding == Encoding::EucJp)
                r.score += japaneseScore(s, codePage(encoding));
        }
        if (r.valid > best.valid || (r.valid == best.valid && r.valid > 0 && r.score > best.score))
            best = r;
    }
    return best.encoding;
}

} // namespace

bool decodesAll(std::span<const std::string_view> samples, Encoding encoding)
{
    return allDecode(samples, encoding);
}

Encoding detect(std::span<const std::string_view> samples, std::optional<Encoding> hint)
{
    if (hint && allDecode(samples, *hint))
        return *hint;
    if (allDecode(samples, Encoding::Utf8))
        return Encoding::Utf8;
    const bool cp932 = allDecode(samples, Encoding::Cp932);
    const bool eucJp = allDecode(samples, Encoding::EucJp);
    if (cp932 && eucJp) // a tie goes to CP932, the code page these songs were mostly written in
        return japaneseScore(samples, Encoding::EucJp) > japaneseScore(samples, Encoding::Cp932)
            ? Encoding::EucJp
            : Encoding::Cp932;
    if (cp932)
        return Encoding::Cp932;
    if (eucJp)
        return Encoding::EucJp;
    return readsBest(samples);
}

std::string decode(std::string_view bytes, Encoding encoding)
{
    if (encoding == Encoding::Utf8)
        return decodeUtf8(bytes);
    // No iconv module for it here: the bytes that are ASCII, and marks for the rest.
    if (!converter(encoding).valid())
        return decodeUtf8(bytes);
    std::string out;
    out.reserve(bytes.size() * 3 / 2);
    if (encoding == Encoding::Cp1252)
        converter(encoding).convert(bytes, &out, false);
    else
        convertJapanese(bytes, encoding, &out, false);
    return out;
}

std::string decodeText(std::string_view bytes)
{
    const std::string_view samples[] = { bytes };
    return decode(bytes, detect(samples));
}

} // namespace sequora::midi::text
