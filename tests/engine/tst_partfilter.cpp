// The listener's mute, solo and key as the output receives them, through the transport
// and a recording output turned by hand: which notes are heard and in which key, that a
// note-off always ends the note its note-on sounded, that muting ends a part's sound at
// once and unmuting strikes its held notes again, and that the published parts agree
// with what was sent.

#include "engine/RecordingOutput.h"
#include "engine/SongBuilder.h"

#include "platform/midi/module/PartMap.h"
#include "platform/midi/output/fluidsynth/OfflineRenderer.h"
#include "platform/midi/transport/Sequencer.h"

#include <QtTest>

#include <map>

using namespace sequora::midi;
using sequora::test::RecordingOutput;
using sequora::test::SongBuilder;
using Record = RecordingOutput::Record;

namespace {

constexpr int kRate = 44100;
constexpr int64_t kMs = 1000;
constexpr int64_t kSecond = 1'000'000;

bool isNoteOn(const Record& r)
{
    return r.kind == OutMessage::Kind::Short && commandOf(r.status) == kNoteOn && r.data2 > 0;
}

bool isNoteOff(const Record& r)
{
    return r.kind == OutMessage::Kind::Short
        && (commandOf(r.status) == kNoteOff || (commandOf(r.status) == kNoteOn && r.data2 == 0));
}

// "part:key" of each note-on, parts counted from 1.
QStringList noteOns(const std::vector<Record>& records)
{
    QStringList out;
    for (const Record& r : records) {
        if (isNoteOn(r))
            out << QStringLiteral("%1:%2").arg(channelOf(r.status) + 1).arg(r.data1);
    }
    return out;
}

// Every note sounded is ended. (A note-off that ends nothing, as for a muted part's
// notes, may go out as written.)
QString unmatchedNotes(const std::vector<Record>& records)
{
    std::map<std::pair<int, int>, int> sounding;
    for (const Record& r : records) {
        const std::pair<int, int> note { channelOf(r.status), r.data1 };
        if (r.kind == OutMessage::Kind::Silence || r.kind == OutMessage::Kind::Release)
            sounding.clear();
        else if (isNoteOn(r))
            ++sounding[note];
        else if (isNoteOff(r) && sounding[note] > 0)
            --sounding[note];
    }
    for (const auto& [note, count] : sounding) {
        if (count != 0)
            return QStringLiteral("%1:%2 never ended").arg(note.first + 1).arg(note.second);
    }
    return {};
}

// Part 1 plays C4 and the top of the keyboard, part 2 E4, part 10 (drums) a bass drum.
Song quartet()
{
    SongBuilder b;
    b.note(100 * kMs, 200 * kMs, 0, 60).note(100 * kMs, 200 * kMs, 0, 120);
    b.note(100 * kMs, 200 * kMs, 1, 64).note(100 * kMs, 200 * kMs, 9, 36);
    return b.build(kSecond);
}

ListenerSettings settings(const QList<int>& muted, const QList<int>& soloed, int transpose)
{
    ListenerSettings s;
    for (int part : muted)
        s.muted.set(std::size_t(part - 1));
    for (int part : soloed)
        s.soloed.set(std::size_t(part - 1));
    s.transpose = transpose;
    return s;
}

} // namespace

class TestPartFilter : public QObject {
    Q_OBJECT

private:
    RecordingOutput* m_out = nullptr;
    std::unique_ptr<Sequencer> m_seq;

    PartsView parts() const
    {
        PartsView view;
        [&] { QVERIFY(m_seq->readParts(view)); }();
        return view;
    }
    void runMs(int64_t ms) { m_out->runMs(ms, 441); } // 10 ms blocks

private slots:
    void init()
    {
        auto out = std::make_unique<RecordingOutput>(kRate);
        m_out = out.get();
        m_seq = std::make_unique<Sequencer>(std::move(out));
    }
    void cleanup() { m_seq.reset(); }

