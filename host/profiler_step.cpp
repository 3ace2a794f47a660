#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "mvb/message.h"
#include "profiler_stats.h"
#include "step/host.h"
#include "texthost/profiler.h"

namespace texthost {

namespace {

using profiler::FieldProfile;
using profiler::Statistic;

constexpr const char* kSourceFile = "host/profiler_step";
constexpr const char* kDomain = "Text Plugin";
/// Input rows between two shouldContinue() questions.
constexpr uint64_t kCheckInterval = 1000;
/// Characters of the longest number the profile writes (a real in its shortest form).
constexpr int kNumberLength = 25;

/// One output row of the profile; a null name marks the separator before a section.
struct ProfileRow {
    const char* name;
    Statistic statistic;
    double percent;
};

constexpr ProfileRow kProfileRows[] = {
    {"Records", Statistic::Records, 0},
    {"Nulls", Statistic::Nulls, 0},
    {nullptr, Statistic::Records, 0},
    {"Count", Statistic::Count, 0},
    {"Sum", Statistic::Sum, 0},
    {"Mean", Statistic::Mean, 0},
    {"Standard deviation", Statistic::StandardDeviation, 0},
    {nullptr, Statistic::Records, 0},
    {"Minimum", Statistic::Minimum, 0},
    {"Maximum", Statistic::Maximum, 0},
    {nullptr, Statistic::Records, 0},
    {"25th percentile", Statistic::Percentile, 25},
    {"50th percentile", Statistic::Percentile, 50},
    {"75th percentile", Statistic::Percentile, 75},
    {"90th percentile", Statistic::Percentile, 90},
    {"99th percentile", Statistic::Percentile, 99},
};
constexpr int kProfileRowCount = static_cast<int>(std::size(kProfileRows));
/// Characters of the longest statistic name ("Standard deviation").
constexpr int kStatisticLength = 18;

/// Reads all of its input, then emits the profile rows one per processRow().
class ProfilerStep final : public StepPluginStep {
  public:
    bool initialize(StepHost* host, int* inputCount, int* outputCount) override {
        host_ = host;
        if (inputCount != nullptr) *inputCount = 1;
        if (outputCount != nullptr) *outputCount = 1;
        return true;
    }

    void release() override { delete this; }
    int prepare(int flags) override;
    bool start() override;
    int processRow(int unused) override;
    void finish() override;
    bool getStatus(int* percent, MvbString* text) override;

    bool getProgress(uint64_t* total) override {
        if (total != nullptr) *total = kProfileRowCount;
        return true;
    }

    void* queryExtension(int) override { return nullptr; }
    void notifyEvent(int, int) override {}

  private:
    enum class Phase { Idle, Reading, Emitting, Done, Failed };

    int readInput();
    void emitRow(const ProfileRow& row);
    void refreshExpected();

