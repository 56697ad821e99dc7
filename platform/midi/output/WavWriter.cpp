#include "platform/midi/output/WavWriter.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <vector>

namespace sequora::midi {

namespace {

constexpr uint32_t kHeaderBytes = 44;
constexpr uint16_t kPcm = 1;
constexpr uint16_t kBitsPerSample = 16;
// A RIFF size field is 32 bits: past this, the header cannot describe the data.
constexpr uint64_t kMaxDataBytes = 0xFFFFFFFFull - kHeaderBytes;

void put16(uint8_t* p, uint16_t v)
{
    p[0] = v & 0xFF;
    p[1] = v >> 8;
}

void put32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = (v >> (8 * i)) & 0xFF;
}

} // namespace

WavWriter::~WavWriter()
{
    close();
}

bool WavWriter::open(const std::string& path, int sampleRate, int channels)
{
    close();
    m_rate = sampleRate;
    m_channels = channels;
    m_frames = 0;
    m_file = std::fopen(path.c_str(), "wb");
    if (!m_file) {
        m_error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    return writeHeader();
}

bool WavWriter::writeHeader()
{
    const uint64_t dataBytes = std::min(m_frames * m_channels * 2, kMaxDataBytes);
    uint8_t h[kHeaderBytes];
    std::memcpy(h, "RIFF", 4);
    put32(h + 4, static_cast<uint32_t>(dataBytes + kHeaderBytes - 8));
    std::memcpy(h + 8, "WAVEfmt ", 8);
    put32(h + 16, 16);
    put16(h + 20, kPcm);
    put16(h + 22, static_cast<uint16_t>(m_channels));
    put32(h + 24, static_cast<uint32_t>(m_rate));
    put32(h + 28, static_cast<uint32_t>(m_rate * m_channels * 2));
    put16(h + 32, static_cast<uint16_t>(m_channels * 2));
    put16(h + 34, kBitsPerSample);
    std::memcpy(h + 36, "data", 4);
    put32(h + 40, static_cast<uint32_t>(dataBytes));
    if (std::fseek(m_file, 0, SEEK_SET) != 0 || std::fwrite(h, 1, sizeof h, m_file) != sizeof h) {
        m_error = std::string("cannot write the WAV header: ") + std::strerror(errno);
        return false;
    }
    return true;
}

bool WavWriter::write(const int16_t* samples, std::size_t frames)
{
    if (!m_file)
        return false;
    const std::size_t count = frames * m_channels;
    std::size_t written = 0;
    if constexpr (std::endian::native == std::endian::little) {
        written = std::fwrite(samples, sizeof(int16_t), count, m_file);
    } else {
        std::vector<uint8_t> le(count * 2);
        for (std::size_t i = 0; i < count; ++i)
            put16(le.data() + 2 * i, static_cast<uint16_t>(samples[i]));
        written = std::fwrite(le.data(), 2, count, m_file);
    }
    if (written != count) {
        m_error = std::string("cannot write the WAV data: ") + std::strerror(errno);
        return false;
    }
    m_frames += frames;
    return true;
}

bool WavWriter::close()
{
    if (!m_file)
        return true;
    bool ok = writeHeader();
    if (std::fclose(m_file) != 0 && ok) {
        m_error = std::string("cannot finish the WAV file: ") + std::strerror(errno);
        ok = false;
    }
    m_file = nullptr;
    return ok;
}

} // namespace sequora::midi
