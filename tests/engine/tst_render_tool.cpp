// sequora-render from the outside (exit codes, one-line errors, the WAV it writes) and
// the WAV writer underneath it.

#include "common/LoopedSong.h"
#include "common/SmfWriter.h"
#include "platform/midi/output/WavWriter.h"

#include <QtTest>

#include <cmath>
#include <filesystem>
#include <fstream>

using sequora::midi::WavWriter;

namespace {

struct WavInfo {
    bool ok = false;
    uint16_t channels = 0;
    uint32_t rate = 0;
    uint16_t bits = 0;
    uint32_t riffSize = 0;
    uint32_t dataSize = 0;
    uint64_t fileSize = 0;
    std::vector<int16_t> samples;
};

uint32_t le32(const std::vector<uint8_t>& b, std::size_t at)
{
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}
uint16_t le16(const std::vector<uint8_t>& b, std::size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }

WavInfo readWav(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    WavInfo w;
    if (b.size() < 44 || std::string(b.begin(), b.begin() + 4) != "RIFF" || std::string(b.begin() + 8, b.begin() + 16) != "WAVEfmt ")
        return w;
    w.ok = true;
    w.riffSize = le32(b, 4);
    w.channels = le16(b, 22);
    w.rate = le32(b, 24);
    w.bits = le16(b, 34);
    w.dataSize = le32(b, 40);
    w.fileSize = b.size();
    for (std::size_t i = 44; i + 1 < b.size(); i += 2)
        w.samples.push_back(int16_t(le16(b, i)));
    return w;
}

} // namespace

class TestRenderTool : public QObject {
    Q_OBJECT

private:
    std::filesystem::path m_dir;
    QString m_tool;

