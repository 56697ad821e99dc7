// A SoundFont's outline read without loading it: its own name, and a refusal for what is
// missing, cut short or no SoundFont at all, before the font in use is let go of.

#include "common/Sf2Writer.h"
#include "platform/midi/file/SoundFontFile.h"

#include <QTemporaryDir>
#include <QtTest>

#include <filesystem>
#include <fstream>

using sequora::midi::readSoundFontInfo;
using sequora::midi::SoundFontInfo;
using sequora::test::Sf2Writer;
using Problem = SoundFontInfo::Problem;

class tst_SoundFontFile : public QObject {
    Q_OBJECT

private slots:
    void outline_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("problem");
        QTest::addColumn<QString>("name");
        QTest::newRow("whole") << "whole" << int(Problem::None) << "Test Font";
        QTest::newRow("cut in its samples") << "cut" << int(Problem::CutShort) << "";
        QTest::newRow("header only") << "header" << int(Problem::CutShort) << "";
        QTest::newRow("a MIDI file") << "midi" << int(Problem::NotSoundFont) << "";
        QTest::newRow("a WAVE file") << "wave" << int(Problem::NotSoundFont) << "";
        QTest::newRow("empty") << "empty" << int(Problem::NotSoundFont) << "";
        QTest::newRow("missing") << "missing" << int(Problem::Missing) << "";
        QTest::newRow("a folder") << "folder" << int(Problem::Missing) << "";
    }

    void outline()
    {
        QFETCH(QString, kind);
        QFETCH(int, problem);
        QFETCH(QString, name);
        QTemporaryDir dir;
        const std::string path = dir.filePath(QStringLiteral("font.sf2")).toStdString();
        const Sf2Writer font("Test Font");
        if (kind == "whole")
            font.write(path);
        else if (kind == "cut")
            font.write(path, font.bytes().size() - 200);
        else if (kind == "header")
            font.write(path, 12);
        else if (kind == "midi")
            std::ofstream(path, std::ios::binary) << std::string("MThd\0\0\0\6\0\0\0\1\0\140", 14);
        else if (kind == "wave")
            std::ofstream(path, std::ios::binary) << std::string("RIFF\4\0\0\0WAVE", 12);
        else if (kind == "empty")
            std::ofstream(path, std::ios::binary);
        else if (kind == "folder")
            std::filesystem::create_directory(path);
        const SoundFontInfo info = readSoundFontInfo(path);
        QCOMPARE(int(info.problem), problem);
        QCOMPARE(QString::fromStdString(info.name), name);
        if (info.ok())
            QCOMPARE(info.version, 2);
    }

    void installedFontsReadWhole()
    {
        // The distribution's General MIDI fonts, where installed, by their own names.
        const std::pair<const char*, const char*> fonts[] = {
            { "/usr/share/sounds/sf2/FluidR3_GM.sf2", "Fluid R3 GM" },
            { "/usr/share/sounds/sf2/TimGM6mb.sf2", "TimGM6mb1.sf2" },
        };
        int found = 0;
        for (const auto& [path, name] : fonts) {
            if (!std::filesystem::exists(path))
                continue;
            ++found;
            const SoundFontInfo info = readSoundFontInfo(path);
            QVERIFY2(info.ok(), path);
            QCOMPARE(QString::fromStdString(info.name), QString::fromLatin1(name));
        }
        if (found == 0)
            QSKIP("no General MIDI soundfont installed");
    }
};

QTEST_GUILESS_MAIN(tst_SoundFontFile)
#include "tst_soundfontfile.moc"
