#include <string_view>

#include "mvb/parse.h"
#include "mvb/types.h"
#include "utf8_internal.h"

namespace {

struct TypeName {
    std::string_view name;
    int type;
    int format;
};

constexpr TypeName kTypeNames[] = {
    {"boolean", mvbTypeBoolean, 0}, {"bool", mvbTypeBoolean, 0},  {"integer", mvbTypeInteger, 0},
    {"int", mvbTypeInteger, 0},     {"long", mvbTypeInteger, 0},  {"bigint", mvbTypeInteger, 0},
    {"real", mvbTypeReal, 0},       {"float", mvbTypeReal, 0},    {"double", mvbTypeReal, 0},
    {"number", mvbTypeReal, 0},     {"numeric", mvbTypeReal, 0},  {"decimal", mvbTypeReal, 0},
    {"string", mvbTypeString, 0},   {"text", mvbTypeString, 0},   {"char", mvbTypeString, 0},
    {"varchar", mvbTypeString, 0},  {"date", mvbTypeDate, 0},     {"datetime", mvbTypeDate, 0},
    {"date_mdy", mvbTypeDate, 1},   {"date_dmy", mvbTypeDate, 2}, {"date_ymd", mvbTypeDate, 3},
};

bool equalsIgnoringCase(std::string_view text, std::string_view lower) noexcept {
    if (text.size() != lower.size()) {
        return false;
    }
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const char folded = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
        if (folded != lower[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

int mvbTypeFromString(const char* typeName, int* format) noexcept {
    if (format != nullptr) {
        *format = 0;
    }
    if (typeName == nullptr) {
        return mvbTypeNull;
    }
    const std::string_view name = mvb::utf8::trimBlanks(typeName);
    for (const TypeName& entry : kTypeNames) {
        if (equalsIgnoringCase(name, entry.name)) {
            if (format != nullptr) {
                *format = entry.format;
            }
            return entry.type;
        }
    }
    return mvbTypeNull;
}

const char* mvbTypeName(int type, int format) noexcept {
    if (type != mvbTypeDate || format < 1 || format > 3) {
        format = 0;
    }
    // The first name of each code and format in the table is the one jobs are written with.
    for (const TypeName& entry : kTypeNames) {
        if (entry.type == type && entry.format == format) {
            return entry.name.data();
        }
    }
    return nullptr;
}
