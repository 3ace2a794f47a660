#pragma once

// A job as people write it: indented, each table row on one line.

#include <nlohmann/json.hpp>
#include <string>

namespace textjob {

/// The job's JSON text, indented by two blanks, with every row of a table property on a line
/// of its own and a blank after each colon and comma in it; ends with a line feed.
std::string jobText(const nlohmann::ordered_json& job);

/// The job schema installed beside the program (share/textjob/textjob.schema.json next to its
/// bin folder), as an absolute path for a job's "$schema"; empty when it is not there.
std::string installedSchemaPath();

}  // namespace textjob
