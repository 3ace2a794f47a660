#include "infer_job.h"

#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <vector>

#include "infer_columns.h"
#include "infer_dialect.h"
#include "mvb/directory.h"
#include "mvb/html.h"

namespace textjob::infer {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

std::string quoted(const std::string& text) {
    return Json(text).dump(-1, ' ', false, Json::error_handler_t::replace);
}

/// A JSON value on one line; an object's keys in the order given, with a blank after each
/// colon and comma, as people write them.
std::string row(const Json& value) {
    if (!value.is_object()) return value.dump(-1, ' ', false, Json::error_handler_t::replace);
    std::string text = "{";
    for (auto item = value.begin(); item != value.end(); ++item) {
        if (item != value.begin()) text += ", ";
        text += quoted(item.key()) + ": " + row(item.value());
    }
    return text + "}";
}

/// DELIMITER's text: the character itself, or `0x` and its code for a control character.
std::string delimiterText(int code) {
    if (code < 0x20 || code == 0x7F) {
        char text[8];
        std::snprintf(text, sizeof text, "0x%02x", code);
        return text;
    }
    char buffer[5];
    return std::string(utf8Of(code, buffer));
}

/// Writes the job as people write them: one step property a line, a FIELDS row a line.
class JobWriter {
  public:
    std::string write(const Json& job) {
        std::string text = "{\n";
        // The schema an editor checks the job against comes first, where the job names one.
        if (const auto schema = job.find("$schema"); schema != job.end())
            text += "  \"$schema\": " + quoted(schema->get<std::string>()) + ",\n";
        text += "  \"steps\": [\n";
        const Json& steps = job["steps"];
        for (size_t i = 0; i < steps.size(); ++i) {
            const Json& step = steps[i];
            text += "    {\n      \"type\": " + quoted(step["type"].get<std::string>()) +
                    ",\n      \"name\": " + quoted(step["name"].get<std::string>()) +
                    ",\n      \"properties\": {\n";
            const Json& properties = step["properties"];
            for (auto item = properties.begin(); item != properties.end(); ++item) {
                text += "        " + quoted(item.key()) + ": ";
                if (item.value().is_array()) {
                    text += "[\n";
                    for (size_t r = 0; r < item.value().size(); ++r) {
                        text += "          " + row(item.value()[r]) +
                                (r + 1 < item.value().size() ? ",\n" : "\n");
                    }
                    text += "        ]";
                } else {
                    text += row(item.value());
                }
                text += std::next(item) != properties.end() ? ",\n" : "\n";
            }
            text += i + 1 < steps.size() ? "      }\n    },\n" : "      }\n    }\n";
        }
        return text + "  ]\n}\n";
    }
};

Json step(const char* type, const char* name, Json properties) {
    // Members set one by one: a brace list would copy the properties (and so every field).
    Json step = Json::object();
    step["type"] = type;
    step["name"] = name;
    step["properties"] = std::move(properties);
    return step;
}

Json source(const FileLayout& layout, const std::string& jobFolder) {
    Json fields = Json::array();
    for (const ColumnLayout& c : layout.columns) {
        if (layout.fixedWidth) {
            fields.push_back(Json{{"NAME", c.name},
                                  {"TYPE", c.type},
                                  {"START_POS", c.startPos},
                                  {"LENGTH", c.length}});
        } else {
            fields.push_back(Json{{"NAME", c.name}, {"TYPE", c.type}, {"MAX_LENGTH", c.maxLength}});
        }
    }
    Json p = Json::object();
    // The one file read, even where its name would read as a pattern.
    p["FILENAME"] =
        layout.path == "-"
            ? layout.path
            : std::string(mvbLiteralFileName(pathFromJob(layout.path, jobFolder).c_str()).view());
    p["FIELDS"] = std::move(fields);
    if (layout.fixedWidth) {
        p["RECORDWIDTH"] = layout.recordWidth;
        p["SKIPROWS"] = layout.skipRows;
        p["CRLF_TERMINATE"] = true;
    } else {
        p["DELIMITER"] = delimiterText(layout.delimiter);
        char quote[5];
        p["QUOTE"] = std::string(utf8Of(layout.quote, quote));
        p["SKIPROWS"] = layout.skipRows;
        p["PRESERVE_WHITESPACE"] = layout.preserveWhitespace;
        // Written only when needed, so that the job also runs where the property is unknown.
        if (layout.newlinesInValues) p["NEWLINES_IN_VALUES"] = true;
    }
    p["BYTE_ORDER_MARK"] = layout.encoding.byteOrderMark;
    p["ENCODING"] = layout.encoding.number;
    if (layout.encoding.nulsAsBlanks) p["REPLACE_NULLS"] = true;
    return step(layout.fixedWidth ? "SOURCE_FIXEDTEXT" : "SOURCE_DELIMTEXT", "in", std::move(p));
}

/// The name the output takes: the input's without its extensions (and a .gz), beside the job.
std::string outputStem(const FileLayout& layout) {
    if (layout.path == "-") return "stdin";
    fs::path data = fs::path(layout.path).filename();
    if (data.extension() == ".gz") data = data.stem();
    return data.stem().string();
}

Json destination(const FileLayout& layout, Target target) {
    const std::string stem = outputStem(layout);
    Json fields = Json::array();
    for (const ColumnLayout& c : layout.columns) {
        if (target == Target::Fixed) {
            fields.push_back(Json{{"FIELDNAME", c.name}, {"WIDTH", c.outputWidth}});
        } else {
            // A report's headings are markup: the file's own are shown as they read.
            fields.push_back(
                Json{{"FIELDNAME", c.name},
                     {"OUTPUTNAME",
                      target == Target::Html ? mvb::html::escapedText(c.heading) : c.heading}});
        }
    }
    Json p = Json::object();
    switch (target) {
        case Target::Csv:
            p["FILENAME"] = stem + ".out.csv";
            p["FIELDS"] = std::move(fields);
            p["QUALIFIER"] = "\"";
            p["INCLUDE_HEADER"] = true;
            return step("DEST_DELIMTEXT", "out", std::move(p));
        case Target::Fixed:
            p["FILENAME"] = stem + ".out.txt";
            p["FIELDS"] = std::move(fields);
            p["LINE_END"] = "LF";
            return step("DEST_FIXEDTEXT", "out", std::move(p));
        case Target::Html:
            p["FILENAME"] = stem + ".html";
            p["FIELDS"] = std::move(fields);
            p["TITLE"] = layout.path == "-"
                             ? std::string("standard input")
                             : mvb::html::escapedText(fs::path(layout.path).filename().string());
            return step("DEST_HTML", "out", std::move(p));
        case Target::None:
            break;
    }
    return Json();
}

/// How many columns the report names; the job names them all.
constexpr size_t kColumnsShown = 100;
constexpr size_t kColumnNotesShown = 20;

/// "name type", or for a string its length as the job gives it: "name string(MAX_LENGTH)".
std::string columnText(const ColumnLayout& c, bool fixedWidth) {
    if (c.type != "string") return c.name + " " + c.type;
    return c.name + " string(" + std::to_string(fixedWidth ? c.length : c.maxLength) + ")";
}

}  // namespace

