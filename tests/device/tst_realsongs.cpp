// Every song of the installed openmsx set, as the player meets it: opened through the
// device's command strings with the length its own tempo map gives, sounding like music
// when rendered (no silence longer than the file's own rests, no clipping), and a seek
// to its middle leaving the same instruments set as playing up to there.

#include "engine/RecordingOutput.h"

#include "platform/System.h"
#include "platform/mci/mci.h"
#include "platform/midi/output/fluidsynth/OfflineRenderer.h"
#include "platform/midi/transport/Sequencer.h"

#include <QDir>
#include <QTest>

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <map>
#include <optional>

using namespace sequora::midi;
using namespace sequora::platform;
using sequora::test::RecordingOutput;

namespace {

const QString kSongFolder = QStringLiteral("/usr/share/games/openttd/baseset/openmsx");
const char* const kSmallSoundfont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
constexpr int kRate = 44100;
constexpr uint32_t kBlock = 1024;
constexpr int64_t kUsPerUnit = 100'000;
// Rendered per song: its opening and the stretch after a seek to its middle.
constexpr int64_t kWindowMs = 15'000;
// Loudness is judged over 50 ms slices; "silent" is below -70 dBFS (the synthesiser's
// silence is a sample value of 0 or 1; songs that fade in start far below -60 dBFS).
constexpr int kSliceFrames = kRate / 20;
constexpr double kSilentRms = 32768.0 / 3162.0;
// A note takes a slice or two to be heard: its attack and the slice it starts in.
constexpr int64_t kOnsetSlackMs = 150;

// ---- the file read once more, independently of the engine's reader ----------------

struct TempoChange {
    uint64_t tick = 0;
    uint32_t usPerQuarter = 500'000;
};

struct Scan {
    int64_t lengthUs = 0;
    std::vector<int64_t> noteOnsUs; ///< audible ones only, sorted
};

struct ChannelEvent {
    uint64_t tick = 0;
    uint8_t status = 0, data1 = 0, data2 = 0;
};

// A note is heard when its channel's volume and expression leave it above about -40 dB
// (songs fade in from volume 0, with notes playing all along).
constexpr int kAudibleGain = 127 * 127 / 10;
constexpr int kGmDefaultVolume = 100;

std::vector<uint64_t> audibleNoteOns(std::vector<ChannelEvent> events)
{
    std::stable_sort(events.begin(), events.end(),
        [](const ChannelEvent& a, const ChannelEvent& b) { return a.tick < b.tick; });
    std::array<int, 16> volume, expression;
    volume.fill(kGmDefaultVolume);
    expression.fill(127);
    std::vector<uint64_t> out;
    for (const ChannelEvent& e : events) {
        const int ch = e.status & 0x0F;
        if ((e.status & 0xF0) == 0xB0 && e.data1 == 7)
            volume[ch] = e.data2;
        else if ((e.status & 0xF0) == 0xB0 && e.data1 == 11)
            expression[ch] = e.data2;
        else if ((e.status & 0xF0) == 0xB0 && e.data1 == 121)
            expression[ch] = 127;
        else if ((e.status & 0xF0) == 0x90 && e.data2 > 0
            && volume[ch] * expression[ch] >= kAudibleGain)
            out.push_back(e.tick);
    }
    return out;
}

uint32_t varLen(const std::vector<uint8_t>& d, std::size_t& p, std::size_t end)
{
    uint32_t v = 0;
    for (int i = 0; i < 4 && p < end; ++i) {
        const uint8_t b = d[p++];
        v = v << 7 | (b & 0x7F);
        if (!(b & 0x80))
            break;
    }
    return v;
}

uint32_t be(const std::vector<uint8_t>& d, std::size_t p, int n)
{
    uint32_t v = 0;
    for (int i = 0; i < n; ++i)
        v = v << 8 | d[p + std::size_t(i)];
    return v;
}

// Ticks to microseconds through the tempo map; SMPTE divisions tick at a fixed rate.
class TickClock {
public:
    TickClock(uint16_t division, std::vector<TempoChange> tempo)
        : m_division(division)
        , m_tempo(std::move(tempo))
    {
        std::stable_sort(m_tempo.begin(), m_tempo.end(),
            [](const TempoChange& a, const TempoChange& b) { return a.tick < b.tick; });
    }
    int64_t us(uint64_t tick) const
    {
        if (m_division & 0x8000) {
            const int fps = 256 - (m_division >> 8);
            const int perFrame = m_division & 0xFF;
            return int64_t(tick * 1'000'000 / uint64_t(fps * perFrame));
        }
        // Quarter-note microseconds times ticks, summed over segments, divided once.
        __int128 sum = 0;
        uint64_t at = 0;
        uint32_t tempo = 500'000;
        for (const TempoChange& c : m_tempo) {
            if (c.tick >= tick)
                break;
            sum += __int128(c.tick - at) * tempo;
            at = c.tick;
            tempo = c.usPerQuarter;
        }
        sum += __int128(tick - at) * tempo;
        return int64_t(sum / m_division);
    }

private:
    uint16_t m_division;
    std::vector<TempoChange> m_tempo;
};

std::optional<Scan> scanFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> d(
        (std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (d.size() < 14 || be(d, 0, 4) != 0x4D546864) // "MThd"
        return std::nullopt;
    const uint16_t division = uint16_t(be(d, 12, 2));
    std::vector<TempoChange> tempo;
    std::vector<uint64_t> ends;
    std::vector<ChannelEvent> events;
    std::size_t pos = 8 + be(d, 4, 4);
    while (pos + 8 <= d.size()) {
        const uint32_t id = be(d, pos, 4);
        const std::size_t end = std::min(d.size(), pos + 8 + be(d, pos + 4, 4));
        std::size_t p = pos + 8;
        pos = end;
        if (id != 0x4D54726B) // "MTrk"
            continue;
        uint64_t tick = 0;
        uint8_t running = 0;
        while (p < end) {
            tick += varLen(d, p, end);
            uint8_t status = d[p];
            if (status & 0x80)
                ++p;
            else
                status = running;
            if (status == 0xFF) {
                const uint8_t type = d[p++];
                const uint32_t len = varLen(d, p, end);
                if (type == 0x51 && len == 3)
                    tempo.push_back({ tick, be(d, p, 3) });
                p += len;
                if (type == 0x2F) {
                    ends.push_back(tick);
                    break;
                }
            } else if (status == 0xF0 || status == 0xF7) {
                p += varLen(d, p, end);
            } else if (status >= 0x80) {
                running = status;
                const int kind = status >> 4;
                const bool oneByte = kind == 0xC || kind == 0xD;
                if (p + (oneByte ? 0 : 1) < end)
                    events.push_back({ tick, status, d[p], oneByte ? uint8_t(0) : d[p + 1] });
                p += oneByte ? 1 : 2;
            } else {
                return std::nullopt; // data with no status: not what these files hold
            }
        }
    }
    if (ends.empty())
        return std::nullopt;
    const TickClock clock(division, tempo);
    Scan scan;
    scan.lengthUs = clock.us(*std::max_element(ends.begin(), ends.end()));
    for (uint64_t t : audibleNoteOns(std::move(events)))
        scan.noteOnsUs.push_back(clock.us(t));
    std::sort(scan.noteOnsUs.begin(), scan.noteOnsUs.end());
    return scan;
}

// The longest wait from one note's start to the next within [fromUs, toUs], the span's
// edges counting as starts: no stretch of that span can be silent for longer.
int64_t longestRestUs(const std::vector<int64_t>& onsets, int64_t fromUs, int64_t toUs)
{
    int64_t last = fromUs, longest = 0;
    for (int64_t t : onsets) {
        if (t < fromUs || t > toUs)
            continue;
        longest = std::max(longest, t - last);
        last = t;
    }
    return std::max(longest, toUs - last);
}

// ---- what a synthesiser has been told: instruments and the main controllers ----------

struct ChannelState {
    int program = -1;
    int bankAtProgram = -1; ///< MSB << 7 | LSB in force when the program was chosen
    int bankMsb = 0, bankLsb = 0;
    int volume = -1, pan = -1, expression = -1;
    bool operator==(const ChannelState&) const = default;
};
using SynthState = std::array<ChannelState, 16>;

bool isSystemReset(const std::vector<uint8_t>& s)
{
    const auto is = [&](std::initializer_list<int> head, std::size_t at) {
        std::size_t i = at;
        for (int b : head) {
            if (i >= s.size() || (b >= 0 && s[i] != b))
                return false;
            ++i;
        }
        return true;
    };
    return is({ 0xF0, 0x7E, -1, 0x09 }, 0) // GM on/off
        || is({ 0xF0, 0x41, -1, 0x42, 0x12, 0x40, 0x00, 0x7F }, 0) // GS reset
        || is({ 0xF0, 0x43, -1, 0x4C, 0x00, 0x00, 0x7E }, 0); // XG on
}

SynthState stateAfter(const std::vector<RecordingOutput::Record>& records)
{
    SynthState st;
    for (const auto& r : records) {
        if (r.kind == OutMessage::Kind::Reset
            || (r.kind == OutMessage::Kind::SysEx && isSystemReset(r.sysex))) {
            st = SynthState();
            continue;
        }
        if (r.kind != OutMessage::Kind::Short)
            continue;
        ChannelState& c = st[r.status & 0x0F];
        switch (r.status & 0xF0) {
        case 0xC0:
            c.program = r.data1;
            c.bankAtProgram = c.bankMsb << 7 | c.bankLsb;
            break;
        case 0xB0:
            if (r.data1 == 0)
                c.bankMsb = r.data2;
            else if (r.data1 == 32)
                c.bankLsb = r.data2;
            else if (r.data1 == 7)
                c.volume = r.data2;
            else if (r.data1 == 10)
                c.pan = r.data2;
            else if (r.data1 == 11)
                c.expression = r.data2;
            else if (r.data1 == 121) // reset all controllers
                c.expression = -1;
            break;
        default:
            break;
        }
    }
    return st;
}

QString describe(const SynthState& st)
{
    QStringList parts;
    for (int ch = 0; ch < 16; ++ch) {
        const ChannelState& c = st[std::size_t(ch)];
        if (c == ChannelState())
            continue;
        parts << QStringLiteral("ch%1 prog %2 bank %3 (now %4/%5) vol %6 pan %7 expr %8")
                     .arg(ch + 1)
                     .arg(c.program)
                     .arg(c.bankAtProgram)
                     .arg(c.bankMsb)
                     .arg(c.bankLsb)
                     .arg(c.volume)
                     .arg(c.pan)
                     .arg(c.expression);
    }
    return parts.join("; ");
}

// ---- the rendered sound --------------------------------------------------------------

struct Loudness {
    std::vector<bool> sounding; ///< per slice
    int clipped = 0;
};

// Sound at the start of a window that fades within the synth's first block is what
// was sounding before the seek, ramped down without a click: not judged.
Loudness judge(const std::vector<int16_t>& stereo)
{
    Loudness l;
    for (std::size_t start = 2 * OfflineRenderer::kGrid; start + 2 * kSliceFrames <= stereo.size();
         start += 2 * kSliceFrames) {
        double sum = 0;
        for (std::size_t i = start; i < start + 2 * kSliceFrames; ++i)
            sum += double(stereo[i]) * stereo[i];
        l.sounding.push_back(std::sqrt(sum / (2 * kSliceFrames)) >= kSilentRms);
    }
    l.clipped = int(std::count_if(
        stereo.begin(), stereo.end(), [](int16_t s) { return s == 32767 || s == -32768; }));
    return l;
}

int64_t sliceMs(int64_t slices)
{
    return slices * kSliceFrames * 1000 / kRate;
}

// Milliseconds of silence before the first sounding slice, and the longest silence
// between two sounding slices.
std::pair<int64_t, int64_t> silences(const Loudness& l)
{
    const auto first = std::find(l.sounding.begin(), l.sounding.end(), true);
    int64_t run = 0, longest = 0;
    for (auto it = first; it != l.sounding.end(); ++it) {
        if (*it) {
            longest = std::max(longest, run);
            run = 0;
        } else {
            ++run;
        }
    }
    return { sliceMs(first - l.sounding.begin()), sliceMs(longest) };
}

} // namespace

class tst_RealSongs : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup() { mciSendStringA("close song", nullptr, 0, nullptr); }
    void everySong_data();
    void everySong();

private:
    std::vector<int16_t> render(int64_t ms);

