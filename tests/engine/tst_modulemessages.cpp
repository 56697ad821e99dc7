// How the engine reads a module's messages, the same way for the model, the part map, the
// chase and the display: SysEx parameter writes (framing, header, checksum, address), the
// part parameters that a GS write, an XG write and a controller all set, and which RPN or
// NRPN data entry goes to.

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

using Controllers = std::vector<std::pair<int, int>>;

Q_DECLARE_METATYPE(Bytes)
Q_DECLARE_METATYPE(Controllers)

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

    void dataEntryGoesToTheParameterLastChosen_data()
    {
        QTest::addColumn<Controllers>("sent");
        QTest::addColumn<int>("kind"); // 0 none, 1 RPN, 2 NRPN
        QTest::addColumn<int>("msb");
        QTest::addColumn<int>("lsb");
        QTest::addColumn<int>("bendRange"); // after a data entry of 12

        QTest::newRow("nothing chosen") << Controllers {} << 0 << 0 << 0 << 2;
        QTest::newRow("RPN 0") << Controllers { { 101, 0 }, { 100, 0 } } << 1 << 0 << 0 << 12;
        QTest::newRow("an NRPN after it")
            << Controllers { { 101, 0 }, { 100, 0 }, { 99, 1 }, { 98, 8 } } << 2 << 1 << 8 << 2;
        QTest::newRow("back to the RPN by one number")
            << Controllers { { 101, 0 }, { 100, 0 }, { 99, 1 }, { 98, 8 }, { 100, 0 } } << 1 << 0
            << 0 << 12;
        QTest::newRow("the null RPN")
            << Controllers { { 101, 0 }, { 100, 0 }, { 101, 127 }, { 100, 127 } } << 0 << 0 << 0
            << 2;
        QTest::newRow("half of the null NRPN")
            << Controllers { { 99, 127 }, { 98, 3 } } << 2 << 127 << 3 << 2;
        QTest::newRow("reset all controllers")
            << Controllers { { 101, 0 }, { 100, 0 }, { 121, 0 } } << 0 << 0 << 0 << 2;
    }

    void dataEntryGoesToTheParameterLastChosen()
    {
        QFETCH(Controllers, sent);
        QFETCH(int, kind);
        Module m;
        SongBuilder b;
        for (auto [cc, value] : sent) {
            m.followShort(kControlChange, uint8_t(cc), uint8_t(value));
            b.cc(0, 0, cc, value);
        }
        const std::optional<SelectedParameter> selected = m.part(0).current();
        QCOMPARE(selected.has_value(), kind != 0);
        if (selected) {
            QFETCH(int, msb);
            QFETCH(int, lsb);
            QCOMPARE(selected->nrpn, kind == 2);
            QCOMPARE(int(selected->msb), msb);
            QCOMPARE(int(selected->lsb), lsb);
        }
        m.followShort(kControlChange, kCcDataEntryMsb, 12);
        QTEST(int(m.part(0).bendSemitones), "bendRange");

        // The chase leaves a fresh module choosing the same, so the song's next entry
        // lands where it did playing through.
        b.cc(0, 0, kCcDataEntryMsb, 12);
        ChaseState chase;
        chase.scan(b.build(1'000'000), 10'000);
        Block block;
        chase.emit(block);
        Module replayed;
        for (const OutMessage& out : block.messages)
            replayed.followShort(out.status, out.data1, out.data2);
        QVERIFY(replayed.part(0) == m.part(0));
        m.followShort(kControlChange, kCcDataIncrement, 0);
        replayed.followShort(kControlChange, kCcDataIncrement, 0);
        QVERIFY(replayed.part(0) == m.part(0));
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
