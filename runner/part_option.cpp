#include "part_option.h"

#include <charconv>
#include <stdexcept>
#include <string_view>

namespace textjob {
namespace {

/// A whole number of nothing but digits (a leading minus for a negative one).
std::optional<long long> wholeNumber(std::string_view text) {
    long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size()) return {};
    return value;
}

JobPart checkedPart(long long index, long long count, const std::string& given) {
    if (count < 1) throw std::invalid_argument(given + ": the number of parts N must be 1 or more");
    if (index < 0 || index >= count) {
        throw std::invalid_argument(given + ": the part K must be 0 to N-1 (" +
                                    std::to_string(count - 1) + "); parts count from 0");
    }
    if (count > 1000000)
        throw std::invalid_argument(given + ": more than 1000000 parts is not supported");
    return {static_cast<int>(index), static_cast<int>(count)};
}

std::optional<long long> environmentNumber(const EnvironmentLookup& getenv, const char* name) {
    const char* value = getenv(name);
    if (value == nullptr) return {};
    const std::optional<long long> number = wholeNumber(value);
    if (!number) {
        throw std::invalid_argument(std::string("--part auto: ") + name + "=" + value +
                                    " is not a whole number");
    }
    return number;
}

JobPart automaticPart(const CommandLine& line, const EnvironmentLookup& getenv) {
    if (const std::optional<long long> task = environmentNumber(getenv, "SLURM_ARRAY_TASK_ID")) {
        const long long first = environmentNumber(getenv, "SLURM_ARRAY_TASK_MIN").value_or(0);
        std::optional<long long> count = environmentNumber(getenv, "SLURM_ARRAY_TASK_COUNT");
        // A count of one's own that differs from the array's would leave parts that no task
        // runs, or run some twice.
        if (line.partCount > 0 && count && *count != line.partCount) {
            throw std::invalid_argument("--part auto: --parts " + std::to_string(line.partCount) +
                                        " differs from the Slurm array's SLURM_ARRAY_TASK_COUNT " +
                                        std::to_string(*count) +
                                        "; leave --parts out, or make them agree");
        }
        if (line.partCount > 0) count = line.partCount;
        if (!count) {
            throw std::invalid_argument(
                "--part auto: SLURM_ARRAY_TASK_COUNT is not set; give the number of parts "
                "with --parts N");
        }
        return checkedPart(*task - first, *count,
                           "--part auto (SLURM_ARRAY_TASK_ID " + std::to_string(*task) + ")");
    }
    if (const std::optional<long long> index = environmentNumber(getenv, "JOB_COMPLETION_INDEX")) {
        if (line.partCount < 1) {
            throw std::invalid_argument(
                "--part auto: JOB_COMPLETION_INDEX gives the part but not the number of parts: "
                "add --parts N (the job's completions)");
        }
        return checkedPart(*index, line.partCount,
                           "--part auto (JOB_COMPLETION_INDEX " + std::to_string(*index) + ")");
    }
    throw std::invalid_argument(
        "--part auto: neither SLURM_ARRAY_TASK_ID nor JOB_COMPLETION_INDEX is set; give the "
        "part as --part K/N");
}

}  // namespace

std::optional<JobPart> resolveJobPart(const CommandLine& line, const EnvironmentLookup& getenv) {
    std::string text = line.part;
    std::string given = "--part " + text;
    // convert runs a job of its own making, whole: the part a run is given from the
    // environment is not for it.
    if (text.empty() && line.command == CommandLine::Command::Run) {
        const char* fromEnvironment = getenv("TEXTJOB_PART");
        if (fromEnvironment != nullptr) text = fromEnvironment;
        given = "TEXTJOB_PART=" + text;
    }
    if (text == "auto") return automaticPart(line, getenv);
    if (line.partCount > 0) {
        throw std::invalid_argument("--parts " + std::to_string(line.partCount) +
                                    " goes with --part auto; give a part as --part K/N");
    }
    if (text.empty()) return {};
    const size_t slash = text.find('/');
    const std::optional<long long> index =
        slash == std::string::npos ? std::nullopt
                                   : wholeNumber(std::string_view(text).substr(0, slash));
    const std::optional<long long> count =
        slash == std::string::npos ? std::nullopt
                                   : wholeNumber(std::string_view(text).substr(slash + 1));
    if (!index || !count) {
        throw std::invalid_argument(given +
                                    ": a part is K/N, part K (0-based) of N parts, such as 3/16, "
                                    "or auto");
    }
    return checkedPart(*index, *count, given);
}

}  // namespace textjob
