#include "step_context.h"

#include <string>
#include <string_view>
#include <utility>

#include "guarded_call.h"
#include "texthost/run.h"

namespace texthost {

StepContext::StepContext(std::string name, std::string typeId, RunShared& shared)
    : name_(std::move(name)), typeId_(std::move(typeId)), shared_(shared) {}

StepContext::~StepContext() {
    if (step_ == nullptr) return;
    StepPluginStep* step = std::exchange(step_, nullptr);
    guardedCall(errors_, name_, false, [&] {
        step->release();
        return true;
    });
}

void StepContext::attach(StepPluginStep* step, StepContext* upstream, bool ownInput) {
    step_ = step;
    upstream_ = upstream;
    if (ownInput && upstream != nullptr) queued_ = std::make_unique<QueuedInput>(*upstream);
}

bool StepContext::initialize(int* inputCount, int* outputCount) {
    return guardedCall(errors_, name_, false,
                       [&] { return step_->initialize(this, inputCount, outputCount); });
}

int StepContext::prepare(int flags) {
    return guardedCall(errors_, name_, 0, [&] { return step_->prepare(flags); });
}

bool StepContext::start() {
    endCode_.reset();
    rows_.store(0, std::memory_order_relaxed);
    inputFailed_ = false;
    strictStop_ = false;
    if (queued_) queued_->reset();
    started_ = guardedCall(errors_, name_, false, [&] { return step_->start(); });
    startGeneration_ = outputGeneration_;
    return started_;
}

void StepContext::finish() {
    if (!started_) return;
    started_ = false;
    finishing_ = true;
    guardedCall(errors_, name_, false, [&] {
        step_->finish();
        return true;
    });
    finishing_ = false;
}

int StepContext::pullRow() {
    if (endCode_) return *endCode_;
    const uint64_t errorsBefore = errors_.count;
    stopAnswered_ = false;
    inputEnded_ = false;
    int code = guardedCall(errors_, name_, 2, [&] { return step_->processRow(0); });
    if (code == 2 && stopAnswered_ && hasOutput_ && !inputEnded_) {
        // The step filled and counted the row at which it was told to stop: it goes on with
        // the others, so that what the step says it read is what every later step gets.
        endCode_ = 2;
        code = 0;
    }
    if (code == 0 && outputGeneration_ != startGeneration_) [[unlikely]] {
        // The next step's input was made for the fields declared before rows began to flow:
        // its values would no longer be this step's.
        errors_.error(name_, "the step changed its output fields while handing on rows");
        code = 2;
        endCode_ = 2;
    }
    if (code == 0) {
        rows_.store(rows_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
        if (!shared_.threaded && (++shared_.rowsHandedOn & 1023) == 0 && shared_.onRows)
            [[unlikely]] {
            shared_.onRows();
        }
        return 0;
    }
    endCode_ = code;
    // A failure that came from the input (or a stop by the host) was reported where it arose.
    if (code != 1 && errors_.count == errorsBefore && !inputFailed_) {
        shared_.log.error(name_, "the step failed without a message (processRow answered " +
                                     std::to_string(code) + ")");
    }
    return code;
}

template <class Ask>
bool StepContext::askProgress(Ask&& ask) {
    if (progressFailed_.load(std::memory_order_relaxed)) return false;
    bool threw = true;
    const bool answer = guardedCall(errors_, name_, false, [&] {
        const bool given = ask();
        threw = false;
        return given;
    });
    if (threw) progressFailed_.store(true, std::memory_order_relaxed);
    return answer;
}

StepStatus StepContext::status() {
    StepStatus s;
    s.step = name_;
    MvbString text;
    int percent = 0;
    s.ok = askProgress([&] { return step_->getStatus(&percent, &text); });
    s.percent = percent;
    s.text = std::string(text.view());
    s.rows = rowCount();
    uint64_t total = 0;
    s.totalKnown = askProgress([&] { return step_->getProgress(&total); });
    s.total = s.totalKnown ? total : 0;
    return s;
}

void StepContext::reportError(const MvbString& message) {
    // A step says it was stopped at the user's request; in a strict run the host stopped it
    // for a value lost, and says so.
    constexpr std::string_view kUsersRequest = "The run was stopped at the user's request.";
    const std::string_view text = message.view();
    const size_t at = strictStop_ ? text.find(kUsersRequest) : std::string_view::npos;
    if (at == std::string_view::npos) {
        errors_.error(name_, text);
        return;
    }
    errors_.error(name_, std::string(text.substr(0, at)) +
                             "The run was stopped at the first value not kept as read "
                             "(--strict)." +
                             std::string(text.substr(at + kUsersRequest.size())));
}

void StepContext::reportInfo(const MvbString& text, bool newEntry) {
    shared_.log.info(name_, text.view(), newEntry);
}

void StepContext::logMessage(int level, const MvbString& text) {
    if (level == 1) {
        if (shared_.strict && isValueLoss(text.view())) shared_.valueLost = true;
        shared_.log.warning(name_, text.view());
    } else {
        shared_.log.info(name_, text.view(), true);
    }
}

int StepContext::readInputRow(int port) {
    if (port != 0 || upstream_ == nullptr) {
        errors_.error(name_, port != 0
                                 ? "the step asked for an input row of port " +
                                       std::to_string(port) + ", but a step has one input, port 0"
                                 : std::string("the step asked for an input row, but "
                                               "nothing feeds it"));
        return 2;
    }
    if (!upstream_->started_) {
        // Asked in prepare, say: the step before it has no rows to give yet.
        errors_.error(name_,
                      "the step asked for an input row before the steps before it "
                      "started (rows are read once the run has begun)");
        return 2;
    }
    const int code = queued_ ? queued_->readRow() : upstream_->pullRow();
    if (code != 0 && code != 1) inputFailed_ = true;
    if (code == 1) inputEnded_ = true;
    return code;
}

StepOutputItems* StepContext::getInputItems(int port, bool /*current*/) {
    if (port != 0 || upstream_ == nullptr) return nullptr;
    if (queued_) return queued_->items();
    if (!upstream_->hasOutput_) return nullptr;
    return &upstream_->output_;
}

StepOutputItems* StepContext::getOutputRow() {
    if (outputUnread_ && started_) {
        StepOutputItems* input = getInputItems(0, true);
        if (input != nullptr && input->count == output_.count) return input;
    }
    return &output_;
}

StepOutputItems* StepContext::createOutputItems(int count) {
    if (count < 0) count = 0;
    outputStorage_ = std::vector<StepOutputItem>(static_cast<size_t>(count));
    output_.count = count;
    output_.items = outputStorage_.data();
    hasOutput_ = true;
    ++outputGeneration_;
    return &output_;
}

void StepContext::addUsedField(const MvbString& name, int /*flags*/) {
    usedFields_.emplace_back(name.view());
}

bool StepContext::shouldContinue() {
    // A stop request, or a value lost in a strict run, stops the chain at one step, the first:
    // the others take every row it handed on and then end with their input, so all of them
    // end at the same row whatever runs in which thread. Once its input has ended, a later
    // step is stopped too: the data may have ended only because the stop ended what fed the
    // first step (the program writing to its pipe, say), and no file of a stopped run is put
    // in place. The first later step whose input has ended decides for every other one: a stop
    // that comes once it has put its file in place lets the others do so too.
    if (finishing_) return shared_.endedWell && shared_.log.errorCount() == shared_.errorsAtFinish;
    const bool valueLost = shared_.strict && shared_.valueLost.load();
    const bool stop = valueLost || stopRequested();
    if (upstream_ != nullptr && inputEnded_) {
        int decided = 0;
        if (shared_.endDecision.compare_exchange_strong(decided, stop ? 2 : 1))
            decided = stop ? 2 : 1;
        if (decided == 1) return true;
    } else if (!stop || upstream_ != nullptr) {
        return true;
    }
    stopAnswered_ = true;
    if (valueLost) strictStop_ = true;
    return false;
}

bool StepContext::getPart(int* index, int* count) {
    askedPart_.store(true, std::memory_order_relaxed);
    if (shared_.partCount < 1) return false;
    if (index != nullptr) *index = shared_.part;
    if (count != nullptr) *count = shared_.partCount;
    return true;
}

StepNode* StepContext::getInputNode(int /*port*/, int /*link*/, int /*flags*/) {
    if (queued_) return queued_.get();
    return upstream_;
}

MvbString StepContext::getTypeId() {
    return MvbString(typeId_);
}

bool StepContext::getExpectedRows(uint64_t* rows) {
    uint64_t total = 0;
    const bool known = askProgress([&] { return step_->getProgress(&total); });
    if (known && rows != nullptr) *rows = total;
    return known;
}

}  // namespace texthost
