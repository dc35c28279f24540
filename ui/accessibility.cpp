// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/accessibility.h"

#include "ui/announcer.h"
#include "ui/controls.h"

#include <algorithm>

#include <QAccessible>
#include <QAccessibleObject>
#include <QAccessibleWidget>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QWindow>

namespace ui {

namespace {

// ---- Tables -------------------------------------------------------------------------------

// A group of labels shown as one table. It lives among the children of the labels' parent,
// so that it goes with the window.
class TableObject : public QObject {
public:
    TableObject(QWidget* container, const QString& name, const QList<QList<QWidget*>>& widgets)
        : QObject(container), name(name)
    {
        for (const QList<QWidget*>& row : widgets)
            rows.append(QList<QPointer<QWidget>>(row.begin(), row.end()));
    }

    QWidget* container() const { return static_cast<QWidget*>(parent()); }
    int rowCount() const { return int(rows.size()); }
    // Columns of cells; the header that starts each row is not one of them.
    int columnCount() const { return rows.isEmpty() ? 0 : int(rows.first().size()) - 1; }

    // The widgets in reading order: each row's header, then its cells.
    QList<QWidget*> widgets() const
    {
        QList<QWidget*> all;
        for (const auto& row : rows)
            for (const QPointer<QWidget>& widget : row)
                all.append(widget.data());
        return all;
    }

    // Row and place in the row (0 the header) of a widget of the table; {-1, -1} if none.
    std::pair<int, int> find(const QObject* widget) const
    {
        for (int r = 0; r < rowCount(); ++r)
            for (int c = 0; c < int(rows[r].size()); ++c)
                if (rows[r][c] == widget)
                    return {r, c};
        return {-1, -1};
    }

    QWidget* at(int row, int place) const
    {
        if (row < 0 || row >= rowCount() || place < 0 || place >= int(rows[row].size()))
            return nullptr;
        return rows[row][place];
    }

    const QString name;

private:
    QList<QList<QPointer<QWidget>>> rows;
};

TableObject* tableOf(const QWidget* widget)
{
    if (!widget || !widget->parentWidget())
        return nullptr;
    for (QObject* sibling : widget->parentWidget()->children())
        if (auto* table = dynamic_cast<TableObject*>(sibling); table && table->find(widget).first >= 0)
            return table;
    return nullptr;
}

QAccessibleInterface* accessibleOf(QObject* object)
{
    return object ? QAccessible::queryAccessibleInterface(object) : nullptr;
}

class TableInterface : public QAccessibleObject, public QAccessibleTableInterface {
public:
    explicit TableInterface(TableObject* table) : QAccessibleObject(table) {}

    TableObject* table() const { return static_cast<TableObject*>(object()); }

    QWindow* window() const override { return table()->container()->window()->windowHandle(); }
    QAccessibleInterface* parent() const override { return accessibleOf(table()->container()); }
    int childCount() const override { return int(table()->widgets().size()); }
    QAccessibleInterface* child(int index) const override
    {
        const QList<QWidget*> all = table()->widgets();
        return index >= 0 && index < all.size() ? accessibleOf(all[index]) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        return child ? int(table()->widgets().indexOf(child->object())) : -1;
    }
    QString text(QAccessible::Text t) const override { return t == QAccessible::Name ? table()->name : QString(); }
    QAccessible::Role role() const override { return QAccessible::Table; }
    QAccessible::State state() const override
    {
        QAccessible::State state;
        state.readOnly = true;
        state.invisible = !table()->container()->isVisible();
        return state;
    }
    QRect rect() const override
    {
        QRect all;
        for (int i = 0; i < childCount(); ++i)
            if (QAccessibleInterface* cell = child(i))
                all = all.united(cell->rect());
        return all;
    }
    void* interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::TableInterface ? static_cast<QAccessibleTableInterface*>(this) : nullptr;
    }

    // QAccessibleTableInterface: a table to be read, with nothing to select.
    QAccessibleInterface* caption() const override { return nullptr; }
    QAccessibleInterface* summary() const override { return nullptr; }
    QAccessibleInterface* cellAt(int row, int column) const override
    {
        return accessibleOf(table()->at(row, column + 1));
    }
    int selectedCellCount() const override { return 0; }
    QList<QAccessibleInterface*> selectedCells() const override { return {}; }
    QString columnDescription(int) const override { return {}; }
    QString rowDescription(int row) const override
    {
        QAccessibleInterface* header = accessibleOf(table()->at(row, 0));
        return header ? header->text(QAccessible::Name) : QString();
    }
    int selectedColumnCount() const override { return 0; }
    int selectedRowCount() const override { return 0; }
    int columnCount() const override { return table()->columnCount(); }
    int rowCount() const override { return table()->rowCount(); }
    QList<int> selectedColumns() const override { return {}; }
    QList<int> selectedRows() const override { return {}; }
    bool isColumnSelected(int) const override { return false; }
    bool isRowSelected(int) const override { return false; }
    bool selectRow(int) override { return false; }
    bool selectColumn(int) override { return false; }
    bool unselectRow(int) override { return false; }
    bool unselectColumn(int) override { return false; }
    void modelChange(QAccessibleTableModelChangeEvent*) override {}
};

// A label of a table: the header of its row, or a cell named by the value it shows.
class CellInterface : public QAccessibleWidget, public QAccessibleTableCellInterface {
public:
    CellInterface(QWidget* widget, TableObject* table)
        : QAccessibleWidget(widget, table->find(widget).second == 0 ? QAccessible::RowHeader : QAccessible::Cell),
          table_(table)
    {
    }

