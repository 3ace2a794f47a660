#pragma once

// The one place where convert asks infer for a job.

#include <nlohmann/json.hpp>
#include <string>

namespace textjob {

/// What convert asks infer to detect and write.
struct InferRequest {
    std::string types = "exact";  ///< exact, loose or text, as `textjob infer --types`
    int headerLine = 0;           ///< the header is this line (from 1); 0: detect it
    bool noHeader = false;        ///< the file has no header line
    bool fixed = false;           ///< the file is fixed-width text
    std::string encoding;         ///< the file's encoding; empty: detect it
    std::string target = "csv";   ///< what the job's "out" step writes: csv, fixed or html
    int delimiter = 0;            ///< the file's delimiter, a character's code; 0: detect it
    std::string inputCopy = {};   ///< for the file "-": where standard input was copied to
};

/// A job that infer made for a file, and its report of what it decided.
struct InferredJob {
    nlohmann::ordered_json job;  ///< {"steps": [in, out]}; paths relative to the current folder
    std::string report;          ///< the lines infer prints on standard error
};

/// Detects the file at `path` as `textjob infer` does. Throws std::runtime_error naming the
/// reason when it cannot be read or is not text.
InferredJob inferJob(const std::string& path, const InferRequest& request);

/// The job's text as infer lays it out for people: a property a line, a table row a line.
std::string jobText(const nlohmann::ordered_json& job);
/// `file` as a job saved in `jobFolder` names it, as infer names the files of its jobs.
std::string pathFromJob(const std::string& file, const std::string& jobFolder);

}  // namespace textjob
