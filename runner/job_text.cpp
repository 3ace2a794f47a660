#include "job_text.h"

#include <filesystem>
#include <system_error>

namespace textjob {
namespace {

using Json = nlohmann::ordered_json;

std::string scalar(const Json& value) {
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

/// A table row on one line: {"A": 1, "B": "x"} or [1, "x"].
std::string row(const Json& value) {
    if (!value.is_structured()) return scalar(value);
    const bool object = value.is_object();
    std::string text = object ? "{" : "[";
    for (auto item = value.begin(); item != value.end(); ++item) {
        if (item != value.begin()) text += ", ";
        if (object) text += scalar(item.key()) + ": ";
        text += row(item.value());
    }
    return text + (object ? "}" : "]");
}

void write(const Json& value, int depth, bool rows, std::string& text) {
    const std::string indent(static_cast<size_t>(depth) * 2, ' ');
    const std::string inner(static_cast<size_t>(depth + 1) * 2, ' ');
    if (!value.is_structured() || value.empty()) {
        text += value.is_structured() ? (value.is_object() ? "{}" : "[]") : scalar(value);
        return;
    }
    const bool object = value.is_object();
    text += object ? "{\n" : "[\n";
    for (auto item = value.begin(); item != value.end(); ++item) {
        if (item != value.begin()) text += ",\n";
        text += inner;
        if (object) text += scalar(item.key()) + ": ";
        if (rows) {
            text += row(item.value());
        } else {
            // The arrays inside a step's properties are tables: their rows go on one line each.
            const bool table = object && item.value().is_array() && depth >= 3;
            write(item.value(), depth + 1, table, text);
        }
    }
    text += "\n" + indent + (object ? "}" : "]");
}

}  // namespace

std::string jobText(const Json& job) {
    std::string text;
    write(job, 0, false, text);
    return text + "\n";
}

std::string installedSchemaPath() {
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return {};
    const std::filesystem::path schema =
        program.parent_path().parent_path() / "share" / "textjob" / "textjob.schema.json";
    return std::filesystem::exists(schema, error) ? schema.lexically_normal().string() : "";
}

}  // namespace textjob
