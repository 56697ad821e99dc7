// How the engine reads a module's messages, the same way for the model, the part map, the
// chase and the display: SysEx parameter writes (framing, header, checksum, address), and
// the part parameters that a GS write, an XG write and a controller all set.

// ChaseState::emit() would otherwise meet Qt's emit keyword.
#define QT_NO_KEYWORDS

#include "engine/SongBuilder.h"
#include "platform/midi/file/MidiBytes.h"
#include "platform/midi/module/Module.h"
#include "platform/midi/module/SysexWrite.h"
#include "platform/midi/output/Output.h"
#include "platform/midi/transport/ChaseState.h"

#include <QtTest>

#include <vector>

using namespace sequora;
using namespace sequora::midi;
using test::SongBuilder;

namespace {

using Bytes = std::vector<uint8_t>;

/// F0 41 10 42 12 address data... checksum F7, the checksum off by one if @p bad.
Bytes gs(uint32_t address, Bytes data, bool bad = false)
{
    Bytes msg { 0xF0, 0x41, 0x10, 0x42, 0x12, uint8_t(address >> 16), uint8_t(address >> 8 & 0x7F),
        uint8_t(address & 0x7F) };
    unsigned sum = msg[5] + msg[6] + msg[7];
    for (uint8_t d : data) {
        msg.push_back(d);
        sum += d;
    }
    msg.push_back(static_cast<uint8_t>(((128 - sum % 128) % 128) ^ (bad ? 1 : 0)));
    msg.push_back(0xF7);
    return msg;
}

} // namespace

Q_DECLARE_METATYPE(Bytes)

