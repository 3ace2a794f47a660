#pragma once

#include "step/host.h"

/// A column of a table property.
struct SourceColumnDeclaration {
    const char* name;
    int type;  ///< mvbType code: 1 boolean, 2 integer, 4 string
};

/// Default a property is declared with.
enum class SourceDefault { None, False, MinusOne };

/// One property of a source's property set, in declaration order. A table has columns and no
/// type of its own.
struct SourcePropertyDeclaration {
    const char* name;
    int type;
    SourceDefault defaultValue = SourceDefault::None;
    const SourceColumnDeclaration* columns = nullptr;
    int columnCount = 0;
};

/// Declares `count` properties in order through the host's schema, each default right after
/// its property, so that a property's index is its position in `properties`.
void declareSourceProperties(StepHost* host, const SourcePropertyDeclaration* properties,
                             int count);
