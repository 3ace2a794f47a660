#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>
#include <vector>

#include "texthost/job.h"

namespace texthost {
namespace {

using Json = nlohmann::ordered_json;

std::string stepWhere(size_t index, const JobStep& step) {
    std::string where = "step " + std::to_string(index + 1);
    if (!step.name.empty()) where += " (\"" + step.name + "\")";
    return where;
}

/// A scalar JSON value as a job value; false for an array or object.
bool toValue(const Json& json, JobValue& value, const std::string& where) {
    switch (json.type()) {
        case Json::value_t::null:
            value.setNull();
            return true;
        case Json::value_t::boolean:
            value.assign(json.get<bool>());
            return true;
        case Json::value_t::number_integer:
            value.assign(json.get<int64_t>());
            return true;
        case Json::value_t::number_unsigned: {
            const uint64_t n = json.get<uint64_t>();
            if (n > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
                throw JobError(where + ": the number " + std::to_string(n) +
                               " is too large for a 64-bit integer");
            }
            value.assign(static_cast<int64_t>(n));
            return true;
        }
        case Json::value_t::number_float:
            value.assign(json.get<double>());
            return true;
        case Json::value_t::string:
            value.assign(json.get_ref<const std::string&>());
            return true;
        default:
            return false;
    }
}

JobTable toTable(const Json& json, const std::string& where) {
    JobTable table;
    if (json.is_null()) return table;
    for (size_t r = 0; r < json.size(); ++r) {
        const Json& row = json[r];
        const std::string rowWhere = where + ", row " + std::to_string(r + 1);
        JobRow& out = table.rows.emplace_back();
        if (row.is_object()) {
            for (const auto& [column, cell] : row.items()) {
                JobValue value;
                if (!toValue(cell, value, rowWhere + ", column " + column)) {
                    throw JobError(rowWhere + ", column " + column +
                                   ": a cell must be a string, number, boolean or null");
                }
                out.cells.emplace_back(column, std::move(value));
            }
        } else if (row.is_array()) {
            out.positional = true;
            for (size_t c = 0; c < row.size(); ++c) {
                JobValue value;
                const std::string cellWhere = rowWhere + ", cell " + std::to_string(c + 1);
                if (!toValue(row[c], value, cellWhere)) {
                    throw JobError(cellWhere +
                                   ": a cell must be a string, number, boolean or null");
                }
                out.cells.emplace_back(std::string(), std::move(value));
            }
        } else {
            throw JobError(rowWhere +
                           ": a table row must be an object keyed by column name or an array of "
                           "cells in column order");
        }
    }
    return table;
}

JobStep toStep(const Json& json, size_t index) {
    JobStep step;
    if (!json.is_object()) {
        throw JobError("step " + std::to_string(index + 1) +
                       " must be an object with \"type\", \"name\" and \"properties\"");
    }
    if (auto it = json.find("name"); it != json.end()) {
        if (!it->is_string())
            throw JobError(stepWhere(index, step) + ": \"name\" must be a string");
        step.name = it->get<std::string>();
    }
    auto type = json.find("type");
    if (type == json.end() || !type->is_string() || type->get_ref<const std::string&>().empty()) {
        throw JobError(stepWhere(index, step) + ": \"type\" must name the step type");
    }
    step.type = type->get<std::string>();
    if (step.name.empty()) step.name = step.type;
    for (const auto& [key, unused] : json.items()) {
        if (key != "type" && key != "name" && key != "properties") {
            throw JobError(stepWhere(index, step) + ": unknown key \"" + key +
                           "\"; a step has \"type\", \"name\" and \"properties\"");
        }
    }
    auto properties = json.find("properties");
    if (properties == json.end() || properties->is_null()) return step;
    if (!properties->is_object()) {
        throw JobError(stepWhere(index, step) +
                       ": \"properties\" must be an object of property names and values");
    }
    for (const auto& [name, value] : properties->items()) {
        const std::string where = stepWhere(index, step) + ", property " + name;
        JobProperty& property = step.properties.emplace_back();
        property.name = name;
        if (value.is_array()) {
            property.isTable = true;
            property.table = toTable(value, where);
        } else if (!toValue(value, property.value, where)) {
            throw JobError(where +
                           ": a value must be a string, number, boolean or null, or an array of "
                           "rows for a table");
        }
    }
    return step;
}

}  // namespace

JobDefinition parseJobText(const std::string& jsonText, const std::string& baseDirectory) {
    Json root;
    // A key given twice in one object would otherwise keep its last value silently.
    std::vector<std::vector<std::string>> keys;
    auto checkKeys = [&keys](int, Json::parse_event_t event, Json& parsed) {
        if (event == Json::parse_event_t::object_start) {
            keys.emplace_back();
        } else if (event == Json::parse_event_t::object_end) {
            keys.pop_back();
        } else if (event == Json::parse_event_t::key && !keys.empty()) {
            const std::string& key = parsed.get_ref<const std::string&>();
            for (const std::string& seen : keys.back()) {
                if (seen == key) {
                    throw JobError("the key \"" + key +
                                   "\" appears twice in one object; give each key once");
                }
            }
            keys.back().push_back(key);
        }
        return true;
    };
    try {
        root = Json::parse(jsonText, checkKeys);
    } catch (const Json::parse_error& e) {
        std::string reason = e.what();
        // The library prefixes its own error id; the position and reason follow "parse error".
        if (auto at = reason.find("parse error"); at != std::string::npos) {
            reason = reason.substr(at + 11);
            if (!reason.empty() && reason.front() == ' ') reason.erase(0, 1);
        }
        throw JobError("not valid JSON: " + reason);
    }
    if (!root.is_object()) {
        throw JobError("a job must be a JSON object: {\"steps\": [...]}");
    }
    auto steps = root.find("steps");
    if (steps == root.end())
        throw JobError("missing \"steps\": a job lists its steps as {\"steps\": [...]}");
    if (!steps->is_array()) throw JobError("\"steps\" must be an array of steps");
    if (steps->empty()) throw JobError("\"steps\" is empty: a job needs at least one step");
    JobDefinition job;
    job.baseDirectory = baseDirectory;
    for (size_t i = 0; i < steps->size(); ++i)
        job.steps.push_back(toStep((*steps)[i], i));
    return job;
}

JobDefinition parseJobFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::error_code ec;
        const bool exists = std::filesystem::exists(path, ec);
        throw JobError(path + ": " +
                       (exists ? "cannot read the job file: " + std::string(std::strerror(errno))
                               : std::string("no such job file; check the name and the folder "
                                             "(a relative path starts from the current folder)")));
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) throw JobError(path + ": cannot read the job file");
    std::error_code ec;
    std::filesystem::path folder = std::filesystem::absolute(path, ec).parent_path();
    try {
        return parseJobText(text.str(), folder.string());
    } catch (const JobError& e) {
        throw JobError(path + ": " + e.what());
    }
}

}  // namespace texthost
