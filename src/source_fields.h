#pragma once

#include <string_view>

#include "mvb/datavar.h"
#include "mvb/string.h"
#include "step/host.h"

/// Capacity in characters and bytes of the FILENAME_FIELD output field.
inline constexpr int kFileNameFieldLength = 256;
inline constexpr int kFileNameFieldByteSize = 1024;
/// Bytes per character assumed when the input's encoding could not be probed.
inline constexpr int kUnknownCharSize = 4;

/// Character sizes of a source's input encoding; -1 while unknown.
struct SourceCharSizes {
    int minimum = -1;
    int maximum = -1;
};

/// Probes the encoding of the FILENAME at `fileNameIndex` as the validating pass of prepare
/// does: BYTE_ORDER_MARK reads as false when it is not a boolean, ENCODING as -1 when it is
/// null or neither an encoding number nor an encoding's name. Both sizes stay -1 when the file
/// cannot be opened.
SourceCharSizes probeSourceCharSizes(PropertyValues* values, int fileNameIndex,
                                     int byteOrderMarkIndex, int encodingIndex);

/// `count` × `perUnit`, saturated to the int range (a byte size never wraps around).
int saturatedProduct(int count, int perUnit) noexcept;

/// Asks the host for a source's output field list: `fieldCount` fields, plus the FILENAME_FIELD
/// field when `fileNameField` is not empty.
StepOutputItems* createSourceOutput(StepHost* host, int fieldCount, const MvbString& fileNameField);

/// Describes the FILENAME_FIELD field at `index` of `items` and returns that index; -1 (and
/// nothing described) when `fileNameField` is empty.
int declareFileNameField(StepOutputItems* items, int index, const MvbString& fileNameField);

/// Sets a field's value from its text by the field's type code. The rules are those of the
/// delimited source: an empty text gives an empty string for a string field and null for
/// every other type. A string is cut to the field's length and byte size; booleans, integers
/// and reals convert as MvbDatavar::setType does (null when the text is not one); a date parses
/// with the field's date format (null when it does not). An unknown type (0) is null.
///
/// Converting allocates nothing once a field's value has held its longest string.
class SourceFieldConverter {
  public:
    void convert(StepOutputItem& item, int dateFormat, std::string_view text);
};
