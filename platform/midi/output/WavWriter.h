#pragma once
// Writes 16-bit PCM WAV files: the header is completed when the file is closed.

#include <cstdint>
#include <cstdio>
#include <string>

namespace sequora::midi {

class WavWriter {
public:
    WavWriter() = default;
    ~WavWriter();
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    /// Creates @p path (replacing it). False with error() set on failure.
    bool open(const std::string& path, int sampleRate, int channels);
    /// Appends interleaved frames.
    bool write(const int16_t* samples, std::size_t frames);
    /// Completes the header and closes the file.
    bool close();
    const std::string& error() const { return m_error; }

private:
    bool writeHeader();

    std::FILE* m_file = nullptr;
    int m_rate = 0;
    int m_channels = 0;
    uint64_t m_frames = 0;
    std::string m_error;
};

} // namespace sequora::midi
