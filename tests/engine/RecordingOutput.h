#pragma once
// A fake output for tests: a clock the test turns by hand, which records every message
// with the absolute frame it was dispatched at.

#include "platform/midi/file/MidiBytes.h"
#include "platform/midi/output/Output.h"

#include <algorithm>
#include <vector>

namespace sequora::test {

using midi::OutMessage;

class RecordingOutput final : public midi::Output {
public:
    struct Record {
        int64_t frame = 0;
        OutMessage::Kind kind = OutMessage::Kind::Short;
        uint8_t status = 0;
        uint8_t data1 = 0;
        uint8_t data2 = 0;
        std::vector<uint8_t> sysex;
        uint32_t fadeAt = 0; ///< Fade: frames into the fade, and its length
        uint32_t fadeLength = 0;
    };

    explicit RecordingOutput(int rate = 44100) : m_rate(rate) {}

    int sampleRate() const override { return m_rate; }
    std::string name() const override { return "recording"; }
    void wake() override { ++wakes; }

    /// Runs one block of @p frames frames.
    midi::PullResult run(uint32_t frames)
    {
        const midi::PullResult r = runBlock(frames, [this](uint32_t f) { m_at = m_blockStart + f; });
        m_blockStart += frames;
        return r;
    }
    /// Runs blocks of @p block frames until @p frames have passed.
    void runFrames(int64_t frames, uint32_t block = 1024)
    {
        while (frames > 0) {
            const auto n = static_cast<uint32_t>(std::min<int64_t>(frames, block));
            run(n);
            frames -= n;
        }
    }
    void runMs(int64_t ms, uint32_t block = 1024) { runFrames(ms * m_rate / 1000, block); }
    int64_t framesRun() const { return m_blockStart; }

    /// Channel messages recorded, as (status, data1, data2), in order.
    std::vector<Record> shorts() const { return only(OutMessage::Kind::Short); }
    std::vector<Record> only(OutMessage::Kind kind) const
    {
        std::vector<Record> out;
        std::copy_if(records.begin(), records.end(), std::back_inserter(out),
                     [kind](const Record& r) { return r.kind == kind; });
        return out;
    }
    int count(OutMessage::Kind kind) const { return static_cast<int>(only(kind).size()); }

    std::vector<Record> records;
    int wakes = 0;

protected:
    void sendShort(uint8_t status, uint8_t data1, uint8_t data2) override
    {
        records.push_back({m_at, OutMessage::Kind::Short, status, data1, data2, {}});
    }
    void sendSysex(std::span<const uint8_t> bytes) override
    {
        records.push_back({m_at, OutMessage::Kind::SysEx, 0, 0, 0, {bytes.begin(), bytes.end()}});
    }
    void silence() override { records.push_back({m_at, OutMessage::Kind::Silence, 0, 0, 0, {}}); }
    void release() override { records.push_back({m_at, OutMessage::Kind::Release, 0, 0, 0, {}}); }
    void reset() override { records.push_back({m_at, OutMessage::Kind::Reset, 0, 0, 0, {}}); }
    void restore(midi::SystemMode mode) override
    {
        records.push_back(
            { m_at, OutMessage::Kind::Restore, 0, static_cast<uint8_t>(mode), 0, {} });
    }
    void fade(uint32_t at, uint32_t length) override
    {
        records.push_back({ m_at, OutMessage::Kind::Fade, 0, 0, 0, {}, at, length });
    }

private:
    int m_rate;
    int64_t m_blockStart = 0;
    int64_t m_at = 0;
};

} // namespace sequora::test
