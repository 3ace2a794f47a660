#include "infer_command.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "convert_job.h"
#include "exit_status.h"
#include "infer.h"
#include "infer_job.h"
#include "interrupt.h"
#include "job_file_output.h"
#include "job_schema.h"
#include "mvb/charset.h"
#include "texthost/run.h"

namespace textjob {
namespace {

namespace fs = std::filesystem;

infer::InferOptions optionsFrom(const CommandLine& line) {
    infer::InferOptions options;
    options.types = line.inferText               ? infer::TypeMode::Text
                    : line.inferTypes == "loose" ? infer::TypeMode::Loose
                                                 : infer::TypeMode::Lossless;
    options.fixedWidth = line.inferFixed;
    options.sampleBytes = line.inferSampleBytes;
    options.headerLine = line.inferHeaderLine;
    options.noHeader = line.inferNoHeader;
    options.encoding = line.inferEncoding;
    options.encodingOption = "--encoding";
    return options;
}

}  // namespace

int inferCommand(const CommandLine& line) {
    // The job names the file in JSON text, which is UTF-8: a name that is not cannot be put in.
    if (!mvbIsValidUtf8(line.inferFile.data(), static_cast<long>(line.inferFile.size()))) {
        std::fprintf(stderr,
                     "error: the file name %s is not UTF-8, which a job cannot hold: rename the "
                     "file, or give it on standard input (infer - < FILE)\n",
                     line.inferFile.c_str());
        return kExitBadJob;
    }
    infer::InferOptions options = optionsFrom(line);
    if (!line.inferDelimiter.empty()) {
        try {
            options.delimiter = delimiterCode("--delimiter", line.inferDelimiter);
        } catch (const ConvertError& e) {
            std::fprintf(stderr, "error: %s\n", e.what());
            return kExitBadJob;
        }
    }
    if (!line.inferJobPath.empty() && sameFile(line.inferJobPath, line.inferFile)) {
        std::fprintf(stderr, "error: the job file %s would replace the file it reads\n",
                     line.inferJobPath.c_str());
        return kExitBadJob;
    }
    // Standard output sent to the file read (infer IN >> IN) would end it with the job.
    if (line.inferJobPath.empty() && line.inferFile != "-" &&
        sameFile("/proc/self/fd/1", line.inferFile)) {
        std::fprintf(stderr,
                     "error: standard output is %s, the file infer reads: the job would be "
                     "written into it; give the job a file of its own (-o JOB)\n",
                     line.inferFile.c_str());
        return kExitBadJob;
    }
    infer::Target target = infer::Target::Csv;
    infer::targetFromName(line.inferTo, target);
    const std::string jobFolder =
        line.inferJobPath.empty() ? "." : fs::path(line.inferJobPath).parent_path().string();
    infer::InferResult result;
    try {
        result = infer::inferJob(line.inferFile, options, target, jobFolder);
    } catch (const infer::InferError& e) {
        std::fprintf(stderr, "error: %s: %s\n", line.inferFile.c_str(), e.what());
        return texthost::stopRequested() ? stoppedExitStatus() : kExitStepFailed;
    }
    // Stopped while it read: no job is written, as none is run.
    if (texthost::stopRequested()) {
        std::fprintf(stderr, "infer: %s: stopped; no job was written\n", line.inferFile.c_str());
        return stoppedExitStatus();
    }
    // The job names the schema installed with the program, so that an editor completes and
    // checks it.
    if (const std::string schema = installedSchemaPath(); !schema.empty()) {
        nlohmann::ordered_json referenced = {{"$schema", schema}};
        referenced.update(result.job);
        result.jobText = infer::jobText(referenced);
    }
    if (!line.inferJobPath.empty()) {
        // The file the job writes, named relative to the job's folder.
        for (const auto& step : result.job["steps"]) {
            const auto& name = step["properties"]["FILENAME"];
            if (!step["type"].get<std::string>().starts_with("DEST_") || !name.is_string())
                continue;
            if (!samePlace((fs::path(jobFolder) / name.get<std::string>()).string(),
                           line.inferJobPath))
                continue;
            std::fprintf(stderr,
                         "error: the job file %s is the file the job writes, so its first run "
                         "would replace it: name the job otherwise\n",
                         line.inferJobPath.c_str());
            return kExitBadJob;
        }
    }
    std::fputs(result.report.c_str(), stderr);
    if (line.inferJobPath.empty()) {
        std::fputs(result.jobText.c_str(), stdout);  // the program checks that it got there
        return kExitOk;
    }
    if (!writeJobFile(line.inferJobPath, result.jobText)) return kExitStepFailed;
    std::fprintf(stderr, "  job        %s (run it: textjob run %s)\n", line.inferJobPath.c_str(),
                 line.inferJobPath.c_str());
    return kExitOk;
}

}  // namespace textjob
