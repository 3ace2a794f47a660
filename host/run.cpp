#include "texthost/run.h"

#include <optional>
#include <string_view>

#include "field_name_check.h"
#include "file_targets.h"
#include "texthost/file_roles.h"
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

bool isValueLoss(std::string_view text) noexcept {
    // "Text Plugin NNN:" with NNN from 810 to 821.
    constexpr std::string_view kLead = "Text Plugin ";
    if (text.size() < kLead.size() + 4 || !text.starts_with(kLead) || text[kLead.size() + 3] != ':')
        return false;
    int number = 0;
    for (size_t i = kLead.size(); i < kLead.size() + 3; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        number = number * 10 + (text[i] - '0');
    }
    return number >= 810 && number <= 821;
}

bool RunReport::valuesLost() const {
    for (const RunMessage& m : messages) {
        if (m.kind != RunMessage::Kind::Error && isValueLoss(m.text)) return true;
    }
    return false;
}

RunReport runJob(const JobDefinition& job, const RunOptions& options) {
    RunReport report;
    try {
        Pipeline pipeline(job, options);
        pipeline.leaveLastOutputUnread();
        const std::vector<StepFileRoles> roles = fileRolesOf(pipeline);
        refuseWriteClashes(job, roles);
        if (options.runMode == 0) {
            // A dry run fails where the run would, before anything is read.
            if (std::optional<RunMessage> refused = unwritableFolder(job, roles)) {
                if (options.onMessage) options.onMessage(*refused);
                report.messages.push_back(std::move(*refused));
                return report;
            }
        }
        int code = 2;
        std::string unknownField;
        if (pipeline.prepareAndStart()) {
            code = pipeline.run(report.stopped);
        } else {
            // A source that waited for its first data from a pipe ends its start on a stop.
            report.stopped = stopRequested();
            if (!report.stopped) unknownField = unknownInputField(job, pipeline, options);
        }
        pipeline.finish();
        report.rows = pipeline.rowsPulled();
        report.rowsRead = pipeline.rowsRead();
        report.messages = pipeline.messages();
        // A step that reported an error failed, whatever it answered (one that reports from
        // finish(), which answers nothing, included).
        report.ok = code == 1 && report.errors().empty();
        if (report.stopped) {
            const std::string rows = std::to_string(report.rowsRead);
            // A stop that came as the data ended, too late to keep the files out of place: the
            // data may have ended only because the stop ended what wrote it. One that came
            // before the steps whose data had ended put their files in place kept them out.
            const bool dataEnded = code == 1 || pipeline.stoppedAsDataEnded();
            std::string text = "The run was stopped " +
                               std::string(dataEnded ? "as its data ended, after " : "after ") +
                               rows + " rows were read" +
                               (dataEnded ? ": " : ", before the end of the data: ");
            if (options.runMode != 1) {
                text += "a dry run, no file was written";
            } else {
                text += code == 1
                            ? "the files were put in place, but the stop may have cut the data "
                              "short (a program writing to a pipe stopped with it). Check them, "
                              "or run the job again"
                            : "each file a destination replaces was left as it was, the rows "
                              "written kept beside it as <file>.partial (a file appended to or "
                              "written in place holds only those rows). Run the job again to "
                              "process all of it";
            }
            RunMessage stop{RunMessage::Kind::Error, "", std::move(text)};
            if (options.onMessage) options.onMessage(stop);
            report.messages.push_back(std::move(stop));
        }
        if (!unknownField.empty()) {
            // A fault of the job, found before any row was read: after the step's own message,
            // the field it probably meant.
            report.badJob = true;
            report.messages.push_back({RunMessage::Kind::Error, "", unknownField});
            if (options.onMessage) options.onMessage(report.messages.back());
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
