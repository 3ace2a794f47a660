#pragma once

// The one entry to layout detection for commands: a file (or "-" for standard input) and what
// was asked in, the layout, the job that reads it and the report out. Nothing is written.

#include <nlohmann/json.hpp>
#include <string>

#include "infer_job.h"
#include "infer_layout.h"

namespace textjob::infer {

struct InferResult {
    FileLayout layout;
    nlohmann::ordered_json job;  ///< the job, steps `in` and (unless Target::None) `out`
    std::string jobText;         ///< the job as a person reads it
    std::string report;          ///< what was decided and why, a line each
};

/// Detects the layout of `path` and makes the job for it; paths in the job are relative to
/// `jobFolder` where the file lies inside it. Throws InferError.
InferResult inferJob(const std::string& path, const InferOptions& options, Target target,
                     const std::string& jobFolder);

/// The target a name stands for: "csv", "fixed", "html" or "none"; false for another name.
bool targetFromName(const std::string& name, Target& target);

}  // namespace textjob::infer
