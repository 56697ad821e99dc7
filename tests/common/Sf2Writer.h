#pragma once
// The smallest SoundFont 2 file that is whole: one preset of one instrument over one
// short sample, with the name the font gives itself. Enough for the readers that look
// at a font's outline; helpers damage it as real files are damaged.

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace sequora::test {

namespace sf2 {
inline std::vector<uint8_t> operator+(std::vector<uint8_t> a, const std::vector<uint8_t>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
} // namespace sf2

class Sf2Writer {
public:
    explicit Sf2Writer(std::string name)
        : m_name(std::move(name))
    {
    }

    std::vector<uint8_t> bytes() const
    {
        using sf2::operator+;
        std::vector<uint8_t> info = list("INFO",
            chunk("ifil", { 2, 0, 1, 0 }) + chunk("isng", text("EMU8000", 8))
                + chunk("INAM", text(m_name, (m_name.size() + 2) & ~std::size_t(1))));
        std::vector<uint8_t> samples(2 * 64, 0);
        std::vector<uint8_t> sdta = list("sdta", chunk("smpl", samples));
        std::vector<uint8_t> pdta = list("pdta",
            chunk("phdr", zeros(2 * 38)) + chunk("pbag", zeros(2 * 4)) + chunk("pmod", zeros(10))
                + chunk("pgen", zeros(4)) + chunk("inst", zeros(2 * 22))
                + chunk("ibag", zeros(2 * 4)) + chunk("imod", zeros(10)) + chunk("igen", zeros(4))
                + chunk("shdr", zeros(2 * 46)));
        std::vector<uint8_t> body = { 's', 'f', 'b', 'k' };
        body = body + info + sdta + pdta;
        return chunk("RIFF", body);
    }

    void write(const std::string& path, std::size_t keepBytes = SIZE_MAX) const
    {
        const std::vector<uint8_t> all = bytes();
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(all.data()),
            std::streamsize(std::min(keepBytes, all.size())));
    }

private:
    static std::vector<uint8_t> zeros(std::size_t n) { return std::vector<uint8_t>(n, 0); }
    static std::vector<uint8_t> text(std::string_view s, std::size_t size)
    {
        std::vector<uint8_t> out(s.begin(), s.end());
        out.resize(size, 0);
        return out;
    }
    static std::vector<uint8_t> chunk(std::string_view id, const std::vector<uint8_t>& body)
    {
        using sf2::operator+;
        std::vector<uint8_t> out(id.begin(), id.end());
        const auto size = uint32_t(body.size());
        for (int i = 0; i < 4; ++i)
            out.push_back(uint8_t(size >> (8 * i)));
        out = out + body;
        if (body.size() % 2 != 0)
            out.push_back(0);
        return out;
    }
    static std::vector<uint8_t> list(std::string_view type, const std::vector<uint8_t>& body)
    {
        using sf2::operator+;
        return chunk("LIST", std::vector<uint8_t>(type.begin(), type.end()) + body);
    }

    std::string m_name;
};

} // namespace sequora::test
