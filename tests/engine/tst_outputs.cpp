// What outputs that speak plain MIDI bytes (an ALSA port) receive for silence, the end
// of a piece and a reset; and how the live outputs fail when they cannot start.

#include "engine/SongBuilder.h"

#include "platform/midi/output/AlsaSeqOutput.h"
#include "platform/midi/output/fluidsynth/FluidSynthOutput.h"
#include "platform/midi/transport/Sequencer.h"

#include <QtTest>

#include <set>

using namespace sequora::midi;
using sequora::test::SongBuilder;

namespace {

// Keeps the bytes a MIDI port would get; silence, release and reset are the defaults.
class ByteOutput final : public Output {
public:
    int sampleRate() const override { return 1000; }
    std::string name() const override { return "bytes"; }
    void run(uint32_t frames) { runBlock(frames, [](uint32_t) {}); }

    std::vector<std::vector<uint8_t>> messages;

protected:
    void sendShort(uint8_t status, uint8_t data1, uint8_t data2) override { messages.push_back({status, data1, data2}); }
    void sendSysex(std::span<const uint8_t> bytes) override { messages.emplace_back(bytes.begin(), bytes.end()); }
};

// The channels on which @p messages hold the controller @p cc with @p value.
std::set<int> channelsWith(const std::vector<std::vector<uint8_t>>& messages, uint8_t cc, uint8_t value)
{
    std::set<int> channels;
    for (const auto& m : messages) {
        if (m.size() == 3 && commandOf(m[0]) == kControlChange && m[1] == cc && m[2] == value)
            channels.insert(channelOf(m[0]));
    }
    return channels;
}

std::set<int> allChannels()
{
    std::set<int> all;
    for (int ch = 0; ch < kChannels; ++ch)
        all.insert(ch);
    return all;
}

} // namespace

class TestOutputs : public QObject {
    Q_OBJECT

private slots:
    void stopLiftsPedalsAndSilencesEveryChannel()
    {
        auto out = std::make_unique<ByteOutput>();
        ByteOutput& bytes = *out;
        Sequencer seq(std::move(out));
        seq.open(SongBuilder().cc(0, 3, kCcSustain, 127).note(0, 5'000'000, 3, 60).build(6'000'000));
        seq.play();
        bytes.run(100);
        bytes.messages.clear();
        seq.stop();
        bytes.run(10);
        QCOMPARE(channelsWith(bytes.messages, kCcSustain, 0), allChannels());
        QCOMPARE(channelsWith(bytes.messages, kCcAllSoundOff, 0), allChannels());
        QCOMPARE(channelsWith(bytes.messages, kCcAllNotesOff, 0), allChannels());
    }

    void theEndReleasesNotesWithoutCuttingTheirTails()
    {
        auto out = std::make_unique<ByteOutput>();
        ByteOutput& bytes = *out;
        Sequencer seq(std::move(out));
        seq.open(SongBuilder().note(0, 500'000, 0, 60).build(600'000));
        seq.play();
        bytes.run(0); // what opening sent
        bytes.messages.clear();
        bytes.run(1000);
        QCOMPARE(seq.state(), TransportState::Stopped);
        QCOMPARE(channelsWith(bytes.messages, kCcAllNotesOff, 0), allChannels());
        QCOMPARE(channelsWith(bytes.messages, kCcSustain, 0), allChannels());
        QVERIFY(channelsWith(bytes.messages, kCcAllSoundOff, 0).empty());
    }

    void openingResetsTheSynthesiser()
    {
        auto out = std::make_unique<ByteOutput>();
        ByteOutput& bytes = *out;
        Sequencer seq(std::move(out));
        seq.open(SongBuilder().program(0, 0, 40).bend(0, 0, 0).build(1'000'000));
        seq.play();
        bytes.run(100);
        bytes.messages.clear();
        seq.open(SongBuilder().note(0, 100'000, 0, 60).build(1'000'000));
        bytes.run(1);
        const std::vector<uint8_t> gmOn(kGmSystemOn.begin(), kGmSystemOn.end());
        QVERIFY(std::find(bytes.messages.begin(), bytes.messages.end(), gmOn) != bytes.messages.end());
        QCOMPARE(channelsWith(bytes.messages, kCcResetAllControllers, 0), allChannels());
        QCOMPARE(channelsWith(bytes.messages, kCcBankMsb, 0), allChannels());
        std::set<int> programZero, bendCentre;
        for (const auto& m : bytes.messages) {
            if (m.size() == 3 && commandOf(m[0]) == kProgramChange && m[1] == 0)
                programZero.insert(channelOf(m[0]));
            if (m.size() == 3 && commandOf(m[0]) == kPitchBend && (m[1] | m[2] << 7) == kCentre14)
                bendCentre.insert(channelOf(m[0]));
        }
        QCOMPARE(programZero, allChannels());
        QCOMPARE(bendCentre, allChannels());
    }

    void alsaPortThatIsNotThereIsReported()
    {
        std::string error;
        QVERIFY(!AlsaSeqOutput::create("no-such-client-here:0", error));
        QVERIFY(!error.empty());
    }

    void fluidSynthWithoutAWorkingDriverIsReported()
    {
        std::string error;
        FluidSynthOutput::Options options;
        options.driver = "no-such-driver";
        QVERIFY(!FluidSynthOutput::create(options, error));
        QVERIFY(!error.empty());

        error.clear();
        options.driver.clear();
        options.soundfont = "/no/such/soundfont.sf2";
        QVERIFY(!FluidSynthOutput::create(options, error));
        QVERIFY(QString::fromStdString(error).contains("soundfont"));
    }
};

QTEST_GUILESS_MAIN(TestOutputs)
#include "tst_outputs.moc"
