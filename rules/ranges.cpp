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

std::int16_t nextRange(std::int16_t hani)
{
    return static_cast<std::int16_t>((hani + 1) % rangeCount);
}