    void whatIsHeard_data()
    {
        QTest::addColumn<QList<int>>("muted");
        QTest::addColumn<QList<int>>("soloed");
        QTest::addColumn<int>("transpose");
        QTest::addColumn<QStringList>("heard");
        QTest::newRow("as written") << QList<int> {} << QList<int> {} << 0
                                    << QStringList { "1:60", "1:120", "2:64", "10:36" };
        QTest::newRow("a fifth up, the drums stay")
            << QList<int> {} << QList<int> {} << 7
            << QStringList { "1:67", "1:127", "2:71", "10:36" };
        QTest::newRow("an octave up: the top note leaves the keyboard")
            << QList<int> {} << QList<int> {} << 12 << QStringList { "1:72", "2:76", "10:36" };
        QTest::newRow("an octave down") << QList<int> {} << QList<int> {} << -12
                                        << QStringList { "1:48", "1:108", "2:52", "10:36" };
        QTest::newRow("part 2 muted")
            << QList<int> { 2 } << QList<int> {} << 0 << QStringList { "1:60", "1:120", "10:36" };
        QTest::newRow("parts 2 and 10 soloed")
            << QList<int> {} << QList<int> { 2, 10 } << 0 << QStringList { "2:64", "10:36" };
        QTest::newRow("a muted part in the solo stays muted")
            << QList<int> { 10 } << QList<int> { 2, 10 } << -1 << QStringList { "2:63" };
        QTest::newRow("everything muted")
            << QList<int> { 1, 2, 10 } << QList<int> {} << 0 << QStringList {};
    }

    void whatIsHeard()
    {
        QFETCH(QList<int>, muted);
        QFETCH(QList<int>, soloed);
        QFETCH(int, transpose);
        QFETCH(QStringList, heard);
        QVERIFY(m_seq->setListening(settings(muted, soloed, transpose)));
        m_seq->open(quartet());
        m_seq->play();
        runMs(1100);
        QCOMPARE(m_seq->state(), TransportState::Stopped);
        QCOMPARE(noteOns(m_out->records), heard);
        QCOMPARE(unmatchedNotes(m_out->records), QString());
    }

    void aNoteOffEndsTheNoteItsNoteOnSounded()
    {
        // Key 60 held from 0 to 1 s and struck again (overlapping) at 400 ms; key 62 from
        // 600 to 800 ms. The key changes at 200 ms and again at 700 ms.
        SongBuilder b;
        b.event(0, kNoteOn, 60, 90)
            .event(400 * kMs, kNoteOn, 60, 91)
            .event(kSecond, kNoteOff, 60, 0);
        b.note(600 * kMs, 200 * kMs, 0, 62);
        m_seq->open(b.build(2 * kSecond));
        m_seq->play();
        runMs(200);
        ListenerSettings s;
        s.transpose = 2;
        QVERIFY(m_seq->setListening(s));
        runMs(500);
        s.transpose = -3;
        QVERIFY(m_seq->setListening(s));
        runMs(1400);

        QStringList sent;
        for (const Record& r : m_out->shorts()) {
            if (isNoteOn(r) || isNoteOff(r))
                sent << QStringLiteral("%1 %2").arg(isNoteOn(r) ? "on" : "off").arg(r.data1);
        }
        // The second strike of key 60 sounds 62, so the 60 it sounded before ends first;
        // 62's note-off comes after the second change and still ends 64; the last
        // note-off of key 60 ends the 62 it sounds.
        QCOMPARE(sent, (QStringList { "on 60", "off 60", "on 62", "on 64", "off 64", "off 62" }));
        QCOMPARE(unmatchedNotes(m_out->records), QString());
    }

    void aLoopsJumpBackBringsThePartsModeBack()
    {
        // Part 11 plays a note in the loop, then becomes a drum part later in it: on the
        // next pass it is melodic again, and the key moves its note as on the first.
        SongBuilder b;
        b.sysex(0, { 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7 });
        b.note(1100 * kMs, 100 * kMs, 10, 60);
        b.sysex(1500 * kMs, { 0x41, 0x10, 0x42, 0x12, 0x40, 0x1A, 0x15, 0x01, 0x10, 0xF7 });
        Song song = b.build(3 * kSecond);
        song.setLoop(SongLoop { kSecond, 2 * kSecond });
        m_seq->setLoopPlayback(LoopPlayback { 2, 0 });
        QVERIFY(m_seq->setListening(settings({}, {}, 7)));
        m_seq->open(std::move(song));
        m_seq->play();
        runMs(4200);
        QCOMPARE(m_seq->state(), TransportState::Stopped);
        QCOMPARE(noteOns(m_out->records), (QStringList { "11:67", "11:67" }));
    }

