// SPDX-License-Identifier: GPL-3.0-or-later
#include "rules/ranking.h"

#include "rules/ranges.h"

#include <QHash>
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
    // A fresh converter per character, so that its error flag speaks for this character alone;
    // each character is converted once per run.
    static QHash<char32_t, QByteArray> known;
    if (const auto found = known.constFind(c); found != known.cend())
        return *found;
    QStringEncoder e(codePage, QStringConverter::Flag::Stateless);
    QByteArray bytes = e.isValid() ? e.encode(QString::fromUcs4(&c, 1)) : QByteArray();
    if (e.hasError() || bytes.isEmpty())
        bytes = QByteArray("?");
    known.insert(c, bytes);
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
    static QHash<quint16, QString> known; // as in encodeCharacter
    const quint16 key = quint16(first << 8 | (unit.size() > 1 ? static_cast<unsigned char>(unit[1]) : 0));
    if (const auto found = known.constFind(key); found != known.cend())
        return *found;
    QStringDecoder d(codePage, QStringConverter::Flag::Stateless);
    QString text = d.isValid() ? d.decode(unit) : QString();
    if (d.hasError() || text.isEmpty())
        text = QString(QChar(replacement));
    known.insert(key, text);
    return text;
}

Module1::seiseki blankRecord()
{
    return {QByteArray(nameBytes, ' '), 0};
}

// The Shift-JIS bytes of a name, whole characters only, as many as fit in a name field;
// whole (when asked) says whether every character fitted.
QByteArray fieldBytes(const QString& name, bool* whole = nullptr)
{
    QByteArray field;
    field.reserve(nameBytes);
    for (const char32_t c : name.toUcs4()) {
        const QByteArray bytes = encodeCharacter(c);
        if (field.size() + bytes.size() > nameBytes) {
            if (whole)
                *whole = false;
            return field;
        }
        field += bytes;
    }
    if (whole)
        *whole = true;
    return field;
}

} // namespace

QString typedName(const QString& text)
{
    QString name = text.normalized(QString::NormalizationForm_C);
    name.removeIf([](QChar c) { return c.category() == QChar::Other_Control; });
    return name;
}

bool nameFits(const QString& name)
{
    bool whole = false;
    fieldBytes(name, &whole);
    return whole;
}

QByteArray encodeName(const QString& name)
{
    return fieldBytes(name).leftJustified(nameBytes, ' ');
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
    if (bytes.size() < recordBytes)
        return blankRecord();
    Module1::seiseki record;
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

void readLists(QByteArrayView head, BestFiveLists& lists)
{
    for (int i = 0; i < readCount; ++i) {
        const QByteArrayView bytes = head.sliced(qMin<qsizetype>(head.size(), qsizetype(i) * recordBytes));
        Module1::seisekibuf = unpackRecord(bytes.first(qMin<qsizetype>(bytes.size(), recordBytes)));
        lists.seisekijikan[i] = Module1::seisekibuf.kiroku;
        lists.stored[i] = Module1::seisekibuf.simei;
        lists.seisekinamae[i] = decodeName(Module1::seisekibuf.simei);
    }
}

QByteArray savedRecords(QByteArrayView head, const NewEntry& entry)
{
    BestFiveLists lists;
    readLists(head, lists);
    if (entry.hani >= 0 && entry.hani < rangeCount) {
        const int koko = lists.enter(entry.hani, entry.tensu);
        if (koko >= 0)
            lists.seisekinamae[koko] = entry.name;
    }
    QByteArray records;
    records.reserve(entryCount * recordBytes);
    for (int i = 0; i < entryCount; ++i) {
        Module1::seisekibuf.simei = lists.nameField(i);
        Module1::seisekibuf.kiroku = lists.seisekijikan[i];
        records += packRecord(Module1::seisekibuf);
    }
    return records;
}

QByteArray blankedRecords()
{
    QByteArray records;
    for (int i = 0; i < readCount; ++i) {
        Module1::seisekibuf = blankRecord();
        records += packRecord(Module1::seisekibuf);
    }
    return records;
}

} // namespace results
