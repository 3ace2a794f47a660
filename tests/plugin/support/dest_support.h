#pragma once

#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "mvb/datavar.h"
#include "texthost/run.h"

// Helpers for the destination tests: a source step that emits rows given in the test, a way to
// bind a plug-in step without the validating pass, temporary folders and job runs.
#include "common/temp_files.h"

namespace desttest {

struct TestField {
    std::string name;
    int type = 0;  ///< mvbType code
};

/// Rows a test source emits, with the field list it declares.
struct TestRows {
    std::vector<TestField> fields;
    std::vector<std::vector<MvbDatavar>> rows;
    /// Whether getProgress tells the row count (the destinations then check progress per 1%).
    bool countKnown = true;
    /// Whether a stop ends the rows after the row it came at, as the text sources do.
    bool honoursStop = false;
};

/// A host step type `typeId` whose steps emit `rows` (a source with no properties).
texthost::HostStepType rowSource(std::string typeId, TestRows rows);

/// What a passStep does besides handing its input rows on.
struct PassBehaviour {
    bool failsInFinish = false;  ///< reports an error from its finish
    int64_t endsAfterRows = -1;  ///< ends its data after this many rows (-1: with its input)
};

/// A host step type `typeId` whose steps hand their input rows on as `behaviour` says.
texthost::HostStepType passStep(std::string typeId, PassBehaviour behaviour);

/// A host step type `typeId` that creates the plug-in's step `pluginTypeId` and forwards every
/// call, except that prepare never gets the validating bit: FIELDS names missing from the
/// input are then kept unbound instead of failing the run.
texthost::HostStepType lenientStep(std::string typeId, std::string pluginTypeId);

MvbDatavar text(const char* value);
MvbDatavar integer(int64_t value);
MvbDatavar real(double value);
MvbDatavar boolean(bool value);
MvbDatavar date(int year, int month, int day);
MvbDatavar null();

using testfiles::TempDir;

using testfiles::readFile;
using testfiles::writeFile;
bool fileExists(const std::string& path);

/// Writes {"steps": steps} as job.json into `dir` and runs it as the job runner would.
texthost::RunReport runJobFile(const TempDir& dir, const nlohmann::json& steps,
                               const texthost::RunOptions& options = {});

/// Reads `file` with a SOURCE_DELIMTEXT step (all fields strings) and gives each row's texts;
/// a null value reads as "<null>".
std::vector<std::vector<std::string>> readDelimited(const std::string& file,
                                                    const std::vector<std::string>& names,
                                                    const nlohmann::json& extraProperties = {});

/// FIELDS rows for a destination: {FIELDNAME: name, <second>: value}.
nlohmann::json fieldsTable(const std::vector<std::pair<std::string, nlohmann::json>>& rows,
                           const char* second = "OUTPUTNAME");

/// Every text of `texts`, one per line, for failure output.
std::string joined(const std::vector<std::string>& texts);
/// True when a text of `texts` contains `part`.
bool anyContains(const std::vector<std::string>& texts, const std::string& part);

/// Today's local date as the report writes it: month/day/year without leading zeros.
std::string todayDate();

}  // namespace desttest
