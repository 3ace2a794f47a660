#include "dest_core.h"

#include <sys/stat.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <string>
#include <string_view>
#include <unordered_map>

#include "mvb/message.h"
#include "mvb/types.h"

bool TextDestination::beginRun(std::source_location where) {
    core_.beginRun();
    warnings_.begin(host(), messages().sourceFile(), core_.fieldCount());
    writeFailed_ = false;
    ended_ = false;
    wroteFile_ = false;
    file_.discard();
    if (host()->getInputItems(0, true) != nullptr) return true;
    fail(StepMessageId(315, where));
    return false;
}

uint32_t TextDestination::replaceFlag(bool append, bool inPlace) noexcept {
    return append || inPlace ? 0u : static_cast<uint32_t>(MVB_FLAG_REPLACE_AT_END);
}

int TextDestination::produceRow() {
    StepOutputItems* items = nullptr;
    const int status = core_.takeRow(&items);
    if (status == 1) return endOfData();
    if (status != 0) return status;
    if (core_.writes()) {
        if ((!file_.isOpen() && !openForRows()) || !writeRow(items)) {
            writeFailed_ = true;
            return 2;
        }
        file_.endRecord(true);
    }
    return core_.progressPoint();
}

int TextDestination::endOfData() {
    // In a run of one part of a job every part writes its file, one without rows too (the first
    // part's holds the header), so that each part's file is there to be joined.
    if (core_.writes() && !file_.isOpen() && runsInParts(host()) && !openForRows()) {
        writeFailed_ = true;
        return 2;
    }
    // A host that stops the run at its end (a strict run that lost a value) keeps the file out
    // of place.
    if (file_.isOpen() && !host()->shouldContinue()) {
        fail(421);
        return 2;
    }
    wroteFile_ = file_.isOpen();
    // The file is complete and its bytes are out, so that a full disk fails the run now; it
    // takes its place when the run ends (finishStep()), once no other step failed either.
    if (file_.isOpen() && !(writeEnd() && file_.flush(host()))) {
        writeFailed_ = true;
        return 2;
    }
    ended_ = true;
    return 1;
}

void TextDestination::finishStep() {
    if (core_.writes()) {
        // The file takes its place only when the whole run ended well: asked at the end, the
        // host answers false once any step failed or the run was stopped before its end, and
        // every file of the run then stays out of place, each destination's alike.
        if (file_.isOpen() && ended_ && !writeFailed_ && host()->shouldContinue() &&
            !(commitOthers() && file_.commit(host()))) {
            writeFailed_ = true;
        }
        if (file_.isOpen()) {
            keepPartial();
        } else if (ended_ && !writeFailed_) {
            char text[512];
            describeRun(text, sizeof text);
            host()->reportInfo(MvbString(text, false), true);
            host()->reportInfo(fileName(), false);
            warnOfEarlierFile();
            warnOfEarlierRuns();
        } else if (!writeFailed_) {
            // The run ended before a row came (a step before this one gives its rows only at
            // its end): the file was never opened, and is as it was.
            host()->reportInfo(MvbString("No rows were kept: the run did not finish, so ", true),
                               true);
            host()->reportInfo(fileName(), false);
            host()->reportInfo(MvbString(" was left as it was", true), false);
        }
    }
    abandonOthers();
    warnings_.reportSummary(true);
}

void TextDestination::warnOfEarlierFile() {
    const std::string_view name = fileName().view();
    if (wroteFile_ || appends() || name == "-") return;
    struct stat info {};
    std::string text;
    if (::stat(std::string(name).c_str(), &info) != 0) {
        // A job that reads no rows writes no file: said, for whoever looks for one.
        if (errno != ENOENT) return;
        text = "No rows came, so " + std::string(name) + " was not written";
    } else if (S_ISREG(info.st_mode)) {
        text = "No rows came, so " + std::string(name) +
               " was left as it was: it holds what an earlier run wrote, not this run's output";
    } else {
        return;
    }
    host()->getLog()->logMessage(1, MvbString(text));
}

