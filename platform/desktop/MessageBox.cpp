#include "platform/desktop/MessageBox.h"

#include "platform/desktop/ModalChildScope.h"

#include <QMessageBox>

namespace sequora::platform {

namespace {
MessageBoxHook& hook()
{
    static MessageBoxHook instance;
    return instance;
}
} // namespace

void MsgBox(const QString& text, QWidget* parent)
{
    if (hook()) {
        hook()(text, kAppTitle);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, kAppTitle, text, QMessageBox::Ok, parent);
    // Its owner takes no command and is not deleted until the box has returned.
    const ModalChildScope scope(box);
    if (!scope.ownerClosed())
        box.exec();
}

void setMessageBoxHook(MessageBoxHook hook_)
{
    hook() = std::move(hook_);
}

} // namespace sequora::platform
