#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "mvb/txtfile.h"
#include "texthost/job.h"

namespace texthost {
namespace {

// Objects keep their keys sorted, so that reading one of n keys takes log n steps; KeyOrder
// gives them back in the order of the text.
using Json = nlohmann::json;

/// Builds the document as the library's own builder does and, besides, refuses a key given
/// twice in one object (which would otherwise keep its last value silently) and keeps each
/// object's keys in the order of the text. Every event costs constant time, so reading a job
/// stays linear however many keys an object or rows a table has.
class JobDocumentBuilder {
  public:
    using number_integer_t = Json::number_integer_t;
    using number_unsigned_t = Json::number_unsigned_t;
    using number_float_t = Json::number_float_t;
    using string_t = Json::string_t;
    using binary_t = Json::binary_t;

    JobDocumentBuilder(const std::string& text, Json& root)
        : text_(text), root_(root), dom_(root) {}

    bool null() { return counted(dom_.null()); }
    bool boolean(bool value) { return counted(dom_.boolean(value)); }
    bool number_integer(number_integer_t value) { return counted(dom_.number_integer(value)); }
    bool number_unsigned(number_unsigned_t value) { return counted(dom_.number_unsigned(value)); }
    bool number_float(number_float_t value, const string_t& text) {
        return counted(dom_.number_float(value, text));
    }
    bool string(string_t& value) {
        // Counted first, so that the place names this value's own index in an array.
        counted(true);
        // The steps take their texts as C strings, which would end at a NUL: a file name
        // "in.csv\u0000x" would read in.csv.
        if (value.find('\0') != string_t::npos) {
            throw JobError(valuePlace() +
                           ": the text holds a NUL character (\\u0000), which no job text may "
                           "hold");
        }
        return dom_.string(value);
    }
    bool binary(binary_t& value) { return counted(dom_.binary(value)); }
    bool start_array(std::size_t size) {
        counted(true);
        refuseDeepNesting();
        path_.push_back({true, 0, {}});
        return dom_.start_array(size);
    }
    bool end_array() {
        path_.pop_back();
        return dom_.end_array();
    }
    bool start_object(std::size_t size) {
        counted(true);
        refuseDeepNesting();
        path_.push_back({false, 0, {}});
        open_.push_back({keyLists_.size(), {}});
        keyLists_.emplace_back();
        return dom_.start_object(size);
    }
    bool key(string_t& key) {
        if (!open_.back().seen.insert(key).second) {
            throw JobError(openObjectPlace() + ": the key \"" + key +
                           "\" appears twice in one object; give each key once");
        }
        keyLists_[open_.back().list].push_back(key);
        path_.back().key = key;
        return dom_.key(key);
    }
    bool end_object() {
        path_.pop_back();
        open_.pop_back();
        return dom_.end_object();
    }
    template <class Exception>
    bool parse_error(std::size_t position, const std::string& token, const Exception& error) {
        if constexpr (std::is_same_v<Exception, Json::out_of_range>) {
            // The only such error while reading text: a number beyond the range of a double.
            // A number of a million digits is not echoed whole.
            const std::string shown = token.size() <= 40 ? token : token.substr(0, 40) + "…";
            throw JobError("not valid JSON: the number " + shown + " at " +
                           lineAndColumn(position) +
                           " is too large; a number in a job must lie within "
                           "±1.7976931348623157e308");
        }
        return dom_.parse_error(position, token, error);
    }

    /// Once the document is read: the members of one of its objects in the order of the text.
    std::vector<std::pair<const std::string*, const Json*>> items(const Json& object) {
        if (!ordered_) orderObjects();
        std::vector<std::pair<const std::string*, const Json*>> members;
        const Json::object_t& map = object.get_ref<const Json::object_t&>();
        members.reserve(map.size());
        const auto keys = keysOf_.find(&map);
        if (keys == keysOf_.end()) {
            for (const auto& [key, value] : map)
                members.emplace_back(&key, &value);
            return members;
        }
        for (const std::string& key : *keys->second) {
            const auto member = map.find(key);
            if (member != map.end()) members.emplace_back(&member->first, &member->second);
        }
        return members;
    }

  private:
    // Objects begin in the text in the order of a depth-first walk that visits an object's
    // members in the order of its keys: such a walk pairs each object with its key list.
    // A stack rather than recursion, so that deep nesting cannot exhaust the call stack.
    void orderObjects() {
        ordered_ = true;
        size_t next = 0;
        std::vector<const Json*> pending{&root_};
        while (!pending.empty()) {
            const Json* value = pending.back();
            pending.pop_back();
            if (value->is_array()) {
                for (auto it = value->rbegin(); it != value->rend(); ++it)
                    pending.push_back(&*it);
            } else if (value->is_object() && next < keyLists_.size()) {
                const Json::object_t& map = value->get_ref<const Json::object_t&>();
                const std::vector<std::string>& keys = keyLists_[next++];
                keysOf_[&map] = &keys;
                for (auto key = keys.rbegin(); key != keys.rend(); ++key) {
                    const auto member = map.find(*key);
                    if (member != map.end()) pending.push_back(&member->second);
                }
            }
        }
    }

