#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "mvb/datavar.h"
#include "texthost/pipeline.h"
#include "texthost/run.h"

// Helpers for the source tests: temporary files, one-step jobs and reading every row a source
// produces through the host's pipeline.
#include "common/temp_files.h"

namespace srctest {

using testfiles::readFile;
using testfiles::TempDir;

using testfiles::writeFile;
/// A file of `size` bytes that reads as zeros, without writing them (a sparse file).
void writeSparseFile(const std::string& path, uint64_t size);
/// `count` lines made by `line(i)`, each ended by LF.
std::string linesOf(int count, const std::function<std::string(int)>& line);

/// A job of one step of `type` with `properties`, whose relative paths resolve in `baseDir`.
texthost::JobDefinition sourceJob(const std::string& type, const nlohmann::json& properties,
                                  const std::string& baseDir);

/// Everything one run of a source gave.
struct SourceRead {
    bool started = false;  ///< prepare and start succeeded
    int endCode = -1;      ///< the pull result that ended the run (1 end of data, 2 failure)
    std::vector<std::vector<MvbDatavar>> rows;
    std::vector<texthost::RunMessage> messages;

    std::vector<std::string> errors() const;
    std::vector<std::string> warnings() const;
    std::vector<std::string> infos() const;
    /// Each row's values as texts; a null value reads "<null>".
    std::vector<std::vector<std::string>> texts() const;
};

/// Prepares and starts the source, pulls rows until it answers non-zero and finishes it.
SourceRead readSource(const std::string& type, const nlohmann::json& properties,
                      const std::string& baseDir);

/// A value as text; null reads "<null>".
std::string text(const MvbDatavar& value);
/// Output field `index` of the pipeline's first step.
const StepOutputItem& outputItem(const texthost::Pipeline& pipeline, int index);
/// getStatus of a step: {percent, text, result}.
struct Status {
    int percent = -1;
    std::string text;
    bool ok = false;
};
Status statusOf(StepPluginStep* step);

/// Texts joined one per line, for failure output.
std::string joinedTexts(const std::vector<std::string>& texts);
/// True when `infos` is one run summary made of "Input file: ", `fileName` and
/// "<rows> rows read", in that order (however the host joins the pieces).
bool isRunSummary(const std::vector<std::string>& infos, const std::string& fileName, int rows);
/// True when exactly one text starts with "Text Plugin <number>:" and names `sourceFile`.
bool hasMessage(const std::vector<std::string>& texts, int number, const std::string& sourceFile);

}  // namespace srctest
