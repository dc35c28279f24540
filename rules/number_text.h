#pragma once

#include <QString>

// How numbers are written into captions.
namespace numtext {

// A blank before a value >= 0, "-" before a negative one, then the digits in shortest
// decimal form with "." as the point and no trailing zeros: 5 -> " 5", -1.5 -> "-1.5".
QString numberText(double value);

// The digits alone, with "-" before a negative value: 5 -> "5", -3 -> "-3".
QString plainText(int value);

// Reads a caption back as a number: leading blanks are skipped, then an optional sign and
// the digits that follow are taken. A caption with no number reads as 0.
int readNumber(const QString& caption);

} // namespace numtext
