// SPDX-License-Identifier: GPL-3.0-or-later
#include "rules/ranking.h"

#include "rules/cp932.h"
#include "rules/ranges.h"

#include <algorithm>

namespace results {

namespace {

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
std::string encodeCharacter(char32_t c)
{
    std::string bytes = cp932::encode(codePageEquivalent(c));
    return bytes.empty() ? std::string("?") : bytes;
}

// The code points of UTF-16 text; a lone surrogate is a code point of its own.
template <typename Visit>
bool forEachCodePoint(std::u16string_view text, Visit visit)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        if (!visit(c))
            return false;
    }
    return true;
}

// One character of a name field: one byte, or a lead byte with its trail byte.
char16_t decodeCharacter(std::string_view unit)
{
    const auto first = static_cast<unsigned char>(unit[0]);
    if (unit.size() == 1 && first < 0x80)
        return char16_t(first);
    const char16_t c =
        unit.size() == 1 ? cp932::decode(first) : cp932::decode(first, static_cast<unsigned char>(unit[1]));
    return c ? c : replacement;
}

Module1::seiseki blankRecord()
{
    return {std::string(nameBytes, ' '), 0};
}

// The Shift-JIS bytes of a name, whole characters only, as many as fit in a name field;
// whole (when asked) says whether every character fitted.
std::string fieldBytes(std::u16string_view name, bool* whole = nullptr)
{
    std::string field;
    const bool all = forEachCodePoint(name, [&](char32_t c) {
        const std::string bytes = encodeCharacter(c);
        if (field.size() + bytes.size() > std::size_t(nameBytes))
            return false;
        field += bytes;
        return true;
    });
    if (whole)
        *whole = all;
    return field;
}

// Whether c is a control character (general category Cc).
bool isControl(char16_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

} // namespace

std::u16string typedName(std::u16string_view text)
{
    std::u16string name(text);
    name.erase(std::remove_if(name.begin(), name.end(), isControl), name.end());
    return name;
}

bool nameFits(std::u16string_view name)
{
    bool whole = false;
    fieldBytes(name, &whole);
    return whole;
}

std::string encodeName(std::u16string_view name)
{
    std::string field = fieldBytes(name);
    field.resize(nameBytes, ' ');
    return field;
}

std::u16string decodeName(std::string_view field)
{
    while (!field.empty() && (field.back() == ' ' || field.back() == '\0'))
        field.remove_suffix(1);
    std::u16string name;
    std::size_t i = 0;
    while (i < field.size()) {
        const auto b = static_cast<unsigned char>(field[i]);
        const bool pair = cp932::isLeadByte(b) && i + 1 < field.size()
                          && cp932::isTrailByte(static_cast<unsigned char>(field[i + 1]));
        const std::size_t length = pair ? 2 : 1;
        name += decodeCharacter(field.substr(i, length));
        i += length;
    }
    return name;
}

std::string packRecord(const Module1::seiseki& record)
{
    std::string bytes = record.simei.substr(0, nameBytes);
    bytes.resize(nameBytes, ' ');
    const auto score = static_cast<std::uint16_t>(record.kiroku);
    bytes += static_cast<char>(score & 0xFF);
    bytes += static_cast<char>(score >> 8);
    return bytes;
}

Module1::seiseki unpackRecord(std::string_view bytes)
{
    if (bytes.size() < std::size_t(recordBytes))
        return blankRecord();
    Module1::seiseki record;
    record.simei = std::string(bytes.substr(0, nameBytes));
    const auto low = static_cast<unsigned char>(bytes[nameBytes]);
    const auto high = static_cast<unsigned char>(bytes[nameBytes + 1]);
    record.kiroku = static_cast<std::int16_t>(static_cast<std::uint16_t>(low | (high << 8)));
    return record;
}

std::string BestFiveLists::nameField(int i) const
{
    if (stored[i].size() == std::size_t(nameBytes) && decodeName(stored[i]) == seisekinamae[i])
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

int enterScore(BestFiveLists& lists, std::int16_t (&anatakiroku)[Module1::runRankingRows][runPlaces], std::int16_t hani,
               std::int16_t tensu, std::int16_t& touroku)
{
    if (tensu == 0 || touroku == 1 || hani < 0 || hani >= Module1::runRankingRows)
        return -1;
    enterRunRanking(anatakiroku[hani], tensu);
    const int koko = lists.enter(hani, tensu);
    if (koko < 0)
        touroku = 1;
    return koko;
}

void readLists(std::string_view head, BestFiveLists& lists)
{
    for (int i = 0; i < readCount; ++i) {
        const std::size_t at = std::min(head.size(), std::size_t(i) * recordBytes);
        const Module1::seiseki record = unpackRecord(head.substr(at, recordBytes));
        lists.seisekijikan[i] = record.kiroku;
        lists.stored[i] = record.simei;
        lists.seisekinamae[i] = decodeName(record.simei);
    }
}

std::string savedRecords(std::string_view head, const NewEntry& entry)
{
    BestFiveLists lists;
    readLists(head, lists);
    if (entry.hani >= 0 && entry.hani < rangeCount) {
        const int koko = lists.enter(entry.hani, entry.tensu);
        if (koko >= 0)
            lists.seisekinamae[koko] = entry.name;
    }
    std::string records;
    records.reserve(savedBytes);
    for (int i = 0; i < entryCount; ++i)
        records += packRecord({lists.nameField(i), lists.seisekijikan[i]});
    return records;
}

std::string blankedRecords()
{
    std::string records;
    for (int i = 0; i < readCount; ++i)
        records += packRecord(blankRecord());
    return records;
}

std::string savedImage(std::string_view image, const NewEntry& entry)
{
    std::string bytes = savedRecords(image, entry);
    if (image.size() > bytes.size())
        bytes += image.substr(bytes.size());
    return bytes;
}

std::string blankedImage(std::string_view image)
{
    std::string bytes = blankedRecords();
    if (image.size() > bytes.size())
        bytes += image.substr(bytes.size());
    return bytes;
}

} // namespace results