    void muteEndsAtOnceAndUnmuteStrikesAgain()
    {
        // A held chord on part 1, a drum on part 10 every 100 ms, all over 3 s.
        SongBuilder b;
        b.note(0, 3 * kSecond, 0, 60, 80).note(0, 3 * kSecond, 0, 67, 70);
        for (int i = 0; i < 30; ++i)
            b.note(i * 100 * kMs, 10 * kMs, 9, 42);
        m_seq->open(b.build(3 * kSecond));
        m_seq->play();
        runMs(500);

        ListenerSettings s;
        s.muted.set(0);
        s.muted.set(9);
        QVERIFY(m_seq->setListening(s));
        std::size_t from = m_out->records.size();
        m_out->run(441);
        // The first thing the next block does: each part's sound ends, at its start.
        const std::vector<Record> block(
            m_out->records.begin() + std::ptrdiff_t(from), m_out->records.end());
        QVERIFY(block.size() >= 4);
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(block[std::size_t(i)].frame, m_out->framesRun() - 441);
            QCOMPARE(commandOf(block[std::size_t(i)].status), kControlChange);
        }
        QCOMPARE(block[0].data1, kCcAllSoundOff);
        QCOMPARE(block[1].data1, kCcAllNotesOff);
        runMs(500);
        QVERIFY(noteOns({ m_out->records.begin() + std::ptrdiff_t(from), m_out->records.end() })
                    .isEmpty());

        // Back a tone higher: the chord is struck again at once, in the new key, with
        // its own velocities; the drum hit is over and is not.
        s = ListenerSettings {};
        s.transpose = 2;
        QVERIFY(m_seq->setListening(s));
        from = m_out->records.size();
        m_out->run(441);
        const std::vector<Record> back(
            m_out->records.begin() + std::ptrdiff_t(from), m_out->records.end());
        QCOMPARE(noteOns(back), (QStringList { "1:62", "1:69" }));
        QCOMPARE(back.front().data2, uint8_t(80));
        runMs(2500);
        QCOMPARE(unmatchedNotes(m_out->records), QString());

