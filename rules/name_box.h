// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The name box's rule, the same in every front end: an edit (typed, pasted, committed by an
// input method, or set by the program) that would make the name too long for its field keeps
// as much of what it inserted as fits. Applied to committed text only: during an input
// method's composition the box takes everything, and the rule runs when it is committed.
// Beside it, the rule of which names can be saved, which the class server holds every
// pupil's save to: whatever the box lets a pupil type is saved.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace results {

// Why a name cannot be saved, or none: it holds control characters (typedName leaves them out),
// more than nameBytes characters (code points), or more than its nameBytes-byte Shift-JIS field
// holds (nameFits). Markup is only text here: every place that shows a name shows it as text.
enum class NameFault { none, controlCharacters, tooManyCharacters, tooManyBytes };
NameFault nameFault(std::u16string_view name);

struct KeptName {
    std::u16string text; // what the box keeps, as typedName makes it
    std::size_t cursor;  // where the caret goes: after the kept part of the insertion
};

// The platform's Unicode normal form C (QString::normalized, String.prototype.normalize).
using Normaliser = std::function<std::u16string(std::u16string_view)>;

// The box held `kept` and an edit made it `edited`; what it keeps has no NameFault. The
// edit's start and end (what it left of `kept` either side) stay; of what it inserted, as many
// whole characters as fit. A text that does not fit even without the insertion (only a program
// sets one) is cut at its end.
KeptName keptName(std::u16string_view kept, std::u16string_view edited, const Normaliser& normal);

} // namespace results
