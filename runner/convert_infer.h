#pragma once

// The one place where convert asks infer for a job.

#include <nlohmann/json.hpp>
#include <string>

namespace textjob {

/// What convert asks infer to detect and write.
struct InferRequest {
    bool allText = true;  ///< every column a string: values keep their text
    std::string target;   ///< what the job's "out" step writes: csv, fixed or html
};

/// A job that infer made for a file, and its report of what it decided.
struct InferredJob {
    nlohmann::ordered_json job;  ///< {"steps": [in, out]}; paths relative to the current folder
    std::string report;          ///< the lines infer prints on standard error
    bool header = false;         ///< infer took the line above the data for a header line
};

/// Detects the file at `path` as `textjob infer` does. Throws std::runtime_error naming the
/// file and the reason when it cannot be read or is not text.
InferredJob inferJob(const std::string& path, const InferRequest& request);

}  // namespace textjob
