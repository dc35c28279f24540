#include "rules/module1.h"

#include <algorithm>

namespace Module1 {

std::int16_t tensu = 0;
std::int16_t touroku = 0;
std::int16_t hani = 0;
std::int16_t anatakiroku[runRankingRows][runRankingPlaces] = {};
seiseki seisekibuf;

void reset()
{
    tensu = 0;
    touroku = 0;
    hani = 0;
    std::fill(&anatakiroku[0][0], &anatakiroku[0][0] + runRankingRows * runRankingPlaces, std::int16_t(0));
    seisekibuf = seiseki{};
}

} // namespace Module1
