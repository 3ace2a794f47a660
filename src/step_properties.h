#pragma once

#include <source_location>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "mvb/datavar.h"
#include "mvb/string.h"
#include "mvb/types.h"
#include "step/host.h"
#include "step/plugin.h"
#include "step_messages.h"

// A step's properties as one table of data. Each row names a property, says how its value is
// read, which member of the step's settings struct receives it, the message reported when the
// value cannot be used, and what the property does. From the table come the declarations the
// host sees (a row's position is its property index), the notes `describe` shows, and the one
// call that fills and checks the settings at start. Adding a property is adding a row (and its
// member).

/// How a property's value is read into its setting.
enum class PropertyKind {
    Table,      ///< a table property; the step reads its rows itself
    Text,       ///< text as given
    Boolean,    ///< true or false
    Integer,    ///< a 32-bit whole number
    Encoding,   ///< an encoding number, or an encoding's name (see readEncodingNumber)
    Character,  ///< the code of the text's first character
    Delimiter,  ///< "0x" and a hexadecimal character code, or the text itself; see decodeDelimiter
    Marks,      ///< text as given, of characters that mark the data (a qualifier around values)
};

/// A column of a table property.
struct PropertyColumn {
    const char* name;
    int type;  ///< mvbType code
};

/// One property of a step, in declaration order. A row binds at most one member of `Settings`
/// (the member's type decides which pointer is set); a table binds none.
template <class Settings>
struct PropertyRow {
    const char* name;
    PropertyKind kind;
    /// Reported when the value cannot be read as its kind (a required text: when it is empty);
    /// 0 reads leniently: an unreadable value gives false or 0 and nothing is reported.
    int message = 0;
    /// The setting's in-class default is also declared to the host as the property's default.
    bool declaresDefault = false;
    /// A job must give the property: its default is no usable value (a required text that is
    /// empty reports `message`).
    bool required = false;
    bool Settings::*flag = nullptr;
    int Settings::*number = nullptr;
    MvbString Settings::*text = nullptr;
    const char* description = "";
    std::span<const PropertyColumn> columns = {};
    /// A StepFileRole when the text names a file (0 for none), told to the host with the
    /// boolean property that selects appending for kStepFileAppended.
    int fileRole = 0;
    const char* fileCondition = nullptr;
};

/// Marks, in a read order, the place where the step's own checks run (those that look at
/// several settings or at the files).
inline constexpr int kStepChecks = -1;

/// What decoding a DELIMITER-like text gave.
enum class DecodedDelimiter {
    Empty,   ///< the text is empty: the setting keeps its default
    Code,    ///< "0x" and the code of a character (0 standing for the comma)
    Text,    ///< no "0x" form: the text is the delimiter
    NoChar,  ///< "0x" followed by no hexadecimal number, or by a code that is no character
};

/// Reads the "0x" form: only a lower-case "0x" introduces it, the hexadecimal digits after it
/// are read as far as they go, and code 0 means the comma. A code above U+10FFFF or a
/// surrogate is no character.
DecodedDelimiter decodeDelimiter(std::string_view text, int* code);

/// The encoding number an ENCODING value stands for: an integer, or a text holding a number
/// or an encoding's name. False, leaving `*number`, when it is neither.
bool readEncodingNumber(const MvbDatavar& value, int* number);
/// A whole number from a cell of a FIELDS table (a length, a width, a position); `*unreadable`
/// set for a text that is none and for a boolean, which is no number though it yields one
/// (true as 1).
int readWholeCell(const MvbDatavar& cell, bool* unreadable);

/// The value text of a character code (UTF-8; "" for a code that is no character).
std::string characterText(int code);

namespace property_detail {

void declareScalar(PropertySchema* schema, const char* name, PropertyKind kind);
void declareTable(PropertySchema* schema, const char* name,
                  std::span<const PropertyColumn> columns);
int typeOf(PropertyKind kind) noexcept;
std::string defaultText(PropertyKind kind, bool value);
std::string defaultText(PropertyKind kind, int value);
std::string defaultText(PropertyKind kind, const MvbString& value);

/// Read one value into its setting: false when it cannot be used (nothing is reported here).
/// With `message` 0 a flag or number reads leniently: what cannot be read gives false or 0 (an
/// encoding keeps its default), and `*lenient` is set so that the caller can say so.
bool readFlag(const MvbDatavar& value, int message, bool* setting, bool* lenient) noexcept;
/// An integer, an encoding, or a character's code (Character, Delimiter).
bool readNumber(const MvbDatavar& value, PropertyKind kind, int message, int* setting,
                bool* lenient);
/// Warns (message 831) that the value of property `name` was no value of its kind and was read
/// as the setting's value `readAs` shows.
void warnLenient(const StepMessages& messages, const char* name, PropertyKind kind,
                 const MvbDatavar& value, const std::string& readAs, int line);
bool readText(const MvbDatavar& value, PropertyKind kind, bool required, MvbString* setting);
/// True when a property of characters (a delimiter, quote or qualifier) was given a number or
/// a boolean: its text is then the digits or the word, seldom what a job means (59 for ';').
bool numberForCharacters(PropertyKind kind, const MvbDatavar& value) noexcept;
/// Warns (message 831) that such a value is read as the characters `readAs`.
void warnNumberForCharacters(const StepMessages& messages, const char* name, PropertyKind kind,
                             const MvbDatavar& value, const std::string& readAs, int line);
/// True when a property read as one character (a source's delimiter or quote) was given a text
/// of several, of which only the first counts ("tab", or a backslash and a letter).
bool severalCharacters(PropertyKind kind, const MvbDatavar& value);
/// Warns (message 831) that such a value is read as its first character, `readAs`.
void warnSeveralCharacters(const StepMessages& messages, const char* name, PropertyKind kind,
                           const MvbDatavar& value, const std::string& readAs, int line);
/// Reports message `id` for a value that cannot be used, with the arguments its kind's text
/// takes: the value for a delimiter; the value and the nearest names for an encoding.
void reportUnusable(const StepMessages& messages, PropertyKind kind, StepMessageId id,
                    const MvbDatavar& value);

}  // namespace property_detail