class TestModuleMessages : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void readsEachKindOfWrite_data()
    {
        QTest::addColumn<Bytes>("msg");
        QTest::addColumn<bool>("read");
        QTest::addColumn<int>("maker");
        QTest::addColumn<int>("model");
        QTest::addColumn<uint>("address");
        QTest::addColumn<Bytes>("data");
        QTest::addColumn<bool>("checksumOk");

        QTest::newRow("GS reset") << gs(0x40007F, { 0x00 }) << true << 0x41 << 0x42 << 0x40007Fu
                                  << Bytes { 0x00 } << true;
        QTest::newRow("GS, several bytes")
            << gs(0x401119, { 0x64, 0x40, 0x7F }) << true << 0x41 << 0x42 << 0x401119u
            << Bytes { 0x64, 0x40, 0x7F } << true;
        QTest::newRow("GS, checksum off") << gs(0x401119, { 0x64 }, true) << true << 0x41 << 0x42
                                          << 0x401119u << Bytes { 0x64 } << false;
        QTest::newRow("GS, an address and no data")
            << gs(0x400000, {}) << true << 0x41 << 0x42 << 0x400000u << Bytes {} << true;
        QTest::newRow("Roland request, not a write")
            << Bytes { 0xF0, 0x41, 0x10, 0x42, 0x11, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7 } << false
            << 0 << 0 << 0u << Bytes {} << true;
        QTest::newRow("Roland, short of its checksum")
            << Bytes { 0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0xF7 } << false << 0 << 0 << 0u
            << Bytes {} << true;
        QTest::newRow("XG parameter change")
            << Bytes { 0xF0, 0x43, 0x12, 0x4C, 0x08, 0x01, 0x0B, 0x50, 0xF7 } << true << 0x43
            << 0x4C << 0x08010Bu << Bytes { 0x50 } << true;
        QTest::newRow("XG bulk dump, not a parameter change")
            << Bytes { 0xF0, 0x43, 0x00, 0x4C, 0x08, 0x01, 0x0B, 0x50, 0xF7 } << false << 0 << 0
            << 0u << Bytes {} << true;
        QTest::newRow("GM System On") << Bytes { 0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7 } << true
                                      << 0x7E << 0x09 << 0u << Bytes { 0x01 } << true;
        QTest::newRow("universal master volume")
            << Bytes { 0xF0, 0x7F, 0x7F, 0x04, 0x01, 0x00, 0x40, 0xF7 } << true << 0x7F << 0x04
            << 0u << Bytes { 0x01, 0x00, 0x40 } << true;
        QTest::newRow("a status byte inside")
            << Bytes { 0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x80, 0x41, 0xF7 } << false
            << 0 << 0 << 0u << Bytes {} << true;
        QTest::newRow("no F7") << Bytes { 0xF0, 0x43, 0x10, 0x4C, 0x08, 0x01, 0x0B, 0x50 } << false
                               << 0 << 0 << 0u << Bytes {} << true;
        QTest::newRow("another maker") << Bytes { 0xF0, 0x40, 0x00, 0x20, 0x00, 0x04, 0x00, 0xF7 }
                                       << false << 0 << 0 << 0u << Bytes {} << true;
        QTest::newRow("nothing between F0 and F7")
            << Bytes { 0xF0, 0xF7 } << false << 0 << 0 << 0u << Bytes {} << true;
    }

    void readsEachKindOfWrite()
    {
        QFETCH(Bytes, msg);
        QFETCH(bool, read);
        const std::optional<SysexWrite> w = readSysexWrite(msg);
        QCOMPARE(w.has_value(), read);
        // The display reader hands over what follows F0.
        const std::optional<SysexWrite> fromBody
            = readSysexBody(std::span(msg).subspan(1, msg.size() > 2 ? msg.size() - 2 : 0));
        if (msg.back() == kSysExEnd)
            QCOMPARE(fromBody.has_value(), read);
        if (!read)
            return;
        QFETCH(int, maker);
        QFETCH(int, model);
        QFETCH(uint, address);
        QFETCH(Bytes, data);
        QFETCH(bool, checksumOk);
        QCOMPARE(int(w->maker), maker);
        QCOMPARE(int(w->model), model);
        QCOMPARE(w->address, address);
        QCOMPARE(Bytes(w->data.begin(), w->data.end()), data);
        QCOMPARE(w->checksumOk, checksumOk);
    }

    void aPartParameterIsOneValueHoweverWritten_data()
    {
        QTest::addColumn<int>("param");
        const char* names[]
            = { "key shift", "level", "pan", "reverb send", "chorus send", "delay send" };
        static_assert(std::size(names) == kPartParams);
        for (const PartParamRow& row : kPartParamTable)
            QTest::newRow(names[static_cast<int>(row.param)]) << static_cast<int>(row.param);
    }

    void aPartParameterIsOneValueHoweverWritten()
    {
        QFETCH(int, param);
        const PartParamRow& row = partParamRow(static_cast<PartParam>(param));
        constexpr uint8_t kCh = 2; // GS block 3, XG part 02
        const auto value = static_cast<uint8_t>(row.low + (row.high - row.low) * 3 / 4);
        QVERIFY(value != row.powerOn);
        auto gsWrite = [&](uint8_t v) { return gs(0x401300 | row.gsAddress, { v }); };
        auto xgWrite = [&](uint8_t v) {
            return Bytes { 0xF0, 0x43, 0x10, 0x4C, 0x08, kCh, row.xgAddress, v, 0xF7 };
        };

        Module m;
        QCOMPARE(m.part(kCh).written(row.param), row.powerOn);
        m.followSysex(gsWrite(value));
        QCOMPARE(m.part(kCh).written(row.param), value);
        QCOMPARE(m.part(kCh - 1).written(row.param), row.powerOn);
        m.reset(SystemMode::Xg);
        m.followSysex(xgWrite(value));
        QCOMPARE(m.part(kCh).written(row.param), value);
        // Values a module does not take leave the part as it was.
        for (int outside : { int(row.low) - 1, int(row.high) + 1 }) {
            if (outside < 0 || outside > 127)
                continue;
            m.followSysex(gsWrite(uint8_t(outside)));
            m.followSysex(xgWrite(uint8_t(outside)));
            QCOMPARE(m.part(kCh).written(row.param), value);
        }
        if (row.movesNotes) {
            QCOMPARE(m.noteShift(kCh), value - int(row.bias));
            return;
        }

        // A controller sets the same value, and a later SysEx write wins over it, on a
        // replay after a seek too: the chase replays the controller with the write's value.
        QVERIFY(row.cc.has_value());
        m.followShort(kControlChange | kCh, *row.cc, 17);
        QCOMPARE(m.part(kCh).written(row.param), 17);
        const Bytes write = gsWrite(value);
        SongBuilder b;
        b.cc(0, kCh, *row.cc, 17).sysex(10'000, Bytes(write.begin() + 1, write.end()));
        ChaseState chase;
        chase.scan(b.build(1'000'000), 20'000);
        QCOMPARE(chase.module().part(kCh).written(row.param), value);
        Block block;
        chase.emit(block);
        int replayed = -1;
        for (const OutMessage& m : block.messages) {
            if (m.kind == OutMessage::Kind::Short && m.status == (kControlChange | kCh)
                && m.data1 == *row.cc)
                replayed = m.data2;
        }
        QCOMPARE(replayed, int(value));
    }

    void aBrokenResetLeavesTheChaseAsPlayingDoes()
    {
        // A module takes no message with a status byte inside: the part keeps its program
        // after a seek past it, as it does playing through.
        Bytes broken = gs(0x40007F, { 0x00 });
        broken[8] = 0x80;
        SongBuilder b;
        b.program(0, 0, 5).sysex(10'000, Bytes(broken.begin() + 1, broken.end()));
        const Song song = b.build(1'000'000);
        ChaseState chase;
        chase.scan(song, 20'000);
        Block block;
        chase.emit(block);
        bool program = false;
        for (const OutMessage& m : block.messages) {
            QVERIFY(m.kind != OutMessage::Kind::SysEx);
            program = program || (m.status == (kProgramChange | 0) && m.data1 == 5);
        }
        QVERIFY(program);
    }
};

QTEST_GUILESS_MAIN(TestModuleMessages)
#include "tst_modulemessages.moc"
