#include "platform/desktop/Fonts.h"

#include <QFontDatabase>
#include <QStringList>

namespace sequora::platform {

namespace {

QString firstInstalled(const QStringList& families)
{
    const QStringList installed = QFontDatabase::families();
    for (const QString& family : families) {
        if (installed.contains(family, Qt::CaseInsensitive))
            return family;
    }
    return {};
}

QFont make(const QStringList& families, double pointSize, int weight, bool fixedPitch)
{
    QFont font;
    const QString family = firstInstalled(families);
    if (!family.isEmpty())
        font.setFamily(family);
    else
        font.setStyleHint(fixedPitch ? QFont::Monospace : QFont::SansSerif);
    font.setFixedPitch(fixedPitch);
    font.setPointSizeF(pointSize);
    font.setWeight(static_cast<QFont::Weight>(weight));
    return font;
}

} // namespace

QFont gothicFont(double pointSize, int weight)
{
    static const QStringList families = {
        QStringLiteral("ＭＳ ゴシック"), QStringLiteral("MS Gothic"),
        QStringLiteral("IPAGothic"),      QStringLiteral("IPAゴシック"),
        QStringLiteral("Noto Sans Mono CJK JP"), QStringLiteral("VL Gothic"),
        QStringLiteral("Takao Gothic"),
    };
    return make(families, pointSize, weight, true);
}

QFont pGothicFont(double pointSize, int weight)
{
    static const QStringList families = {
        QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("MS PGothic"),
        QStringLiteral("IPAPGothic"),      QStringLiteral("IPAPゴシック"),
        QStringLiteral("Noto Sans CJK JP"), QStringLiteral("IPAGothic"),
    };
    return make(families, pointSize, weight, false);
}

} // namespace sequora::platform
