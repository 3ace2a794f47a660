#include "source_properties.h"

#include "mvb/datavar.h"
#include "mvb/string.h"

void declareSourceProperties(StepHost* host, const SourcePropertyDeclaration* properties,
                             int count) {
    PropertySchema* schema = host->getPropertySchema();
    for (int index = 0; index < count; ++index) {
        const SourcePropertyDeclaration& property = properties[index];
        const MvbString name(property.name, true);
        if (property.columns != nullptr) {
            PropertyTableSchema* table = schema->declareTable(name, property.columnCount);
            for (int column = 0; column < property.columnCount; ++column) {
                table->declareColumn(column, MvbString(property.columns[column].name, true),
                                     property.columns[column].type);
            }
            continue;
        }
        schema->declareProperty(name, property.type);
        switch (property.defaultValue) {
            case SourceDefault::False:
                schema->setDefault(index, MvbDatavar(false));
                break;
            case SourceDefault::MinusOne:
                schema->setDefault(index, MvbDatavar(-1));
                break;
            case SourceDefault::None:
                break;
        }
    }
}
