// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/fonts.h"

#include <QStringList>

#include <cmath>

namespace ui {

int pointsToPixels(double points)
{
    return static_cast<int>(std::lround(points * 96.0 / 72.0));
}

QFont gothicFont(double points, bool bold)
{
    QFont font;
    static const QStringList families = {
        QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("MS PGothic"), QStringLiteral("IPAPGothic"),
        QStringLiteral("IPAexGothic"), QStringLiteral("VL PGothic"), QStringLiteral("TakaoPGothic"),
        QStringLiteral("Noto Sans CJK JP"), QStringLiteral("IPAGothic")};
    font.setFamilies(families);
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pointsToPixels(points));
    font.setWeight(bold ? QFont::Bold : QFont::Normal);
    return font;
}

} // namespace ui
