// The player's side of the playlist editor: opening it, and taking its Playlist over.

#include "player/Form1.h"

#include "platform/FileNames.h"
#include "playlist/Form2.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStandardItemModel>

using sequora::platform::kNativeNameRole;
using sequora::platform::NamedPath;

namespace {

// Appends entries with their bytes to the track selector in one insertion, as addItems
// would append their texts.
void appendToSelector(QComboBox& combo, const QList<NamedPath>& entries)
{
    auto* model = qobject_cast<QStandardItemModel*>(combo.model());
    if (model == nullptr) {
        for (const NamedPath& entry : entries) {
            combo.addItem(entry.text);
            if (!entry.native.isEmpty())
                combo.setItemData(combo.count() - 1, entry.native, kNativeNameRole);
        }
        return;
    }
    QList<QStandardItem*> items;
    items.reserve(entries.size());
    for (const NamedPath& entry : entries) {
        auto* item = new QStandardItem(entry.text);
        if (!entry.native.isEmpty())
            item->setData(entry.native, kNativeNameRole);
        items.append(item);
    }
    model->invisibleRootItem()->appendRows(items);
}

} // namespace

void Form1::mnuFileList_Click()
{
    Text1->setText(QString());
    // Playback under way goes on; only the commands are withdrawn while editing.
    for (QPushButton* button :
        { Command3, Command4, Command6, Command8, Command9, Command11, Command12 })
        button->setEnabled(false);

    if (m_editor == nullptr) {
        m_editor = new Form2(*this);
        m_editor->Form_Load();
        m_editor->show();
    } else if (m_editor->isHidden()) {
        m_editor->show(); // as it was left at OK: no fresh copy
    } else {
        m_editor->raise();
        m_editor->activateWindow();
    }
}

void Form1::Command13_Click()
{
    mnuFileList_Click();
}

QList<NamedPath> Form1::playlistEntries() const
{
    QList<NamedPath> entries;
    entries.reserve(Combo1->count());
    for (int i = 0; i < Combo1->count(); ++i)
        entries.append({ Combo1->itemText(i), Combo1->itemData(i, kNativeNameRole).toByteArray() });
    return entries;
}

void Form1::takePlaylist(const QList<NamedPath>& entries)
{
    {
        // Filling the selector is no choice of track: only the signal below is.
        const QSignalBlocker quiet(Combo1);
        Combo1->clear();
        appendToSelector(*Combo1, entries);
        Combo1->setCurrentIndex(-1);
    }
    setLabel1Caption(QStringLiteral("1"));
}

void Form1::appendToPlaylist(const QList<NamedPath>& entries)
{
    // The current entry stays current: appending chooses no track.
    const QSignalBlocker quiet(Combo1);
    appendToSelector(*Combo1, entries);
}

void Form1::setLabel1Caption(const QString& caption)
{
    // Every write is a signal, also one that leaves the caption as it was: an OK after
    // an OK with an empty Playlist writes "1" over "1" and must still be taken up. The
    // editor's hand-over is an event like a click, so the monitor catches up after it.
    Label1->setText(caption);
    dispatch(&Form1::Label1_Change, this);
}

void Form1::Label1_Change()
{
    if (listText(0).isEmpty())
        return;
    if (Label1->text().trimmed().toInt() != 1)
        return;
    selectEntry(0);
    setLabel1Caption(QStringLiteral("0"));
}
