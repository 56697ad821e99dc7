#include "platform/midi/file/SoundFontFile.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/stat.h>

namespace sequora::midi {

namespace {

constexpr std::size_t kChunkHeader = 8;
// What is read of an INFO list at most: its texts are short.
constexpr uint32_t kMaxInfoBytes = 1 << 16;
constexpr uint32_t kMaxNameBytes = 256;

struct PdtaTable {
    const char* id;
    uint32_t recordBytes;
};

// The tables of a SoundFont's preset data, with the size of one record of each.
constexpr std::array<PdtaTable, 9> kPdtaTables { {
    { "phdr", 38 },
    { "pbag", 4 },
    { "pmod", 10 },
    { "pgen", 4 },
    { "inst", 22 },
    { "ibag", 4 },
    { "imod", 10 },
    { "igen", 4 },
    { "shdr", 46 },
} };

using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

uint32_t le32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

bool is(const uint8_t* p, const char* id)
{
    return std::memcmp(p, id, 4) == 0;
}

struct Chunk {
    std::array<uint8_t, 4> id {};
    uint64_t body = 0; ///< offset of its contents
    uint32_t size = 0;
    uint64_t next() const { return body + size + (size & 1); }
};

class Outline {
public:
    Outline(std::FILE* file, uint64_t fileSize)
        : m_file(file)
        , m_size(fileSize)
    {
    }

    /// The chunk at offset, which must lie within [offset, end).
    bool chunkAt(uint64_t offset, uint64_t end, Chunk& chunk, SoundFontInfo& info)
    {
        uint8_t header[kChunkHeader];
        if (!read(offset, header, sizeof header, info))
            return false;
        std::memcpy(chunk.id.data(), header, 4);
        chunk.size = le32(header + 4);
        chunk.body = offset + kChunkHeader;
        if (chunk.body + chunk.size > end) {
            info.problem = chunk.body + chunk.size > m_size ? SoundFontInfo::Problem::CutShort
                                                            : SoundFontInfo::Problem::NotSoundFont;
            return false;
        }
        return true;
    }

    bool read(uint64_t offset, void* into, std::size_t bytes, SoundFontInfo& info)
    {
        if (offset + bytes > m_size) {
            info.problem = SoundFontInfo::Problem::CutShort;
            return false;
        }
        if (::fseeko(m_file, off_t(offset), SEEK_SET) != 0
            || std::fread(into, 1, bytes, m_file) != bytes) {
            info.problem = SoundFontInfo::Problem::Unreadable;
            return false;
        }
        return true;
    }

private:
    std::FILE* m_file;
    uint64_t m_size;
};

bool readInfo(Outline& outline, const Chunk& list, SoundFontInfo& info)
{
    bool version = false;
    for (uint64_t at = list.body + 4; at + kChunkHeader <= list.body + list.size;) {
        Chunk sub;
        if (!outline.chunkAt(at, list.body + list.size, sub, info))
            return false;
        if (is(sub.id.data(), "ifil") && sub.size >= 4) {
            uint8_t v[2];
            if (!outline.read(sub.body, v, sizeof v, info))
                return false;
            info.version = v[0] | v[1] << 8;
            version = true;
        } else if (is(sub.id.data(), "INAM") && sub.size <= kMaxInfoBytes) {
            std::string name(std::min(sub.size, kMaxNameBytes), '\0');
            if (!outline.read(sub.body, name.data(), name.size(), info))
                return false;
            name.resize(std::strlen(name.c_str()));
            while (!name.empty() && uint8_t(name.back()) <= ' ')
                name.pop_back();
            info.name = name;
        }
        at = sub.next();
    }
    return version;
}

bool hasSamples(Outline& outline, const Chunk& list, SoundFontInfo& info)
{
    for (uint64_t at = list.body + 4; at + kChunkHeader <= list.body + list.size;) {
        Chunk sub;
        if (!outline.chunkAt(at, list.body + list.size, sub, info))
            return false;
        if (is(sub.id.data(), "smpl"))
            return true;
        at = sub.next();
    }
    return false;
}

bool hasTables(Outline& outline, const Chunk& list, SoundFontInfo& info)
{
    std::size_t found = 0;
    for (uint64_t at = list.body + 4; at + kChunkHeader <= list.body + list.size;) {
        Chunk sub;
        if (!outline.chunkAt(at, list.body + list.size, sub, info))
            return false;
        for (const PdtaTable& table : kPdtaTables) {
            if (!is(sub.id.data(), table.id))
                continue;
            // Every table ends with a terminal record, so none is empty.
            if (sub.size == 0 || sub.size % table.recordBytes != 0)
                return false;
            ++found;
        }
        at = sub.next();
    }
    return found == kPdtaTables.size();
}

} // namespace

SoundFontInfo readSoundFontInfo(const std::string& path)
{
    SoundFontInfo info;
    struct stat st { };
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        info.problem = SoundFontInfo::Problem::Missing;
        return info;
    }
    File file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) {
        info.problem = SoundFontInfo::Problem::Unreadable;
        return info;
    }
    const uint64_t size = uint64_t(st.st_size);
    Outline outline(file.get(), size);
    uint8_t head[kChunkHeader + 4] {};
    if (size < sizeof head) {
        info.problem = SoundFontInfo::Problem::NotSoundFont;
        return info;
    }
    if (!outline.read(0, head, sizeof head, info))
        return info;
    if (!is(head, "RIFF") || !is(head + kChunkHeader, "sfbk")) {
        info.problem = SoundFontInfo::Problem::NotSoundFont;
        return info;
    }
    Chunk riff;
    if (!outline.chunkAt(0, size, riff, info))
        return info;
    bool infoList = false, sdta = false, pdta = false;
    for (uint64_t at = riff.body + 4; at + kChunkHeader <= riff.body + riff.size;) {
        Chunk list;
        if (!outline.chunkAt(at, riff.body + riff.size, list, info))
            return info;
        uint8_t type[4];
        if (is(list.id.data(), "LIST") && list.size >= 4
            && outline.read(list.body, type, sizeof type, info)) {
            if (is(type, "INFO"))
                infoList = readInfo(outline, list, info);
            else if (is(type, "sdta"))
                sdta = hasSamples(outline, list, info);
            else if (is(type, "pdta"))
                pdta = hasTables(outline, list, info);
        }
        if (!info.ok())
            return info;
        at = list.next();
    }
    if (!infoList || !sdta || !pdta)
        info.problem = SoundFontInfo::Problem::NotSoundFont;
    return info;
}

} // namespace sequora::midi
