#include "texthost/describe.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>

#include "host_steps.h"
#include "mvb/parse.h"
#include "step_context.h"
#include "texthost/closest_name.h"
#include "texthost/file_roles.h"
#include "texthost/plugin_library.h"

namespace texthost {
namespace {

/// Finds step types and describes them; loads the plug-in once, when first needed, and keeps
/// it loaded while the describer lives.
class Describer {
  public:
    explicit Describer(const RunOptions& options) : options_(options) {}

    StepDescription describe(std::string_view typeId) {
        for (const HostStepType& type : options_.extraSteps) {
            if (type.typeId == typeId) return describe(type.typeId, type.description, type.create);
        }
        for (const HostStepType& type : builtins_) {
            if (type.typeId == typeId) return describe(type.typeId, type.description, type.create);
        }
        PluginSet& library = plugin();
        if (const PluginStepType* type = library.find(typeId)) {
            StepCreateFunction create = type->create;
            return describe(
                type->typeId, type->description,
                [create] { return create != nullptr ? create() : nullptr; },
                " of the plug-in " + library.libraryOf(typeId));
        }
        std::vector<std::string> valid;
        for (const HostStepType& type : listStepTypes(options_))
            valid.push_back(type.typeId);
        throw JobError("Unknown step type " + std::string(typeId) +
                       suggestionTail(typeId, valid, "types"));
    }

  private:
    PluginSet& plugin() {
        if (!plugin_) {
            plugin_ = std::make_unique<PluginSet>(
                options_.pluginPath.empty() ? defaultPluginPath() : options_.pluginPath);
        }
        return *plugin_;
    }

    /// `offeredBy` follows the type's name in messages: which plug-in offers it.
    StepDescription describe(const std::string& typeId, const std::string& description,
                             const std::function<StepPluginStep*()>& create,
                             const std::string& offeredBy = {}) {
        const std::string label = "Step type " + typeId + offeredBy;
        StepDescription d;
        d.typeId = typeId;
        d.description = description;
        RunShared shared;
        StepContext context(typeId, typeId, shared);
        StepPluginStep* step = nullptr;
        try {
            step = create();
        } catch (const std::exception& e) {
            throw JobError(label + " could not be created: " + e.what());
        }
        if (step == nullptr) {
            throw JobError(label + " could not be created: the plug-in gave no step");
        }
        context.attach(step, nullptr);
        if (!context.initialize(&d.inputs, &d.outputs)) {
            std::string why;
            for (const RunMessage& m : shared.log.messages())
                why += ": " + m.text;
            throw JobError(label + " failed to initialize" + why);
        }
        int index = 0;
        for (const PropertyStore::Property& p : context.properties().properties()) {
            PropertyDescription& out = d.properties.emplace_back();
            out.index = index++;
            out.name = p.name;
            out.isTable = p.table != nullptr;
            out.type = out.isTable ? 0 : p.type;
            out.defaultValue = p.defaultValue;
            if (p.table) {
                for (const PropertyStore::Table::Column& c : p.table->columns())
                    out.columns.push_back({c.name, c.type});
            }
        }
        addNotes(context.step(), d);
        addFileRoles(context.step(), d);
        return d;
    }

    /// Takes each property's effective default and summary from the step's notes, matched by
    /// name. A step that gives no notes, or throws when asked, leaves them empty.
    static void addNotes(StepPluginStep* step, StepDescription& d) {
        const StepPropertyNotes* notes = nullptr;
        try {
            notes = static_cast<const StepPropertyNotes*>(
                step->queryExtension(kStepPropertyNotesExtension));
        } catch (const std::exception&) {
            return;
        }
        if (notes == nullptr || notes->notes == nullptr) return;
        for (int i = 0; i < notes->count; ++i) {
            const StepPropertyNote& note = notes->notes[i];
            if (note.name == nullptr) continue;
            for (PropertyDescription& p : d.properties) {
                if (p.name != note.name) continue;
                if (note.effectiveDefault != nullptr) p.effectiveDefault = note.effectiveDefault;
                if (note.description != nullptr) p.summary = note.description;
            }
        }
    }

    static void addFileRoles(StepPluginStep* step, StepDescription& d) {
        const StepFileRoles roles = fileRolesOf(step);
        for (PropertyDescription& p : d.properties) {
            if (const FileProperty* file = roles.find(p.name)) p.fileRole = roleText(*file);
        }
        for (const ExtraFile& extra : roles.extras)
            d.extraFiles.push_back(extra.name + " beside the file of " + extra.beside);
    }

