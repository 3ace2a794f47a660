#include "source_fields.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>

#include "file_char_sizes.h"
#include "mvb/types.h"
#include "step_properties.h"

SourceCharSizes probeSourceCharSizes(PropertyValues* values, int fileNameIndex,
                                     int byteOrderMarkIndex, int encodingIndex) {
    const MvbString fileName = values->getValue(fileNameIndex, true).asString();
    bool error = false;
    bool byteOrderMark = values->getValue(byteOrderMarkIndex, true).asBool(&error);
    if (error) byteOrderMark = false;
    int encoding = -1;
    const MvbDatavar encodingValue = values->getValue(encodingIndex, true);
    if (!encodingValue.isNull() && !readEncodingNumber(encodingValue, &encoding)) encoding = -1;
    SourceCharSizes sizes;
    if (!getFileCharSizes(fileName, byteOrderMark, encoding, &sizes.minimum, &sizes.maximum)) {
        sizes = SourceCharSizes{};
    }
    return sizes;
}

int saturatedProduct(int count, int perUnit) noexcept {
    const int64_t product = static_cast<int64_t>(count) * perUnit;
    if (product > INT_MAX) return INT_MAX;
    if (product < INT_MIN) return INT_MIN;
    return static_cast<int>(product);
}

StepOutputItems* createSourceOutput(StepHost* host, int fieldCount,
                                    const MvbString& fileNameField) {
    return host->createOutputItems(fieldCount + (fileNameField.empty() ? 0 : 1));
}

int declareFileNameField(StepOutputItems* items, int index, const MvbString& fileNameField) {
    if (fileNameField.empty()) return -1;
    StepOutputItem& item = items->items[index];
    item.name = fileNameField;
    item.type = mvbTypeString;
    item.length = kFileNameFieldLength;
    item.byteSize = kFileNameFieldByteSize;
    return index;
}

std::string_view cutAtNul(std::string_view field, size_t nulAt, char nul,
                          std::string_view* dropped) noexcept {
    // What is dropped is shown without the NULs before it and the padding after it.
    const auto isPadding = [nul](char c) { return c == nul || c == ' ' || c == '\t'; };
    size_t first = nulAt;
    while (first < field.size() && field[first] == nul)
        ++first;
    size_t last = field.size();
    while (last > first && isPadding(field[last - 1]))
        --last;
    *dropped = field.substr(first, last - first);
    return field.substr(0, nulAt);
}

namespace {

/// Longest text that can still be a date with a time ("YYYY-MM-DD HH:MM:SS" with ample room for
/// blanks); anything longer is no date.
constexpr size_t kMaxDateText = 127;

}  // namespace

FieldOutcome SourceFieldConverter::convertDate(MvbDatavar& value, int dateFormat,
                                               std::string_view text) {
    // A fixed-width field is a span of the file's buffer: the parser reads it by its length.
    if (text.size() > kMaxDateText) {
        value.setNull();
        return FieldOutcome::Unreadable;
    }
    return value.assignDate(text, dateFormat) ? FieldOutcome::Read : FieldOutcome::Unreadable;
}

FieldOutcome SourceFieldConverter::cutString(StepOutputItem& item, size_t textBytes) noexcept {
    item.value.truncate(item.length, item.byteSize);
    return item.value.stringView().size() == textBytes ? FieldOutcome::Read : FieldOutcome::Cut;
}