std::string pathFromJob(const std::string& file, const std::string& jobFolder) {
    // Both with their links followed, as the system follows them when the job is run: a
    // folder reached through a link ("linked/..") is not the one its name's text suggests.
    std::error_code error;
    fs::path absolute = fs::weakly_canonical(fs::absolute(file), error);
    if (error) absolute = fs::absolute(file).lexically_normal();
    fs::path folder =
        fs::weakly_canonical(fs::absolute(jobFolder.empty() ? "." : jobFolder), error);
    if (error) folder = fs::absolute(jobFolder.empty() ? "." : jobFolder).lexically_normal();
    const fs::path relative = absolute.lexically_relative(folder);
    if (relative.empty()) return absolute.string();
    for (const fs::path& part : relative) {
        if (part == "..") return absolute.string();
    }
    return relative.string();
}

nlohmann::ordered_json jobOf(const FileLayout& layout, Target target,
                             const std::string& jobFolder) {
    Json steps = Json::array();
    steps.push_back(source(layout, jobFolder));
    if (target != Target::None) steps.push_back(destination(layout, target));
    Json job = Json::object();
    job["steps"] = std::move(steps);
    return job;
}

std::string jobText(const nlohmann::ordered_json& job) {
    return JobWriter().write(job);
}

std::string explain(const FileLayout& layout) {
    const std::string name = layout.path == "-" ? std::string("standard input") : layout.path;
    std::string text = "infer: " + name + " (" + std::to_string(layout.fileBytes) + " bytes, " +
                       (layout.wholeFile ? "read whole" : "read in part") + ")\n";
    for (const std::string& reason : layout.reasons)
        text += "  " + reason + "\n";
    text += "  rows       " + std::to_string(layout.rows) + "\n";
    // Columns wrap at about 100 characters: "name type" or "name string(longest)". Of a wide
    // file only the first ones: a report of thousands of lines is read by nobody, and the job
    // names every column.
    const size_t count = layout.columns.size();
    const size_t shown = count > kColumnsShown ? kColumnsShown : count;
    std::string line = "  columns    " + std::to_string(count) + ": ";
    const auto add = [&](const std::string& piece) {
        if (line.size() + piece.size() > 100 && line.size() > 16) {
            text += line + "\n";
            line = "             ";
        }
        line += piece;
    };
    for (size_t i = 0; i < shown; ++i)
        add(columnText(layout.columns[i], layout.fixedWidth) + (i + 1 < count ? ", " : ""));
    if (shown < count)
        add("and " + std::to_string(count - shown) + " more (the job lists every one)");
    text += line + "\n";
    // So are the notes on columns (a type not given, and why): the first ones show the kind.
    size_t columnNotes = 0;
    for (const std::string& note : layout.notes) {
        if (note.starts_with(kColumnNoteStart) && ++columnNotes > kColumnNotesShown) continue;
        text += "  unsure:    " + note + "\n";
    }
    if (columnNotes > kColumnNotesShown) {
        text += "  unsure:    and " + std::to_string(columnNotes - kColumnNotesShown) +
                " more columns with notes like these\n";
    }
    return text;
}

}  // namespace textjob::infer