    RecordingOutput* m_deviceOut = nullptr; ///< behind the command strings
    OfflineRenderer* m_synth = nullptr;
    std::unique_ptr<Sequencer> m_renderSeq;
};

void tst_RealSongs::initTestCase()
{
    if (QDir(kSongFolder).entryList({ "*.mid" }, QDir::Files).isEmpty())
        QSKIP("the openmsx songs are not installed");
    // The device's engine dispatches to a recorder this test turns by hand.
    auto recorder = std::make_unique<RecordingOutput>(kRate);
    m_deviceOut = recorder.get();
    engine::sequencer().setOutput(std::move(recorder));

    std::string error;
    const std::string soundfont = QFile::exists(kSmallSoundfont) ? kSmallSoundfont : "";
    auto synth = OfflineRenderer::create(soundfont, kRate, error);
    if (synth) {
        m_synth = synth.get();
        m_renderSeq = std::make_unique<Sequencer>(std::move(synth));
    } else {
        qWarning("no soundfont to render with (%s): songs are not rendered", error.c_str());
    }
}

void tst_RealSongs::cleanupTestCase()
{
    engine::useManualClock();
}

std::vector<int16_t> tst_RealSongs::render(int64_t ms)
{
    const int64_t frames = ms * kRate / 1000;
    std::vector<int16_t> out(std::size_t(frames) * 2);
    for (int64_t done = 0; done < frames;) {
        const auto n = uint32_t(std::min<int64_t>(kBlock, frames - done));
        m_synth->render(out.data() + done * 2, n);
        done += n;
    }
    return out;
}

