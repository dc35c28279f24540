// SPDX-License-Identifier: GPL-3.0-or-later
#include "rules/number_text.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace numtext {

namespace {

// Significant digits and decimal exponent of the shortest "%.*e" form that reads back as
// value (value > 0 and finite). printf and strtod use the same C locale, so the locale's
// decimal point is only ever compared with itself.
void shortestDigits(double value, std::string& digits, int& exponent)
{
    char text[64];
    for (int precision = 0; precision <= 16; ++precision) {
        std::snprintf(text, sizeof text, "%.*e", precision, value);
        if (precision == 16 || std::strtod(text, nullptr) == value)
            break;
    }
    digits.clear();
    const char* p = text;
    for (; *p && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9')
            digits += *p;
    exponent = *p == 'e' ? std::atoi(p + 1) : 0;
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();
}

std::string fixedForm(const std::string& digits, int exponent)
{
    const int count = static_cast<int>(digits.size());
    if (exponent < 0)
        return "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
    if (exponent + 1 >= count)
        return digits + std::string(static_cast<std::size_t>(exponent + 1 - count), '0');
    return digits.substr(0, static_cast<std::size_t>(exponent + 1)) + "."
           + digits.substr(static_cast<std::size_t>(exponent + 1));
}

std::string exponentForm(const std::string& digits, int exponent)
{
    std::string text = digits.substr(0, 1);
    if (digits.size() > 1)
        text += "." + digits.substr(1);
    const int magnitude = exponent < 0 ? -exponent : exponent;
    text += exponent < 0 ? "e-" : "e+";
    if (magnitude < 10)
        text += '0';
    return text + std::to_string(magnitude);
}

std::u16string widen(const std::string& ascii)
{
    return std::u16string(ascii.begin(), ascii.end());
}

} // namespace

std::u16string numberText(double value)
{
    if (value == 0.0)
        value = 0.0; // no "-0"
    const double magnitude = std::fabs(value);
    std::string body;
    if (magnitude == 0.0) {
        body = "0";
    } else if (std::isinf(magnitude)) {
        body = "inf";
    } else if (std::isnan(magnitude)) {
        body = "nan";
    } else {
        std::string digits;
        int exponent = 0;
        shortestDigits(magnitude, digits, exponent);
        std::string fixed = fixedForm(digits, exponent);
        if (exponent + 1 > static_cast<int>(digits.size())) {
            // A whole number beyond its significant digits is written with its exact digits.
            char whole[400];
            std::snprintf(whole, sizeof whole, "%.0f", magnitude);
            fixed = whole;
        }
        const std::string scientific = exponentForm(digits, exponent);
        body = scientific.size() < fixed.size() ? scientific : fixed;
    }
    return (value < 0 ? u"-" : u" ") + widen(body);
}

std::u16string plainText(int value)
{
    return widen(std::to_string(value));
}

int readNumber(std::u16string_view caption)
{
    std::size_t i = 0;
    while (i < caption.size() && caption[i] == u' ')
        ++i;
    bool negative = false;
    if (i < caption.size() && (caption[i] == u'-' || caption[i] == u'+')) {
        negative = caption[i] == u'-';
        ++i;
    }
    long value = 0;
    for (; i < caption.size() && caption[i] >= u'0' && caption[i] <= u'9'; ++i) {
        value = value * 10 + (caption[i] - u'0');
        if (value > 1000000)
            break;
    }
    return static_cast<int>(negative ? -value : value);
}

std::u16string_view trimmed(std::u16string_view caption)
{
    const std::size_t first = caption.find_first_not_of(u' ');
    if (first == std::u16string_view::npos)
        return {};
    return caption.substr(first, caption.find_last_not_of(u' ') - first + 1);
}

} // namespace numtext
