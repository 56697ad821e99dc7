#include "platform/desktop/QtTranslation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QStringList>
#include <QTranslator>

namespace sequora::platform {

namespace {

// Where Debian's qt6-translations-l10n puts it, should Qt's own path say otherwise.
const QString kDistributionFolder = QStringLiteral("/usr/share/qt6/translations");

} // namespace

bool installQtTranslation()
{
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr)
        return false;
    const QLocale japanese(QLocale::Japanese, QLocale::Japan);
    for (const QString& folder :
        { QLibraryInfo::path(QLibraryInfo::TranslationsPath), kDistributionFolder }) {
        auto* translator = new QTranslator(app);
        if (translator->load(japanese, QStringLiteral("qtbase"), QStringLiteral("_"), folder)
            && QCoreApplication::installTranslator(translator))
            return true;
        delete translator;
    }
    return false;
}

} // namespace sequora::platform
