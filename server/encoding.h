// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Text and byte encodings at the server's edges: UTF-8 from the network to the UTF-16 that the
// game library takes and back, base64 for the class's image in JSON, base64url keys drawn from
// the system's random source, and the hash by which a key is looked up.
#include <optional>
#include <string>
#include <string_view>

namespace server {

// UTF-16 from UTF-8; nothing when the bytes are not well-formed UTF-8 (overlong forms,
// surrogates and code points beyond U+10FFFF included).
std::optional<std::u16string> fromUtf8(std::string_view bytes);
// UTF-8 from UTF-16; an unpaired surrogate becomes U+FFFD.
std::string toUtf8(std::u16string_view text);
// How many characters (code points) a well-formed UTF-16 text holds.
std::size_t characterCount(std::u16string_view text);

// Standard base64 with padding.
std::string base64(std::string_view bytes);
std::optional<std::string> fromBase64(std::string_view text);

// Base64url without padding (as keys and tickets are written).
std::string base64url(std::string_view bytes);

// A new key: 128 bits from getrandom(2), as 22 characters of base64url without padding
// (rules/class_key.h).
// Throws std::runtime_error when the system gives no random bytes.
std::string newKey();

// SHA-256 of text, as 64 lower-case hexadecimal digits. The store looks keys up by this, so
// that the time a lookup takes says nothing about how much of a guessed key was right.
std::string keyHash(std::string_view key);

// Lower-case hexadecimal, and back (nothing for an odd length or a non-hex digit).
std::string toHex(std::string_view bytes);
std::optional<std::string> fromHex(std::string_view text);

} // namespace server
