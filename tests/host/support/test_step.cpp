#include "test_step.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

#include "mvb/datavar.h"

namespace hosttest {

std::vector<std::string> Journal::with(const std::string& prefix) const {
    std::vector<std::string> found;
    for (const std::string& e : events) {
        if (e.rfind(prefix, 0) == 0) found.push_back(e);
    }
    return found;
}

TestStep::TestStep(bool source, std::string tag, Journal* journal)
    : source_(source), tag_(std::move(tag)), journal_(journal) {}

void TestStep::note(const std::string& event) {
    const std::lock_guard<std::mutex> hold(journal_->mutex);
    journal_->events.push_back(tag_ + ":" + event);
}

int TestStep::fail(const std::string& text) {
    host_->reportError(MvbString(text));
    return 2;
}

bool TestStep::initialize(StepHost* host, int* inputCount, int* outputCount) {
    host_ = host;
    *inputCount = source_ ? 0 : 1;
    *outputCount = 1;
    PropertySchema* schema = host->getPropertySchema();
    schema->declareProperty(MvbString("ROWS", true), mvbTypeInteger);
    schema->setDefault(kRows, MvbDatavar(3));
    schema->declareProperty(MvbString("FAIL_AT", true), mvbTypeInteger);
    schema->setDefault(kFailAt, MvbDatavar(0));
    schema->declareProperty(MvbString("LABEL", true), mvbTypeString);
    PropertyTableSchema* fields = schema->declareTable(MvbString("FIELDS", true), 2);
    fields->declareColumn(0, MvbString("FIELDNAME", true), mvbTypeString);
    fields->declareColumn(1, MvbString("WIDTH", true), mvbTypeInteger);
    schema->declareProperty(MvbString("FAIL_START", true), mvbTypeBoolean);
    schema->setDefault(kFailStart, MvbDatavar(false));
    schema->declareProperty(MvbString("WARNING", true), mvbTypeString);
    schema->declareProperty(MvbString("SILENT_FAIL_AT", true), mvbTypeInteger);
    schema->declareProperty(MvbString("RESHAPE_AT", true), mvbTypeInteger);
    schema->declareProperty(MvbString("PAUSE_AT", true), mvbTypeInteger);
    schema->declareProperty(MvbString("FINISH_ERROR", true), mvbTypeBoolean);
    schema->declareProperty(MvbString("NO_OUTPUT", true), mvbTypeBoolean);
    schema->declareProperty(MvbString("PROGRESS_THROWS", true), mvbTypeBoolean);
    schema->declareProperty(MvbString("USED", true), mvbTypeString);
    schema->declareProperty(MvbString("READ_IN_PREPARE", true), mvbTypeBoolean);
    note("initialize");
    return true;
}

void TestStep::release() {
    note("release");
    delete this;
}

int TestStep::prepare(int flags) {
    StepOutputItems* input = host_->getInputItems(0, (flags & 1) == 0);
    note("prepare " + std::to_string(flags) + (input != nullptr ? " input" : " no-input"));
    if (host_->getPropertyValues()->getValue(kNoOutput, true).asBool(nullptr))
        return (flags & 1) != 0 ? 3 : 7;
    if (!source_) {
        if (input == nullptr) {
            host_->reportError(MvbString("no input fields", true));
            return 0;
        }
        if (host_->getPropertyValues()->getValue(kReadInPrepare, true).asBool(nullptr) &&
            host_->readInputRow(0) != 0)
            return 0;
        if (const MvbDatavar used = host_->getPropertyValues()->getValue(kUsed, true);
            !used.isNull()) {
            host_->clearUsedFields();
            host_->addUsedField(used.asString(), 0);
        }
        StepOutputItems* output = host_->createOutputItems(input->count);
        for (int i = 0; i < input->count; ++i) {
            output->items[i].name = input->items[i].name;
            output->items[i].type = input->items[i].type;
            output->items[i].byteSize = input->items[i].byteSize;
            output->items[i].length = input->items[i].length;
        }
        return (flags & 2) != 0 ? 7 : 3;
    }
    PropertyTable* fields = host_->getPropertyValues()->getTable(kFields);
    const int count = fields->getRowCount() > 0 ? fields->getRowCount() : 1;
    StepOutputItems* output = host_->createOutputItems(count);
    for (int i = 0; i < count; ++i) {
        const MvbDatavar name = fields->getCell(0, i, true);
        output->items[i].name = name.isNull() ? MvbString("N", true) : name.asString();
        output->items[i].type = mvbTypeInteger;
        output->items[i].length = fields->getCell(1, i, true).asInt(nullptr);
    }
    return (flags & 1) != 0 ? 3 : 7;
}

bool TestStep::start() {
    PropertyValues* values = host_->getPropertyValues();
    bool error = false;
    rowLimit_ = values->getValue(kRows, true).asInt64(&error);
    failAt_ = values->getValue(kFailAt, true).asInt64(nullptr);
    silentFailAt_ = values->getValue(kSilentFail, true).asInt64(nullptr);
    reshapeAt_ = values->getValue(kReshapeAt, true).asInt64(nullptr);
    pauseAt_ = values->getValue(kPauseAt, true).asInt64(nullptr);
    rows_ = 0;
    startDirectory_ = std::filesystem::current_path().string();
    note("start mode=" + std::to_string(host_->getRunMode()));
    if (error) {
        host_->reportError(MvbString("ROWS is not a number", true));
        return false;
    }
    if (values->getValue(kFailStart, true).asBool(nullptr)) {
        host_->reportError(MvbString("start failed as asked", true));
        return false;
    }
    const MvbDatavar warning = values->getValue(kWarning, true);
    if (!warning.isNull()) host_->getLog()->logMessage(1, warning.asString());
    return true;
}

int TestStep::processRow(int) {
    if (source_) {
        if (static_cast<int64_t>(rows_) >= rowLimit_) {
            note("end");
            return 1;
        }
        if (reshapeAt_ != 0 && static_cast<int64_t>(rows_) + 1 == reshapeAt_)
            host_->createOutputItems(1);
        if (pauseAt_ != 0 && static_cast<int64_t>(rows_) + 1 == pauseAt_)
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        StepOutputItems* row = host_->getOutputRow();
        for (int i = 0; i < row->count; ++i) {
            row->items[i].value.assign(static_cast<int64_t>(rows_ + 1) * (i + 1));
        }
    } else {
        const int code = host_->readInputRow(0);
        if (code != 0) {
            note(code == 1 ? "end" : "input failed " + std::to_string(code));
            return code;
        }
        StepOutputItems* input = host_->getInputItems(0, true);
        StepOutputItems* output = host_->getOutputRow();
        for (int i = 0; i < input->count && i < output->count; ++i) {
            output->items[i].value = input->items[i].value;
        }
        // The source numbers its rows in field 0: a row lost, repeated or out of order shows.
        bool error = false;
        if (input->count > 0 &&
            input->items[0].value.asInt64(&error) != static_cast<int64_t>(rows_ + 1)) {
            note("out of order at row " + std::to_string(rows_ + 1));
        }
    }
    ++rows_;
    if (failAt_ != 0 && static_cast<int64_t>(rows_) == failAt_) {
        note("fail");
        return fail(tag_ + " failed at row " + std::to_string(rows_));
    }
    if (silentFailAt_ != 0 && static_cast<int64_t>(rows_) == silentFailAt_) return 2;
    if (!host_->shouldContinue()) {
        note("stopped");
        return fail("stopped at row " + std::to_string(rows_));
    }
    return 0;
}

void TestStep::finish() {
    note("finish");
    if (host_->getPropertyValues()->getValue(kFinishError, true).asBool(nullptr))
        host_->reportError(MvbString("finish failed as asked", true));
    host_->reportInfo(MvbString(tag_ + " handled "), true);
    host_->reportInfo(MvbString(std::to_string(rows_)), false);
    host_->reportInfo(MvbString(" rows", true), false);
    host_->reportInfo(MvbString("done", true), false);
    host_->reportInfo(MvbString("; ok", true), false);
}

bool TestStep::getStatus(int* percent, MvbString* text) {
    if (host_->getPropertyValues()->getValue(kProgressThrows, true).asBool(nullptr))
        throw std::runtime_error("no status");
    *percent = 0;
    text->assign("Handled " + std::to_string(rows_) + " rows");
    return true;
}

bool TestStep::getProgress(uint64_t* total) {
    if (host_->getPropertyValues()->getValue(kProgressThrows, true).asBool(nullptr))
        throw std::runtime_error("no progress");
    if (!source_) return false;
    *total = static_cast<uint64_t>(rowLimit_);
    return true;
}

std::vector<texthost::HostStepType> testStepTypes(Journal& journal) {
    Journal* j = &journal;
    auto passes = std::make_shared<int>(0);
    return {
        {"TEST_SOURCE", "Test source", [j] { return new TestStep(true, "src", j); }},
        {"TEST_PASS", "Test pass-through",
         [j, passes] { return new TestStep(false, "pass" + std::to_string(++*passes), j); }},
    };
}

}  // namespace hosttest