    /// One array or object the reader is inside: the number of values of an array so far, or
    /// the key of an object's value being read.
    struct Place {
        bool array = false;
        size_t values = 0;
        std::string key;
    };

    /// Counts a value of the array it is in.
    bool counted(bool result) {
        if (!path_.empty() && path_.back().array) ++path_.back().values;
        return result;
    }

    /// The object being read, as messages about a job name its parts ("step 2, property
    /// FIELDS, row 3"); past those, a JSON pointer.
    std::string openObjectPlace() const { return placeOf(path_.size() - 1); }
    /// Where the value being read lies: its object's place and its own key or index.
    std::string valuePlace() const { return placeOf(path_.size()); }
    /// The place of what the first `depth` open containers lead to.
    std::string placeOf(size_t depth) const {
        std::vector<std::string> steps;
        for (size_t i = 0; i < depth; ++i) {
            steps.push_back(path_[i].array ? std::to_string(path_[i].values - 1) : path_[i].key);
        }
        if (steps.empty()) return "the job";
        // An array's count of values so far is the number, from 1, of the one being read.
        const auto number = [&](size_t i) { return std::to_string(path_[i].values); };
        std::string place;
        size_t named = 0;
        if (steps.size() >= 2 && steps[0] == "steps" && path_[1].array) {
            place = "step " + number(1);
            named = 2;
        }
        if (named == 2 && steps.size() >= 3 && steps[2] == "properties") {
            named = steps.size() >= 4 ? 4 : 3;
            place += named == 4 ? ", property " + steps[3] : ", properties";
        }
        if (named == 4 && steps.size() >= 5 && path_[4].array) {
            place += ", row " + number(4);
            named = 5;
        }
        if (named == steps.size()) return place;
        std::string pointer;
        for (const std::string& step : steps)
            pointer += "/" + step;
        return place.empty() ? "at " + pointer : place + " (at " + pointer + ")";
    }

    struct OpenObject {
        size_t list = 0;  ///< index of its key list
        std::unordered_set<std::string> seen;
    };

    /// A job is a few levels deep (steps, a step, its properties, a table, a row): text nested
    /// far deeper is no job, and reading it whole would take memory for nothing.
    void refuseDeepNesting() const {
        constexpr size_t kDeepest = 64;
        if (path_.size() >= kDeepest) {
            throw JobError("not valid as a job: arrays and objects nested more than " +
                           std::to_string(kDeepest) + " deep (" + openObjectPlace() + ")");
        }
    }

    /// "line L, column C" of the byte just past `position` bytes of the text.
    std::string lineAndColumn(std::size_t position) const {
        const std::string_view before = std::string_view(text_).substr(0, position);
        const size_t lineStart = before.rfind('\n');
        const size_t line = 1 + static_cast<size_t>(std::count(before.begin(), before.end(), '\n'));
        const size_t column =
            lineStart == std::string_view::npos ? before.size() : before.size() - lineStart - 1;
        return "line " + std::to_string(line) + ", column " + std::to_string(column);
    }

