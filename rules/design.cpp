// SPDX-License-Identifier: GPL-3.0-or-later
#include "rules/design.h"

#include <stdexcept>

namespace design {

const Control& Window::control(std::u16string_view name, int index) const
{
    for (const Control& c : controls)
        if (c.name == name && c.index == index)
            return c;
    throw std::out_of_range("design: no such control");
}

const Line& Window::line(std::u16string_view name) const
{
    for (const Line& l : lines)
        if (l.name == name)
            return l;
    throw std::out_of_range("design: no such line");
}

} // namespace design
