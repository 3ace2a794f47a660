#pragma once

#include <string>

#include "texthost/job.h"
#include "texthost/pipeline.h"
#include "texthost/run.h"

namespace texthost {

/// After the steps' prepare refused to bind: the first FIELDNAME of a step's FIELDS table that
/// is not among the fields of its input (the output of the step before it), as a message that
/// names the step, the row, the closest input field and, when there are few, all of them.
/// Empty when every FIELDNAME is an input field (the refusal had another reason).
std::string unknownInputField(const JobDefinition& job, const Pipeline& pipeline,
                              const RunOptions& options);

/// When two fields of `items` (a step's output) share a name, which a later step could never
/// tell apart (it finds the first): a message naming the step, the name and both positions.
/// Empty when each name is unique; unnamed fields are not looked at.
std::string sharedOutputName(const StepOutputItems* items, const std::string& stepName,
                             const std::string& stepType);

}  // namespace texthost