void TextDestination::warnOfEarlierRuns() {
    if (!wroteFile_ || fileName().view() == "-") return;
    // A run killed outright (no chance to keep its rows) leaves its temporary file, hidden.
    const MvbString leftovers = mvbLeftoverTemporaries(fileName().asCstr());
    for (std::string_view names = leftovers.view(); !names.empty();) {
        const size_t end = std::min(names.find('\n'), names.size());
        host()->getLog()->logMessage(
            1, MvbString(std::string(names.substr(0, end)) +
                         " is left from an earlier run that was killed while it wrote " +
                         std::string(fileName().view()) +
                         ": it holds part of that run's rows; "
                         "remove it"));
        names.remove_prefix(std::min(end + 1, names.size()));
    }
    const std::string partial = std::string(fileName().view()) + MVB_KEPT_RECORDS_SUFFIX;
    struct stat info {};
    if (::stat(partial.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return;
    // The rows an earlier run kept when it did not finish: whoever looks for this run's
    // output must not take them for it.
    host()->getLog()->logMessage(
        1, MvbString(partial + " is still there from an earlier run that did not finish: it "
                               "holds that run's rows, not this one's"));
}

void TextDestination::keepPartial() {
    MvbString keptAs;
    MvbString error;
    const bool replaces = file_.replacesAtEnd();
    const uint64_t rows = file_.abandon(true, &keptAs, &error);
    // The rows still buffered may fail to go out now (a full disk): what reached the file is
    // all that is kept, and a run that wrote nothing never says it wrote.
    const bool failedNow = !error.empty() && !writeFailed_;
    if (failedNow) {
        writeFailed_ = true;
        host()->reportError(error);
    }
    if (!keptAs.empty()) {
        char text[96];
        std::snprintf(text, sizeof text, "Kept the %" PRIu64 " whole rows written in ", rows);
        host()->reportInfo(MvbString(text, false), true);
        host()->reportInfo(keptAs, false);
        host()->reportInfo(MvbString(": the run did not finish, so ", true), false);
        host()->reportInfo(fileName(), false);
        host()->reportInfo(MvbString(" was left as it was", true), false);
    } else if (replaces) {
        // No row to keep (none came, or none reached the disk), and the target is as it was.
        host()->reportInfo(MvbString("No rows were kept: the run did not finish, so ", true), true);
        host()->reportInfo(fileName(), false);
        host()->reportInfo(MvbString(" was left as it was", true), false);
    } else if (!writeFailed_) {
        // Written in place and stopped (or its input failed): the file holds these rows.
        char text[512];
        describeRun(text, sizeof text);
        host()->reportInfo(MvbString(text, false), true);
        host()->reportInfo(fileName(), false);
    } else {
        // Written in place or appended to, and a write failed: the file ends at the last whole
        // row that reached it, which the error's row number only comes near.
        char text[96];
        std::snprintf(text, sizeof text, "Kept the %" PRIu64 " whole rows this run wrote in ",
                      rows);
        host()->reportInfo(MvbString(text, false), true);
        host()->reportInfo(fileName(), false);
        host()->reportInfo(MvbString(" before the failure", true), false);
    }
}

void DestinationCore::initialize(const StepMessages* messages) noexcept {
    messages_ = messages;
    fieldCount_ = 0;
    fieldMap_.reset();
    rowCount_ = 0;
    reportInterval_ = 1000;
    nextReport_ = 1000;
    expectedRows_ = 0;
    haveExpected_ = false;
    noWrite_ = false;
}

int DestinationCore::bindFields(int flags, std::source_location where) {
    PropertyTable* table = host()->getPropertyValues()->getTable(1);
    fieldMap_.reset();
    fieldCount_ = table->getRowCount();
    if (fieldCount_ < 0) fieldCount_ = 0;
    if (fieldCount_ != 0) {
        // Positions stay -1 until a name is found, so a row is never read at a stale or
        // missing position (a pass without an input list binds no position at all).
        fieldMap_ = std::make_unique<int[]>(fieldCount_);
        for (int i = 0; i < fieldCount_; ++i)
            fieldMap_[i] = -1;
    }

    const bool validating = (flags & 2) != 0;
    StepOutputItems* items = host()->getInputItems(0, (flags & 1) == 0);
    int result = 0;
    if (items != nullptr) {
        StepOutputItems* out = host()->createOutputItems(items->count);
        for (int k = 0; k < items->count; ++k) {
            out->items[k].name = items->items[k].name;
            out->items[k].type = items->items[k].type;
            out->items[k].byteSize = items->items[k].byteSize;
            out->items[k].length = items->items[k].length;
        }
        result = validating ? 6 : 2;
    } else if (fieldCount_ == 0) {
        messages_->report(StepMessageId(663, where));
        return 0;
    }

    // Each name is looked up once, in an index of the input fields that keeps the first of
    // equal names as findOutputItemByName does: binding stays linear in the number of fields.
    std::unordered_map<std::string_view, int> positions;
    if (items != nullptr && fieldCount_ != 0) {
        positions.reserve(static_cast<size_t>(items->count));
        for (int k = 0; k < items->count; ++k)
            positions.emplace(items->items[k].name.view(), k);
    }
    host()->clearUsedFields();
    for (int i = 0; i < fieldCount_; ++i) {
        const MvbString name = table->getCell(0, i, true).asString();
        host()->addUsedField(name, 0);
        if (items == nullptr) continue;
        const auto found = positions.find(name.view());
        const int position = found != positions.end() ? found->second : -1;
        if (position == -1 && validating) {
            messages_->report(StepMessageId(311, where), name.view());
            return result;
        }
        fieldMap_[i] = position;
    }
    return result | 1;
}

void DestinationCore::beginRun() {
    noWrite_ = host()->getRunMode() != 1;
    rowCount_ = 0;
    refreshExpected();
}

void DestinationCore::refreshExpected() {
    StepFlow* flow = host()->getFlow();
    StepNode* node = flow != nullptr ? flow->getInputNode(0, 0, 0) : nullptr;
    uint64_t expected = 0;
    if (node != nullptr && node->getExpectedRows(&expected)) {
        expectedRows_ = expected;
        reportInterval_ = expected / 100;
        haveExpected_ = true;
    } else {
        reportInterval_ = 1000;
        expectedRows_ = 0;
        haveExpected_ = false;
    }
    nextReport_ =
        reportInterval_ == 0 ? rowCount_ + 1 : (rowCount_ / reportInterval_ + 1) * reportInterval_;
}

int DestinationCore::takeRow(StepOutputItems** items) {
    StepOutputItems* in = host()->getInputItems(0, true);
    StepOutputItems* out = host()->getOutputRow();
    const int status = host()->readInputRow(0);
    if (status == 1) {
        expectedRows_ = rowCount_;
        haveExpected_ = true;
        return 1;
    }
    if (status != 0) return status;
    ++rowCount_;
    // A host whose last step's rows go nowhere may give the input row as the output row.
    if (in != nullptr && out != nullptr && in != out) {
        const int count = in->count < out->count ? in->count : out->count;
        // Held here: a value's store could, as far as the compiler knows, move either list.
        const StepOutputItem* const from = in->items;
        StepOutputItem* const to = out->items;
        for (int k = 0; k < count; ++k)
            to[k].value = from[k].value;
    }
    *items = in;
    return 0;
}

int DestinationCore::progressPoint(std::source_location where) {
    if (rowCount_ < nextReport_) [[likely]]
        return 0;
    refreshExpected();
    if (host()->shouldContinue()) return 0;
    messages_->report(StepMessageId(421, where));
    return 2;
}

bool DestinationCore::status(int* percent, MvbString* text) const {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%s %" PRIu64 " rows", writes() ? "Written" : "Read",
                  rowCount_);
    if (text != nullptr) text->assign(buffer);
    if (percent != nullptr) {
        *percent = haveExpected_ && expectedRows_ != 0
                       ? static_cast<int>(static_cast<uint32_t>(rowCount_ * 100 / expectedRows_))
                       : 0;
    }
    return true;
}

bool DestinationCore::progress(uint64_t* total) const noexcept {
    if (total != nullptr) *total = expectedRows_;
    return haveExpected_;
}
