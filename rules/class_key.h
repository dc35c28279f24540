// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <string_view>

// A class's key, as a class server makes them (the pupils' key in the class link, the teacher's
// in the teacher's): 22 characters of [A-Za-z0-9_-], 128 random bits in base64url. The server
// looks a key up only in this form, and the page and the desktop program take a class link
// only with one.
namespace classkey {

inline constexpr std::size_t length = 22;

bool isClassKey(std::string_view text);

// Whether every character of text is one of base64url's, [A-Za-z0-9_-]: the alphabet of keys,
// of a ticket's nonce and mark, and of the ids devices give their entries.
bool isUrlSafe(std::string_view text);

} // namespace classkey