    QAccessibleInterface* parent() const override { return accessibleOf(table_); }
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
            if (const auto* label = qobject_cast<const QLabel*>(widget()))
                return label->text().trimmed();
        return QAccessibleWidget::text(t);
    }
    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TableCellInterface)
            return static_cast<QAccessibleTableCellInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    bool isSelected() const override { return false; }
    QList<QAccessibleInterface*> columnHeaderCells() const override { return {}; }
    QList<QAccessibleInterface*> rowHeaderCells() const override
    {
        if (!table_ || place() == 0)
            return {};
        QAccessibleInterface* header = accessibleOf(table_->at(rowIndex(), 0));
        return header ? QList<QAccessibleInterface*>{header} : QList<QAccessibleInterface*>{};
    }
    int columnIndex() const override { return qMax(0, place() - 1); }
    int rowIndex() const override { return table_ ? table_->find(widget()).first : -1; }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface* table() const override { return accessibleOf(table_); }

private:
    int place() const { return table_ ? table_->find(widget()).second : -1; }

    QPointer<TableObject> table_;
};

// ---- Containers ---------------------------------------------------------------------------

// A plain widget holding controls. Its children are read in the order they were made, as
// Qt's own view does, except that lines are left out (they only draw) and the labels of a
// table are read as the table, in the place of its first label.
class ContainerInterface : public QAccessibleWidget {
public:
    explicit ContainerInterface(QWidget* widget) : QAccessibleWidget(widget) {}

    int childCount() const override { return int(children().size()); }
    QAccessibleInterface* child(int index) const override
    {
        const QList<QObject*> all = children();
        return index >= 0 && index < all.size() ? accessibleOf(all[index]) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        return child ? int(children().indexOf(child->object())) : -1;
    }

private:
    QList<QObject*> children() const
    {
        QList<QObject*> shown;
        for (QObject* object : widget()->children()) {
            auto* child = qobject_cast<QWidget*>(object);
            if (!child || child->isWindow() || qobject_cast<QMenu*>(child) || qobject_cast<Line*>(child))
                continue;
            QObject* table = tableOf(child);
            if (!table)
                shown.append(child);
            else if (!shown.contains(table))
                shown.append(table);
        }
        return shown;
    }
};

// Drops the view that Qt may already have made of a label (when it was given its caption),
// so that the next look at it asks the factory again.
void forgetView(QObject* object)
{
    if (QAccessibleInterface* view = QAccessible::queryAccessibleInterface(object))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(view));
}

// ---- The factory --------------------------------------------------------------------------

QAccessibleInterface* ownAccessibility(const QString& className, QObject* object)
{
    if (auto* table = dynamic_cast<TableObject*>(object))
        return new TableInterface(table);
    if (!object || !object->isWidgetType())
        return nullptr;
    auto* widget = static_cast<QWidget*>(object);
    if (dynamic_cast<Announcer*>(widget))
        return new QAccessibleWidget(widget, QAccessible::Notification);
    if (TableObject* table = tableOf(widget))
        return new CellInterface(widget, table);
    if (className == QLatin1String("ui::Form") && widget->isWindow())
        return new QAccessibleWidget(widget, QAccessible::Window);
    if (className == QLatin1String("QWidget"))
        return new ContainerInterface(widget);
    return nullptr;
}

} // namespace

void installAccessibility()
{
    QAccessible::removeFactory(ownAccessibility); // installed once, however often called
    QAccessible::installFactory(ownAccessibility);
}

void describe(QWidget* control, const QString& description)
{
    if (control->accessibleDescription() != description)
        control->setAccessibleDescription(description);
}

void makeTable(const QString& name, const QList<QList<QWidget*>>& rows)
{
    if (rows.isEmpty() || rows.first().isEmpty())
        return;
    QWidget* container = rows.first().first()->parentWidget();
    new TableObject(container, name, rows);
    for (const QList<QWidget*>& row : rows)
        for (QWidget* widget : row)
            forgetView(widget);
}

void labelBy(QWidget* box, QLabel* label)
{
    label->setBuddy(box);
}

} // namespace ui
