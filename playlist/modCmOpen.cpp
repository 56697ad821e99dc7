#include "playlist/modCmOpen.h"

#include "platform/desktop/ModalChildScope.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStringList>

namespace modCmOpen {

namespace {

OpenDialogHook& hook()
{
    static OpenDialogHook instance;
    return instance;
}

QString runDialog(QWidget* owner, const QString& filter, const QString& initDir)
{
    // No title: the dialog shows its own. Qt's own dialog, so that the filter matches
    // names in any letter case on every desktop.
    QFileDialog dialog(owner, QString(), initDir, filter);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    // Modal to its owner only: the player window goes on working meanwhile.
    dialog.setWindowModality(owner != nullptr ? Qt::WindowModal : Qt::ApplicationModal);
    // Its owner takes no command and is not deleted until the dialog has returned.
    const sequora::platform::ModalChildScope scope(dialog);
    if (scope.ownerClosed() || dialog.exec() != QDialog::Accepted)
        return QString();
    const QStringList chosen = dialog.selectedFiles();
    return chosen.isEmpty() ? QString() : chosen.first();
}

} // namespace

QString ShowOpenDialog(QWidget* OwnerHwnd, const QString& Filter, const QString& InitDir)
{
    const QString path
        = hook() ? hook()(OwnerHwnd, Filter, InitDir) : runDialog(OwnerHwnd, Filter, InitDir);
    const QFileInfo file(path);
    if (path.isEmpty() || !file.isFile())
        return QString();
    // The dialog leaves the program in the chosen file's folder, so the next dialog and
    // a newly opened editor start there.
    QDir::setCurrent(file.absolutePath());
    return path;
}

void setOpenDialogHook(OpenDialogHook hook_)
{
    hook() = std::move(hook_);
}

} // namespace modCmOpen
