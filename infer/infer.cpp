#include "infer.h"

namespace textjob::infer {

InferResult inferJob(const std::string& path, const InferOptions& options, Target target,
                     const std::string& jobFolder) {
    InferResult result;
    result.layout = inferLayout(path, options);
    result.job = jobOf(result.layout, target, jobFolder);
    result.jobText = jobText(result.job);
    result.report = explain(result.layout);
    return result;
}

bool targetFromName(const std::string& name, Target& target) {
    static const struct {
        const char* name;
        Target target;
    } kTargets[] = {{"csv", Target::Csv},
                    {"fixed", Target::Fixed},
                    {"html", Target::Html},
                    {"none", Target::None}};
    for (const auto& t : kTargets) {
        if (name == t.name) {
            target = t.target;
            return true;
        }
    }
    return false;
}

}  // namespace textjob::infer
