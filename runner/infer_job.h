#pragma once

// The job file `textjob infer` writes, and the explanation it prints.

#include <string>

#include "infer_layout.h"

namespace textjob::infer {

/// What the job's second step writes.
enum class Target { Csv, Fixed, Html, None };

/// The job, as JSON text: step `in` reads the file as `layout` says, step `out` (unless
/// Target::None) writes it beside the job. Paths are relative to `jobFolder` where the file
/// lies inside it, else absolute.
std::string jobText(const FileLayout& layout, Target target, const std::string& jobFolder);

/// The few lines that say what was decided and why.
std::string explain(const FileLayout& layout);

}  // namespace textjob::infer
