// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/fonts.h"

#include <QStringList>

namespace ui {

QFont gothicFont(int pixels, bool bold)
{
    QFont font;
    static const QStringList families = {QStringLiteral("ＭＳ Ｐゴシック"),  QStringLiteral("MS PGothic"),
                                         QStringLiteral("IPAPGothic"),       QStringLiteral("IPAexGothic"),
                                         QStringLiteral("VL PGothic"),       QStringLiteral("TakaoPGothic"),
                                         QStringLiteral("Noto Sans CJK JP"), QStringLiteral("IPAGothic")};
    font.setFamilies(families);
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixels);
    font.setWeight(bold ? QFont::Bold : QFont::Normal);
    return font;
}

} // namespace ui
