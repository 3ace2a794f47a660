#include "infer_command.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "exit_status.h"
#include "infer_job.h"
#include "infer_layout.h"

namespace textjob {
namespace {

namespace fs = std::filesystem;

infer::Target targetFrom(const std::string& name) {
    if (name == "fixed") return infer::Target::Fixed;
    if (name == "html") return infer::Target::Html;
    if (name == "none") return infer::Target::None;
    return infer::Target::Csv;
}

bool sameFile(const std::string& a, const std::string& b) {
    std::error_code error;
    return fs::equivalent(a, b, error);
}

}  // namespace

int inferCommand(const CommandLine& line) {
    infer::InferOptions options;
    options.allText = line.inferText;
    options.fixedWidth = line.inferFixed;
    options.sampleBytes = line.inferSampleBytes;
    if (!line.inferJobPath.empty() && sameFile(line.inferJobPath, line.inferFile)) {
        std::fprintf(stderr, "error: the job file %s would replace the file it reads\n",
                     line.inferJobPath.c_str());
        return kExitBadJob;
    }
    infer::FileLayout layout;
    try {
        layout = infer::inferLayout(line.inferFile, options);
    } catch (const infer::InferError& e) {
        std::fprintf(stderr, "error: %s: %s\n", line.inferFile.c_str(), e.what());
        return kExitStepFailed;
    }
    const std::string jobFolder =
        line.inferJobPath.empty() ? "." : fs::path(line.inferJobPath).parent_path().string();
    const std::string job = infer::jobText(layout, targetFrom(line.inferTo), jobFolder);
    std::fputs(infer::explain(layout).c_str(), stderr);
    if (line.inferJobPath.empty()) {
        std::fputs(job.c_str(), stdout);
        return std::fflush(stdout) == 0 ? kExitOk : kExitStepFailed;
    }
    std::ofstream out(line.inferJobPath, std::ios::binary | std::ios::trunc);
    out << job;
    out.close();
    if (!out) {
        std::fprintf(stderr, "error: cannot write the job file %s\n", line.inferJobPath.c_str());
        return kExitStepFailed;
    }
    std::fprintf(stderr, "  job        %s (run it: textjob run %s)\n", line.inferJobPath.c_str(),
                 line.inferJobPath.c_str());
    return kExitOk;
}

}  // namespace textjob
