// The sound settings window: opened from the options menu, it lists the outputs and the
// installed soundfonts by name, applies a choice at once and keeps it in the settings
// file, shows what the environment holds, refuses a broken soundfont keeping the one in
// use, and starts from the defaults when the file is damaged.

#include "common/Sf2Writer.h"
#include "options/frmSound.h"
#include "platform/Settings.h"
#include "platform/midi/output/Output.h"
#include "platform/midi/transport/Sequencer.h"
#include "player/PlayerTestKit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QtTest>

#include <memory>

using namespace sequora::test;
using sequora::midi::SoundSetup;
using sequora::platform::PlayerSettings;

namespace {

QString settingsText()
{
    QFile file(sequora::platform::settingsFilePath());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

class tst_frmSound : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.filePath(QStringLiteral("config"))));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.filePath(QStringLiteral("data"))));
        QDir().mkpath(m_home.filePath(QStringLiteral("data/soundfonts")));
        m_userFont = m_home.filePath(QStringLiteral("data/soundfonts/mine.sf2"));
        Sf2Writer("My Own Font").write(m_userFont.toStdString());
        m_broken = m_home.filePath(QStringLiteral("broken.sf2"));
        Sf2Writer("Broken").write(m_broken.toStdString(), 300);
        m_notFont = m_home.filePath(QStringLiteral("notes.sf2"));
        QFile notes(m_notFont);
        QVERIFY(notes.open(QIODevice::WriteOnly));
        notes.write("not a soundfont\n");
        sequora::midi::engine::useManualClock();
    }

    void init()
    {
        QFile::remove(sequora::platform::settingsFilePath());
        qunsetenv("SEQUORA_SOUNDFONT");
        qputenv("SEQUORA_MIDI_OUT", "null");
        m_boxes = std::make_unique<CaughtBoxes>();
    }

    void cleanup()
    {
        frmSound::setBrowseHook({});
        m_window.reset();
        m_boxes.reset();
    }

    void openedFromTheOptionsMenu()
    {
        Form1 form;
        QVERIFY(form.Form_Load());
        const QList<QAction*> items = form.mnuOption->actions();
        QVERIFY(items.size() >= 2);
        QVERIFY(items.at(items.size() - 2)->isSeparator());
        QCOMPARE(items.last(), form.mnuSound);
        QCOMPARE(form.mnuSound->text(), QStringLiteral("音源の設定(&S)..."));
        form.mnuSound->trigger();
        QVERIFY(form.soundWindow() != nullptr);
        QVERIFY(form.soundWindow()->isVisible());
        QCOMPARE(form.soundWindow()->windowTitle(), QStringLiteral("音源の設定"));
        QCOMPARE(form.soundWindow()->cmdCancel->text(), QStringLiteral("ｷｬﾝｾﾙ"));
        QCOMPARE(form.soundWindow()->cmdApply->text(), QStringLiteral("適用"));
        QCOMPARE(form.soundWindow()->cmdBrowse->text(), QStringLiteral("参照..."));
    }

    void listsOutputsAndFontsByName()
    {
        open();
        QCOMPARE(m_window->cboOutput->itemText(0), QStringLiteral("ｿﾌﾄｼﾝｾ (FluidSynth)"));
        QCOMPARE(m_window->cboOutput->itemData(m_window->cboOutput->count() - 1).toString(),
            QStringLiteral("null"));
        QVERIFY(m_window->cboSoundFont->findText(QStringLiteral("My Own Font (mine.sf2)")) >= 0);
        if (QFileInfo::exists(QStringLiteral("/usr/share/sounds/sf2/FluidR3_GM.sf2"))) {
            QVERIFY(m_window->cboSoundFont->findText(QStringLiteral("Fluid R3 GM (FluidR3_GM.sf2)"))
                >= 0);
            // Debian's default-GM.sf2 links to a font listed already: once is enough.
            for (int i = 0; i < m_window->cboSoundFont->count(); ++i)
                QVERIFY(
                    !m_window->cboSoundFont->itemText(i).contains(QStringLiteral("default-GM")));
        }
    }

    void controlsFitTheWindowApart()
    {
        // Both notes of the environment up: the most the window ever shows.
        qputenv("SEQUORA_SOUNDFONT", QFile::encodeName(m_userFont));
        open();
        QVERIFY(m_window->lblEnvironment->text().contains(QStringLiteral("SEQUORA_SOUNDFONT")));
        const QList<QWidget*> controls
            = m_window->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
        QVERIFY(controls.size() >= 13);
        for (int i = 0; i < controls.size(); ++i) {
            const QWidget* one = controls.at(i);
            QVERIFY2(m_window->rect().contains(one->geometry()), qPrintable(one->objectName()));
            for (int j = i + 1; j < controls.size(); ++j) {
                const QWidget* other = controls.at(j);
                QVERIFY2(!one->geometry().intersects(other->geometry()),
                    qPrintable(one->objectName() + QStringLiteral(" over ") + other->objectName()));
            }
        }
        // The note's two lines fit above the buttons.
        const QLabel* note = m_window->lblEnvironment;
        QVERIFY(note->heightForWidth(note->width()) <= note->height());
    }

    void choiceIsAppliedKeptAndReadAgain()
    {
        open();
        // The output the environment holds is shown, and kept as it was in the file.
        QVERIFY(!m_window->cboOutput->isEnabled());
        QVERIFY(m_window->lblEnvironment->text().contains(QStringLiteral("SEQUORA_MIDI_OUT=null")));
        m_window->cboSoundFont->setCurrentIndex(
            m_window->cboSoundFont->findData(QFile::encodeName(m_userFont)));
        m_window->chkReverb->setChecked(false);
        m_window->spnLevel->setValue(-6.5);
        m_window->spnLoops->setValue(3);
        m_window->spnFade->setValue(0);
        m_window->cmdOK_Click();
        QVERIFY2(m_boxes->texts.isEmpty(), qPrintable(m_boxes->texts.join('\n')));

        const PlayerSettings kept = sequora::platform::loadSettings();
        QCOMPARE(kept.sound.soundfont, m_userFont.toStdString());
        QCOMPARE(kept.sound.reverb, false);
        QCOMPARE(kept.sound.chorus, true);
        QCOMPARE(kept.sound.levelDb, -6.5);
        QCOMPARE(int(kept.sound.device), int(SoundSetup::Device::SoftSynth));
        QCOMPARE(kept.loop, (sequora::midi::LoopPlayback { 3, 0 }));
        // The engine took it at once, with the environment's output over it.
        const SoundSetup inUse = sequora::midi::engine::currentSetup();
        QCOMPARE(inUse.soundfont, m_userFont.toStdString());
        QCOMPARE(inUse.levelDb, -6.5);
        QCOMPARE(int(inUse.device), int(SoundSetup::Device::None));
        QCOMPARE(sequora::midi::engine::sequencer().loopPlayback(), kept.loop);

        // Only the level or the effects changed: the same output takes them, no gap.
        const sequora::midi::Output* output = &sequora::midi::engine::sequencer().output();
        PlayerSettings louder = kept;
        louder.sound.levelDb = 2;
        louder.sound.chorus = false;
        QVERIFY(sequora::platform::applySettings(louder).applied());
        QCOMPARE(&sequora::midi::engine::sequencer().output(), output);
        QCOMPARE(sequora::midi::engine::currentSetup().levelDb, 2.0);
        QVERIFY(sequora::platform::applySettings(kept).applied());

        // Opened again, as after a restart: the same choice.
        open();
        QCOMPARE(
            m_window->cboSoundFont->currentData().toByteArray(), QFile::encodeName(m_userFont));
        QVERIFY(!m_window->chkReverb->isChecked());
        QCOMPARE(m_window->spnLevel->value(), -6.5);
        QCOMPARE(m_window->spnLoops->value(), 3);
        QCOMPARE(m_window->spnFade->value(), 0);
    }

    void environmentWins()
    {
        PlayerSettings settings;
        settings.sound.soundfont = m_userFont.toStdString();
        QVERIFY(sequora::platform::saveSettings(settings));
        qputenv("SEQUORA_SOUNDFONT", QFile::encodeName(m_broken));
        QCOMPARE(sequora::platform::effectiveSound(settings).soundfont, m_broken.toStdString());
        qputenv("SEQUORA_SOUNDFONT", "/usr/share/sounds/sf2/TimGM6mb.sf2");
        open();
        QVERIFY(!m_window->cboSoundFont->isEnabled());
        QVERIFY(!m_window->cmdBrowse->isEnabled());
        QCOMPARE(m_window->cboSoundFont->currentData().toByteArray(),
            QByteArray("/usr/share/sounds/sf2/TimGM6mb.sf2"));
        QVERIFY(m_window->lblEnvironment->text().contains(QStringLiteral("SEQUORA_SOUNDFONT=")));
        // What the file keeps is the user's own choice, not the environment's.
        QCOMPARE(m_window->chosen().sound.soundfont, m_userFont.toStdString());
    }

    void brokenSoundFontIsRefused_data()
    {
        QTest::addColumn<QString>("font");
        QTest::addColumn<QString>("reason");
        QTest::newRow("cut short") << m_broken << QStringLiteral("途中で切れています");
        QTest::newRow("not a soundfont") << m_notFont << QStringLiteral("ｻｳﾝﾄﾞﾌｫﾝﾄではありません");
        QTest::newRow("gone") << m_home.filePath(QStringLiteral("gone.sf2"))
                              << QStringLiteral("見つかりません");
    }

    void brokenSoundFontIsRefused()
    {
        QFETCH(QString, font);
        QFETCH(QString, reason);
        PlayerSettings before;
        before.sound.soundfont = m_userFont.toStdString();
        QVERIFY(sequora::platform::applySettings(before).applied());
        const QString file = settingsText();
        const SoundSetup inUse = sequora::midi::engine::currentSetup();

        open();
        frmSound::setBrowseHook([&](const QString&) { return font; });
        m_window->cmdBrowse_Click();
        m_window->cmdOK_Click();
        QCOMPARE(m_boxes->texts.size(), 1);
        QVERIFY(m_boxes->texts.first().contains(QFileInfo(font).fileName()));
        QVERIFY(m_boxes->texts.first().contains(reason));
        // Nothing changed: the window stays open showing the font in use.
        QVERIFY(m_window->isVisible());
        QCOMPARE(
            m_window->cboSoundFont->currentData().toByteArray(), QFile::encodeName(m_userFont));
        QCOMPARE(settingsText(), file);
        QVERIFY(sequora::midi::engine::currentSetup() == inUse);
    }

    void damagedFileGivesDefaults_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<double>("level");
        QTest::addColumn<bool>("reverb");
        QTest::addColumn<int>("loops");
        QTest::addColumn<int>("fadeMs");
        QTest::newRow("binary junk")
            << QByteArray("\x00\xFF[\x01\x02=\n\x80\x81", 10) << 0.0 << true << 2 << 8000;
        QTest::newRow("values out of range")
            << QByteArray("[sound]\nlevel_db=99\nreverb=maybe\noutput=speakers\nloops=0\n"
                          "fade_seconds=21\n")
            << 0.0 << true << 2 << 8000;
        QTest::newRow("one good value among bad ones")
            << QByteArray("[sound]\nlevel_db=-3\nreverb=perhaps\nchorus=\nloops=x\nfade_seconds=-1\n")
            << -3.0 << true << 2 << 8000;
        QTest::newRow("reverb off, loop once, no fade")
            << QByteArray("[sound]\nreverb=false\nloops=1\nfade_seconds=0\n") << 0.0 << false << 1
            << 0;
    }

    void damagedFileGivesDefaults()
    {
        QFETCH(QByteArray, contents);
        QFETCH(double, level);
        QFETCH(bool, reverb);
        QFETCH(int, loops);
        QFETCH(int, fadeMs);
        QDir().mkpath(QFileInfo(sequora::platform::settingsFilePath()).absolutePath());
        QFile file(sequora::platform::settingsFilePath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(contents);
        file.close();
        const PlayerSettings read = sequora::platform::loadSettings();
        QCOMPARE(read.sound.levelDb, level);
        QCOMPARE(read.sound.reverb, reverb);
        QCOMPARE(read.sound.chorus, true);
        QCOMPARE(int(read.sound.device), int(SoundSetup::Device::SoftSynth));
        QCOMPARE(read.sound.soundfont, std::string());
        QCOMPARE(read.loop, (sequora::midi::LoopPlayback { loops, fadeMs }));
        // And the window opens on them; saving writes a whole file again.
        open();
        QCOMPARE(m_window->spnLevel->value(), level);
        QVERIFY(sequora::platform::saveSettings(m_window->chosen()));
        QCOMPARE(sequora::platform::loadSettings(), m_window->chosen());
    }

private:
    void open()
    {
        m_window = std::make_unique<frmSound>();
        m_window->setAttribute(Qt::WA_DeleteOnClose, false);
        m_window->Form_Load();
        m_window->show();
    }

    QTemporaryDir m_home;
    QString m_userFont;
    QString m_broken;
    QString m_notFont;
    std::unique_ptr<CaughtBoxes> m_boxes;
    std::unique_ptr<frmSound> m_window;
};

QTEST_MAIN(tst_frmSound)
#include "tst_frmsound.moc"
