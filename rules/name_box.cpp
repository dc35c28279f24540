// SPDX-License-Identifier: GPL-3.0-or-later
#include "rules/name_box.h"

#include "rules/ranking.h"

#include <algorithm>
#include <vector>

namespace results {

namespace {

bool isHigh(char16_t c)
{
    return c >= 0xD800 && c < 0xDC00;
}
bool isLow(char16_t c)
{
    return c >= 0xDC00 && c < 0xE000;
}

} // namespace

NameFault nameFault(std::u16string_view name)
{
    if (typedName(name) != name)
        return NameFault::controlCharacters;
    std::size_t characters = 0;
    for (std::size_t i = 0; i < name.size(); ++i, ++characters)
        if (isHigh(name[i]) && i + 1 < name.size() && isLow(name[i + 1]))
            ++i;
    if (characters > std::size_t(nameBytes))
        return NameFault::tooManyCharacters;
    return nameFits(name) ? NameFault::none : NameFault::tooManyBytes;
}

KeptName keptName(std::u16string_view kept, std::u16string_view edited, const Normaliser& normal)
{
    auto normalOf = [&normal](const std::u16string& text) { return typedName(normal(text)); };
    auto savable = [](const std::u16string& text) { return nameFault(text) == NameFault::none; };
    const std::size_t shorter = std::min(kept.size(), edited.size());
    std::size_t head = 0;
    while (head < shorter && kept[head] == edited[head])
        ++head;
    std::size_t tail = 0;
    while (tail < shorter - head && kept[kept.size() - 1 - tail] == edited[edited.size() - 1 - tail])
        ++tail;
    if (head > 0 && isHigh(edited[head - 1]))
        --head;
    if (tail > 0 && isLow(edited[edited.size() - tail]))
        --tail;
    const std::u16string start(edited.substr(0, head));
    const std::u16string end(edited.substr(edited.size() - tail));
    // The inserted text by whole characters: ends[n] is the length of its first n characters.
    const std::u16string_view inserted = edited.substr(head, edited.size() - head - tail);
    std::vector<std::size_t> ends{0};
    for (std::size_t i = 0; i < inserted.size();) {
        i += isHigh(inserted[i]) && i + 1 < inserted.size() && isLow(inserted[i + 1]) ? 2 : 1;
        ends.push_back(i);
    }
    auto withInserted = [&](std::size_t n) { return start + std::u16string(inserted.substr(0, ends[n])); };

    // As many inserted characters as fit: the fewer, the more surely a text fits.
    std::size_t low = 0, high = ends.size() - 1;
    while (low < high) {
        const std::size_t middle = (low + high + 1) / 2;
        if (savable(normalOf(withInserted(middle) + end)))
            low = middle;
        else
            high = middle - 1;
    }
    std::u16string text = normalOf(withInserted(low) + end);
    while (!text.empty() && !savable(text))
        text.resize(text.size() - (text.size() >= 2 && isLow(text.back()) ? 2 : 1));
    const std::size_t cursor = std::min(normalOf(withInserted(low)).size(), text.size());
    return {std::move(text), cursor};
}

} // namespace results
