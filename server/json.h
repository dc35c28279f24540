// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The little JSON the API speaks. Requests are flat objects whose members are strings, whole
// numbers or true/false; anything else (nesting, fractions, null, a repeated member,
// malformed UTF-8 or escapes, bytes after the object) is refused. Answers are written with
// jsonString, which escapes the markup characters too, so that no answer can be read as HTML.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace server {

using JsonValue = std::variant<std::string, std::int64_t, bool>; // UTF-8 text, a whole number, true/false
using JsonObject = std::map<std::string, JsonValue, std::less<>>;

std::optional<JsonObject> parseFlatObject(std::string_view text);

// The member as text, a whole number or true/false; nothing when it is missing or of another kind.
std::optional<std::string> textMember(const JsonObject& object, std::string_view name);
std::optional<std::int64_t> numberMember(const JsonObject& object, std::string_view name);
std::optional<bool> boolMember(const JsonObject& object, std::string_view name);

// A JSON string literal, quotes included, of UTF-8 text.
std::string jsonString(std::string_view utf8);

} // namespace server
