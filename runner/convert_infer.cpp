#include "convert_infer.h"

#include "infer_job.h"
#include "infer_layout.h"

namespace textjob {

InferredJob inferJob(const std::string& path, const InferRequest& request) {
    infer::InferOptions options;
    options.allText = request.allText;
    const infer::FileLayout layout = infer::inferLayout(path, options);
    infer::Target target = infer::Target::Csv;
    if (request.target == "fixed") target = infer::Target::Fixed;
    if (request.target == "html") target = infer::Target::Html;
    InferredJob inferred;
    inferred.job = nlohmann::ordered_json::parse(infer::jobText(layout, target, "."));
    inferred.report = infer::explain(layout);
    inferred.header = layout.header;
    return inferred;
}

}  // namespace textjob
