// The editing commands of the playlist editor.

#include "playlist/Form2.h"

#include "platform/FileNames.h"
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

ListBox::Entry Form2::formEntry(const QByteArray& folder, const QByteArray& name)
{
    const QString text
        = formEntry(sequora::platform::displayPath(folder), sequora::platform::displayName(name));
    return { text,
        sequora::platform::bytesToKeep(text, sequora::platform::joinPath(folder, name)) };
}

bool Form2::appendEntries(const QList<ListBox::Entry>& entries)
{
    return insertEntries(PlayList->count(), entries);
}

bool Form2::insertEntries(int row, const QList<ListBox::Entry>& entries)
{
    if (entries.isEmpty())
        return true;
    if (PlayList->count() + qsizetype(entries.size()) > kMaxEntries) {
        sequora::platform::MsgBox(kPlaylistFull, this);
        return false;
    }
    // One insertion for the lot: the list lays itself out once, not once per entry.
    PlayList->insertEntries(row, entries);
    return true;
}

void Form2::Command1_Click()
{
    const ListBox::Entry file = filList->entry(filList->listIndex());
    if (file.text.isEmpty())
        return;
    appendEntries({ formEntry(dirList->nativePath(), file.bytes()) });
}

void Form2::filList_DblClick()
{
    Command1_Click();
}

void Form2::Command7_Click()
{
    const QByteArray folder = dirList->nativePath();
    QList<ListBox::Entry> entries;
    entries.reserve(filList->count());
    for (int i = 0; i < filList->count(); ++i)
        entries.append(formEntry(folder, filList->entry(i).bytes()));
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
    // An entry moves with its bytes.
    const ListBox::Entry kept = PlayList->entry(i);
    PlayList->setEntry(i, PlayList->entry(i - 1));
    PlayList->setEntry(i - 1, kept);
    PlayList->setListIndex(i - 1);
}

void Form2::Command8_Click()
{
    const int i = PlayList->listIndex();
    // With nothing selected there is nothing to move (and no row -1 to write into).
    if (i < 0 || PlayList->listText(i + 1).isEmpty())
        return;
    const ListBox::Entry kept = PlayList->entry(i);
    PlayList->setEntry(i, PlayList->entry(i + 1));
    PlayList->setEntry(i + 1, kept);
    PlayList->setListIndex(i + 1);
}
