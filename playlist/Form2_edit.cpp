// The editing commands of the playlist editor.

#include "playlist/Form2.h"

#include "platform/desktop/MessageBox.h"
#include "playlist/DirList.h"
#include "playlist/FileList.h"
#include "playlist/ListBox.h"

namespace {

const QString kPlaylistFull
    = QStringLiteral("再生ﾘｽﾄに登録できるのは32767曲までです。これ以上は追加できません。");

} // namespace

QString Form2::formEntry(const QString& folder, const QString& name)
{
    if (folder.endsWith(QLatin1Char('/')))
        return folder + name;
    return folder + QLatin1Char('/') + name;
}

bool Form2::appendEntries(const QStringList& entries)
{
    if (entries.isEmpty())
        return true;
    if (PlayList->count() + qsizetype(entries.size()) > kMaxEntries) {
        sequora::platform::MsgBox(kPlaylistFull, this);
        return false;
    }
    // One insertion for the lot: the list lays itself out once, not once per entry.
    PlayList->addItems(entries);
    return true;
}

void Form2::Command1_Click()
{
    const QString name = filList->listText(filList->listIndex());
    if (name.isEmpty())
        return;
    appendEntries({ formEntry(dirList->path(), name) });
}

void Form2::filList_DblClick()
{
    Command1_Click();
}

void Form2::Command7_Click()
{
    const QString folder = dirList->path();
    QStringList entries;
    entries.reserve(filList->count());
    for (int i = 0; i < filList->count(); ++i)
        entries.append(formEntry(folder, filList->listText(i)));
    appendEntries(entries);
}

void Form2::Command4_Click()
{
    const int selected = PlayList->listIndex();
    if (PlayList->listText(selected).isEmpty())
        return;
    delete PlayList->takeItem(selected);
    PlayList->setListIndex(-1);
}

void Form2::Command5_Click()
{
    PlayList->clear();
}

void Form2::Command9_Click()
{
    const int i = PlayList->listIndex();
    if (i < 1)
        return;
    const QString kept = PlayList->listText(i);
    PlayList->item(i)->setText(PlayList->listText(i - 1));
    PlayList->item(i - 1)->setText(kept);
    PlayList->setListIndex(i - 1);
}

void Form2::Command8_Click()
{
    const int i = PlayList->listIndex();
    // With nothing selected there is nothing to move (and no row -1 to write into).
    if (i < 0 || PlayList->listText(i + 1).isEmpty())
        return;
    const QString kept = PlayList->listText(i);
    PlayList->item(i)->setText(PlayList->listText(i + 1));
    PlayList->item(i + 1)->setText(kept);
    PlayList->setListIndex(i + 1);
}
