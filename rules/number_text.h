// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

// How numbers are written into captions.
namespace numtext {

// A blank before a value >= 0, "-" before a negative one, then the digits in shortest
// decimal form with "." as the point and no trailing zeros: 5 -> " 5", -1.5 -> "-1.5".
// The shortest form is the one that reads back as the same double, written as fixed digits
// or with an exponent (1e-05) whichever is shorter, as std::to_chars writes it; the same
// text on every platform and in every locale.
std::u16string numberText(double value);

// The digits alone, with "-" before a negative value: 5 -> "5", -3 -> "-3".
std::u16string plainText(int value);

// Reads a caption back as a number: leading blanks are skipped, then an optional sign and
// the digits that follow are taken. A caption with no number reads as 0.
int readNumber(std::u16string_view caption);

// The caption without the blanks before and after it: " 5" -> "5".
std::u16string_view trimmed(std::u16string_view caption);

} // namespace numtext
