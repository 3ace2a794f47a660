#pragma once

#include <memory>
#include <string>
#include <vector>

#include "mvb/datavar.h"
#include "step/host.h"
#include "texthost/job.h"

namespace texthost {

/// One step's properties: what the step declared in initialize (names, types, table columns,
/// defaults) and the values the job gave. Values are read by index: the position in
/// declaration order, a table counting as one property.
class PropertyStore final : public PropertySchema, public PropertyValues {
  public:
    /// A table property: its declared columns and the job's rows.
    class Table final : public PropertyTableSchema, public PropertyTable {
      public:
        explicit Table(int columnCount);
        void declareColumn(int column, const MvbString& name, int type) override;
        int getRowCount() override;
        /// Null outside the table or where the job gave no value.
        MvbDatavar getCell(int column, int row, bool copy) override;

        struct Column {
            std::string name;
            int type = 0;
        };
        const std::vector<Column>& columns() const { return columns_; }
        /// Replaces the rows; each row holds one value per column.
        void setRows(std::vector<std::vector<MvbDatavar>> rows) { rows_ = std::move(rows); }

      private:
        std::vector<Column> columns_;
        std::vector<std::vector<MvbDatavar>> rows_;
    };

    struct Property {
        std::string name;
        int type = 0;                  ///< declared type of a scalar
        std::unique_ptr<Table> table;  ///< set for a table property
        MvbDatavar defaultValue;
        MvbDatavar value;
        bool given = false;  ///< the job gave a value
    };

    PropertyTableSchema* declareTable(const MvbString& name, int columnCount) override;
    void declareProperty(const MvbString& name, int type) override;
    /// Ignored for an index that was not declared.
    void setDefault(int propertyIndex, const MvbDatavar& value) override;
    /// A table of no rows for an index that is not a table property.
    PropertyTable* getTable(int propertyIndex) override;
    /// The job's value, else the declared default, else null (also for a table or an index
    /// that was not declared).
    MvbDatavar getValue(int propertyIndex, bool copy) override;

    /// Stores the job's values for `step`. A value of the wrong kind is kept as it is (the step
    /// reports it). Throws JobError for a name the step did not declare (listing the valid
    /// ones), an unknown or surplus table column, a table given as a value or the reverse.
    void bind(const JobStep& step);

    const std::vector<Property>& properties() const { return properties_; }

  private:
    Property* find(const std::string& name);
    void bindTable(const JobStep& step, const JobProperty& given, Property& declared);

    std::vector<Property> properties_;
    Table noRows_{0};
};

}  // namespace texthost
