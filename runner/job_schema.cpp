#include "job_schema.h"

#include <filesystem>
#include <system_error>

#include "mvb/types.h"

namespace textjob {
namespace {

using Json = nlohmann::ordered_json;

Json valueJson(const MvbDatavar& value) {
    switch (value.getType()) {
        case mvbTypeBoolean:
            return value.asBool(nullptr);
        case mvbTypeInteger:
            return value.asInt64(nullptr);
        case mvbTypeReal:
            return value.asReal(nullptr);
        case mvbTypeNull:
            return nullptr;
        default:
            return std::string(value.asString().view());
    }
}

/// What a job may give for a value of this type. Steps read an integer property given as text
/// (an encoding name, a number in quotes) and a flag given as 0 or 1 or as a word of yes or no
/// ("true", "N", any case, blanks around it), so those are allowed; null leaves the value to
/// the step's default.
Json valueSchema(int type) {
    switch (type) {
        case mvbTypeBoolean:
            return Json{
                {"anyOf",
                 {Json{{"type", {"boolean", "null"}}}, Json{{"enum", {0, 1}}},
                  Json{{"type", "string"},
                       {"pattern",
                        "^[ \\t]*([Tt]([Rr][Uu][Ee])?|[Ff]([Aa][Ll][Ss][Ee])?|[Yy]([Ee][Ss])?"
                        "|[Nn][Oo]?|0|1)[ \\t]*$"}}}}};
        case mvbTypeInteger:
            return Json{{"type", {"integer", "string", "null"}}};
        case mvbTypeReal:
            return Json{{"type", {"number", "string", "null"}}};
        default:
            return Json{{"type", {"string", "number", "boolean", "null"}}};
    }
}

Json tableSchema(const texthost::PropertyDescription& p) {
    Json keyed = {{"type", "object"}, {"properties", Json::object()}};
    Json positional = {{"type", "array"}, {"items", Json::array()}};
    for (const texthost::ColumnDescription& column : p.columns) {
        // A whole number in a table (a length, a position) may come as text, but only of one.
        Json cell =
            column.type == mvbTypeInteger
                ? Json{{"anyOf",
                        {Json{{"type", {"integer", "null"}}},
                         Json{{"type", "string"}, {"pattern", "^[ \\t]*[-+]?[0-9]+[ \\t]*$"}}}}}
                : valueSchema(column.type);
        cell["description"] = column.name + " (" + texthost::typeName(column.type) + ")";
        keyed["properties"][column.name] = cell;
        positional["items"].push_back(cell);
    }
    keyed["additionalProperties"] = false;
    positional["maxItems"] = p.columns.size();
    return Json{{"type", {"array", "null"}},
                {"items", {{"anyOf", {keyed, positional}}}},
                {"description", p.summary}};
}

/// A property that a job must give: describe shows "(required)" for its default.
bool isRequired(const texthost::PropertyDescription& p) {
    return p.effectiveDefault == "(required)";
}

/// The default a step takes for a property the job leaves out, as a JSON value: the declared
/// one, else the one describe shows where it is a value of the property's type (not a remark
/// in parentheses such as "(none)").
Json defaultOf(const texthost::PropertyDescription& p) {
    if (!p.defaultValue.isNull()) return valueJson(p.defaultValue);
    const std::string& shown = p.effectiveDefault;
    if (shown.empty() || shown.front() == '(') return nullptr;
    MvbDatavar value;
    value.assign(shown);
    if (p.type != mvbTypeString && !value.setType(p.type)) return nullptr;
    return valueJson(value);
}

Json propertySchema(const texthost::PropertyDescription& p) {
    if (p.isTable) return tableSchema(p);
    Json schema = valueSchema(p.type);
    std::string description = p.summary;
    if (!p.effectiveDefault.empty()) description += " (default: " + p.effectiveDefault + ")";
    if (!description.empty()) schema["description"] = description;
    if (Json value = defaultOf(p); !value.is_null()) schema["default"] = std::move(value);
    return schema;
}

Json stepSchema(const texthost::StepDescription& d) {
    Json properties = Json::object();
    Json required = Json::array();
    for (const texthost::PropertyDescription& p : d.properties) {
        properties[p.name] = propertySchema(p);
        if (isRequired(p)) required.push_back(p.name);
    }
    Json stepProperties = {
        {"type", {"object", "null"}}, {"properties", properties}, {"additionalProperties", false}};
    Json stepRequired = {"type"};
    if (!required.empty()) {
        stepProperties["type"] = "object";
        stepProperties["required"] = required;
        stepRequired.push_back("properties");
    }
    return Json{
        {"type", "object"},
        {"description", d.description},
        {"required", stepRequired},
        {"properties",
         {{"type", {{"const", d.typeId}}},
          {"name", {{"type", "string"}, {"description", "The step's name in messages and --set"}}},
          {"properties", stepProperties}}},
        {"additionalProperties", false}};
}

}  // namespace

std::string stepRole(const texthost::StepDescription& d) {
    if (d.inputs == 0) return "source";
    return d.find("FILENAME") != nullptr ? "destination" : "transform";
}

Json stepJson(const texthost::StepDescription& d) {
    Json properties = Json::array();
    for (const texthost::PropertyDescription& p : d.properties) {
        Json property = {{"index", p.index},
                         {"name", p.name},
                         {"type", p.isTable ? "table" : texthost::typeName(p.type)},
                         {"default", valueJson(p.defaultValue)},
                         {"effectiveDefault", p.effectiveDefault},
                         {"description", p.summary}};
        // What the step does with the file the property names, as describe shows it.
        if (!p.fileRole.empty()) property["file"] = p.fileRole;
        if (p.isTable) {
            property["columns"] = Json::array();
            for (const texthost::ColumnDescription& column : p.columns) {
                property["columns"].push_back(
                    {{"name", column.name}, {"type", texthost::typeName(column.type)}});
            }
        }
        properties.push_back(std::move(property));
    }
    Json described = {{"type", d.typeId},     {"description", d.description},
                      {"role", stepRole(d)},  {"inputs", d.inputs},
                      {"outputs", d.outputs}, {"properties", properties}};
    if (!d.extraFiles.empty()) described["alsoWrites"] = d.extraFiles;
    return described;
}

Json jobSchema(const std::vector<texthost::StepDescription>& steps) {
    Json definitions = Json::object();
    Json byType = Json::array();
    Json typeNames = Json::array();
    for (const texthost::StepDescription& d : steps) {
        definitions[d.typeId] = stepSchema(d);
        // Each step is checked against its own type's definition only, so that an editor
        // points at the property at fault rather than at the whole step.
        byType.push_back({{"if", {{"properties", {{"type", {{"const", d.typeId}}}}}}},
                          {"then", {{"$ref", "#/definitions/" + d.typeId}}}});
        typeNames.push_back(d.typeId);
    }
    // A step of a type not listed is caught by the enum.
    Json stepItem = {{"type", "object"},
                     {"required", {"type"}},
                     {"properties", {{"type", {{"enum", typeNames}}}}},
                     {"allOf", byType}};
    return Json{{"$schema", "http://json-schema.org/draft-07/schema#"},
                {"title", "textjob job file"},
                {"description",
                 "A job: a source step, then the steps that read its rows. Run it with textjob "
                 "run JOB.json"},
                {"type", "object"},
                {"required", {"steps"}},
                {"properties",
                 {{"$schema", {{"type", "string"}}},
                  {"steps",
                   {{"type", "array"},
                    {"minItems", 1},
                    {"items", stepItem},
                    {"description", "The steps in the order the rows flow"}}}}},
                {"definitions", definitions}};
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
