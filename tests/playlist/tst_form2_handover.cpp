// Opening the editor from the player, and the hand-over of its Playlist on OK.

#include "player/PlayerTestKit.h"
#include "playlist/EditorTestKit.h"
#include "playlist/FileList.h"
#include "playlist/ListBox.h"

#include <QLabel>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace sequora::test;

namespace {

QStringList comboEntries(const Form1& form)
{
    QStringList entries;
    for (int i = 0; i < form.Combo1->count(); ++i)
        entries << form.Combo1->itemText(i);
    return entries;
}

bool noTransport(const Form1& form)
{
    for (const QPushButton* button : { form.Command3, form.Command4, form.Command6, form.Command8,
             form.Command9, form.Command11, form.Command12 }) {
        if (button->isEnabled())
            return false;
    }
    return true;
}

bool devicePlays(Form1& form)
{
    return form.device().Mode() == "PLAYING";
}

} // namespace

class tst_Form2Handover : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void openingWithdrawsTransportButNotPlayback();
    void okHandsOverAndLoadsEntryZero();
    void emptyOkLeavesPlaybackAlone();
    void cancelAndCloseBoxDiscard();
    void reopenAfterOkShowsEditorAsLeft();
    void editorGoesWithPlayer();

private:
    /// The player with a loaded Playlist of the first `count` songs, playing if asked.
    void startWith(int count, bool playing);

    QTemporaryDir m_dir;
    QStringList m_songs;
    std::unique_ptr<CurrentFolderGuard> m_folder;
    std::unique_ptr<CaughtBoxes> m_boxes;
    std::unique_ptr<Form1> m_form;
};

void tst_Form2Handover::initTestCase()
{
    QVERIFY(m_dir.isValid());
    sequora::midi::engine::useManualClock();
    // Listed by name in the editor: one.mid, Three.MID, two.mid.
    m_songs = { writeSong(m_dir, "one.mid", 600), writeSong(m_dir, "Three.MID", 700),
        writeSong(m_dir, "two.mid", 800) };
    QDir().mkpath(m_dir.filePath("sub"));
    writeSong(m_dir, "sub/four.mid", 900);
}

void tst_Form2Handover::init()
{
    m_folder = std::make_unique<CurrentFolderGuard>();
    QDir::setCurrent(m_dir.path());
    m_boxes = std::make_unique<CaughtBoxes>();
    m_form = std::make_unique<Form1>();
    QVERIFY(m_form->Form_Load());
}

void tst_Form2Handover::cleanup()
{
    m_form.reset();
    QVERIFY2(m_boxes->texts.isEmpty(), qPrintable(m_boxes->texts.join('\n')));
    m_boxes.reset();
    m_folder.reset();
}

void tst_Form2Handover::startWith(int count, bool playing)
{
    setPlaylist(*m_form, m_songs.mid(0, count));
    if (playing) {
        m_form->Command3_Click();
        advance(*m_form, 1000);
        QVERIFY(devicePlays(*m_form));
    }
}

void tst_Form2Handover::openingWithdrawsTransportButNotPlayback()
{
    startWith(2, true);
    const qint64 before = position(*m_form);
    m_form->Command13_Click();
    Form2* editor = m_form->editor();
    QVERIFY(editor != nullptr);
    QVERIFY(editor->isVisible());
    QVERIFY(editor->parent() == nullptr);
    QCOMPARE(editor->PlayList->entries(), comboEntries(*m_form));
    QVERIFY(m_form->Text1->text().isEmpty());
    QVERIFY(noTransport(*m_form));
    QVERIFY(m_form->Command13->isEnabled());
    QVERIFY(m_form->Combo1->isEnabled());

    // The song goes on while the editor is open.
    advance(*m_form, 1000);
    QVERIFY(devicePlays(*m_form));
    QVERIFY(position(*m_form) > before);

    // Opening again, from the toolbar, only brings the same window forward.
    editor->PlayList->setListIndex(1);
    m_form->tbToolBar_ButtonClick("ListEdit");
    QCOMPARE(m_form->editor().data(), editor);
    QVERIFY(editor->isVisible());
    QCOMPARE(editor->PlayList->listIndex(), 1);
}

