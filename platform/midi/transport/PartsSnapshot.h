#pragma once
// What sounds on each part, as the engine publishes it for windows that show it: a few
// hundred bytes written from the audio side every period and read from any thread,
// without a lock and without allocating (a sequence lock over plain words).

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace sequora::midi {

/// One part as it sounds now.
struct PartView {
    enum Flags : uint8_t {
        Used = 1u << 0, ///< the song has chosen an instrument or played a note here
        Drum = 1u << 1, ///< a drum part by the module's part map
        Muted = 1u << 2, ///< the listener muted it
        Soloed = 1u << 3, ///< the listener soloed it
        Silenced = 1u << 4, ///< not heard: muted, or another part is soloed
    };
    uint8_t flags = 0;
    uint8_t program = 0;
    uint16_t bank = 0; ///< soundfont bank the part asks for (128: a drum kit)
    uint8_t level = 0; ///< 0-127: the last note-on's velocity by volume and expression, falling
    uint8_t unused[3] {};
    std::array<uint64_t, 2> keys {}; ///< keys sounding (or just struck), bit n = key n

    bool has(Flags f) const { return (flags & f) != 0; }
    bool keyDown(int key) const
    {
        return key >= 0 && key < 128 && (keys[key >> 6] >> (key & 63)) & 1;
    }
};

/// Every part and the listener's settings, as one copy.
struct PartsView {
    static constexpr int kPartsPerPort = 16;
    static constexpr int kMaxParts = 32;

    uint8_t partCount = kPartsPerPort; ///< 16, or 32 when the song addresses a second port
    int8_t transpose = 0;
    uint16_t tempoPercent = 100;
    uint32_t serial = 0; ///< counts publications: equal serials, equal views
    std::array<PartView, kMaxParts> parts {};
};

static_assert(std::is_trivially_copyable_v<PartsView>);

/// A single writer at a time (the caller serialises writers), any number of readers that
/// never block it: a reader that overlaps a write tries again.
class PartsSnapshot {
public:
    /// Publishes @p view; only its first partCount parts are copied, the rest read as zero.
    void write(const PartsView& view)
    {
        const std::size_t bytes = offsetof(PartsView, parts) + sizeof(PartView) * view.partCount;
        const std::size_t words = (bytes + sizeof(uint64_t) - 1) / sizeof(uint64_t);
        uint64_t buffer[kWords] {};
        std::memcpy(buffer, &view, bytes);
        const uint32_t s = m_sequence.load(std::memory_order_relaxed);
        m_sequence.store(s + 1, std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_release);
        for (std::size_t i = 0; i < kWords; ++i)
            m_words[i].store(i < words ? buffer[i] : 0, std::memory_order_relaxed);
        m_sequence.store(s + 2, std::memory_order_release);
    }

    /// The latest complete view; false only when writes kept overlapping the read.
    bool read(PartsView& out) const
    {
        constexpr int kTries = 64;
        for (int attempt = 0; attempt < kTries; ++attempt) {
            const uint32_t before = m_sequence.load(std::memory_order_acquire);
            if (before & 1)
                continue;
            uint64_t buffer[kWords];
            for (std::size_t i = 0; i < kWords; ++i)
                buffer[i] = m_words[i].load(std::memory_order_relaxed);
            std::atomic_thread_fence(std::memory_order_acquire);
            if (m_sequence.load(std::memory_order_relaxed) == before) {
                std::memcpy(&out, buffer, sizeof(PartsView));
                return true;
            }
        }
        return false;
    }

private:
    static constexpr std::size_t kWords
        = (sizeof(PartsView) + sizeof(uint64_t) - 1) / sizeof(uint64_t);

    std::atomic<uint32_t> m_sequence { 0 };
    std::array<std::atomic<uint64_t>, kWords> m_words {};
};

} // namespace sequora::midi
