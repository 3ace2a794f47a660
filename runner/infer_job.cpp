#include "infer_job.h"

#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <vector>

#include "infer_dialect.h"

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

/// The path as the job names it: relative to the job's folder when the file is inside it.
std::string pathFromJob(const std::string& file, const std::string& jobFolder) {
    const fs::path absolute = fs::absolute(file).lexically_normal();
    const fs::path folder = fs::absolute(jobFolder.empty() ? "." : jobFolder).lexically_normal();
    const fs::path relative = absolute.lexically_relative(folder);
    if (relative.empty()) return absolute.string();
    for (const fs::path& part : relative) {
        if (part == "..") return absolute.string();
    }
    return relative.string();
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

class JobWriter {
  public:
    void beginStep(const char* type, const char* name) {
        text_ += steps_++ == 0 ? "    {\n" : ",\n    {\n";
        text_ += "      \"type\": " + quoted(type) + ",\n      \"name\": " + quoted(name) +
                 ",\n      \"properties\": {\n";
        properties_ = 0;
    }
    void property(const char* name, const Json& value) {
        separate();
        text_ += "        " + quoted(name) + ": " + row(value);
    }
    void table(const char* name, const std::vector<Json>& rows) {
        separate();
        text_ += "        " + quoted(name) + ": [\n";
        for (size_t i = 0; i < rows.size(); ++i) {
            text_ += "          " + row(rows[i]) + (i + 1 < rows.size() ? ",\n" : "\n");
        }
        text_ += "        ]";
    }
    void endStep() { text_ += "\n      }\n    }"; }
    std::string finish() { return "{\n  \"steps\": [\n" + text_ + "\n  ]\n}\n"; }

  private:
    void separate() { text_ += properties_++ == 0 ? "" : ",\n"; }

    std::string text_;
    int steps_ = 0;
    int properties_ = 0;
};

void writeSource(JobWriter& job, const FileLayout& layout, const std::string& jobFolder) {
    std::vector<Json> fields;
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
    job.beginStep(layout.fixedWidth ? "SOURCE_FIXEDTEXT" : "SOURCE_DELIMTEXT", "in");
    job.property("FILENAME", pathFromJob(layout.path, jobFolder));
    job.table("FIELDS", fields);
    if (layout.fixedWidth) {
        job.property("RECORDWIDTH", layout.recordWidth);
        job.property("SKIPROWS", layout.skipRows);
        job.property("CRLF_TERMINATE", true);
    } else {
        job.property("DELIMITER", delimiterText(layout.delimiter));
        char quote[5];
        job.property("QUOTE", std::string(utf8Of(layout.quote, quote)));
        job.property("SKIPROWS", layout.skipRows);
        job.property("PRESERVE_WHITESPACE", layout.preserveWhitespace);
        // Written only when needed, so that the job also runs where the property is unknown.
        if (layout.newlinesInValues) job.property("NEWLINES_IN_VALUES", true);
    }
    job.property("BYTE_ORDER_MARK", layout.encoding.byteOrderMark);
    job.property("ENCODING", layout.encoding.number);
    if (layout.encoding.nulsAsBlanks) job.property("REPLACE_NULLS", true);
    job.endStep();
}

void writeDestination(JobWriter& job, const FileLayout& layout, Target target) {
    const fs::path data(layout.path);
    const std::string stem = data.stem().string();
    std::vector<Json> fields;
    for (const ColumnLayout& c : layout.columns) {
        if (target == Target::Fixed) {
            fields.push_back(Json{{"FIELDNAME", c.name}, {"WIDTH", c.outputWidth}});
        } else {
            fields.push_back(Json{{"FIELDNAME", c.name}, {"OUTPUTNAME", c.heading}});
        }
    }
    switch (target) {
        case Target::Csv:
            job.beginStep("DEST_DELIMTEXT", "out");
            job.property("FILENAME", stem + ".out.csv");
            job.table("FIELDS", fields);
            job.property("QUALIFIER", "\"");
            job.property("INCLUDE_HEADER", true);
            break;
        case Target::Fixed:
            job.beginStep("DEST_FIXEDTEXT", "out");
            job.property("FILENAME", stem + ".out.txt");
            job.table("FIELDS", fields);
            job.property("LINE_END", "LF");
            break;
        case Target::Html:
            job.beginStep("DEST_HTML", "out");
            job.property("FILENAME", stem + ".html");
            job.table("FIELDS", fields);
            job.property("TITLE", data.filename().string());
            break;
        case Target::None:
            return;
    }
    job.endStep();
}

std::string columnText(const ColumnLayout& c) {
    if (c.type != "string") return c.name + " " + c.type;
    return c.name + " string(" + std::to_string(c.longestChars) + ")";
}

}  // namespace

std::string jobText(const FileLayout& layout, Target target, const std::string& jobFolder) {
    JobWriter job;
    writeSource(job, layout, jobFolder);
    writeDestination(job, layout, target);
    return job.finish();
}

std::string explain(const FileLayout& layout) {
    std::string text = "infer: " + layout.path + " (" + std::to_string(layout.fileBytes) +
                       " bytes, " + (layout.wholeFile ? "read whole" : "read in part") + ")\n";
    for (const std::string& reason : layout.reasons)
        text += "  " + reason + "\n";
    text += "  rows       " + std::to_string(layout.rows) + "\n";
    // Columns wrap at about 100 characters: "name type" or "name string(longest)".
    std::string line = "  columns    " + std::to_string(layout.columns.size()) + ": ";
    for (size_t i = 0; i < layout.columns.size(); ++i) {
        const std::string piece =
            columnText(layout.columns[i]) + (i + 1 < layout.columns.size() ? ", " : "");
        if (line.size() + piece.size() > 100 && line.size() > 16) {
            text += line + "\n";
            line = "             ";
        }
        line += piece;
    }
    text += line + "\n";
    for (const std::string& note : layout.notes)
        text += "  unsure:    " + note + "\n";
    return text;
}

}  // namespace textjob::infer
