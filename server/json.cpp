// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/json.h"

#include "server/encoding.h"

namespace server {

namespace {

class Parser {
public:
    explicit Parser(std::string_view text) : text(text) {}

    std::optional<JsonObject> object()
    {
        JsonObject members;
        space();
        if (!take('{'))
            return std::nullopt;
        space();
        if (take('}'))
            return end() ? std::optional(members) : std::nullopt;
        for (;;) {
            space();
            std::optional<std::string> name = string();
            space();
            if (!name || !take(':'))
                return std::nullopt;
            space();
            std::optional<JsonValue> value;
            if (peek() == '"') {
                if (std::optional<std::string> s = string())
                    value = std::move(*s);
            } else if (text.substr(at, 4) == "true") {
                at += 4;
                value = true;
            } else if (text.substr(at, 5) == "false") {
                at += 5;
                value = false;
            } else {
                value = number();
            }
            if (!value || !members.emplace(std::move(*name), std::move(*value)).second)
                return std::nullopt;
            space();
            if (take('}'))
                return end() ? std::optional(members) : std::nullopt;
            if (!take(','))
                return std::nullopt;
        }
    }

private:
    char peek() const { return at < text.size() ? text[at] : '\0'; }
    bool take(char c)
    {
        if (at < text.size() && text[at] == c) {
            ++at;
            return true;
        }
        return false;
    }
    void space()
    {
        while (at < text.size() && (text[at] == ' ' || text[at] == '\t' || text[at] == '\n' || text[at] == '\r'))
            ++at;
    }
    bool end()
    {
        space();
        return at == text.size();
    }

    std::optional<std::int64_t> number()
    {
        const bool negative = take('-');
        if (at >= text.size() || text[at] < '0' || text[at] > '9')
            return std::nullopt;
        if (text[at] == '0' && at + 1 < text.size() && text[at + 1] >= '0' && text[at + 1] <= '9')
            return std::nullopt; // no leading zeros
        std::int64_t value = 0;
        int digits = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
            if (++digits > 15)
                return std::nullopt; // beyond anything the API takes (a time in ms has 13)
            value = value * 10 + (text[at++] - '0');
        }
        const char next = peek();
        if (next == '.' || next == 'e' || next == 'E')
            return std::nullopt;
        return negative ? -value : value;
    }

    std::optional<unsigned> hex4()
    {
        if (at + 4 > text.size())
            return std::nullopt;
        unsigned v = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text[at++];
            v <<= 4;
            if (c >= '0' && c <= '9')
                v |= unsigned(c - '0');
            else if (c >= 'a' && c <= 'f')
                v |= unsigned(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                v |= unsigned(c - 'A' + 10);
            else
                return std::nullopt;
        }
        return v;
    }

    // A string as UTF-16 first, so that escaped surrogate pairs join, then as checked UTF-8.
    std::optional<std::string> string()
    {
        if (!take('"'))
            return std::nullopt;
        std::string raw; // UTF-8 as sent, with escapes written out as UTF-8
        std::u16string pending;
        auto flush = [&] {
            for (std::size_t i = 0; i < pending.size(); ++i) {
                const char16_t c = pending[i];
                const bool high = c >= 0xD800 && c < 0xDC00;
                const bool low = c >= 0xDC00 && c < 0xE000;
                if (low || (high && (i + 1 >= pending.size() || pending[i + 1] < 0xDC00 || pending[i + 1] >= 0xE000)))
                    return false; // an unpaired surrogate
                if (high)
                    ++i;
            }
            raw += toUtf8(pending);
            pending.clear();
            return true;
        };
        for (;;) {
            if (at >= text.size())
                return std::nullopt;
            const char c = text[at++];
            if (c == '"')
                break;
            if (static_cast<unsigned char>(c) < 0x20)
                return std::nullopt;
            if (c != '\\') {
                if (!flush())
                    return std::nullopt;
                raw += c;
                continue;
            }
            const char e = at < text.size() ? text[at++] : '\0';
            const char* simple = "\"\\/bfnrt";
            const char* meant = "\"\\/\b\f\n\r\t";
            if (e == 'u') {
                const std::optional<unsigned> v = hex4();
                if (!v)
                    return std::nullopt;
                pending += char16_t(*v);
            } else if (const char* p = e ? std::char_traits<char>::find(simple, 8, e) : nullptr) {
                if (!flush())
                    return std::nullopt;
                raw += meant[p - simple];
            } else {
                return std::nullopt;
            }
        }
        if (!flush() || !fromUtf8(raw))
            return std::nullopt;
        return raw;
    }

    std::string_view text;
    std::size_t at = 0;
};

} // namespace

std::optional<JsonObject> parseFlatObject(std::string_view text)
{
    return Parser(text).object();
}

std::optional<std::string> textMember(const JsonObject& object, std::string_view name)
{
    const auto it = object.find(name);
    if (it == object.end() || !std::holds_alternative<std::string>(it->second))
        return std::nullopt;
    return std::get<std::string>(it->second);
}

std::optional<std::int64_t> numberMember(const JsonObject& object, std::string_view name)
{
    const auto it = object.find(name);
    if (it == object.end() || !std::holds_alternative<std::int64_t>(it->second))
        return std::nullopt;
    return std::get<std::int64_t>(it->second);
}

std::optional<bool> boolMember(const JsonObject& object, std::string_view name)
{
    const auto it = object.find(name);
    if (it == object.end() || !std::holds_alternative<bool>(it->second))
        return std::nullopt;
    return std::get<bool>(it->second);
}

std::string jsonString(std::string_view utf8)
{
    static const char digits[] = "0123456789abcdef";
    std::string out = "\"";
    for (const char c : utf8) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (b < 0x20 || c == '<' || c == '>' || c == '&' || b == 0x7F) {
            out += "\\u00";
            out += digits[b >> 4];
            out += digits[b & 0xF];
        } else {
            out += c;
        }
    }
    return out + "\"";
}

} // namespace server
