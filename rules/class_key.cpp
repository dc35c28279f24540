// SPDX-License-Identifier: GPL-3.0-or-later
#include "rules/class_key.h"

namespace classkey {

bool isClassKey(std::string_view text)
{
    return text.size() == length && isUrlSafe(text);
}

bool isUrlSafe(std::string_view text)
{
    for (const char c : text)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-'))
            return false;
    return true;
}

} // namespace classkey