    StepHost* host_ = nullptr;
    std::vector<FieldProfile> fields_;
    Phase phase_ = Phase::Idle;
    int failure_ = 0;
    int nextRow_ = 0;
    uint64_t rowCount_ = 0;
    uint64_t expectedRows_ = 0;
    bool haveExpected_ = false;
    std::string cell_;
};

int ProfilerStep::prepare(int flags) {
    const StepOutputItems* input = host_->getInputItems(0, (flags & 1) == 0);
    // Without an input list there is nothing to describe yet; start() reports it if it persists.
    if (input == nullptr) return 1;
    StepOutputItems* output = host_->createOutputItems(input->count + 1);
    if (output == nullptr || output->count < input->count + 1) return 1;

    StepOutputItem& statistic = output->items[0];
    statistic.name = MvbString("STATISTIC", true);
    statistic.type = mvbTypeString;
    statistic.length = kStatisticLength;
    statistic.byteSize = kStatisticLength * 4;
    for (int i = 0; i < input->count; ++i) {
        const StepOutputItem& field = input->items[i];
        StepOutputItem& column = output->items[i + 1];
        column.name = field.name;
        column.type = mvbTypeString;
        // A text field's minimum and maximum are its own values; everything else is a number,
        // a date or a boolean written in at most kNumberLength characters.
        column.length = std::max(kNumberLength, field.type == mvbTypeString ? field.length : 0);
        column.byteSize = column.length * 4;
    }
    return (flags & 2) != 0 ? 7 : 3;
}

bool ProfilerStep::start() {
    if (host_->getPart(nullptr, nullptr)) {
        host_->reportError(MvbString(
            "a profile covers every row of the data and cannot be made in parts (--part): "
            "profile the joined output of the parts in a job of its own",
            true));
        phase_ = Phase::Failed;
        failure_ = 2;
        return false;
    }
    const StepOutputItems* input = host_->getInputItems(0, true);
    if (input == nullptr) {
        host_->reportError(mvb_get_message(kSourceFile, __LINE__, kDomain, 315));
        phase_ = Phase::Failed;
        failure_ = 2;
        return false;
    }
    fields_.clear();
    fields_.reserve(static_cast<size_t>(input->count));
    for (int i = 0; i < input->count; ++i) {
        // A seed per field keeps the fields' samples independent of each other.
        fields_.emplace_back(profiler::fieldKindOf(input->items[i].type),
                             profiler::PercentileEstimator::kDefaultExactLimit,
                             static_cast<uint64_t>(i));
    }
    phase_ = Phase::Reading;
    failure_ = 0;
    nextRow_ = 0;
    rowCount_ = 0;
    refreshExpected();
    return true;
}

void ProfilerStep::refreshExpected() {
    StepFlow* flow = host_->getFlow();
    StepNode* node = flow != nullptr ? flow->getInputNode(0, 0, 0) : nullptr;
    haveExpected_ = node != nullptr && node->getExpectedRows(&expectedRows_);
    if (!haveExpected_) expectedRows_ = 0;
}

int ProfilerStep::readInput() {
    const StepOutputItems* input = host_->getInputItems(0, true);
    const size_t fieldCount =
        input == nullptr ? 0 : std::min(fields_.size(), static_cast<size_t>(input->count));
    for (;;) {
        const int status = host_->readInputRow(0);
        if (status == 1) break;
        if (status != 0) return status;
        for (size_t i = 0; i < fieldCount; ++i)
            fields_[i].add(input->items[i].value);
        ++rowCount_;
        if (rowCount_ % kCheckInterval == 0) {
            refreshExpected();
            if (!host_->shouldContinue()) {
                host_->reportError(mvb_get_message(kSourceFile, __LINE__, kDomain, 421));
                return 2;
            }
        }
    }
    expectedRows_ = rowCount_;
    haveExpected_ = true;
    return 0;
}

int ProfilerStep::processRow(int) {
    switch (phase_) {
        case Phase::Reading: {
            const int status = readInput();
            if (status != 0) {
                phase_ = Phase::Failed;
                failure_ = status;
                return status;
            }
            phase_ = Phase::Emitting;
            break;
        }
        case Phase::Emitting:
            break;
        case Phase::Failed:
            return failure_;
        case Phase::Idle:
        case Phase::Done:
            return 1;
    }
    if (nextRow_ >= kProfileRowCount) {
        phase_ = Phase::Done;
        return 1;
    }
    emitRow(kProfileRows[nextRow_++]);
    return 0;
}

void ProfilerStep::emitRow(const ProfileRow& row) {
    StepOutputItems* output = host_->getOutputRow();
    if (output == nullptr || output->count == 0) return;
    output->items[0].value.assign(row.name != nullptr ? row.name : "");
    const size_t columns = static_cast<size_t>(output->count - 1);
    for (size_t i = 0; i < columns; ++i) {
        if (row.name != nullptr && i < fields_.size()) {
            fields_[i].format(row.statistic, row.percent, cell_);
        } else {
            cell_.clear();
        }
        output->items[i + 1].value.assign(std::string_view(cell_));
    }
}

void ProfilerStep::finish() {
    if (phase_ == Phase::Idle) return;
    char text[160];
    std::snprintf(text, sizeof text, "Profiled %" PRIu64 " rows of %zu fields", rowCount_,
                  fields_.size());
    host_->reportInfo(MvbString(text, false), true);
    const auto sampled = std::count_if(fields_.begin(), fields_.end(), [](const FieldProfile& f) {
        return f.numeric() && !f.percentiles().exact();
    });
    if (sampled != 0) {
        std::snprintf(text, sizeof text,
                      "; percentiles of %td fields estimated from a sample of %zu values each",
                      sampled, profiler::PercentileEstimator::kDefaultExactLimit);
        host_->reportInfo(MvbString(text, false), false);
    }
    // The profile has been emitted (or the run ended early): its memory is not needed any more.
    std::vector<FieldProfile>().swap(fields_);
    phase_ = Phase::Idle;
}

bool ProfilerStep::getStatus(int* percent, MvbString* text) {
    if (percent != nullptr) {
        *percent = haveExpected_ && expectedRows_ != 0
                       ? static_cast<int>(static_cast<uint32_t>(rowCount_ * 100 / expectedRows_))
                       : 0;
    }
    if (text != nullptr) {
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "Profiled %" PRIu64 " rows", rowCount_);
        text->assign(buffer);
    }
    return true;
}

}  // namespace

StepPluginStep* createProfilerStep() {
    return new ProfilerStep();
}

}  // namespace texthost
