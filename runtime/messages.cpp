#include <algorithm>
#include <charconv>
#include <string>

#include "mvb/message.h"

// The message catalogue. Each text says what is wrong in the user's words and names the
// property, field or file involved. "%s" takes the next argument, "%%" is a percent sign;
// arguments are copied as they are and never read as formats.

namespace {

struct CatalogueEntry {
    int number;
    const char* text;
};

constexpr CatalogueEntry kCatalogue[] = {
    {29, "Out of memory: the buffer %s could not be allocated."},
    {57,
     "DELIMITER \"%s\" gives no character: after \"0x\" write the hexadecimal code of a "
     "character, such as 0x09 for a tab (0x0 is the comma); codes above 10FFFF and the "
     "surrogates D800 to DFFF are no characters."},
    {97, "FILENAME: no file matches \"%s\"."},
    {268,
     "TYPE of field \"%s\" is not a known type name. Use boolean, integer, real, string, date, "
     "datetime, date_mdy, date_dmy or date_ymd (also accepted: bool, int, long, bigint, float, "
     "double, number, numeric, decimal, text, char, varchar)."},
    {270,
     "MAX_OUTPUT_ROWS is not an integer from -2147483648 to 2147483647: give the largest "
     "number of rows to read, or 0 for no limit."},
    {304, "FILENAME is empty: set the file to write."},
    {311, "FIELDNAME \"%s\" is not one of the input fields."},
    {315, "The step has no input fields: connect a step that feeds it rows."},
    {421, "The run was stopped at the user's request."},
    {663,
     "No input fields are connected and FIELDS is empty: connect a step that feeds this one, or "
     "list the fields to write in FIELDS."},
    {721,
     "The length (MAX_LENGTH, LENGTH or WIDTH) of field \"%s\" is not a whole number up to "
     "2147483647; a LENGTH must be at least 1."},
    {722,
     "MAX_LENGTH of string field \"%s\" is below 1: give the largest number of characters the "
     "field holds."},
    {723,
     "SKIPROWS is not an integer from -2147483648 to 2147483647: give the number of lines to "
     "skip at the start of each file."},
    {724, "PRESERVE_WHITESPACE is not a boolean: use true or false."},
    {725, "UNESCAPE_BACKSLASH is not a boolean: use true or false."},
    {726, "FILENAME is empty: set the file to read."},
    {729, "INCLUDE_HEADER is not a boolean: use true or false."},
    {732, "A WIDTH in FIELDS is negative: give each field's width in bytes, 0 or more."},
    {734,
     "START_POS of a field in FIELDS is not a whole number of at least 1 (the first "
     "position is 1)."},
    {735,
     "RECORDWIDTH is not an integer from -2147483648 to 2147483647: give the width of one "
     "record in bytes."},
    {736, "CRLF_TERMINATE is not a boolean: use true (one record per line) or false."},
    {737, "RECORDWIDTH is 0 or not given: give the width of one record in bytes."},
    {738,
     "RECORDWIDTH is smaller than the end of the last field (START_POS + LENGTH - 1): widen the "
     "record or move the fields."},
    {739,
     "MAX_OUTPUT_ROWS is not an integer from -2147483648 to 2147483647: give the largest "
     "number of records to read, or 0 for no limit."},
    {800,
     "Field \"%s\" starts at START_POS %s, inside the record part that the fields before it "
     "cover: list FIELDS in record order, without overlaps."},
    {801,
     "ENCODING \"%s\" is neither an encoding number nor a known encoding name; the nearest "
     "names are %s."},
    {802, "The step stopped on an internal failure: %s."},
    {810, "Row %s, field \"%s\": \"%s\" is not a valid %s value; the field is null."},
    {811,
     "Row %s, field \"%s\": \"%s\" is longer than MAX_LENGTH %s characters and was cut to "
     "that length."},
    {812,
     "Row %s, field \"%s\": the text \"%s\" after a NUL character was dropped; set "
     "REPLACE_NULLS to true to read NULs as blanks and keep it."},
    {813,
     "Row %s, field \"%s\": \"%s\" is longer than WIDTH %s bytes and was cut to the "
     "characters that fit."},
    {814, "Values not kept as read: %s."},
    {815, "Values not written whole: %s."},
    {816, "Row %s, field \"%s\": \"%s\" holds %s; %s."},
    {817,
     "Row %s has %s fields where FIELDS has %s; the extra fields were dropped, the first "
     "that holds text being \"%s\"."},
    {818,
     "Row %s, field \"%s\": the text \"%s\" after the closing quote was kept as part of "
     "the value."},
    {819, "Row %s, field \"%s\": \"%s\" has more digits than a real holds; it is read as %s."},
    {820,
     "Row %s, field \"%s\": its quote does not close on the line, so the value runs to the "
     "line's end, its delimiters read as text (set NEWLINES_IN_VALUES true if values hold line "
     "breaks)."},
    {821,
     "Row %s, field \"%s\": \"%s\" holds the replacement character U+FFFD for the part of a "
     "character that the field's edge (START_POS, LENGTH) cuts."},
    {830, "NEWLINES_IN_VALUES is not a boolean: use true or false."},
    {831, "%s \"%s\" is not %s; it is read as %s."},
    {832,
     "APPEND is not a boolean: use true or false (read as false, it would replace the file it "
     "means to add to)."},
    {840,
     "STYLE \"%s\" is not a report style: leave it empty for the classic page, or use modern."},
};

void appendNumber(std::string& out, int value) {
    char digits[16];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, result.ptr);
}

void appendFilled(std::string& out, std::string_view format,
                  std::initializer_list<std::string_view> args) {
    const std::string_view* next = args.begin();
    size_t i = 0;
    while (i < format.size()) {
        const size_t percent = format.find('%', i);
        if (percent == std::string_view::npos || percent + 1 >= format.size()) {
            out.append(format.substr(i));
            break;
        }
        out.append(format.substr(i, percent - i));
        const char kind = format[percent + 1];
        if (kind == 's') {
            if (next != args.end()) {
                out.append(*next++);
            }
        } else {
            out.push_back('%');
            if (kind != '%') {
                out.push_back(kind);
            }
        }
        i = percent + 2;
    }
}

}  // namespace

const char* mvbMessageTemplate(int number) noexcept {
    const auto* entry =
        std::find_if(std::begin(kCatalogue), std::end(kCatalogue),
                     [number](const CatalogueEntry& e) { return e.number == number; });
    return entry != std::end(kCatalogue) ? entry->text : nullptr;
}

MvbString mvbFormatMessage(const char* sourceFile, int line, const char* domain, int number,
                           std::initializer_list<std::string_view> args) {
    std::string out;
    out.reserve(160);
    out.append(domain != nullptr ? domain : "");
    out.push_back(' ');
    appendNumber(out, number);
    out.append(": ");
    if (const char* format = mvbMessageTemplate(number)) {
        appendFilled(out, format, args);
    } else {
        out.append("Message ");
        appendNumber(out, number);
        out.append(" is not in the catalogue");
        const char* separator = " (arguments: ";
        for (std::string_view arg : args) {
            out.append(separator);
            out.append(arg);
            separator = ", ";
        }
        if (args.size() != 0) {
            out.push_back(')');
        }
        out.push_back('.');
    }
    out.append(" (");
    out.append(sourceFile != nullptr ? sourceFile : "");
    out.push_back(':');
    appendNumber(out, line);
    out.push_back(')');
    return MvbString(std::string_view(out));
}
