#include "rules/ranking.h"

#include <QList>
#include <QStringDecoder>
#include <QStringEncoder>

namespace results {

namespace {

// Code page 932, the Japanese Windows form of Shift-JIS.
constexpr const char* codePage = "windows-31j";
constexpr char16_t replacement = u'\uFFFD';

// Characters that a Japanese input method outside Windows produces where code page 932 has
// its own look-alike: typed names keep their meaning instead of turning into "?".
char32_t codePageEquivalent(char32_t c)
{
    switch (c) {
    case U'\u301C': return U'\uFF5E'; // wave dash -> full-width tilde
    case U'\u2016': return U'\u2225'; // double vertical line -> parallel to
    case U'\u2212': return U'\uFF0D'; // minus sign -> full-width hyphen-minus
    case U'\u2014': return U'\u2015'; // em dash -> horizontal bar
    case U'\u00A2': return U'\uFFE0'; // cent sign
    case U'\u00A3': return U'\uFFE1'; // pound sign
    case U'\u00AC': return U'\uFFE2'; // not sign
    default: return c;
    }
}

// The Shift-JIS bytes of one character, or "?" when it has none.
QByteArray encodeCharacter(char32_t c)
{
    c = codePageEquivalent(c);
    // Code page 932 keeps ASCII as it is (the converter would swap some control codes).
    if (c < 0x80)
        return QByteArray(1, static_cast<char>(c));
    // A fresh converter per character: its error flag then speaks for this character alone.
    QStringEncoder e(codePage, QStringConverter::Flag::Stateless);
    if (!e.isValid())
        return QByteArray("?");
    QByteArray bytes = e.encode(QString::fromUcs4(&c, 1));
    if (e.hasError() || bytes.isEmpty())
        return QByteArray("?");
    return bytes;
}

bool isLeadByte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
bool isTrailByte(unsigned char b) { return b >= 0x40 && b <= 0xFC && b != 0x7F; }

// One character of a name field: one byte, or a lead byte with its trail byte.
QString decodeCharacter(QByteArrayView unit)
{
    const auto first = static_cast<unsigned char>(unit[0]);
    if (unit.size() == 1 && first < 0x80)
        return QString(QChar(char16_t(first)));
    QStringDecoder d(codePage, QStringConverter::Flag::Stateless);
    if (!d.isValid())
        return QString(QChar(replacement));
    const QString text = d.decode(unit);
    if (d.hasError() || text.isEmpty())
        return QString(QChar(replacement));
    return text;
}

} // namespace

QByteArray encodeName(const QString& name)
{
    QByteArray field;
    field.reserve(nameBytes);
    for (const char32_t c : name.toUcs4()) {
        const QByteArray bytes = encodeCharacter(c);
        if (field.size() + bytes.size() > nameBytes)
            break;
        field += bytes;
    }
    return field.leftJustified(nameBytes, ' ');
}

QString decodeName(QByteArrayView field)
{
    while (!field.isEmpty() && (field.back() == ' ' || field.back() == '\0'))
        field.chop(1);
    QString name;
    qsizetype i = 0;
    while (i < field.size()) {
        const auto b = static_cast<unsigned char>(field[i]);
        const bool pair = isLeadByte(b) && i + 1 < field.size()
                          && isTrailByte(static_cast<unsigned char>(field[i + 1]));
        const qsizetype length = pair ? 2 : 1;
        name += decodeCharacter(field.sliced(i, length));
        i += length;
    }
    return name;
}

QByteArray packRecord(const Module1::seiseki& record)
{
    QByteArray bytes = record.simei.left(nameBytes).leftJustified(nameBytes, ' ');
    const auto score = static_cast<std::uint16_t>(record.kiroku);
    bytes.append(static_cast<char>(score & 0xFF));
    bytes.append(static_cast<char>(score >> 8));
    return bytes;
}

Module1::seiseki unpackRecord(QByteArrayView bytes)
{
    Module1::seiseki record;
    if (bytes.size() < recordBytes) {
        record.simei = QByteArray(nameBytes, ' ');
        return record;
    }
    record.simei = bytes.first(nameBytes).toByteArray();
    const auto low = static_cast<unsigned char>(bytes[nameBytes]);
    const auto high = static_cast<unsigned char>(bytes[nameBytes + 1]);
    record.kiroku = static_cast<std::int16_t>(static_cast<std::uint16_t>(low | (high << 8)));
    return record;
}

QByteArray BestFiveLists::nameField(int i) const
{
    if (stored[i].size() == nameBytes && decodeName(stored[i]) == seisekinamae[i])
        return stored[i];
    return encodeName(seisekinamae[i]);
}

int BestFiveLists::enter(std::int16_t hani, std::int16_t tensu)
{
    if (!hasRange(hani))
        return -1;
    const int first = hani * places;
    const int last = first + places - 1;
    for (int koko = first; koko <= last; ++koko) {
        if (seisekijikan[koko] > tensu)
            continue;
        for (int j = last - 1; j >= koko; --j) {
            seisekijikan[j + 1] = seisekijikan[j];
            seisekinamae[j + 1] = seisekinamae[j];
            stored[j + 1] = stored[j];
        }
        seisekijikan[koko] = tensu;
        seisekinamae[koko] = hereMark;
        stored[koko].clear();
        return koko;
    }
    return -1;
}

int enterRunRanking(std::int16_t (&row)[runPlaces], std::int16_t tensu)
{
    for (int i = 0; i < runPlaces; ++i) {
        if (row[i] > tensu)
            continue;
        for (int j = runPlaces - 1; j > i; --j)
            row[j] = row[j - 1];
        row[i] = tensu;
        return i;
    }
    return -1;
}

int enterScore(BestFiveLists& lists, std::int16_t (&anatakiroku)[Module1::runRankingRows][runPlaces],
               std::int16_t hani, std::int16_t tensu, std::int16_t& touroku)
{
    if (tensu == 0 || touroku == 1 || hani < 0 || hani >= Module1::runRankingRows)
        return -1;
    enterRunRanking(anatakiroku[hani], tensu);
    const int koko = lists.enter(hani, tensu);
    if (koko < 0)
        touroku = 1;
    return koko;
}

} // namespace results
