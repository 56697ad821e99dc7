// Files and folders dropped on the editor's Playlist: inserted where they are dropped,
// to be handed over with OK like every other edit.

#include "playlist/Form2.h"

#include "platform/desktop/MessageBox.h"
#include "platform/desktop/SongRequests.h"
#include "playlist/ListBox.h"

#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>

bool Form2::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != PlayList->viewport())
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (drag->mimeData() != nullptr && sequora::platform::bringsFiles(*drag->mimeData())
            && sequora::platform::takesInput(*this))
            drag->acceptProposedAction();
        else
            drag->ignore();
        return true;
    }
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        if (drop->mimeData() == nullptr || !sequora::platform::takesInput(*this)) {
            drop->ignore();
            return true;
        }
        drop->acceptProposedAction();
        // Before the row under the pointer; below the last row, at the end.
        const int row = PlayList->indexAt(drop->position().toPoint()).row();
        const sequora::platform::StartRequest dropped
            = sequora::platform::readDrop(*drop->mimeData());
        const bool fitted = insertEntries(row < 0 ? PlayList->count() : row, dropped.entries);
        if (fitted && !dropped.skipped.isEmpty())
            sequora::platform::MsgBox(sequora::platform::skippedMessage(dropped.skipped), this);
        return true;
    }
    default:
        return QWidget::eventFilter(watched, event);
    }
}
