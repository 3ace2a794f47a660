#include "property_store.h"

#include <string_view>

#include "texthost/closest_name.h"

namespace texthost {
PropertyStore::Table::Table(int columnCount) : columns_(columnCount > 0 ? columnCount : 0) {}

void PropertyStore::Table::declareColumn(int column, const MvbString& name, int type) {
    if (column < 0) return;
    if (static_cast<size_t>(column) >= columns_.size()) columns_.resize(column + 1);
    columns_[column] = {std::string(name.view()), type};
}

int PropertyStore::Table::getRowCount() {
    return static_cast<int>(rows_.size());
}

MvbDatavar PropertyStore::Table::getCell(int column, int row, bool /*copy*/) {
    if (row < 0 || static_cast<size_t>(row) >= rows_.size()) return MvbDatavar();
    const std::vector<MvbDatavar>& cells = rows_[row];
    if (column < 0 || static_cast<size_t>(column) >= cells.size()) return MvbDatavar();
    return cells[column];
}

PropertyTableSchema* PropertyStore::declareTable(const MvbString& name, int columnCount) {
    Property& p = properties_.emplace_back();
    p.name = std::string(name.view());
    p.table = std::make_unique<Table>(columnCount);
    return p.table.get();
}

void PropertyStore::declareProperty(const MvbString& name, int type) {
    Property& p = properties_.emplace_back();
    p.name = std::string(name.view());
    p.type = type;
}

void PropertyStore::setDefault(int propertyIndex, const MvbDatavar& value) {
    if (propertyIndex < 0 || static_cast<size_t>(propertyIndex) >= properties_.size()) return;
    properties_[propertyIndex].defaultValue = value;
}

PropertyTable* PropertyStore::getTable(int propertyIndex) {
    if (propertyIndex < 0 || static_cast<size_t>(propertyIndex) >= properties_.size() ||
        !properties_[propertyIndex].table) {
        return &noRows_;
    }
    return properties_[propertyIndex].table.get();
}

MvbDatavar PropertyStore::getValue(int propertyIndex, bool /*copy*/) {
    if (propertyIndex < 0 || static_cast<size_t>(propertyIndex) >= properties_.size()) {
        return MvbDatavar();
    }
    const Property& p = properties_[propertyIndex];
    if (p.table) return MvbDatavar();
    return p.given ? p.value : p.defaultValue;
}

PropertyStore::Property* PropertyStore::find(const std::string& name) {
    for (Property& p : properties_) {
        if (p.name == name) return &p;
    }
    return nullptr;
}

void PropertyStore::bind(const JobStep& step) {
    for (const JobProperty& given : step.properties) {
        Property* declared = find(given.name);
        if (declared == nullptr) {
            std::vector<std::string> names;
            for (const Property& p : properties_)
                names.push_back(p.name);
            throw JobError("Unknown property " + given.name + " for " + stepLabel(step) +
                           suggestionTail(given.name, names, "properties"));
        }
        if (declared->table) {
            if (!given.isTable && given.value.isNull()) {
                declared->table->setRows({});  // null: a table of no rows
                declared->given = true;
                continue;
            }
            if (!given.isTable) {
                throw JobError("Property " + given.name + " of " + stepLabel(step) +
                               " is a table: give an array of rows");
            }
            bindTable(step, given, *declared);
        } else {
            if (given.isTable) {
                throw JobError("Property " + given.name + " of " + stepLabel(step) +
                               " takes a single value, not an array");
            }
            declared->value = given.value;
            declared->given = true;
        }
    }
}

void PropertyStore::bindTable(const JobStep& step, const JobProperty& given, Property& declared) {
    const std::vector<Table::Column>& columns = declared.table->columns();
    std::vector<std::string> columnNames;
    for (const Table::Column& c : columns)
        columnNames.push_back(c.name);
    std::vector<std::vector<MvbDatavar>> rows;
    rows.reserve(given.table.rows.size());
    for (size_t r = 0; r < given.table.rows.size(); ++r) {
        const JobRow& row = given.table.rows[r];
        const std::string where =
            "Property " + given.name + " of " + stepLabel(step) + ", row " + std::to_string(r + 1);
        std::vector<MvbDatavar>& cells = rows.emplace_back(columns.size());
        if (row.positional) {
            if (row.cells.size() > columns.size()) {
                throw JobError(where + ": " + std::to_string(row.cells.size()) +
                               " cells, but the table has " + std::to_string(columns.size()) +
                               " columns: " + joinNames(columnNames));
            }
            for (size_t c = 0; c < row.cells.size(); ++c)
                cells[c] = row.cells[c].second;
            continue;
        }
        for (const auto& [name, value] : row.cells) {
            size_t c = 0;
            while (c < columns.size() && columns[c].name != name)
                ++c;
            if (c == columns.size()) {
                throw JobError(where + ": unknown column " + name +
                               suggestionTail(name, columnNames, "columns"));
            }
            cells[c] = value;
        }
    }
    declared.table->setRows(std::move(rows));
    declared.given = true;
}

}  // namespace texthost