void tst_Form2Handover::okHandsOverAndLoadsEntryZero()
{
    Form2& editor = openEditor(*m_form);
    QCOMPARE(m_form->Label1->text(), QString());
    editor.Command7_Click();
    editor.filList->setListIndex(2);
    editor.Command1_Click(); // two.mid twice
    editor.PlayList->setListIndex(1);
    editor.Command9_Click(); // Three.MID first
    const QStringList expected { m_songs[1], m_songs[0], m_songs[2], m_songs[2] };
    QCOMPARE(editor.PlayList->entries(), expected);

    editor.Command2_Click();
    QCOMPARE(comboEntries(*m_form), expected);
    QCOMPARE(m_form->Combo1->currentIndex(), 0);
    QCOMPARE(m_form->Text1->text(), expected[0]);
    QCOMPARE(m_form->Label1->text(), QStringLiteral("0"));
    QCOMPARE(m_form->Label7->text(), QStringLiteral("[01]"));
    QVERIFY(isLoaded(*m_form));
    QCOMPARE(QString::fromStdString(m_form->device().FileName()), expected[0]);
    QCOMPARE(m_form->device().Length(), 700); // the file really is open on the device
    QVERIFY(!devicePlays(*m_form));
    // Hidden, not unloaded.
    QCOMPARE(m_form->editor().data(), &editor);
    QVERIFY(editor.isHidden());
}

void tst_Form2Handover::emptyOkLeavesPlaybackAlone()
{
    startWith(2, true);
    Form2& editor = openEditor(*m_form);
    editor.Command5_Click();
    editor.Command2_Click();
    QCOMPARE(m_form->Combo1->count(), 0);
    QCOMPARE(m_form->Combo1->currentIndex(), -1);
    QCOMPARE(m_form->Label1->text(), QStringLiteral("1"));
    QVERIFY(m_form->Text1->text().isEmpty());
    QVERIFY(noTransport(*m_form));
    QVERIFY(devicePlays(*m_form));
    advance(*m_form, 500);
    QVERIFY(devicePlays(*m_form));

    // The next OK with entries is taken over although the signal already reads "1";
    // the song playing meanwhile makes the new first entry start at once.
    Form2& again = openEditor(*m_form);
    QCOMPARE(&again, &editor);
    QCOMPARE(again.PlayList->count(), 0);
    again.filList->setListIndex(0);
    again.Command1_Click();
    again.Command2_Click();
    QCOMPARE(comboEntries(*m_form), QStringList { m_songs[0] });
    QCOMPARE(m_form->Label1->text(), QStringLiteral("0"));
    QCOMPARE(m_form->Text1->text(), m_songs[0]);
    QVERIFY(isPlaying(*m_form));
    QCOMPARE(position(*m_form), 0);
}

void tst_Form2Handover::cancelAndCloseBoxDiscard()
{
    startWith(2, false);
    const QStringList playlist = comboEntries(*m_form);
    Form2* editor = &openEditor(*m_form);
    editor->Command5_Click();
    editor->Command7_Click();
    editor->Command3_Click();
    QTRY_VERIFY(m_form->editor().isNull());
    QCOMPARE(comboEntries(*m_form), playlist);
    QCOMPARE(m_form->Combo1->currentIndex(), 0);
    QCOMPARE(m_form->Label1->text(), QString());
    QVERIFY(noTransport(*m_form)); // as opening left them

    // Loaded anew from the player's Playlist, not from the discarded edit.
    editor = &openEditor(*m_form);
    QCOMPARE(editor->PlayList->entries(), playlist);
    editor->Command5_Click();
    QVERIFY(editor->close()); // the close box
    QTRY_VERIFY(m_form->editor().isNull());
    QCOMPARE(comboEntries(*m_form), playlist);
    QCOMPARE(openEditor(*m_form).PlayList->entries(), playlist);
}

void tst_Form2Handover::reopenAfterOkShowsEditorAsLeft()
{
    Form2& editor = openEditor(*m_form);
    QVERIFY(doubleClickFolder(*editor.dirList, m_dir.filePath("sub")));
    editor.Command7_Click();
    editor.Command7_Click();
    editor.PlayList->setListIndex(1);
    editor.Command2_Click();

    // Neither a moved current folder nor a changed selection in the player reloads it.
    QTemporaryDir elsewhere;
    QDir::setCurrent(elsewhere.path());
    m_form->selectEntry(1);
    m_form->mnuFileList_Click();
    QCOMPARE(m_form->editor().data(), &editor);
    QVERIFY(editor.isVisible());
    QCOMPARE(editor.PlayList->entries(), comboEntries(*m_form));
    QCOMPARE(editor.PlayList->listIndex(), 1);
    QCOMPARE(editor.dirList->path(), m_dir.filePath("sub"));
    QCOMPARE(editor.filList->entries(), QStringList { "four.mid" });
}

void tst_Form2Handover::editorGoesWithPlayer()
{
    QPointer<Form2> editor = &openEditor(*m_form);
    editor->Command2_Click(); // hidden, still loaded
    QVERIFY(!editor.isNull());
    m_form.reset();
    QVERIFY(editor.isNull());
}

QTEST_MAIN(tst_Form2Handover)
#include "tst_form2_handover.moc"
