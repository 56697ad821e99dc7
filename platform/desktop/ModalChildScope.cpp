#include "platform/desktop/ModalChildScope.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QHash>
#include <QList>
#include <QTimer>
#include <QWidget>

#include <utility>

namespace sequora::platform {

namespace {

// One per owner window with modal children running, shared by their scopes.
class OwnerLock : public QObject {
public:
    explicit OwnerLock(QWidget& window)
        : m_key(&window)
        , m_window(&window)
    {
        locks().insert(m_key, this);
    }
    ~OwnerLock() override { locks().remove(m_key); }

    static OwnerLock* of(const QWidget& window) { return locks().value(&window); }

    bool closed() const { return m_closed; }

    void enter(QWidget& child)
    {
        const bool childDisabled = child.testAttribute(Qt::WA_ForceDisabled);
        if (m_children.isEmpty())
            lock();
        m_children.append(&child);
        // Disabling the owner disables the windows it parents too: the child is the one
        // of them that goes on working.
        if (!childDisabled)
            child.setEnabled(true);
    }

    /// True when that was the last child: the lock has been lifted.
    bool leave(QWidget* child)
    {
        m_children.removeAll(child);
        m_children.removeAll(nullptr);
        if (!m_children.isEmpty())
            return false;
        unlock();
        return true;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // A screen reader opens a drop-down list whatever its state: shut again at once.
        if (event->type() == QEvent::Show && watched != m_window) {
            for (const QPointer<QComboBox>& list : std::as_const(m_lists)) {
                if (list != nullptr && list->view()->window() == watched)
                    QTimer::singleShot(0, list.data(), &QComboBox::hidePopup);
            }
            return false;
        }
        if (watched != m_window || event->type() != QEvent::DeferredDelete)
            return false;
        // Closed for good under a loop it started: out of sight now, and the windows it
        // owns (its modal children and theirs) end with it so that their loops return;
        // the deletion waits for the last.
        m_closed = true;
        m_window->hide();
        const QWidgetList windows = QApplication::topLevelWidgets();
        for (QWidget* window : windows) {
            if (window != m_window && window->isVisible() && ownedByWindow(*window))
                window->hide();
        }
        return true;
    }

private:
    static QHash<const QWidget*, OwnerLock*>& locks()
    {
        static QHash<const QWidget*, OwnerLock*> instance;
        return instance;
    }

    bool ownedByWindow(const QWidget& window) const
    {
        for (const QWidget* w = window.parentWidget(); w != nullptr; w = w->parentWidget()) {
            if (w == m_window)
                return true;
        }
        return false;
    }

    // A widget or action belongs to the window if no other window (a dialog of its own)
    // lies between them; the window's menus and drop-downs are popups of its own.
    bool ownsWidget(const QWidget& part) const
    {
        for (const QWidget* widget = &part; widget != nullptr; widget = widget->parentWidget()) {
            if (widget == m_window)
                return true;
            if (widget->isWindow() && widget->windowType() != Qt::Popup)
                return false;
        }
        return false;
    }

    bool ownsAction(const QAction& action) const
    {
        QObject* object = action.parent();
        while (object != nullptr && !object->isWidgetType())
            object = object->parent();
        return object != nullptr && ownsWidget(*static_cast<QWidget*>(object));
    }

    void lock()
    {
        if (m_window == nullptr)
            return;
        m_wasDisabled = m_window->testAttribute(Qt::WA_ForceDisabled);
        m_focus = m_window->focusWidget();
        // Menu items answer a screen reader's press whatever the widgets showing them
        // say, so they are disabled in their own right.
        for (QAction* action : m_window->findChildren<QAction*>()) {
            if (action->isEnabled() && ownsAction(*action)) {
                action->setEnabled(false);
                m_actions.append(action);
            }
        }
        // A screen reader selects list rows whatever the list's state: nothing to select.
        for (QAbstractItemView* view : m_window->findChildren<QAbstractItemView*>()) {
            if (ownsWidget(*view)) {
                m_views.append({ view, view->selectionMode() });
                view->setSelectionMode(QAbstractItemView::NoSelection);
            }
        }
        for (QComboBox* list : m_window->findChildren<QComboBox*>()) {
            if (ownsWidget(*list)) {
                m_lists.append(list);
                list->view()->window()->installEventFilter(this);
            }
        }
        m_window->setEnabled(false);
        m_window->installEventFilter(this);
    }

    void unlock()
    {
        if (m_window == nullptr)
            return;
        m_window->removeEventFilter(this);
        for (const QPointer<QComboBox>& list : std::as_const(m_lists)) {
            if (list != nullptr)
                list->view()->window()->removeEventFilter(this);
        }
        for (const auto& [view, mode] : std::as_const(m_views)) {
            if (view != nullptr)
                view->setSelectionMode(mode);
        }
        if (!m_wasDisabled)
            m_window->setEnabled(true);
        for (const QPointer<QAction>& action : std::as_const(m_actions)) {
            if (action != nullptr)
                action->setEnabled(true);
        }
        if (m_closed) {
            // Posted from the procedure that ran the last loop: Qt delivers it once
            // that procedure has returned to the loop below it.
            m_window->deleteLater();
            return;
        }
        // Disabling took the focus away; the control that had it gets it back.
        if (m_focus != nullptr && m_focus->isEnabled())
            m_focus->setFocus(Qt::OtherFocusReason);
    }

    const QWidget* m_key;
    QPointer<QWidget> m_window;
    QList<QPointer<QWidget>> m_children;
    QList<QPointer<QAction>> m_actions;
    QList<std::pair<QPointer<QAbstractItemView>, QAbstractItemView::SelectionMode>> m_views;
    QList<QPointer<QComboBox>> m_lists;
    QPointer<QWidget> m_focus;
    bool m_wasDisabled = false;
    bool m_closed = false;
};

} // namespace

ModalChildScope::ModalChildScope(QWidget& child)
    : m_child(&child)
{
    QWidget* parent = child.parentWidget();
    if (parent == nullptr)
        return;
    QWidget* owner = parent->window();
    OwnerLock* lock = OwnerLock::of(*owner);
    if (lock == nullptr)
        lock = new OwnerLock(*owner);
    lock->enter(child);
    m_lock = lock;
}

ModalChildScope::~ModalChildScope()
{
    auto* lock = static_cast<OwnerLock*>(m_lock.data());
    if (lock != nullptr && lock->leave(m_child.data()))
        delete lock;
}

bool ModalChildScope::ownerClosed() const
{
    const auto* lock = static_cast<const OwnerLock*>(m_lock.data());
    return lock != nullptr && lock->closed();
}

bool runsModalChild(const QWidget& window)
{
    return OwnerLock::of(window) != nullptr;
}

} // namespace sequora::platform
