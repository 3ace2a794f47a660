#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "mvb/datavar.h"
#include "texthost/job.h"
#include "texthost/run.h"

namespace texthost {

/// A column of a table property, as the step declared it.
struct ColumnDescription {
    std::string name;
    int type = 0;  ///< mvbType code
};

/// One property as the step declared it in initialize.
struct PropertyDescription {
    int index = 0;  ///< position in declaration order, a table counting as one
    std::string name;
    bool isTable = false;
    int type = 0;                            ///< mvbType code of a scalar; 0 for a table
    MvbDatavar defaultValue;                 ///< null when the step set none
    std::vector<ColumnDescription> columns;  ///< a table's columns in order
    /// From the step's property notes (empty when it gives none): what the step uses when a
    /// job leaves the property out, and one line on what the property does.
    std::string effectiveDefault;
    std::string summary;
    /// What the step does with the file the property names (roleText); empty when it names none.
    std::string fileRole;
};

/// What a step type declares about itself: learnt by creating one step, calling initialize
/// against a host that records the declarations, asking the step for its property notes and
/// files (queryExtension(kStepPropertyNotesExtension), fileRolesOf), and releasing it.
struct StepDescription {
    std::string typeId;
    std::string description;
    int inputs = 0;   ///< initialize's input count: 0 for a source
    int outputs = 0;  ///< initialize's output count
    std::vector<PropertyDescription> properties;
    /// The extra files the step writes, each as "NAME beside the file of PROPERTY".
    std::vector<std::string> extraFiles;

    /// The property with this exact name; null when there is none.
    const PropertyDescription* find(std::string_view name) const;
    /// Every property name in declaration order.
    std::vector<std::string> propertyNames() const;
};

/// Describes the step type `typeId` among the types listStepTypes(options) gives (the plug-in
/// is loaded only for a type the host does not offer itself). Throws JobError for an unknown
/// type (suggesting the closest valid one and listing them all), a plug-in that cannot be
/// loaded or a step that cannot be created or initialized.
StepDescription describeStepType(std::string_view typeId, const RunOptions& options = {});

/// Describes every step type, in listStepTypes order. Throws JobError as describeStepType.
std::vector<StepDescription> describeStepTypes(const RunOptions& options = {});

/// The name of an mvbType code as job files and type names use it: "boolean", "integer",
/// "real", "string", "date"; "null" for 0 and "type N" for anything else.
std::string typeName(int type);

/// A property override from the command line: STEP.PROPERTY=VALUE.
struct PropertyOverride {
    std::string argument;  ///< the text as given, for messages
    std::string step;      ///< the step's name (its type id when the job names it not)
    std::string property;
    JobValue value;    ///< the value as valueFromText reads it
    std::string text;  ///< the value's text as given
};

/// Reads the text of a value as a JSON scalar would be read when it is one (a number, true,
/// false, null, or a string in double quotes, which gives its unquoted text); any other text is
/// taken as it is, as a string.
JobValue valueFromText(std::string_view text);

/// Splits STEP.PROPERTY=VALUE at the first "=" and, before it, at the last "." (so a step's
/// name may hold dots). Throws JobError naming the expected form when a part is missing.
PropertyOverride parseOverride(std::string_view argument);

/// Sets each override's value in `job`, replacing what the job gave. Throws JobError naming
/// the argument when the job has no step or several steps of that name, when the step type
/// has no such property (suggesting the closest name) or when the property is a table.
void applyOverrides(JobDefinition& job, const std::vector<PropertyOverride>& overrides,
                    const RunOptions& options = {});

}  // namespace texthost
