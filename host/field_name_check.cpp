#include "field_name_check.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>

#include "step/host.h"
#include "texthost/closest_name.h"
#include "texthost/describe.h"

namespace texthost {
namespace {

/// Up to this many input fields are listed in the message; more would bury the suggestion.
constexpr size_t kListedFields = 12;

std::vector<std::string> namesOf(const StepOutputItems& items) {
    std::vector<std::string> names;
    for (int i = 0; i < items.count; ++i)
        names.emplace_back(items.items[i].name.view());
    return names;
}

/// The position of the FIELDNAME column among the step type's declared FIELDS columns, for
/// rows that give their cells in column order; -1 when it declares none.
int fieldNameColumn(const std::string& type, const RunOptions& options) {
    const StepDescription d = describeStepType(type, options);
    const PropertyDescription* fields = d.find("FIELDS");
    if (fields == nullptr) return -1;
    for (size_t c = 0; c < fields->columns.size(); ++c)
        if (fields->columns[c].name == "FIELDNAME") return static_cast<int>(c);
    return -1;
}

/// The FIELDNAME a row gives; false when it gives none.
bool fieldNameOf(const JobRow& row, int positionalColumn, std::string& name) {
    for (size_t c = 0; c < row.cells.size(); ++c) {
        const bool named = !row.positional && row.cells[c].first == "FIELDNAME";
        const bool placed = row.positional && static_cast<int>(c) == positionalColumn;
        if ((named || placed) && row.cells[c].second.getType() == mvbTypeString) {
            name = std::string(row.cells[c].second.asString().view());
            return true;
        }
    }
    return false;
}

}  // namespace

std::string unknownInputField(const JobDefinition& job, const Pipeline& pipeline,
                              const RunOptions& options) {
    // Only the step that refused first is looked at: the steps before it bound their fields,
    // so its input is complete.
    std::string refused;
    for (const RunMessage& message : pipeline.messages()) {
        if (message.kind == RunMessage::Kind::Error) {
            refused = message.step;
            break;
        }
    }
    const int steps = std::min(pipeline.stepCount(), static_cast<int>(job.steps.size()));
    for (int s = 1; s < steps; ++s) {
        if (pipeline.stepName(s) != refused) continue;
        const StepOutputItems* input = pipeline.outputItems(s - 1);
        if (input == nullptr) return {};  // the step before did not get as far
        const JobStep& step = job.steps[s];
        for (const JobProperty& property : step.properties) {
            if (!property.isTable || property.name != "FIELDS") continue;
            int positional = -2;  // looked up at the first row given in column order
            for (size_t r = 0; r < property.table.rows.size(); ++r) {
                const JobRow& row = property.table.rows[r];
                if (row.positional && positional == -2)
                    positional = fieldNameColumn(step.type, options);
                // A row without a FIELDNAME (or a null one) names no field, as an empty one.
                std::string name;
                fieldNameOf(row, positional, name);
                if (findOutputItemByName(input, MvbString(name)) >= 0) continue;
                const std::vector<std::string> names = namesOf(*input);
                const std::string best = name.empty() ? std::string() : closestName(name, names);
                std::string text =
                    "step \"" + step.name + "\" (" + step.type + "), FIELDS row " +
                    std::to_string(r + 1) + ": " +
                    (name.empty() ? std::string("no FIELDNAME names a field")
                                  : "FIELDNAME \"" + name + "\" is not a field of its input");
                text += best.empty() ? "." : "; did you mean " + best + "?";
                text += names.size() <= kListedFields
                            ? " Input fields: " + joinNames(names)
                            : " The input has " + std::to_string(names.size()) +
                                  " fields; textjob infer or the source's FIELDS list them";
                return text;
            }
        }
    }
    return {};
}

std::string sharedOutputName(const StepOutputItems* items, const std::string& stepName,
                             const std::string& stepType) {
    if (items == nullptr) return {};
    // The text sources name their fields in FIELDS (and FILENAME_FIELD); another step's own
    // settings are its own.
    const bool textSource = stepType == "SOURCE_DELIMTEXT" || stepType == "SOURCE_FIXEDTEXT";
    std::unordered_map<std::string_view, int> seen;
    for (int i = 0; i < items->count; ++i) {
        const std::string_view name = items->items[i].name.view();
        if (name.empty()) {
            return stepLabel(stepName, stepType, StepWord::Capital) + " gives its field " +
                   std::to_string(i + 1) +
                   " no name, and the steps after it could not name it: give each field a name" +
                   (textSource ? " (the NAMEs of FIELDS)" : "");
        }
        const auto [first, added] = seen.emplace(name, i);
        if (added) continue;
        if (stepType == "PROFILER" && name == "STATISTIC") {
            // The profile's own first field: the name came from the step before it.
            return stepLabel(stepName, stepType, StepWord::Capital) +
                   " names its first field STATISTIC, and one of its input fields has that name "
                   "too: rename that field in the step before it";
        }
        return stepLabel(stepName, stepType, StepWord::Capital) + " names two of its fields " +
               std::string(name) + " (fields " + std::to_string(first->second + 1) + " and " +
               std::to_string(i + 1) +
               "), and the steps after it would find only the first: give each field its own "
               "name" +
               (textSource ? " (the NAMEs of FIELDS and FILENAME_FIELD)" : "");
    }
    return {};
}

}  // namespace texthost