/// Declares the rows through the host's schema, in order, each declared default right after
/// its property, so that a row's position is its property index.
template <class Settings>
void declareProperties(PropertySchema* schema, std::span<const PropertyRow<Settings>> rows) {
    const Settings defaults{};
    for (size_t index = 0; index < rows.size(); ++index) {
        const PropertyRow<Settings>& row = rows[index];
        if (row.kind == PropertyKind::Table) {
            property_detail::declareTable(schema, row.name, row.columns);
            continue;
        }
        property_detail::declareScalar(schema, row.name, row.kind);
        if (!row.declaresDefault) continue;
        const int at = static_cast<int>(index);
        if (row.flag != nullptr) schema->setDefault(at, MvbDatavar(defaults.*row.flag));
        if (row.number != nullptr) schema->setDefault(at, MvbDatavar(defaults.*row.number));
        if (row.text != nullptr) schema->setDefault(at, MvbDatavar((defaults.*row.text).asCstr()));
    }
}

/// The notes of a step's properties, owning their texts.
class PropertyNotes {
  public:
    /// Notes for `rows`: each effective default is the in-class default of the member the row
    /// binds; a row that binds none says so.
    template <class Settings>
    void describe(std::span<const PropertyRow<Settings>> rows) {
        const Settings defaults{};
        texts_.clear();
        texts_.reserve(rows.size());
        for (const PropertyRow<Settings>& row : rows) {
            if (row.required) {
                texts_.emplace_back("(required)");
            } else if (row.flag != nullptr) {
                texts_.push_back(property_detail::defaultText(row.kind, defaults.*row.flag));
            } else if (row.number != nullptr) {
                texts_.push_back(property_detail::defaultText(row.kind, defaults.*row.number));
            } else if (row.text != nullptr) {
                texts_.push_back(property_detail::defaultText(row.kind, defaults.*row.text));
            } else {
                texts_.emplace_back(row.kind == PropertyKind::Table ? "(no rows)" : "(unused)");
            }
        }
        notes_.clear();
        for (size_t i = 0; i < rows.size(); ++i)
            notes_.push_back({rows[i].name, texts_[i].c_str(), rows[i].description});
        view_.count = static_cast<int>(notes_.size());
        view_.notes = notes_.data();
    }
    const StepPropertyNotes* view() const noexcept { return &view_; }

  private:
    std::vector<std::string> texts_;
    std::vector<StepPropertyNote> notes_;
    StepPropertyNotes view_;
};

/// Fills `settings` from the step's property values and checks them, in `order` (property
/// indexes; kStepChecks runs `stepChecks`, which returns false after reporting its own
/// message). An empty order reads every row that binds a member, in declaration order. A null
/// or empty value leaves the member's in-class default. Stops at the first value that cannot
/// be used: reports the row's message (naming `where`'s line) and returns false.
template <class Settings, class StepChecks>
bool readSettings(const StepMessages& messages, std::span<const PropertyRow<Settings>> rows,
                  std::span<const int> order, Settings& settings, StepChecks&& stepChecks,
                  std::source_location where = std::source_location::current()) {
    PropertyValues* values = messages.host()->getPropertyValues();
    const size_t count = order.empty() ? rows.size() : order.size();
    for (size_t step = 0; step < count; ++step) {
        const int index = order.empty() ? static_cast<int>(step) : order[step];
        if (index == kStepChecks) {
            if (!stepChecks()) return false;
            continue;
        }
        const PropertyRow<Settings>& row = rows[static_cast<size_t>(index)];
        if (row.kind == PropertyKind::Table) continue;
        const MvbDatavar value = values->getValue(index, true);
        bool usable = true;
        bool lenient = false;
        if (row.flag != nullptr) {
            usable = property_detail::readFlag(value, row.message, &(settings.*row.flag), &lenient);
            if (lenient) [[unlikely]] {
                property_detail::warnLenient(
                    messages, row.name, row.kind, value,
                    property_detail::defaultText(row.kind, settings.*row.flag),
                    static_cast<int>(where.line()));
            }
        } else if (row.number != nullptr) {
            usable = property_detail::readNumber(value, row.kind, row.message,
                                                 &(settings.*row.number), &lenient);
            if (lenient) [[unlikely]] {
                property_detail::warnLenient(
                    messages, row.name, row.kind, value,
                    property_detail::defaultText(row.kind, settings.*row.number),
                    static_cast<int>(where.line()));
            }
        } else if (row.text != nullptr) {
            usable =
                property_detail::readText(value, row.kind, row.required, &(settings.*row.text));
        }
        if (usable && property_detail::numberForCharacters(row.kind, value)) [[unlikely]] {
            property_detail::warnNumberForCharacters(messages, row.name, row.kind, value,
                                                     row.text != nullptr
                                                         ? std::string((settings.*row.text).view())
                                                         : characterText(settings.*row.number),
                                                     static_cast<int>(where.line()));
        }
        if (usable && row.number != nullptr && property_detail::severalCharacters(row.kind, value))
            [[unlikely]] {
            property_detail::warnSeveralCharacters(messages, row.name, row.kind, value,
                                                   characterText(settings.*row.number),
                                                   static_cast<int>(where.line()));
        }
        if (usable) continue;
        property_detail::reportUnusable(messages, row.kind, StepMessageId(row.message, where),
                                        value);
        return false;
    }
    return true;
}
