// Detection over any file content: the layout, the job and the report must come back, or the
// reason why not as an InferError; nothing else may escape, and the job must name every
// column the layout found. The first byte chooses the options: fixed width, the type mode,
// no header, and the target.

#include <cstddef>
#include <cstdint>
#include <string>

#include "infer.h"
#include "memory_file.h"

namespace {

constexpr textjob::infer::TypeMode kModes[] = {
    textjob::infer::TypeMode::Lossless, textjob::infer::TypeMode::Loose,
    textjob::infer::TypeMode::Text, textjob::infer::TypeMode::Lossless};
constexpr textjob::infer::Target kTargets[] = {
    textjob::infer::Target::Csv, textjob::infer::Target::Fixed, textjob::infer::Target::Html,
    textjob::infer::Target::None};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > (1u << 16)) return 0;
    static const MemoryFile file;
    file.replace(data + 1, size - 1);
    textjob::infer::InferOptions options;
    options.fixedWidth = (data[0] & 1) != 0;
    options.types = kModes[(data[0] >> 1) & 3];
    options.noHeader = (data[0] & 8) != 0;
    const textjob::infer::Target target = kTargets[(data[0] >> 4) & 3];
    try {
        const textjob::infer::InferResult result =
            textjob::infer::inferJob(file.path, options, target, "/");
        const auto& fields = result.job.at("steps").at(0).at("properties").at("FIELDS");
        if (fields.size() != result.layout.columns.size() || result.layout.columns.empty() ||
            result.report.empty())
            __builtin_trap();
    } catch (const textjob::infer::InferError&) {
    }
    return 0;
}
