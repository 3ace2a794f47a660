#include "texthost/run.h"

#include <chrono>
#include <optional>

#include "file_targets.h"
#include "texthost/pipeline.h"

namespace texthost {
namespace {

std::vector<std::string> textsOf(const std::vector<RunMessage>& messages, RunMessage::Kind kind) {
    std::vector<std::string> texts;
    for (const RunMessage& m : messages) {
        if (m.kind == kind) texts.push_back(m.text);
    }
    return texts;
}

/// Pulls rows until the chain ends, fails or is stopped. After a stop request the steps stop
/// themselves at their next progress point (reporting it); a chain still running a second
/// later, whose steps do not ask, is stopped here. The clock is read once per 1024 rows.
int drive(Pipeline& pipeline, bool& stopped) {
    using Clock = std::chrono::steady_clock;
    std::optional<Clock::time_point> stopSeen;
    uint64_t rowsSinceStop = 0;
    for (;;) {
        const int code = pipeline.pull();
        if (code != 0) {
            stopped = stopRequested();
            return code;
        }
        if (stopRequested()) [[unlikely]] {
            if (!stopSeen) {
                stopSeen = Clock::now();
            } else if ((++rowsSinceStop & 1023) == 0 &&
                       Clock::now() - *stopSeen > std::chrono::seconds(1)) {
                stopped = true;
                return 2;
            }
        }
    }
}

}  // namespace

std::vector<std::string> RunReport::errors() const {
    return textsOf(messages, RunMessage::Kind::Error);
}
std::vector<std::string> RunReport::warnings() const {
    return textsOf(messages, RunMessage::Kind::Warning);
}
std::vector<std::string> RunReport::infos() const {
    return textsOf(messages, RunMessage::Kind::Info);
}

RunReport runJob(const JobDefinition& job, const RunOptions& options) {
    RunReport report;
    try {
        Pipeline pipeline(job, options);
        refuseWriteClashes(job);
        int code = 2;
        if (pipeline.prepareAndStart()) {
            code = drive(pipeline, report.stopped);
        }
        pipeline.finish();
        report.ok = code == 1;
        report.rows = pipeline.rowsPulled();
        report.rowsRead = pipeline.rowsRead();
        report.messages = pipeline.messages();
        if (report.stopped) {
            RunMessage stop{RunMessage::Kind::Error, "",
                            "The run was stopped after " + std::to_string(report.rowsRead) +
                                " rows were read, before the end of the data: the files "
                                "written hold only those rows. Run the job again to process "
                                "all of it"};
            if (options.onMessage) options.onMessage(stop);
            report.messages.push_back(std::move(stop));
        }
    } catch (const JobError& e) {
        report = RunReport{};
        report.badJob = true;
        report.messages.push_back({RunMessage::Kind::Error, "", e.what()});
        if (options.onMessage) options.onMessage(report.messages.back());
    }
    return report;
}

}  // namespace texthost
