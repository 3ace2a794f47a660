#include "convert_infer.h"

#include "infer.h"

namespace textjob {

InferredJob inferJob(const std::string& path, const InferRequest& request) {
    infer::InferOptions options;
    options.types = request.types == "loose"  ? infer::TypeMode::Loose
                    : request.types == "text" ? infer::TypeMode::Text
                                              : infer::TypeMode::Lossless;
    options.headerLine = request.headerLine;
    options.noHeader = request.noHeader;
    options.fixedWidth = request.fixed;
    options.encoding = request.encoding;
    options.delimiter = request.delimiter;
    options.encodingOption = "--input-encoding";
    options.inputCopy = request.inputCopy;
    infer::Target target = infer::Target::Csv;
    infer::targetFromName(request.target, target);
    // The conversion builds its report's headings itself, from the headings as the file reads
    // (the report's own are markup already).
    if (target == infer::Target::Html) target = infer::Target::Csv;
    infer::InferResult result = infer::inferJob(path, options, target, ".");
    return {std::move(result.job), std::move(result.report)};
}

std::string jobText(const nlohmann::ordered_json& job) {
    return infer::jobText(job);
}

std::string pathFromJob(const std::string& file, const std::string& jobFolder) {
    return infer::pathFromJob(file, jobFolder);
}

}  // namespace textjob
