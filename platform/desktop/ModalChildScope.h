#pragma once
// The owner of a modal child (a message box, the open dialog) for as long as the
// child's event loop runs. The owner window takes no command by any way meanwhile, as
// the owner of a modal dialog is disabled while it runs: the mouse and keys, a screen
// reader's actions, the media controls and clicks from code all find its controls and
// menu items not enabled, and a screen reader says so. Nor is it deleted under that
// loop: closed meanwhile, it hides at once, its modal children end, and it is deleted
// once the last loop that it started has returned.

#include <QPointer>

class QObject;
class QWidget;

namespace sequora::platform {

class ModalChildScope {
public:
    /// child: the dialog about to run its loop. Its owner is its parent's window; a
    /// child without a parent has no owner and the scope changes nothing.
    explicit ModalChildScope(QWidget& child);
    ~ModalChildScope();
    ModalChildScope(const ModalChildScope&) = delete;
    ModalChildScope& operator=(const ModalChildScope&) = delete;

    /// True once the owner has been closed for good: the child has nothing left to ask.
    bool ownerClosed() const;

private:
    QPointer<QObject> m_lock;
    QPointer<QWidget> m_child;
};

/// True while a modal child of window runs its loop under a ModalChildScope.
bool runsModalChild(const QWidget& window);

} // namespace sequora::platform