    QProcess* run(const QStringList& args)
    {
        auto* p = new QProcess(this);
        p->start(m_tool, args);
        p->waitForFinished(120'000);
        return p;
    }

private slots:
    void init()
    {
        m_dir = std::filesystem::temp_directory_path() / ("sequora-render-" + std::to_string(QCoreApplication::applicationPid()));
        std::filesystem::create_directories(m_dir);
        m_tool = QCoreApplication::applicationDirPath() + "/sequora-render";
    }
    void cleanup() { std::filesystem::remove_all(m_dir); }

    void wavHeaderDescribesTheData()
    {
        WavWriter wav;
        QVERIFY(wav.open((m_dir / "out.wav").string(), 22050, 2));
        std::vector<int16_t> frames{1, -1, 32767, -32768, 1000, -1000};
        QVERIFY(wav.write(frames.data(), 3));
        QVERIFY(wav.write(frames.data(), 2));
        QVERIFY(wav.close());
        const WavInfo w = readWav(m_dir / "out.wav");
        QVERIFY(w.ok);
        QCOMPARE(w.channels, uint16_t(2));
        QCOMPARE(w.rate, uint32_t(22050));
        QCOMPARE(w.bits, uint16_t(16));
        QCOMPARE(w.dataSize, uint32_t(5 * 2 * 2));
        QCOMPARE(w.riffSize, uint32_t(w.fileSize - 8));
        QCOMPARE(w.samples, (std::vector<int16_t>{1, -1, 32767, -32768, 1000, -1000, 1, -1, 32767, -32768}));
    }

    void wavWriterReportsAnUnwritablePath()
    {
        WavWriter wav;
        QVERIFY(!wav.open((m_dir / "no" / "such" / "dir.wav").string(), 44100, 2));
        QVERIFY(!wav.error().empty());
    }

    void rendersASongToItsLengthPlusATail()
    {
        if (!QFileInfo::exists(m_tool))
            QSKIP("sequora-render is not built");
        sequora::test::SmfWriter smf(0, 480);
        smf.addTrack().tempo(0, 500000).programChange(0, 0, 0)
            .noteOn(0, 0, 60, 110).noteOff(960, 0, 60).endOfTrack(0); // 1 s of song
        smf.writeFile(m_dir / "one second.mid");
        QProcess* p = run({QString::fromStdString((m_dir / "one second.mid").string()),
                           QString::fromStdString((m_dir / "out.wav").string()), "--rate", "22050"});
        QCOMPARE(p->exitCode(), 0);
        QVERIFY(p->readAllStandardError().isEmpty());
        const WavInfo w = readWav(m_dir / "out.wav");
        QVERIFY(w.ok);
        QCOMPARE(w.rate, uint32_t(22050));
        QCOMPARE(w.channels, uint16_t(2));
        const std::size_t frames = w.samples.size() / 2;
        QCOMPARE(frames, std::size_t(22050 + 22050 * 3 / 2)); // the song, then 1.5 s of tail
        // The note is heard, and has died away by the end of the tail.
        const auto loudest = [&](std::size_t from, std::size_t to) {
            int p = 0;
            for (std::size_t i = from * 2; i < to * 2; ++i)
                p = std::max(p, std::abs(int(w.samples[i])));
            return p;
        };
        QVERIFY(loudest(0, 22050) > 1000);
        QVERIFY(loudest(frames - 2205, frames) < loudest(0, 22050) / 50);
    }

    void aLoopedSongRendersAsThePlayerPlaysIt_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("lengthMs"); // -1: refused
        // Intro 3.84 s, loop 15.84 s, ending 2.4 s.
        QTest::newRow("by default twice, then 8 s of fade")
            << QStringList {} << 3840 + 2 * 15840 + 8000;
        QTest::newRow("once: the file as written") << QStringList { "--loops", "1" } << 22080;
        QTest::newRow("three times, no fade: the ending follows")
            << QStringList { "--loops", "3", "--fade", "0" } << 22080 + 2 * 15840;
        QTest::newRow("nine times, 20 s of fade")
            << QStringList { "--loops", "9", "--fade", "20" } << 3840 + 9 * 15840 + 20000;
        QTest::newRow("no passes") << QStringList { "--loops", "0" } << -1;
        QTest::newRow("ten passes") << QStringList { "--loops", "10" } << -1;
        QTest::newRow("a fade too long") << QStringList { "--fade", "21" } << -1;
        QTest::newRow("a fade of words") << QStringList { "--fade", "long" } << -1;
    }
    void aLoopedSongRendersAsThePlayerPlaysIt()
    {
        if (!QFileInfo::exists(m_tool))
            QSKIP("sequora-render is not built");
        QFETCH(QStringList, options);
        QFETCH(int, lengthMs);
        sequora::test::SmfWriter::writeBytes(
            m_dir / "game.mid", sequora::test::loopedSong(sequora::test::LoopMark::Markers));
        constexpr int kRate = 8000; // a quick render: only the length counts here
        QProcess* p = run(QStringList { QString::fromStdString((m_dir / "game.mid").string()),
                              QString::fromStdString((m_dir / "out.wav").string()), "--rate",
                              QString::number(kRate) }
            + options);
        if (lengthMs < 0) {
            QVERIFY(p->exitCode() != 0);
            QVERIFY(p->readAllStandardError().startsWith("sequora-render: "));
            return;
        }
        QCOMPARE(p->exitCode(), 0);
        const WavInfo w = readWav(m_dir / "out.wav");
        QCOMPARE(
            w.samples.size() / 2, std::size_t(int64_t(lengthMs) * kRate / 1000 + kRate * 3 / 2));
    }

