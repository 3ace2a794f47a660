#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "mvb/datavar.h"

namespace texthost {

/// One cell or scalar value as the job file gives it (string, integer, real, boolean or null).
using JobValue = MvbDatavar;

/// A table property: rows of cells keyed by column name.
struct JobTable {
    std::vector<std::vector<std::pair<std::string, JobValue>>> rows;
};

/// One property of a step in a job file: a scalar or a table.
struct JobProperty {
    std::string name;
    bool isTable = false;
    JobValue value;
    /// For a table given as arrays in column order, the column names are filled in later, when
    /// the step's declaration is known; `positional` marks such rows.
    JobTable table;
    bool positional = false;
};

struct JobStep {
    std::string type;  ///< step type id, e.g. SOURCE_DELIMTEXT
    std::string name;  ///< the user's name for the step; the type id when the file gives none
    std::vector<JobProperty> properties;
};

struct JobDefinition {
    std::string baseDirectory;  ///< relative paths in the job resolve against this folder
    std::vector<JobStep> steps;
};

/// Parses a job's JSON text. Throws JobError with a clear message on malformed input.
JobDefinition parseJobText(const std::string& jsonText, const std::string& baseDirectory);
/// Reads and parses a job file; `baseDirectory` becomes the file's folder.
JobDefinition parseJobFile(const std::string& path);

/// A failure of the job file or of the host's own set-up, with a message meant for the user.
class JobError : public std::exception {
public:
    explicit JobError(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

}  // namespace texthost
