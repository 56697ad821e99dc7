// The playlist editor's editing commands on its own list.

#include "player/PlayerTestKit.h"
#include "playlist/EditorTestKit.h"
#include "playlist/FileList.h"
#include "playlist/ListBox.h"
#include "playlist/ListWS.h"
#include "playlist/modCmOpen.h"

#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace sequora::test;

class tst_Form2Edit : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void formEntry_data();
    void formEntry();
    void addSelectedKeepsDuplicates();
    void addAllInListOrder();
    void deleteAndClear();
    void moveUpAndDown();
    void refusesPastTheLimit();
    void horizontalExtent();

private:
    ListBox& list() { return *m_editor->PlayList; }
    void fill(const QStringList& entries)
    {
        list().clear();
        list().addItems(entries);
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<CurrentFolderGuard> m_folder;
    std::unique_ptr<Form1> m_player;
    Form2* m_editor = nullptr;
    std::unique_ptr<CaughtBoxes> m_boxes;
};

void tst_Form2Edit::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    for (const char* name : { "a.mid", "b.mid", "c.mid" })
        touch(m_dir->path(), QLatin1String(name));
    m_folder = std::make_unique<CurrentFolderGuard>();
    QDir::setCurrent(m_dir->path());
    m_boxes = std::make_unique<CaughtBoxes>();
    m_player = std::make_unique<Form1>();
    m_editor = &openEditor(*m_player);
    QCOMPARE(m_editor->filList->count(), 3);
}

void tst_Form2Edit::cleanup()
{
    modCmOpen::setOpenDialogHook({});
    m_player.reset(); // takes the editor with it
    m_boxes.reset();
    m_folder.reset();
    m_dir.reset();
}

void tst_Form2Edit::formEntry_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("entry");
    QTest::newRow("root") << "/"
                          << "A.MID"
                          << "/A.MID";
    QTest::newRow("subfolder") << "/home/user/MIDI"
                               << "A.MID"
                               << "/home/user/MIDI/A.MID";
    QTest::newRow("short folder") << "/m"
                                  << "A.MID"
                                  << "/m/A.MID";
    QTest::newRow("blanks and kana") << "/tmp/曲 集"
                                     << "ｿﾅﾀ 1.mid"
                                     << "/tmp/曲 集/ｿﾅﾀ 1.mid";
}

void tst_Form2Edit::formEntry()
{
    QFETCH(QString, folder);
    QFETCH(QString, name);
    QFETCH(QString, entry);
    QCOMPARE(Form2::formEntry(folder, name), entry);
}

void tst_Form2Edit::addSelectedKeepsDuplicates()
{
    m_editor->Command1_Click();
    QCOMPARE(list().count(), 0); // no file selected

    m_editor->filList->setListIndex(1);
    const QString expected = m_dir->filePath("b.mid");
    m_editor->Command1_Click();
    m_editor->Command1_Click();
    m_editor->filList_DblClick();
    QCOMPARE(list().entries(), QStringList(3, expected));
    QVERIFY(m_boxes->texts.isEmpty());
}

void tst_Form2Edit::addAllInListOrder()
{
    fill({ "/x/first.mid" });
    m_editor->Command7_Click();
    QCOMPARE(list().entries(),
        (QStringList { "/x/first.mid", m_dir->filePath("a.mid"), m_dir->filePath("b.mid"),
            m_dir->filePath("c.mid") }));

    // A folder with no MIDI files adds nothing.
    QTemporaryDir empty;
    touch(empty.path(), "notes.txt");
    m_editor->filList->setPath(empty.path());
    m_editor->Command7_Click();
    QCOMPARE(list().count(), 4);
}

void tst_Form2Edit::deleteAndClear()
{
    fill({ "/1.mid", "/2.mid", "/3.mid" });
    m_editor->Command4_Click(); // nothing selected
    QCOMPARE(list().count(), 3);

    list().setListIndex(1);
    m_editor->Command4_Click();
    QCOMPARE(list().entries(), (QStringList { "/1.mid", "/3.mid" }));
    QCOMPARE(list().listIndex(), -1);

    m_editor->Command5_Click();
    QCOMPARE(list().count(), 0);
}

