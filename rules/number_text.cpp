#include "rules/number_text.h"

#include <charconv>
#include <cmath>

namespace numtext {

QString numberText(double value)
{
    if (value == 0.0)
        value = 0.0; // no "-0"
    char digits[32];
    const auto result = std::to_chars(std::begin(digits), std::end(digits), std::fabs(value));
    const QString body = QString::fromLatin1(digits, result.ptr - digits);
    return (value < 0 ? QStringLiteral("-") : QStringLiteral(" ")) + body;
}

QString plainText(int value)
{
    return QString::number(value);
}

int readNumber(const QString& caption)
{
    qsizetype i = 0;
    while (i < caption.size() && caption.at(i) == u' ')
        ++i;
    bool negative = false;
    if (i < caption.size() && (caption.at(i) == u'-' || caption.at(i) == u'+')) {
        negative = caption.at(i) == u'-';
        ++i;
    }
    long value = 0;
    for (; i < caption.size() && caption.at(i) >= u'0' && caption.at(i) <= u'9'; ++i) {
        value = value * 10 + (caption.at(i).unicode() - u'0');
        if (value > 1000000)
            break;
    }
    return static_cast<int>(negative ? -value : value);
}

} // namespace numtext
