#include "rules/ranges.h"

QString rangeName(std::int16_t hani)
{
    switch (hani) {
    case 0: return QStringLiteral("－２～２");
    case 1: return QStringLiteral("１～５");
    case 2: return QStringLiteral("－５～－１");
    case 3: return QStringLiteral("ランダム");
    default: return {};
    }
}