void tst_Form2Edit::moveUpAndDown()
{
    const QStringList start { "/1.mid", "/2.mid", "/3.mid" };
    fill(start);
    // No selection, up from the first, down from the last: nothing moves.
    m_editor->Command9_Click();
    m_editor->Command8_Click();
    list().setListIndex(0);
    m_editor->Command9_Click();
    list().setListIndex(2);
    m_editor->Command8_Click();
    QCOMPARE(list().entries(), start);
    QCOMPARE(list().listIndex(), 2);

    // The moved entry stays selected.
    m_editor->Command9_Click();
    m_editor->Command9_Click();
    QCOMPARE(list().entries(), (QStringList { "/3.mid", "/1.mid", "/2.mid" }));
    QCOMPARE(list().listIndex(), 0);
    m_editor->Command8_Click();
    QCOMPARE(list().entries(), (QStringList { "/1.mid", "/3.mid", "/2.mid" }));
    QCOMPARE(list().listIndex(), 1);
}

void tst_Form2Edit::refusesPastTheLimit()
{
    QStringList many;
    for (int i = 0; i < Form2::kMaxEntries - 2; ++i)
        many.append(QStringLiteral("/m/%1.mid").arg(i));
    fill(many);

    // Three more would pass the limit: none of them is added.
    m_editor->Command7_Click();
    QCOMPARE(list().count(), Form2::kMaxEntries - 2);
    QCOMPARE(m_boxes->texts.size(), 1);
    QCOMPARE(m_boxes->captions.first(), QStringLiteral("Sequora"));
    QVERIFY(m_boxes->texts.first().contains(QLatin1String("32767")));
    QCOMPARE(list().listText(0), QStringLiteral("/m/0.mid"));

    // Up to the limit itself is fine.
    m_editor->filList->setListIndex(0);
    m_editor->Command1_Click();
    m_editor->filList_DblClick();
    QCOMPARE(list().count(), Form2::kMaxEntries);
    QCOMPARE(m_boxes->texts.size(), 1);

    // Full: every way of adding is refused with the message.
    m_editor->Command1_Click();
    modCmOpen::setOpenDialogHook(
        [this](QWidget*, const QString&, const QString&) { return m_dir->filePath("a.mid"); });
    m_editor->Command6_Click();
    QCOMPARE(list().count(), Form2::kMaxEntries);
    QCOMPARE(m_boxes->texts.size(), 3);
    QCOMPARE(list().listText(Form2::kMaxEntries - 1), m_dir->filePath("a.mid"));
}

void tst_Form2Edit::horizontalExtent()
{
    m_editor->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_editor));
    ListBox& box = list();
    QScrollBar* bar = box.horizontalScrollBar();
    const int visible = box.viewport()->width();
    QVERIFY(visible < Form2::kPlayListExtent);
    // Set on load: the empty list already scrolls sideways to 500 pixels.
    QTRY_COMPARE(bar->maximum(), Form2::kPlayListExtent - visible);

    // An entry wider than the extent, added after narrow ones, is drawn whole and can be
    // scrolled all the way into view.
    const QString longPath = "/" + QString(100, QChar(0x66F2)) + ".mid"; // 曲 x 100
    fill({ "/a.mid", "/b.mid" });
    list().addItems({ longPath, "/c.mid" });
    const int wide = box.fontMetrics().horizontalAdvance(longPath);
    QVERIFY(wide > Form2::kPlayListExtent);
    QTRY_VERIFY(bar->maximum() >= wide - visible);
    QVERIFY(box.visualItemRect(box.item(2)).width() >= wide);

    // Other messages, and windows that are no list box, are left alone.
    ListWS::SendMessageA(&box, 0x180, 40, 0);
    ListWS::SendMessageA(m_editor->Command1, ListWS::LB_SETHORIZONTALEXTENT, 40, 0);
    QCOMPARE(box.horizontalExtent(), Form2::kPlayListExtent);
    ListWS::SendMessageA(&box, ListWS::LB_SETHORIZONTALEXTENT, 0, 0);
    fill({});
    QTRY_COMPARE(bar->maximum(), 0);
}

QTEST_MAIN(tst_Form2Edit)
#include "tst_form2_edit.moc"
