#include "step_properties.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "mvb/charset.h"

namespace {

bool isCharacter(unsigned long code) noexcept {
    return code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
}

}  // namespace

DecodedDelimiter decodeDelimiter(std::string_view text, int* code) {
    if (text.empty()) return DecodedDelimiter::Empty;
    if (text.size() < 2 || text[0] != '0' || text[1] != 'x') return DecodedDelimiter::Text;
    // The digits are read from a copy: the view need not be NUL-terminated.
    const std::string digits(text.substr(2));
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(digits.c_str(), &end, 16);
    if (end == digits.c_str() || errno == ERANGE || !isCharacter(value))
        return DecodedDelimiter::NoChar;
    *code = value == 0 ? ',' : static_cast<int>(value);
    return DecodedDelimiter::Code;
}

bool readEncodingNumber(const MvbDatavar& value, int* number) {
    if (value.getType() == mvbTypeString)
        return mvbEncodingFromName(value.asString().asCstr(), number);
    // A boolean is no encoding number, though it yields one (true as 1).
    if (value.getType() == mvbTypeBoolean) return false;
    bool unreadable = false;
    const int read = value.asInt(&unreadable);
    if (unreadable) return false;
    *number = read;
    return true;
}

int readWholeCell(const MvbDatavar& cell, bool* unreadable) {
    if (cell.getType() == mvbTypeBoolean) {
        *unreadable = true;
        return 0;
    }
    return cell.asInt(unreadable);
}

std::string characterText(int code) {
    char bytes[5] = {};
    if (np_uchar_intcopy(code, bytes, 4) <= 0) return {};
    return bytes;
}

namespace {

/// The code of a Character or Delimiter value; an empty one leaves the default.
bool readCode(const MvbDatavar& value, PropertyKind kind, int* setting) {
    const MvbString text = value.asString();
    if (text.empty()) return true;
    int code = 0;
    if (kind == PropertyKind::Delimiter) {
        switch (decodeDelimiter(text.view(), &code)) {
            case DecodedDelimiter::Code:
                *setting = code;
                return true;
            case DecodedDelimiter::NoChar:
                return false;
            default:
                break;
        }
    }
    // Only the first character counts; further characters are ignored.
    int byteLength = 0;
    *setting = np_uchar_toint(text.asCstr(), &byteLength);
    return true;
}

}  // namespace