    void refusesWhatItCannotPlay_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("name");
        QTest::newRow("text file") << QByteArray("hello, this is not music\n") << "notes.mid";
        QTest::newRow("empty file") << QByteArray() << "empty.mid";
        QTest::newRow("missing file") << QByteArray("-") << "";
    }
    void refusesWhatItCannotPlay()
    {
        if (!QFileInfo::exists(m_tool))
            QSKIP("sequora-render is not built");
        QFETCH(QByteArray, content);
        QFETCH(QString, name);
        std::filesystem::path in = m_dir / "missing.mid";
        if (!name.isEmpty()) {
            in = m_dir / name.toStdString();
            std::ofstream(in, std::ios::binary).write(content.constData(), content.size());
        }
        QProcess* p = run({QString::fromStdString(in.string()), QString::fromStdString((m_dir / "out.wav").string())});
        QCOMPARE(p->exitStatus(), QProcess::NormalExit);
        QVERIFY(p->exitCode() != 0);
        const QByteArray err = p->readAllStandardError();
        QCOMPARE(err.count('\n'), 1);
        QVERIFY(err.startsWith("sequora-render: "));
        QVERIFY(!std::filesystem::exists(m_dir / "out.wav"));
    }

    void followsTheSoundSettings_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QString>("measure"); // what changes against the default settings
        QTest::addColumn<double>("changeDb");
        QTest::newRow("level -6 dB") << QByteArray("[sound]\nlevel_db=-6\n") << "note" << -6.0;
        QTest::newRow("level +3 dB") << QByteArray("[sound]\nlevel_db=3\n") << "note" << 3.0;
        QTest::newRow("level +6 dB, a loud note")
            << QByteArray("[sound]\nlevel_db=6\n") << "ceiling" << 0.0;
        QTest::newRow("reverb and chorus off")
            << QByteArray("[sound]\nreverb=false\nchorus=false\n") << "tail" << -20.0;
        QTest::newRow("another soundfont")
            << QByteArray("[sound]\nsoundfont=/usr/share/sounds/sf2/TimGM6mb.sf2\n") << "differs"
            << 0.0;
    }

    // The player's settings, kept by a run of the window, are what a later process reads:
    // rendered with them, a song sounds as the player plays it.
    void followsTheSoundSettings()
    {
        QFETCH(QByteArray, settings);
        QFETCH(QString, measure);
        QFETCH(double, changeDb);
        for (const char* font :
            { "/usr/share/sounds/sf2/FluidR3_GM.sf2", "/usr/share/sounds/sf2/TimGM6mb.sf2" }) {
            if (!std::filesystem::exists(font))
                QSKIP("needs FluidR3_GM and TimGM6mb");
        }
        // A piano note held for a second, then a second of its release and reverb.
        sequora::test::SmfWriter smf(0, 500);
        smf.addTrack()
            .programChange(0, 0, 0)
            .noteOn(0, 0, 60, 80)
            .noteOff(1000, 0, 60)
            .endOfTrack(1000);
        smf.writeFile(m_dir / "note.mid");
        const auto render = [&](const QByteArray& ini, const char* out) {
            const std::filesystem::path config = m_dir / (std::string(out) + "-config");
            std::filesystem::create_directories(config / "sequora");
            std::ofstream(config / "sequora" / "sequora.ini", std::ios::binary)
                << ini.toStdString();
            QProcess p;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("XDG_CONFIG_HOME", QString::fromStdString(config.string()));
            env.remove("SEQUORA_SOUNDFONT");
            p.setProcessEnvironment(env);
            p.start(m_tool,
                { QString::fromStdString((m_dir / "note.mid").string()),
                    QString::fromStdString((m_dir / out).string()) });
            p.waitForFinished(120'000);
            return readWav(m_dir / out);
        };
        const WavInfo plain = render(QByteArray(), "plain.wav");
        const WavInfo set = render(settings, "set.wav");
        QVERIFY(plain.ok && set.ok);
        QCOMPARE(set.samples.size(), plain.samples.size());
        const auto rmsDb = [](const WavInfo& w, double from, double to) {
            const std::size_t a = std::size_t(from * w.rate) * 2;
            const std::size_t b = std::min(w.samples.size(), std::size_t(to * w.rate) * 2);
            double sum = 0;
            for (std::size_t i = a; i < b; ++i)
                sum += double(w.samples[i]) * w.samples[i];
            return 10 * std::log10(sum / double(b - a) + 1e-9);
        };
        // However loud the level, no peak passes the limiter's ceiling (-0.5 dBFS).
        for (const int16_t v : set.samples)
            QVERIFY(std::abs(int(v)) <= 30934);
        if (measure == "note")
            QVERIFY(std::abs(rmsDb(set, 0.1, 0.9) - rmsDb(plain, 0.1, 0.9) - changeDb) < 0.5);
        else if (measure == "ceiling")
            QVERIFY(rmsDb(set, 0.1, 0.9) > rmsDb(plain, 0.1, 0.9));
        else if (measure == "tail")
            QVERIFY(rmsDb(set, 1.6, 2.4) - rmsDb(plain, 1.6, 2.4) < changeDb);
        else
            QVERIFY(set.samples != plain.samples);
    }

    void usageErrors()
    {
        if (!QFileInfo::exists(m_tool))
            QSKIP("sequora-render is not built");
        QVERIFY(run({})->exitCode() != 0);
        QVERIFY(run({"only-one.mid"})->exitCode() != 0);
        QVERIFY(run({"a.mid", "b.wav", "--rate", "fast"})->exitCode() != 0);
        QVERIFY(run({"a.mid", "b.wav", "--soundfont", "/no/such.sf2"})->exitCode() != 0);
    }
};

QTEST_GUILESS_MAIN(TestRenderTool)
#include "tst_render_tool.moc"
