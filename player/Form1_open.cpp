// Songs that reach the player from outside: its command line, a second start handing its
// files over the session bus, the media controls' OpenUri, and files dropped on the
// window. All take the editor's way in (the hand-over), then play.

#include "player/Form1.h"

#include "platform/desktop/MessageBox.h"
#include "platform/desktop/SongRequests.h"
#include "playlist/Form2.h"

#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QPushButton>
#include <QTimer>

using sequora::platform::StartRequest;

namespace {

// Requests this close together make one Playlist: a file manager that starts the program
// once a file, or two starts at once, lose none of their files.
constexpr qint64 kBurstMs = 1000;
// How often waiting requests look whether the dialog or box is gone.
constexpr int kPendingRetryMs = 200;

const QString kPlaylistFull
    = QStringLiteral("再生ﾘｽﾄに登録できるのは32767曲までです。これ以上は追加できません。");

} // namespace

void Form1::openSongs(const StartRequest& request, SongSource source)
{
    if (m_unloading || (request.entries.isEmpty() && request.skipped.isEmpty()))
        return;
    m_pendingSongs.append({ request, source });
    takePendingSongs();
}

void Form1::takePendingSongs()
{
    if (m_unloading) {
        m_pendingSongs.clear();
        return;
    }
    if (!sequora::platform::takesInput(*this)) {
        // The box's or dialog's loop runs the timer; nothing is lost meanwhile.
        QTimer::singleShot(kPendingRetryMs, this, &Form1::takePendingSongs);
        return;
    }
    while (!m_pendingSongs.isEmpty() && !m_unloading) {
        const auto [request, source] = m_pendingSongs.takeFirst();
        takeSongs(request, source);
    }
}

void Form1::takeSongs(const StartRequest& request, SongSource source)
{
    const bool join = source == SongSource::Start && m_songsArrived.isValid()
        && m_songsArrived.elapsed() < kBurstMs;
    const bool append = (request.enqueue || join) && Combo1->count() > 0;
    if (source == SongSource::Start)
        m_songsArrived.start();
    else
        m_songsArrived.invalidate();

    const qsizetype room = Form2::kMaxEntries - (append ? Combo1->count() : 0);
    const QList<sequora::platform::NamedPath> entries
        = request.entries.first(std::min(request.entries.size(), std::max<qsizetype>(room, 0)));
    if (!entries.isEmpty()) {
        dispatch([&] {
            if (append) {
                appendToPlaylist(entries);
            } else {
                takePlaylist(entries);
                // A file manager's "open" means "play this"; already playing, the
                // selection has started the new first entry itself.
                if (!request.enqueue && Command3->isEnabled() && !m_unloading)
                    Command3_Click();
            }
        });
        // A hidden editor would show the Playlist of its last OK when opened again.
        if (m_editor != nullptr && m_editor->isHidden())
            m_editor->Form_Load();
    }

    QString message = sequora::platform::skippedMessage(request.skipped);
    if (entries.size() < request.entries.size())
        message += (message.isEmpty() ? QString() : QStringLiteral("\n\n")) + kPlaylistFull;
    if (!message.isEmpty() && !m_unloading)
        sequora::platform::MsgBox(message, this);
}

void Form1::bringToFront()
{
    if (m_unloading)
        return;
    if (isMinimized())
        showNormal();
    show();
    raise();
    activateWindow();
}

void Form1::dragEnterEvent(QDragEnterEvent* event)
{
    dragMoveEvent(event);
}

void Form1::dragMoveEvent(QDragMoveEvent* event)
{
    if (!m_unloading && event->mimeData() != nullptr
        && sequora::platform::bringsFiles(*event->mimeData())
        && sequora::platform::takesInput(*this))
        event->acceptProposedAction();
    else
        event->ignore();
}

void Form1::dropEvent(QDropEvent* event)
{
    if (m_unloading || event->mimeData() == nullptr || !sequora::platform::takesInput(*this)) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    takeSongs(sequora::platform::readDrop(*event->mimeData()), SongSource::Other);
}