namespace property_detail {

int typeOf(PropertyKind kind) noexcept {
    switch (kind) {
        case PropertyKind::Boolean:
            return mvbTypeBoolean;
        case PropertyKind::Integer:
        case PropertyKind::Encoding:
            return mvbTypeInteger;
        default:
            return mvbTypeString;
    }
}

void declareScalar(PropertySchema* schema, const char* name, PropertyKind kind) {
    schema->declareProperty(MvbString(name, true), typeOf(kind));
}

void declareTable(PropertySchema* schema, const char* name,
                  std::span<const PropertyColumn> columns) {
    PropertyTableSchema* table =
        schema->declareTable(MvbString(name, true), static_cast<int>(columns.size()));
    for (size_t column = 0; column < columns.size(); ++column) {
        table->declareColumn(static_cast<int>(column), MvbString(columns[column].name, true),
                             columns[column].type);
    }
}

std::string defaultText(PropertyKind, bool value) {
    return value ? "true" : "false";
}

std::string defaultText(PropertyKind kind, int value) {
    if (kind == PropertyKind::Character || kind == PropertyKind::Delimiter) {
        return value == 0 ? "(none)" : characterText(value);
    }
    return std::to_string(value);
}

std::string defaultText(PropertyKind, const MvbString& value) {
    return value.empty() ? "(none)" : std::string(value.view());
}

bool readFlag(const MvbDatavar& value, int message, bool* setting, bool* lenient) noexcept {
    if (value.isNull()) return true;
    bool unreadable = false;
    const bool flag = value.asBool(&unreadable);
    // A number is a boolean as 0 and 1 only, as its text would be (2, -1 or 1.5 is none).
    const int type = value.getType();
    if (type == mvbTypeInteger || type == mvbTypeReal) {
        const double number = value.asReal(nullptr);
        unreadable = unreadable || (number != 0 && number != 1);
    }
    if (unreadable && message != 0) return false;
    *setting = flag && !unreadable;
    *lenient = unreadable;
    return true;
}

bool readNumber(const MvbDatavar& value, PropertyKind kind, int message, int* setting,
                bool* lenient) {
    if (kind == PropertyKind::Character || kind == PropertyKind::Delimiter) {
        return readCode(value, kind, setting);
    }
    if (value.isNull()) return true;
    if (kind == PropertyKind::Encoding) {
        // An empty text, like a missing value, leaves the default.
        if (value.getType() == mvbTypeString && value.stringView().empty()) return true;
        if (readEncodingNumber(value, setting)) return true;
        *lenient = message == 0;
        return message == 0;
    }
    // A lenient read passes on what the value yields, 0 when it is no integer. A boolean is
    // no number, though it yields one (true as 1): it reads as 0 too.
    const bool boolean = value.getType() == mvbTypeBoolean;
    bool unreadable = boolean;
    const int number = value.asInt(&unreadable);
    if (unreadable && message != 0) return false;
    *setting = boolean ? 0 : number;
    *lenient = unreadable;
    return true;
}

namespace {

/// Message 831: property `name`'s value is not `wanted`, and is read as `readAs`.
void warnReadAs(const StepMessages& messages, const char* name, const MvbDatavar& value,
                std::string_view wanted, std::string_view readAs, int line) {
    StepMessageId id(831);
    id.line = line;
    messages.warn(id, std::string_view(name), value.asString().view(), wanted, readAs);
}

}  // namespace

void warnLenient(const StepMessages& messages, const char* name, PropertyKind kind,
                 const MvbDatavar& value, const std::string& readAs, int line) {
    const char* wanted = kind == PropertyKind::Boolean    ? "a boolean (true or false)"
                         : kind == PropertyKind::Encoding ? "an encoding number or name"
                                                          : "a whole number";
    warnReadAs(messages, name, value, wanted, readAs, line);
}

void reportUnusable(const StepMessages& messages, PropertyKind kind, StepMessageId id,
                    const MvbDatavar& value) {
    const MvbString text = value.asString();
    switch (kind) {
        case PropertyKind::Delimiter:
            messages.report(id, text.view());
            break;
        case PropertyKind::Encoding:
            messages.report(id, text.view(), mvbClosestEncodingNames(text.asCstr()).view());
            break;
        default:
            messages.report(id);
            break;
    }
}

bool numberForCharacters(PropertyKind kind, const MvbDatavar& value) noexcept {
    if (kind != PropertyKind::Character && kind != PropertyKind::Delimiter &&
        kind != PropertyKind::Marks) {
        return false;
    }
    const int type = value.getType();
    return type == mvbTypeInteger || type == mvbTypeReal || type == mvbTypeBoolean;
}

void warnNumberForCharacters(const StepMessages& messages, const char* name, PropertyKind kind,
                             const MvbDatavar& value, const std::string& readAs, int line) {
    std::string wanted = "a character in quotes";
    bool unreadable = false;
    const int code = value.asInt(&unreadable);
    if (kind == PropertyKind::Delimiter && !unreadable && code > 0 &&
        !characterText(code).empty()) {
        // The number may be meant as a character code, which the 0x form gives.
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%X", static_cast<unsigned>(code));
        wanted +=
            " (\"" + std::string(hex) + "\" is the character of code " + std::to_string(code) + ")";
    }
    warnReadAs(messages, name, value, wanted, "\"" + readAs + "\"", line);
}

bool severalCharacters(PropertyKind kind, const MvbDatavar& value) {
    if ((kind != PropertyKind::Character && kind != PropertyKind::Delimiter) ||
        value.getType() != mvbTypeString) {
        return false;
    }
    const MvbString text = value.asString();
    int code = 0;
    if (text.empty() || (kind == PropertyKind::Delimiter &&
                         decodeDelimiter(text.view(), &code) == DecodedDelimiter::Code)) {
        return false;
    }
    int firstBytes = 0;
    np_uchar_toint(text.asCstr(), &firstBytes);
    return firstBytes > 0 && static_cast<size_t>(firstBytes) < text.view().size();
}

void warnSeveralCharacters(const StepMessages& messages, const char* name, PropertyKind kind,
                           const MvbDatavar& value, const std::string& readAs, int line) {
    warnReadAs(messages, name, value,
               kind == PropertyKind::Delimiter ? "one character (or 0x and its code: 0x09 is a tab)"
                                               : "one character",
               "its first, \"" + readAs + "\"", line);
}

bool readText(const MvbDatavar& value, PropertyKind kind, bool required, MvbString* setting) {
    const MvbString text = value.asString();
    if (text.empty()) return !required;
    int code = 0;
    switch (kind == PropertyKind::Delimiter ? decodeDelimiter(text.view(), &code)
                                            : DecodedDelimiter::Text) {
        case DecodedDelimiter::Empty:
            return true;
        case DecodedDelimiter::Code:
            setting->assign(characterText(code).c_str());
            return true;
        case DecodedDelimiter::Text:
            *setting = text;
            return true;
        case DecodedDelimiter::NoChar:
            break;
    }
    return false;
}

}  // namespace property_detail
