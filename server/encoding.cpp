// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/encoding.h"

#include <openssl/evp.h>

#include <stdexcept>

#include <sys/random.h>

namespace server {

std::optional<std::u16string> fromUtf8(std::string_view bytes)
{
    std::u16string text;
    for (std::size_t i = 0; i < bytes.size();) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        int length = 0;
        char32_t c = 0, least = 0;
        if (b < 0x80) {
            length = 1, c = b;
        } else if (b >= 0xC2 && b < 0xE0) {
            length = 2, c = b & 0x1F, least = 0x80;
        } else if (b >= 0xE0 && b < 0xF0) {
            length = 3, c = b & 0x0F, least = 0x800;
        } else if (b >= 0xF0 && b < 0xF5) {
            length = 4, c = b & 0x07, least = 0x10000;
        } else {
            return std::nullopt;
        }
        if (i + std::size_t(length) > bytes.size())
            return std::nullopt;
        for (int k = 1; k < length; ++k) {
            const auto t = static_cast<unsigned char>(bytes[i + std::size_t(k)]);
            if ((t & 0xC0) != 0x80)
                return std::nullopt;
            c = (c << 6) | (t & 0x3F);
        }
        if (c < least || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000))
            return std::nullopt;
        if (c >= 0x10000) {
            text += char16_t(0xD800 + ((c - 0x10000) >> 10));
            text += char16_t(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            text += char16_t(c);
        }
        i += std::size_t(length);
    }
    return text;
}

std::string toUtf8(std::u16string_view text)
{
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        else if (c >= 0xD800 && c < 0xE000)
            c = 0xFFFD;
        if (c < 0x80) {
            bytes += char(c);
        } else if (c < 0x800) {
            bytes += char(0xC0 | (c >> 6));
            bytes += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            bytes += char(0xE0 | (c >> 12));
            bytes += char(0x80 | ((c >> 6) & 0x3F));
            bytes += char(0x80 | (c & 0x3F));
        } else {
            bytes += char(0xF0 | (c >> 18));
            bytes += char(0x80 | ((c >> 12) & 0x3F));
            bytes += char(0x80 | ((c >> 6) & 0x3F));
            bytes += char(0x80 | (c & 0x3F));
        }
    }
    return bytes;
}

std::size_t characterCount(std::u16string_view text)
{
    std::size_t count = 0;
    for (const char16_t c : text)
        count += c >= 0xDC00 && c < 0xE000 ? 0 : 1;
    return count;
}

namespace {

const char standardAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const char urlAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

std::string encode(std::string_view bytes, const char* alphabet, bool pad)
{
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t v = 0;
        for (std::size_t k = 0; k < 3; ++k)
            v = (v << 8) | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0);
        for (std::size_t k = 0; k < 4; ++k)
            if (k <= n)
                text += alphabet[(v >> (18 - 6 * k)) & 0x3F];
            else if (pad)
                text += '=';
    }
    return text;
}

} // namespace

std::string base64(std::string_view bytes)
{
    return encode(bytes, standardAlphabet, true);
}

std::optional<std::string> fromBase64(std::string_view text)
{
    if (text.size() % 4 != 0)
        return std::nullopt;
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); i += 4) {
        std::uint32_t v = 0;
        int pads = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            const char c = text[i + k];
            const char* at = c ? std::char_traits<char>::find(standardAlphabet, 64, c) : nullptr;
            if (c == '=' && i + 4 == text.size() && k >= 2) {
                ++pads;
                v <<= 6;
            } else if (at && pads == 0) {
                v = (v << 6) | std::uint32_t(at - standardAlphabet);
            } else {
                return std::nullopt;
            }
        }
        for (int k = 0; k < 3 - pads; ++k)
            bytes += char((v >> (16 - 8 * k)) & 0xFF);
    }
    return bytes;
}

std::string base64url(std::string_view bytes)
{
    return encode(bytes, urlAlphabet, false);
}

std::string newKey()
{
    char random[16];
    std::size_t got = 0;
    while (got < sizeof random) {
        const ssize_t n = ::getrandom(random + got, sizeof random - got, 0);
        if (n < 0 && errno != EINTR)
            throw std::runtime_error("no random bytes from the system");
        if (n > 0)
            got += std::size_t(n);
    }
    return encode(std::string_view(random, sizeof random), urlAlphabet, false);
}

std::string keyHash(std::string_view key)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!EVP_Digest(key.data(), key.size(), digest, &length, EVP_sha256(), nullptr))
        throw std::runtime_error("SHA-256 failed");
    return toHex(std::string_view(reinterpret_cast<const char*>(digest), length));
}

std::string toHex(std::string_view bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (const char b : bytes) {
        text += digits[static_cast<unsigned char>(b) >> 4];
        text += digits[static_cast<unsigned char>(b) & 0xF];
    }
    return text;
}

std::optional<std::string> fromHex(std::string_view text)
{
    auto value = [](char c) {
        return c >= '0' && c <= '9'   ? c - '0'
               : c >= 'a' && c <= 'f' ? c - 'a' + 10
               : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                      : -1;
    };
    if (text.size() % 2 != 0)
        return std::nullopt;
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = value(text[i]), low = value(text[i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        bytes += char(high * 16 + low);
    }
    return bytes;
}

} // namespace server
