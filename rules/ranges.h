#pragma once

#include <QString>

#include <cstdint>

// Display names of the x-value ranges, numbered as hani: "－２～２", "１～５", "－５～－１", "ランダム".
QString rangeName(std::int16_t hani);
