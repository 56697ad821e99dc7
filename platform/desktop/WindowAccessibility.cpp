#include "platform/desktop/WindowAccessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QWidget>

namespace sequora::platform {

QAccessibleInterface* windowAccessibleFactory(const QString& className, QObject* object)
{
    // Qt asks for each class of the object's hierarchy, the most derived first; a
    // window class it knows (QMainWindow, QDialog) is answered before it reaches QWidget.
    if (className != QLatin1String("QWidget") || object == nullptr || !object->isWidgetType())
        return nullptr;
    auto* widget = static_cast<QWidget*>(object);
    // Popups, tool tips and tool windows keep their own roles.
    if (widget->windowType() != Qt::Window)
        return nullptr;
    // For a window QAccessibleWidget names it by its caption.
    return new QAccessibleWidget(widget, QAccessible::Window);
}

void installWindowAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(&windowAccessibleFactory);
        return true;
    }();
    (void)installed;
}

} // namespace sequora::platform
