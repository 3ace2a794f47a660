#include "step_context.h"

#include <utility>

#include "guarded_call.h"

namespace texthost {

StepContext::StepContext(std::string name, std::string typeId, RunShared& shared)
    : name_(std::move(name)), typeId_(std::move(typeId)), shared_(shared) {}

StepContext::~StepContext() {
    if (step_ == nullptr) return;
    StepPluginStep* step = std::exchange(step_, nullptr);
    guardedCall(shared_.log, name_, false, [&] {
        step->release();
        return true;
    });
}

void StepContext::attach(StepPluginStep* step, StepContext* upstream) {
    step_ = step;
    upstream_ = upstream;
}

bool StepContext::initialize(int* inputCount, int* outputCount) {
    return guardedCall(shared_.log, name_, false,
                       [&] { return step_->initialize(this, inputCount, outputCount); });
}

int StepContext::prepare(int flags) {
    return guardedCall(shared_.log, name_, 0, [&] { return step_->prepare(flags); });
}

bool StepContext::start() {
    endCode_.reset();
    rows_ = 0;
    started_ = guardedCall(shared_.log, name_, false, [&] { return step_->start(); });
    return started_;
}

void StepContext::finish() {
    if (!started_) return;
    started_ = false;
    guardedCall(shared_.log, name_, false, [&] {
        step_->finish();
        return true;
    });
}

int StepContext::pullRow() {
    if (endCode_) return *endCode_;
    const size_t errorsBefore = shared_.log.errorCount();
    const int code = guardedCall(shared_.log, name_, 2, [&] { return step_->processRow(0); });
    if (code == 0) {
        ++rows_;
        if ((++shared_.rowsHandedOn & 1023) == 0 && shared_.onRows) [[unlikely]] {
            shared_.onRows();
        }
        return 0;
    }
    endCode_ = code;
    if (code != 1 && shared_.log.errorCount() == errorsBefore) {
        shared_.log.error(name_, "the step failed without a message (processRow answered " +
                                     std::to_string(code) + ")");
    }
    return code;
}

StepStatus StepContext::status() {
    StepStatus s;
    s.step = name_;
    MvbString text;
    int percent = 0;
    s.ok =
        guardedCall(shared_.log, name_, false, [&] { return step_->getStatus(&percent, &text); });
    s.percent = percent;
    s.text = std::string(text.view());
    s.rows = rows_;
    uint64_t total = 0;
    s.totalKnown =
        guardedCall(shared_.log, name_, false, [&] { return step_->getProgress(&total); });
    s.total = s.totalKnown ? total : 0;
    return s;
}

void StepContext::reportError(const MvbString& message) {
    shared_.log.error(name_, message.view());
}

void StepContext::reportInfo(const MvbString& text, bool newEntry) {
    shared_.log.info(name_, text.view(), newEntry);
}

void StepContext::logMessage(int level, const MvbString& text) {
    if (level == 1) {
        shared_.log.warning(name_, text.view());
    } else {
        shared_.log.info(name_, text.view(), true);
    }
}

int StepContext::readInputRow(int port) {
    if (port != 0 || upstream_ == nullptr) {
        shared_.log.error(name_, "the step asked for an input row, but nothing feeds it");
        return 2;
    }
    return upstream_->pullRow();
}

StepOutputItems* StepContext::getInputItems(int port, bool /*current*/) {
    if (port != 0 || upstream_ == nullptr || !upstream_->hasOutput_) return nullptr;
    return &upstream_->output_;
}

StepOutputItems* StepContext::createOutputItems(int count) {
    if (count < 0) count = 0;
    outputStorage_ = std::vector<StepOutputItem>(static_cast<size_t>(count));
    output_.count = count;
    output_.items = outputStorage_.data();
    hasOutput_ = true;
    return &output_;
}

void StepContext::addUsedField(const MvbString& name, int /*flags*/) {
    usedFields_.emplace_back(name.view());
}

bool StepContext::shouldContinue() {
    return !stopRequested();
}

StepNode* StepContext::getInputNode(int /*port*/, int /*link*/, int /*flags*/) {
    return upstream_;
}

MvbString StepContext::getTypeId() {
    return MvbString(typeId_);
}

bool StepContext::getExpectedRows(uint64_t* rows) {
    uint64_t total = 0;
    const bool known =
        guardedCall(shared_.log, name_, false, [&] { return step_->getProgress(&total); });
    if (known && rows != nullptr) *rows = total;
    return known;
}

}  // namespace texthost
