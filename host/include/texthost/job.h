#pragma once

#include <exception>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "mvb/datavar.h"

namespace texthost {

/// One cell or scalar value as the job file gives it (string, integer, real, boolean or null).
using JobValue = MvbDatavar;

/// One row of a table property: cells keyed by column name, or (`positional`) cells in the
/// order in which the step declares its columns, with empty names.
struct JobRow {
    bool positional = false;
    std::vector<std::pair<std::string, JobValue>> cells;
};

/// A table property as the job gives it.
struct JobTable {
    std::vector<JobRow> rows;
};

/// One property of a step in a job: a scalar value or a table.
struct JobProperty {
    std::string name;
    bool isTable = false;  ///< the job gave an array of rows (or null for no rows)
    JobValue value;        ///< the scalar value when not a table
    JobTable table;        ///< the rows when a table
};

struct JobStep {
    std::string type;  ///< step type id, e.g. SOURCE_DELIMTEXT
    std::string name;  ///< the user's name for the step; the type id when the job gives none
    std::vector<JobProperty> properties;
};

struct JobDefinition {
    /// Relative paths in the job resolve against this folder: a run works from it. Empty
    /// means the current working directory.
    std::string baseDirectory;
    std::vector<JobStep> steps;
    /// Keys at the top of the job that are none of its own ("steps", and "$schema" or any other
    /// starting with "$", which editors read): the run says it leaves them, as a user may have
    /// meant an option ("strict") or misspelt "steps".
    std::vector<std::string> ignoredKeys;
};

/// Parses a job's JSON text: `{"steps": [{"type": ..., "name": ..., "properties": {...}}]}`.
/// JSON strings, integers, reals, booleans and null become string, integer, real, boolean and
/// null values; an array is a table property (rows as objects keyed by column name or arrays
/// in column order). Throws JobError naming what is wrong (with line and column for bad JSON).
/// Names of steps' properties and columns are checked later, against the step's declarations.
JobDefinition parseJobText(const std::string& jsonText, const std::string& baseDirectory);

/// Reads and parses a job file; the job's baseDirectory becomes the file's folder (absolute).
/// The path "-" reads the job from standard input, with the current folder as its base.
/// Throws JobError when the file cannot be read or is not a valid job.
JobDefinition parseJobFile(const std::string& path);

/// How a step label begins: `step`, `Step` (a sentence's start) or with the name (after
/// "Steps", say).
enum class StepWord { Lower, Capital, None };

/// How every message names a step: `step "NAME" (TYPE)`.
std::string stepLabel(std::string_view name, std::string_view type,
                      StepWord word = StepWord::Lower);
inline std::string stepLabel(const JobStep& step, StepWord word = StepWord::Lower) {
    return stepLabel(step.name, step.type, word);
}

/// A failure of the job or of the host's own set-up (plug-in loading), with a message meant
/// for the user.
class JobError : public std::exception {
  public:
    explicit JobError(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }

  private:
    std::string message_;
};

}  // namespace texthost
