#pragma once

// The job file `textjob infer` writes, and the explanation it prints.

#include <nlohmann/json.hpp>
#include <string>

#include "infer_layout.h"

namespace textjob::infer {

/// What the job's second step writes.
enum class Target { Csv, Fixed, Html, None };

/// The job: step `in` reads the file as `layout` says, step `out` (unless Target::None) writes
/// it beside the job. Paths are relative to `jobFolder` where the file lies inside it, else
/// absolute; standard input stays "-".
nlohmann::ordered_json jobOf(const FileLayout& layout, Target target, const std::string& jobFolder);

/// The job as JSON text laid out for people: a property a line, a FIELDS row a line.
std::string jobText(const nlohmann::ordered_json& job);

/// `file` (a path from the current folder) as a job in `jobFolder` names it: relative to that
/// folder when the file is inside it, else absolute; either way without "." or ".." parts.
std::string pathFromJob(const std::string& file, const std::string& jobFolder);

/// The few lines that say what was decided and why.
std::string explain(const FileLayout& layout);

}  // namespace textjob::infer
