#include "convert_job.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>

#include "mvb/charset.h"
#include "mvb/html.h"
#include "texthost/closest_name.h"

namespace textjob {
namespace {

using Json = nlohmann::ordered_json;

/// One column of the output: the input field it shows, and its heading (or width).
struct Column {
    std::string field;
    std::string heading;
    int width = 0;
};

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::vector<Column> columnsOf(const Json& out) {
    std::vector<Column> columns;
    for (const Json& row : out.at("properties").at("FIELDS")) {
        Column& c = columns.emplace_back();
        c.field = row.at("FIELDNAME").get<std::string>();
        c.heading = row.contains("OUTPUTNAME") ? row["OUTPUTNAME"].get<std::string>() : c.field;
        c.width = row.contains("WIDTH") ? row["WIDTH"].get<int>() : 0;
    }
    return columns;
}

/// The column a name on the command line means: its field name, else its heading as the
/// header line gives it. Throws ConvertError, suggesting the closest name, when none is.
const Column& findColumn(const std::vector<Column>& columns, const std::string& name,
                         const char* option) {
    for (const Column& c : columns)
        if (c.field == name) return c;
    for (const Column& c : columns)
        if (c.heading == name) return c;
    std::vector<std::string> names;
    for (const Column& c : columns)
        names.push_back(c.field);
    throw ConvertError(std::string(option) + ": the input has no column \"" + name + "\"" +
                       texthost::suggestionTail(name, names, "columns"));
}

std::vector<Column> pickColumns(const std::vector<Column>& all, const ConvertRequest& request) {
    std::vector<Column> picked;
    if (request.select.empty()) {
        picked = all;
    } else {
        size_t from = 0;
        while (from <= request.select.size()) {
            const size_t comma = std::min(request.select.find(',', from), request.select.size());
            const std::string name = trimmed(request.select.substr(from, comma - from));
            from = comma + 1;
            if (name.empty()) continue;
            picked.push_back(findColumn(all, name, "--select"));
        }
        if (picked.empty()) throw ConvertError("--select names no column: give --select a,b,c");
    }
    for (const std::string& rename : request.renames) {
        const size_t equals = rename.find('=');
        if (equals == std::string::npos || equals == 0) {
            throw ConvertError("--rename " + rename +
                               ": give the column and its new name as OLD=NEW");
        }
        const std::string field = findColumn(all, rename.substr(0, equals), "--rename").field;
        const std::string heading = rename.substr(equals + 1);
        bool shown = false;
        for (Column& c : picked) {
            if (c.field != field) continue;
            c.heading = heading;
            shown = true;
        }
        if (!shown) {
            throw ConvertError("--rename " + rename + ": the column " + field +
                               " is not among those --select writes");
        }
    }
    return picked;
}

/// --delimiter as the destination takes it; throws ConvertError for one that the written file
/// could not be read back by: not one character, or the qualifier or a line end.
std::string checkedDelimiter(const std::string& text) {
    delimiterCode("--delimiter", text);
    return delimiterArgument(text);
}

/// The room a fixed-width column takes in the output's encoding (WIDTH counts its bytes), from
/// the longest value in UTF-8 bytes: an ASCII byte becomes one character of the encoding's
/// smallest size, and a character of two UTF-8 bytes or more at most one of its largest.
struct EncodedRoom {
    int perUtf8Byte = 1;
    int blank = 1;  ///< the blank between two columns
};

EncodedRoom encodedRoom(const std::string& encoding) {
    int number = 0;
    if (encoding.empty() || !mvbEncodingFromName(encoding.c_str(), &number) || number == 65001) {
        return {};
    }
    const int smallest = np_uchar_chsize_min(number);
    const int largest = np_uchar_xcsize_max(number);
    return {std::max(smallest, (largest + 1) / 2), smallest};
}

Json fieldRows(const std::vector<Column>& columns, bool fixed, bool html,
               const std::string& encoding) {
    Json rows = Json::array();
    const EncodedRoom room = encodedRoom(encoding);
    for (size_t i = 0; i < columns.size(); ++i) {
        const Column& c = columns[i];
        if (fixed) {
            // One blank between columns: every column but the last is a character wider.
            const int width =
                std::max(c.width, 1) * room.perUtf8Byte + (i + 1 < columns.size() ? room.blank : 0);
            rows.push_back({{"FIELDNAME", c.field}, {"WIDTH", width}});
        } else {
            rows.push_back({{"FIELDNAME", c.field},
                            {"OUTPUTNAME", html ? mvb::html::escapedText(c.heading) : c.heading}});
        }
    }
    return rows;
}

Json destination(const std::vector<Column>& columns, const ConvertRequest& request,
                 const std::string& kind, const DestinationFeatures& features) {
    Json properties = {{"FILENAME", request.output}};
    properties["FIELDS"] = fieldRows(columns, kind == "fixed", kind == "html", request.encoding);
    std::string type = "DEST_DELIMTEXT";
    if (kind == "fixed") {
        type = "DEST_FIXEDTEXT";
        properties["LINE_END"] = "LF";
    } else if (kind == "html") {
        type = "DEST_HTML";
        // Named as given: standard input is read from a copy of it, under a name of its own.
        const std::string& input = request.input;
        properties["TITLE"] =
            input == "-" ? std::string("standard input")
                         : mvb::html::escapedText(std::filesystem::path(input).filename().string());
    } else {
        std::string delimiter = kind == "tsv" ? std::string("\t") : std::string(",");
        if (!request.delimiter.empty()) delimiter = checkedDelimiter(request.delimiter);
        properties["DELIMITER"] = delimiter == "\t" ? std::string("0x09") : delimiter;
        properties["QUALIFIER"] = "\"";
        if (features.quoteWhenNeeded) properties["QUOTE_WHEN_NEEDED"] = true;
        properties["INCLUDE_HEADER"] = true;
    }
    if (!request.encoding.empty()) properties["ENCODING"] = request.encoding;
    return Json{{"type", type}, {"name", "out"}, {"properties", properties}};
}

}  // namespace

namespace {

/// The ending of a file's name in lower case, a ".gz" after it left aside: ".csv" for
/// "a.CSV.gz".
std::string extensionOf(const std::string& path) {
    std::filesystem::path name(path);
    if (lower(name.extension().string()) == ".gz") name = name.stem();
    return lower(name.extension().string());
}

}  // namespace

std::string outputKind(const ConvertRequest& request) {
    if (!request.to.empty()) return request.to;
    if (request.output == "-") return "csv";
    const std::string extension = extensionOf(request.output);
    if (extension == ".csv") return "csv";
    if (extension == ".tsv" || extension == ".tab") return "tsv";
    if (extension == ".txt" || extension == ".fixed") return "fixed";
    if (extension == ".html" || extension == ".htm") return "html";
    throw ConvertError("cannot tell what to write from the name " + request.output +
                       ": end it in .csv, .tsv, .txt, .fixed or .html (and .gz to compress), or "
                       "give --to csv, tsv, fixed or html");
}

bool readsFixedWidth(const ConvertRequest& request) {
    return request.fixed || (request.input != "-" && extensionOf(request.input) == ".fixed");
}

bool sameFile(const std::string& a, const std::string& b) {
    std::error_code error;
    return std::filesystem::equivalent(a, b, error);
}

bool samePlace(const std::string& a, const std::string& b) {
    if (sameFile(a, b)) return true;
    std::error_code error;
    const auto x = std::filesystem::weakly_canonical(std::filesystem::absolute(a), error);
    const auto y = std::filesystem::weakly_canonical(std::filesystem::absolute(b), error);
    return !error && x == y;
}

std::string delimiterArgument(const std::string& text) {
    if (text == "\\t" || lower(text) == "tab") return "\t";
    return text;
}

int delimiterCode(const std::string& option, const std::string& text) {
    const std::string delimiter = delimiterArgument(text);
    long code = -1;
    if (lower(delimiter).starts_with("0x") && delimiter.size() > 2) {
        char* end = nullptr;
        code = std::strtol(delimiter.c_str() + 2, &end, 16);
        // Beyond the last character or a surrogate: no character at all.
        if (*end != '\0' || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = -1;
    } else if (!delimiter.empty()) {
        int length = 0;
        code = np_uchar_toint(delimiter.c_str(), &length);
        if (static_cast<size_t>(length) != delimiter.size()) code = -1;
    }
    if (code <= 0) {
        throw ConvertError(option + " " + text +
                           ": give one character, \\t or tab, or a 0x code such as 0x3B");
    }
    if (code == '"' || code == '\n' || code == '\r') {
        throw ConvertError(option + " " + text +
                           ": the quote mark or a line end would make the file unreadable; "
                           "give another character");
    }
    return static_cast<int>(code);
}

Json convertJob(const Json& inferred, const ConvertRequest& request, const std::string& kind,
                const DestinationFeatures& features) {
    if (!request.delimiter.empty() && kind != "csv" && kind != "tsv") {
        throw ConvertError("--delimiter: " + kind +
                           " output has no delimiter; give OUT a .csv or .tsv name, or --to csv");
    }
    if (!request.encoding.empty() && kind == "html") {
        throw ConvertError("--encoding: an HTML report is always UTF-8");
    }
    const Json& steps = inferred.at("steps");
    const std::vector<Column> columns = pickColumns(columnsOf(steps.at(1)), request);
    return Json{{"steps", {steps.at(0), destination(columns, request, kind, features)}}};
}

}  // namespace textjob