void tst_RealSongs::everySong_data()
{
    QTest::addColumn<QString>("path");
    const QDir folder(kSongFolder);
    for (const QString& name : folder.entryList({ "*.mid" }, QDir::Files, QDir::Name))
        QTest::newRow(qPrintable(name)) << folder.filePath(name);
}

void tst_RealSongs::everySong()
{
    QFETCH(QString, path);
    const std::string file = path.toStdString();
    const std::optional<Scan> scan = scanFile(file);
    QVERIFY2(scan.has_value(), "the test's own reading of the file failed");

    // Opened as the device class opens it, by its one-word path.
    char word[512] = {};
    QVERIFY(GetShortPathNameA(file.c_str(), word, sizeof word) > 0);
    const std::string alias = " alias song";
    QCOMPARE(mciSendStringA((std::string("open ") + word + " type sequencer" + alias).c_str(),
                 nullptr, 0, nullptr),
        kMciOk);
    char reply[16] = {};
    QCOMPARE(mciSendStringA("status song length", reply, sizeof reply, nullptr), kMciOk);
    const int64_t units = std::atoll(reply);
    const int64_t expected = scan->lengthUs / kUsPerUnit;
    QVERIFY2(std::abs(units - expected) <= 1,
        qPrintable(
            QStringLiteral("device says %1 units, the tempo map %2").arg(units).arg(expected)));

    // The middle, moved off any instant where something happens so that "up to there"
    // means the same for the seek and for playing.
    Song song;
    QVERIFY(Song::load(file, song).playable());
    int64_t middleUnits = units / 2;
    const auto busy = [&](int64_t unitsAt) {
        const int64_t us = unitsAt * kUsPerUnit;
        return std::any_of(song.events().begin(), song.events().end(),
            [us](const MidiEvent& e) { return std::abs(e.timeUs - us) <= 2000; });
    };
    while (busy(middleUnits) && middleUnits < units)
        ++middleUnits;
    const int64_t middleMs = middleUnits * kUsPerUnit / 1000;

    // Seek through the device: what the recorder receives is the chase.
    m_deviceOut->records.clear();
    QCOMPARE(mciSendStringA(
                 ("seek song to " + std::to_string(middleUnits)).c_str(), nullptr, 0, nullptr),
        kMciOk);
    QCOMPARE(mciSendStringA("status song position", reply, sizeof reply, nullptr), kMciOk);
    QCOMPARE(std::atoll(reply), middleUnits);
    m_deviceOut->run(kBlock);
    const SynthState chased = stateAfter(m_deviceOut->records);
    QCOMPARE(mciSendStringA("close song", nullptr, 0, nullptr), kMciOk);

    // Played from the start up to there, every message dispatched as it came.
    RecordingOutput* played = nullptr;
    {
        auto out = std::make_unique<RecordingOutput>(kRate);
        played = out.get();
        Sequencer seq(std::move(out));
        QVERIFY(seq.open(file).playable());
        seq.play(middleMs);
        played->runMs(middleMs + 100, 4 * kBlock);
        QCOMPARE(seq.positionMs(), middleMs);
        const SynthState reached = stateAfter(played->records);
        QVERIFY2(chased == reached,
            qPrintable("seek: " + describe(chased) + "\nplay: " + describe(reached)));
        QVERIFY2(reached != SynthState(), "the song sets no instrument before its middle");
    }

    if (!m_renderSeq)
        return;
    // The opening, and the stretch after the seek, as sound.
    QVERIFY(m_renderSeq->open(file).playable());
    struct Window {
        const char* name;
        int64_t fromMs;
    };
    for (const Window& w : { Window { "opening", 0 }, Window { "after the seek", middleMs } }) {
        const int64_t toMs = std::min(w.fromMs + kWindowMs, m_renderSeq->lengthMs());
        m_renderSeq->seek(w.fromMs);
        m_renderSeq->play();
        const Loudness sound = judge(render(toMs - w.fromMs));
        const auto [lead, longest] = silences(sound);
        const int64_t fromUs = w.fromMs * 1000, toUs = toMs * 1000;
        const auto firstNote
            = std::lower_bound(scan->noteOnsUs.begin(), scan->noteOnsUs.end(), fromUs);
        QVERIFY2(firstNote != scan->noteOnsUs.end() && *firstNote < toUs, w.name);
        const int64_t allowedLeadMs = (*firstNote - fromUs) / 1000 + kOnsetSlackMs;
        const int64_t allowedRestMs
            = longestRestUs(scan->noteOnsUs, fromUs, toUs) / 1000 + kOnsetSlackMs;
        const QString figures
            = QStringLiteral("%1: silent %2 ms before the first sound (its first note at %3 ms), "
                             "longest silence %4 ms (longest rest %5 ms), %6 clipped samples")
                  .arg(w.name)
                  .arg(lead)
                  .arg((*firstNote - fromUs) / 1000)
                  .arg(longest)
                  .arg(allowedRestMs - kOnsetSlackMs)
                  .arg(sound.clipped);
        qInfo("%s", qPrintable(figures));
        QVERIFY2(lead <= allowedLeadMs, qPrintable(figures));
        QVERIFY2(longest <= allowedRestMs, qPrintable(figures));
        QVERIFY2(sound.clipped == 0, qPrintable(figures));
    }
    m_renderSeq->close();
}

QTEST_GUILESS_MAIN(tst_RealSongs)
#include "tst_realsongs.moc"