        // Unmuting while paused strikes nothing now: the play that follows does.
        m_seq->seek(1000);
        QVERIFY(m_seq->setListening(settings({ 1 }, {}, 0)));
        m_seq->play();
        runMs(50);
        m_seq->pause();
        from = m_out->records.size();
        QVERIFY(m_seq->setListening(settings({}, {}, 0)));
        m_out->run(441);
        QVERIFY(noteOns({ m_out->records.begin() + std::ptrdiff_t(from), m_out->records.end() })
                    .isEmpty());
        m_seq->play();
        m_out->run(441);
        QCOMPARE(noteOns({ m_out->records.begin() + std::ptrdiff_t(from), m_out->records.end() }),
            (QStringList { "1:60", "1:67" }));
    }

    void partsShowWhatSounds()
    {
        // Part 1 at volume 64 and expression 100, velocity 127 from 100 ms to 1 s with the
        // pedal down until 1.5 s; part 10 a short hit at full level; part 3 only chooses
        // a program; part 2 nothing at all.
        SongBuilder b;
        b.cc(0, 0, kCcVolume, 64).cc(0, 0, kCcExpression, 100).program(0, 2, 40);
        b.cc(50 * kMs, 0, kCcSustain, 127).cc(1500 * kMs, 0, kCcSustain, 0);
        b.note(100 * kMs, 900 * kMs, 0, 60, 127).note(100 * kMs, kMs, 9, 38, 127);
        m_seq->open(b.build(3 * kSecond));
        m_seq->setListening(settings({ 3 }, {}, 5));
        m_seq->play();
        runMs(110);

        PartsView view = parts();
        QCOMPARE(int(view.partCount), 16);
        QCOMPARE(int(view.transpose), 5);
        QCOMPARE(int(view.tempoPercent), 100);
        const PartView* p = view.parts.data();
        // 127 by 64/127 by 100/127, fallen for 10 ms since.
        QVERIFY2(std::abs(p[0].level - 50) <= 2, qPrintable(QString::number(p[0].level)));
        QVERIFY(p[0].keyDown(65) && !p[0].keyDown(60)); // it sounds a fourth up
        QVERIFY(p[0].has(PartView::Used) && !p[0].has(PartView::Drum));
        QVERIFY(!p[1].has(PartView::Used));
        QVERIFY(
            p[2].has(PartView::Used) && p[2].has(PartView::Muted) && p[2].has(PartView::Silenced));
        QCOMPARE(int(p[2].program), 40);
        // The drum's note was over in a millisecond; its key still shows a moment.
        QVERIFY(p[9].has(PartView::Drum) && p[9].keyDown(38));
        QCOMPARE(int(p[9].bank), int(PresetRequest::kDrumBank));
        QVERIFY2(
            std::abs(p[9].level - 100) <= 3, qPrintable(QString::number(p[9].level))); // volume 100

        runMs(200);
        view = parts();
        QVERIFY(!p[9].keyDown(38));
        QVERIFY(p[0].level < 50 && p[0].level > 0);
        runMs(1000); // 1.31 s: the note is off, the pedal holds it
        view = parts();
        QCOMPARE(int(p[0].level), 0);
        QVERIFY(p[0].keyDown(65));
        runMs(300); // pedal up
        view = parts();
        QVERIFY(!p[0].keyDown(65));

        // Each publication is a new serial; a seek starts the parts' use afresh.
        const uint32_t serial = view.serial;
        m_seq->seek(0);
        m_out->run(441);
        view = parts();
        QVERIFY(view.serial != serial);
        QVERIFY(!p[0].has(PartView::Used));
        QVERIFY(!p[0].keyDown(65));
    }

    // What each part plays, by name: after the module's choice of bank and kit and the
    // soundfont's fallback, as the font names its presets; by General MIDI's names on an
    // output without a font.
    void partsNameWhatSounds_data()
    {
        QTest::addColumn<bool>("soundfont");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("TimGM6mb") << true
                                  << QStringList { "Steel Guitar", "Church Organ", "TR 808",
                                         "Standard", "—" };
        QTest::newRow("no soundfont") << false
                                      << QStringList { "Acoustic Guitar (steel) (bank 8)",
                                             "Church Organ", "Analog Kit", "SFX Kit", "—" };
    }

    void partsNameWhatSounds()
    {
        QFETCH(bool, soundfont);
        QFETCH(QStringList, names);
        const char* font = "/usr/share/sounds/sf2/TimGM6mb.sf2";
        if (soundfont && !QFile::exists(font))
            QSKIP("TimGM6mb is not installed");
        // GS: part 1 a variation the small font lacks, part 2 a plain program, part 10
        // the 808 kit, part 11 made a drum part with the SFX kit, which the font lacks.
        SongBuilder b;
        b.sysex(0, { 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7 });
        b.sysex(kMs, { 0x41, 0x10, 0x42, 0x12, 0x40, 0x1A, 0x15, 0x02, 0x0F, 0xF7 });
        b.cc(2 * kMs, 0, kCcBankMsb, 8).program(2 * kMs, 0, 25).program(2 * kMs, 1, 19);
        b.program(2 * kMs, 9, 25).program(2 * kMs, 10, 56);
        for (int part : { 0, 1, 9, 10 })
            b.note(10 * kMs, 100 * kMs, part, 60);
        std::unique_ptr<Output> out;
        if (soundfont) {
            std::string error;
            out = OfflineRenderer::create(font, kRate, error);
            QVERIFY2(out, error.c_str());
        } else {
            out = std::make_unique<RecordingOutput>(kRate);
        }
        Output* output = out.get();
        Sequencer seq(std::move(out));
        seq.open(b.build(kSecond));
        seq.play();
        std::vector<int16_t> buffer(2 * 441);
        for (int i = 0; i < 5; ++i) {
            if (soundfont)
                static_cast<OfflineRenderer*>(output)->render(buffer.data(), 441);
            else
                static_cast<RecordingOutput*>(output)->run(441);
        }
        PartsView view;
        QVERIFY(seq.readParts(view));
        QStringList got;
        for (int part : { 0, 1, 9, 10, 2 }) {
            const PartView& p = view.parts[std::size_t(part)];
            got << (p.has(PartView::Used) ? QString::fromStdString(seq.instrumentName(p))
                                          : QStringLiteral("—"));
        }
        QCOMPARE(got, names);
    }
};

QTEST_GUILESS_MAIN(TestPartFilter)
#include "tst_partfilter.moc"