    const RunOptions& options_;
    std::vector<HostStepType> builtins_ = builtinStepTypes();
    std::unique_ptr<PluginSet> plugin_;
};

}  // namespace

const PropertyDescription* StepDescription::find(std::string_view name) const {
    for (const PropertyDescription& p : properties) {
        if (p.name == name) return &p;
    }
    return nullptr;
}

std::vector<std::string> StepDescription::propertyNames() const {
    std::vector<std::string> names;
    for (const PropertyDescription& p : properties)
        names.push_back(p.name);
    return names;
}

StepDescription describeStepType(std::string_view typeId, const RunOptions& options) {
    Describer describer(options);
    return describer.describe(typeId);
}

std::vector<StepDescription> describeStepTypes(const RunOptions& options) {
    Describer describer(options);
    std::vector<StepDescription> all;
    for (const HostStepType& type : listStepTypes(options))
        all.push_back(describer.describe(type.typeId));
    return all;
}

std::string typeName(int type) {
    if (type == mvbTypeNull) return "null";
    const char* name = mvbTypeName(type, 0);
    return name != nullptr ? name : "type " + std::to_string(type);
}

JobValue valueFromText(std::string_view text) {
    JobValue value;
    // A value in double quotes is the text inside them, as typed: no escapes, so that a path
    // with backslashes or a text with a quote in it stays what the shell passed.
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
        value.assign(std::string(text.substr(1, text.size() - 2)));
        return value;
    }
    const nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
    switch (json.type()) {
        case nlohmann::json::value_t::null:
            return value;
        case nlohmann::json::value_t::boolean:
            value.assign(json.get<bool>());
            return value;
        case nlohmann::json::value_t::number_integer:
            value.assign(json.get<int64_t>());
            return value;
        case nlohmann::json::value_t::number_unsigned:
            if (json.get<uint64_t>() <= static_cast<uint64_t>(INT64_MAX)) {
                value.assign(static_cast<int64_t>(json.get<uint64_t>()));
                return value;
            }
            break;
        case nlohmann::json::value_t::number_float:
            value.assign(json.get<double>());
            return value;
        case nlohmann::json::value_t::string:
            value.assign(json.get_ref<const std::string&>());
            return value;
        default:
            break;
    }
    value.assign(text);
    return value;
}

PropertyOverride parseOverride(std::string_view argument) {
    PropertyOverride o;
    o.argument = std::string(argument);
    const size_t equals = argument.find('=');
    const std::string_view target = argument.substr(0, equals);
    const size_t dot = target.rfind('.');
    if (equals == std::string_view::npos || dot == std::string_view::npos || dot == 0 ||
        dot + 1 == target.size()) {
        throw JobError("--set " + o.argument +
                       ": expected STEP.PROPERTY=VALUE, for example src.FILENAME=orders.csv "
                       "(STEP is the step's \"name\", or its type when it has none)");
    }
    o.step = std::string(target.substr(0, dot));
    o.property = std::string(target.substr(dot + 1));
    o.text = std::string(argument.substr(equals + 1));
    o.value = valueFromText(o.text);
    return o;
}

void applyOverrides(JobDefinition& job, const std::vector<PropertyOverride>& overrides,
                    const RunOptions& options) {
    if (overrides.empty()) return;
    Describer describer(options);
    std::map<std::string, StepDescription> described;
    for (const PropertyOverride& o : overrides) {
        const std::string where = "--set " + o.argument;
        JobStep* target = nullptr;
        std::vector<std::string> names;
        for (JobStep& step : job.steps) {
            names.push_back(step.name);
            if (step.name != o.step) continue;
            if (target != nullptr) {
                throw JobError(where + ": several steps are named \"" + o.step +
                               "\"; give each a distinct \"name\" in the job file");
            }
            target = &step;
        }
        if (target == nullptr) {
            throw JobError(where + ": the job has no step named \"" + o.step + "\"" +
                           suggestionTail(o.step, names, "steps"));
        }
        auto it = described.find(target->type);
        if (it == described.end())
            it = described.emplace(target->type, describer.describe(target->type)).first;
        const StepDescription& d = it->second;
        const std::string label = stepLabel(*target);
        const PropertyDescription* property = d.find(o.property);
        if (property == nullptr) {
            throw JobError(where + ": unknown property " + o.property + " for " + label +
                           suggestionTail(o.property, d.propertyNames(), "properties"));
        }
        if (property->isTable) {
            throw JobError(where + ": " + o.property + " of " + label +
                           " is a table; --set changes single values only: edit its rows in "
                           "the job file");
        }
        JobProperty* given = nullptr;
        for (JobProperty& p : target->properties) {
            if (p.name == o.property) given = &p;
        }
        if (given == nullptr) {
            given = &target->properties.emplace_back();
            given->name = o.property;
        }
        given->isTable = false;
        given->table = {};
        given->value = o.value;
        // A property that takes text keeps the text as typed: out.FILENAME=2024.10 names that
        // file, not 2024.1. A text in double quotes still gives the text inside them.
        const int type = o.value.getType();
        if (property->type == mvbTypeString && type != mvbTypeString && type != mvbTypeNull) {
            given->value.assign(o.text);
        }
    }
}

}  // namespace texthost
