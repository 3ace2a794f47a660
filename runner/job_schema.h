#pragma once

// Step descriptions as JSON: for scripts (steps --json, describe --json) and as a JSON Schema
// of job files that editors use to complete and check a job.

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "texthost/describe.h"

namespace textjob {

/// "source", "destination" or "transform": a step without inputs is a source; one that reads
/// rows and writes a file (it declares a FILENAME) is a destination; any other passes on rows
/// of its own.
std::string stepRole(const texthost::StepDescription& d);

/// One step type as JSON: type, description, role, inputs, outputs and its properties (index,
/// name, type, default, description, a table's columns), in declaration order.
nlohmann::ordered_json stepJson(const texthost::StepDescription& d);

/// A JSON Schema (draft-07) of job files that can name these step types: each step's
/// properties with type, default and description, and a table's rows in both forms, objects
/// keyed by column and arrays in column order.
nlohmann::ordered_json jobSchema(const std::vector<texthost::StepDescription>& steps);

/// The job schema installed beside the program (share/textjob/textjob.schema.json next to its
/// bin folder, in the build tree as after cmake --install), as an absolute path for a job's
/// "$schema"; empty when it is not there.
std::string installedSchemaPath();

}  // namespace textjob
