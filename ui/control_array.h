// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPointer>
#include <QString>

#include <cstdint>
#include <stdexcept>
#include <vector>

namespace ui {

// Controls that share one name and are told apart by an Index: element i is named "name(i)".
template <class T>
class ControlArray {
public:
    explicit ControlArray(QString name) : arrayName(std::move(name)) {}

    QString elementName(std::int16_t index) const { return QStringLiteral("%1(%2)").arg(arrayName).arg(index); }

    // Takes an element created elsewhere; its object name becomes "name(index)".
    T* add(std::int16_t index, T* control)
    {
        if (index < 0)
            throw std::out_of_range("negative control array index");
        if (static_cast<std::size_t>(index) >= elements.size())
            elements.resize(index + 1);
        control->setObjectName(elementName(index));
        elements[index] = control;
        return control;
    }

    // Creates element index at run time as a hidden copy of element 0 (labels only).
    T* load(std::int16_t index) { return add(index, (*this)(0).cloneAs(elementName(index))); }

    bool exists(std::int16_t index) const
    {
        return index >= 0 && static_cast<std::size_t>(index) < elements.size() && elements[index];
    }

    T& operator()(std::int16_t index) const
    {
        if (!exists(index))
            throw std::out_of_range(elementName(index).toStdString() + " does not exist");
        return *elements[index];
    }

    // One past the highest index in use.
    std::int16_t count() const { return static_cast<std::int16_t>(elements.size()); }

    template <class F>
    void forEach(F&& f) const
    {
        for (std::size_t i = 0; i < elements.size(); ++i)
            if (elements[i])
                f(static_cast<std::int16_t>(i), *elements[i]);
    }

private:
    QString arrayName;
    std::vector<QPointer<T>> elements;
};

} // namespace ui