    const std::string& text_;
    Json& root_;
    nlohmann::detail::json_sax_dom_parser<Json> dom_;
    std::vector<OpenObject> open_;
    std::vector<Place> path_;
    std::vector<std::vector<std::string>> keyLists_;  ///< per object, in the order they begin
    std::unordered_map<const Json::object_t*, const std::vector<std::string>*> keysOf_;
    bool ordered_ = false;
};

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

JobTable toTable(const Json& json, const std::string& where, JobDocumentBuilder& order) {
    JobTable table;
    if (json.is_null()) return table;
    for (size_t r = 0; r < json.size(); ++r) {
        const Json& row = json[r];
        const std::string rowWhere = where + ", row " + std::to_string(r + 1);
        JobRow& out = table.rows.emplace_back();
        if (row.is_array() || row.is_object()) out.cells.reserve(row.size());
        if (row.is_object()) {
            for (const auto& [column, cell] : order.items(row)) {
                JobValue value;
                if (!toValue(*cell, value, rowWhere + ", column " + *column)) {
                    throw JobError(rowWhere + ", column " + *column +
                                   ": a cell must be a string, number, boolean or null");
                }
                out.cells.emplace_back(*column, std::move(value));
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

JobStep toStep(const Json& json, size_t index, JobDocumentBuilder& order) {
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
    for (const auto& [key, unused] : order.items(json)) {
        if (*key != "type" && *key != "name" && *key != "properties") {
            throw JobError(stepWhere(index, step) + ": unknown key \"" + *key +
                           "\"; a step has \"type\", \"name\" and \"properties\"");
        }
    }
    auto properties = json.find("properties");
    if (properties == json.end() || properties->is_null()) return step;
    if (!properties->is_object()) {
        throw JobError(stepWhere(index, step) +
                       ": \"properties\" must be an object of property names and values");
    }
    for (const auto& [name, value] : order.items(*properties)) {
        const std::string where = stepWhere(index, step) + ", property " + *name;
        JobProperty& property = step.properties.emplace_back();
        property.name = *name;
        if (value->is_array()) {
            property.isTable = true;
            property.table = toTable(*value, where, order);
        } else if (!toValue(*value, property.value, where)) {
            throw JobError(where +
                           ": a value must be a string, number, boolean or null, or an array of "
                           "rows for a table");
        }
    }
    return step;
}

/// The rest of `in`, read straight into one string (a string stream and its copy would hold
/// the text twice while the job is read).
std::string readAll(std::istream& in) {
    std::string text;
    std::array<char, 1 << 16> piece;
    while (in.read(piece.data(), piece.size()) || in.gcount() > 0)
        text.append(piece.data(), static_cast<size_t>(in.gcount()));
    return text;
}

}  // namespace

JobDefinition parseJobText(const std::string& jsonText, const std::string& baseDirectory) {
    // The JSON reader takes a NUL byte for the end of the text, which would let it run a job
    // whose file goes on past one (a damaged file, two files joined): no JSON text holds one.
    if (const size_t nul = jsonText.find('\0'); nul != std::string::npos) {
        const size_t lineStart = jsonText.rfind('\n', nul);
        const size_t line =
            static_cast<size_t>(std::count(
                jsonText.begin(), jsonText.begin() + static_cast<std::ptrdiff_t>(nul), '\n')) +
            1;
        const size_t column = lineStart == std::string::npos ? nul + 1 : nul - lineStart;
        throw JobError("not valid JSON: at line " + std::to_string(line) + ", column " +
                       std::to_string(column) +
                       ": a NUL byte, which no JSON text holds (is this a job file?)");
    }
    Json root;
    JobDocumentBuilder order(jsonText, root);
    try {
        Json::sax_parse(jsonText, &order);
    } catch (const Json::parse_error& e) {
        std::string reason = e.what();
        // The library prefixes its own error id; the position and reason follow "parse error".
        if (auto at = reason.find("parse error"); at != std::string::npos) {
            reason = reason.substr(at + 11);
            if (!reason.empty() && reason.front() == ' ') reason.erase(0, 1);
        }
        throw JobError("not valid JSON: " + reason);
    } catch (const Json::exception& e) {
        throw JobError(std::string("not valid JSON: ") + e.what());
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
    for (const auto& [key, value] : root.items())
        if (key != "steps" && !key.starts_with('$')) job.ignoredKeys.push_back(key);
    for (size_t i = 0; i < steps->size(); ++i)
        job.steps.push_back(toStep((*steps)[i], i, order));
    return job;
}

JobDefinition parseJobFile(const std::string& path) {
    if (path == "-") {
        // A job piped in has no folder of its own: its relative paths start from the current one.
        // Read as the sources read a pipe, so that a stop ends a wait for a job never sent.
        std::string text;
        char buffer[1 << 14];
        for (;;) {
            const long got = mvbReadWaiting(STDIN_FILENO, buffer, sizeof buffer);
            if (got == 0) break;
            if (got < 0) {
                if (errno == ECANCELED)
                    throw JobError("the run was stopped before the job on standard input was read");
                throw JobError(std::string("cannot read the job from standard input: ") +
                               std::strerror(errno));
            }
            text.append(buffer, static_cast<size_t>(got));
        }
        if (text.empty()) {
            throw JobError(
                "no job came on standard input: it was empty (or closed); pipe the job in, or "
                "give the job file's path");
        }
        std::error_code ec;
        const std::filesystem::path folder = std::filesystem::current_path(ec);
        try {
            return parseJobText(text, folder.string());
        } catch (const JobError& e) {
            throw JobError(std::string("the job on standard input: ") + e.what());
        }
    }
    std::error_code folderError;
    if (std::filesystem::is_directory(path, folderError)) {
        throw JobError(path + ": is a folder, not a job file; give the job file's path");
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::error_code ec;
        const bool exists = std::filesystem::exists(path, ec);
        throw JobError(path + ": " +
                       (exists ? "cannot read the job file: " + std::string(std::strerror(errno))
                               : std::string("no such job file; check the name and the folder "
                                             "(a relative path starts from the current folder)")));
    }
    const std::string text = readAll(in);
    if (in.bad()) throw JobError(path + ": cannot read the job file");
    std::error_code ec;
    std::filesystem::path folder = std::filesystem::absolute(path, ec).parent_path();
    try {
        return parseJobText(text, folder.string());
    } catch (const JobError& e) {
        throw JobError(path + ": " + e.what());
    }
}

}  // namespace texthost
